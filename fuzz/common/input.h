// FuzzInput: takes parameters off the front of a fuzz input; reads past its end give zeros, so
// every input, however short, is usable.
#ifndef WAVELIBS_FUZZ_INPUT_H
#define WAVELIBS_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t u8() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }

    // What is left of the input.
    const uint8_t *data() const { return data_; }
    size_t size() const { return size_; }

private:
    const uint8_t *data_;
    size_t size_;
};

#endif

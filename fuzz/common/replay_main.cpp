// Replays fuzz inputs through a target's LLVMFuzzerTestOneInput without libFuzzer, so that any
// compiler and any build (plain, sanitized, cross-compiled) runs the corpora as ordinary tests.
// Usage: replay PATH...  (a file, or a directory whose regular files are replayed in name order)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

namespace {

bool replay(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    // A fresh copy of exactly the input's size, so reads past its end are caught by sanitizers.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
        return 2;
    }
    size_t replayed = 0;
    for (int a = 1; a < argc; ++a) {
        const fs::path path = argv[a];
        std::error_code error;
        std::vector<fs::path> files;
        if (fs::is_directory(path, error)) {
            for (const auto &entry : fs::directory_iterator(path, error)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
        } else if (fs::is_regular_file(path, error)) {
            files.push_back(path);
        }
        if (error || files.empty()) {
            std::fprintf(stderr, "replay: no input files at %s\n", path.c_str());
            return 1;
        }
        for (const auto &file : files) {
            if (!replay(file)) {
                return 1;
            }
            ++replayed;
        }
    }
    std::printf("replay: %zu inputs passed\n", replayed);
    return 0;
}

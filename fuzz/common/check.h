// FUZZ_CHECK: stops the run with a message when a property of the code under test does not hold.
// abort() is what libFuzzer records as a finding (and saves the input); a replay fails the same way.
#ifndef WAVELIBS_FUZZ_CHECK_H
#define WAVELIBS_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                   \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, \
                         #condition);                                                \
            std::fprintf(stderr, __VA_ARGS__);                                       \
            std::fputc('\n', stderr);                                                \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

#endif

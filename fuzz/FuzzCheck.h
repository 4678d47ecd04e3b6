#pragma once

#include <cstdio>
#include <cstdlib>

// An invariant of a fuzz target: a violation is reported and aborts, which libFuzzer
// records as a crash with the input that caused it.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

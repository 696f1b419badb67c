#pragma once

#include <cstdio>
#include <cstdlib>

// A property that must hold for every input: on failure say which and abort,
// so libFuzzer (and the corpus driver) keep the input as a finding.
#define LW_FUZZ_CHECK(cond)                                                               \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

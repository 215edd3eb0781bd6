#pragma once

#include <cstdio>
#include <cstdlib>

// A property a harness checks on every input: when it fails, the fuzzer keeps the input as a
// crash.
inline void Expect(bool holds, const char* what) {
    if (holds)
        return;
    std::fprintf(stderr, "fuzz: expected %s\n", what);
    std::abort();
}

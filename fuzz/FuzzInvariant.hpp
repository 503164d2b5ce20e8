#pragma once

#include <cstdio>
#include <cstdlib>

namespace kavrel {

// A broken invariant is a finding: abort so that libFuzzer keeps the input that caused it.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void require(bool condition, const char* what) {
    if (!condition) {
        fail(what);
    }
}

} // namespace kavrel

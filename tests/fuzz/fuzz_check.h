#pragma once
// A broken property ends the run the way a crash does, so the fuzzer keeps
// the input and the native regression driver fails.
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void FuzzFailure(const char* what, const char* detail = "") {
    std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what, *detail ? ": " : "", detail);
    std::fflush(stderr);
    std::abort();
}

inline void FuzzRequire(bool holds, const char* what) {
    if (!holds) FuzzFailure(what);
}

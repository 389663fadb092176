// Shared by the fuzz targets: a failed property stops the run with its name, so that
// libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tessaro::fuzz {

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace tessaro::fuzz

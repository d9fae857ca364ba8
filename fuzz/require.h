#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

// A broken property ends the run the way a crash does, so that libFuzzer
// keeps the input that broke it.
inline void require(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "fuzz property broken: %s\n", property);
        std::abort();
    }
}

}  // namespace fuzzing

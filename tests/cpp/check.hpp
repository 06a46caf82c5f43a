// The one assertion the core's C++ tests use: a failed check is reported and
// counted, and the test goes on, so one run shows every failure.
#pragma once

#include <cstdio>

namespace check {
inline int failures = 0;
}

#define CHECK(cond)                                                         \
    do {                                                                    \
        if (!(cond)) {                                                      \
            std::fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            ++check::failures;                                              \
        }                                                                   \
    } while (0)

// main's result: 0 when every check held.
#define CHECK_RESULT() (check::failures == 0 ? 0 : 1)

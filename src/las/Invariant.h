#pragma once

#include <cstdio>
#include <cstdlib>

// VELMORA_ASSERT(condition): an invariant the code itself keeps, never a
// check of input (input is checked with errors, in every build). Checked in
// the builds made to find faults (Debug, sanitizer, fuzz: VELMORA_CHECKS),
// where a broken one stops the program at once with where it broke; in a
// release build the condition is not even evaluated.
#ifdef VELMORA_CHECKS
#define VELMORA_ASSERT(condition)                                                                 \
    ((condition) ? static_cast<void>(0)                                                           \
                 : (std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition), \
                    std::abort()))
#else
#define VELMORA_ASSERT(condition) static_cast<void>(sizeof(static_cast<bool>(condition)))
#endif

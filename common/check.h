#pragma once

// VW_ASSERT states a precondition or invariant that only a programming error
// can break. It is compiled in for every test and sanitizer build and away in
// release builds, so hot loops may use it freely. Input and I/O errors are
// never asserted: they return codes.

#if defined(VAULTWICK_ASSERTS) && VAULTWICK_ASSERTS

#include <cstdio>
#include <cstdlib>

#define VW_ASSERT(cond)                                                                 \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: assertion failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

#else

#define VW_ASSERT(cond) ((void)sizeof(!(cond)))

#endif

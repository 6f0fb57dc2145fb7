// Bytes of C heap in use, for tests that check that an object gives back
// everything it and zlib took. Only glibc reports it; elsewhere Available()
// is false and the checks skip.
#pragma once

#include <cstddef>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace heap_probe {

inline bool Available() {
#if defined(__GLIBC__)
  return true;
#else
  return false;
#endif
}

inline std::size_t InUse() {
#if defined(__GLIBC__)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

}  // namespace heap_probe

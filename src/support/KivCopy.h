#pragma once

#include <cstddef>
#include <cstring>

// Copies `size` bytes from `source` to `dest` (which do not overlap). The texts the tool moves
// are mostly short and of varying length; for those, a few overlapping fixed-size moves cost less
// than a call to the library. A zero size touches nothing.
//
// The callers have checked that `dest` has room for `size` bytes. The moves use the compiler's
// built-in copy: the fortified library copy would check each of them again at run time, as a
// call, where the built-in one is a few instructions.
inline void kivCopy(char* dest, const char* source, std::size_t size) {
  if (size >= 32) {
    if (size <= 64) {
      __builtin_memcpy(dest, source, 32);
      __builtin_memcpy(dest + size - 32, source + size - 32, 32);
    } else {
      __builtin_memcpy(dest, source, size);
    }
  } else if (size >= 16) {
    __builtin_memcpy(dest, source, 16);
    __builtin_memcpy(dest + size - 16, source + size - 16, 16);
  } else if (size >= 8) {
    __builtin_memcpy(dest, source, 8);
    __builtin_memcpy(dest + size - 8, source + size - 8, 8);
  } else if (size >= 4) {
    __builtin_memcpy(dest, source, 4);
    __builtin_memcpy(dest + size - 4, source + size - 4, 4);
  } else if (size > 0) {
    dest[0] = source[0];
    dest[size / 2] = source[size / 2];
    dest[size - 1] = source[size - 1];
  }
}

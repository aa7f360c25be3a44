#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Expands a firmware format string with the two 32-bit values of a log record, the way C printf
// does on a 32-bit platform, without ever handing the firmware's text to the C library.
//
// Supported: the conversions d i u o x X c, the flags - + space # 0, width and precision as digits
// or '*', the length modifiers h hh l, and "%%". A conversion the two values cannot feed (%s, %p,
// %n, floating point, ll j z t L q, an unknown conversion character, one needing a third value, or
// an incomplete conversion at the end) is copied out exactly as written and consumes no value.
class KivFormatter {
 public:
  // Appends the expansion of `format` to `out`, never letting `out` grow beyond `limit` bytes.
  // The result may hold zero bytes (a "%c" of value 0); callers decide where the text ends.
  static void expand(std::string_view format, uint32_t param0, uint32_t param1, std::string& out,
                     std::size_t limit);
};

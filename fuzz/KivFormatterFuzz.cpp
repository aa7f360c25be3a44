#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "support/KivFormatter.h"

// The first 8 bytes are the two values, the rest is the format string.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) {
    return 0;
  }
  uint32_t values[2];
  std::memcpy(values, data, sizeof values);
  const std::string_view format(reinterpret_cast<const char*>(data + 8), size - 8);
  constexpr std::size_t kLimit = 4095;
  std::string out;
  KivFormatter::expand(format, values[0], values[1], out, kLimit);
  if (out.size() > kLimit) {
    std::abort();
  }
  // Appending to a nearly full string must respect the limit too.
  std::string tail(kLimit - 3, 'x');
  KivFormatter::expand(format, values[0], values[1], tail, kLimit);
  if (tail.size() > kLimit || tail.compare(kLimit - 3, std::string::npos, out, 0, 3) != 0) {
    std::abort();
  }
  return 0;
}

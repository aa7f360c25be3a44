#include "metadata/FwElfVersion.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::array<std::size_t, FwElfVersion::kFieldCount> kFieldOffsets = {0,  15, 31,
                                                                              63, 79, 95};

}  // namespace

char* FwElfVersion::field(std::size_t index) {
  return reinterpret_cast<char*>(this) + kFieldOffsets[index];
}

const char* FwElfVersion::field(std::size_t index) const {
  return reinterpret_cast<const char*>(this) + kFieldOffsets[index];
}

void FwElfVersion::setField(std::size_t index, std::string_view text) {
  const std::size_t width = kFieldWidths[index];
  const std::size_t n = std::min(width, text.size());
  char* dest = field(index);
  std::copy_n(text.data(), n, dest);
  std::memset(dest + n, 0, width - n);
}

std::string_view FwElfVersion::fieldText(std::size_t index) const {
  const char* begin = field(index);
  const std::size_t width = kFieldWidths[index];
  const char* zero = static_cast<const char*>(std::memchr(begin, 0, width));
  return std::string_view(begin, zero == nullptr ? width : static_cast<std::size_t>(zero - begin));
}

std::string FwElfVersion::text() const {
  std::string out(fieldText(0));
  out += '.';
  out += fieldText(1);
  for (std::size_t i = 2; i < kFieldCount; ++i) {
    out += ' ';
    out += fieldText(i);
  }
  return out;
}

bool FwElfVersion::sameAs(const FwElfVersion& other) const {
  return std::memcmp(this, &other, sizeof(FwElfVersion)) == 0;
}

static_assert(offsetof(FwElfVersion, field2) == 15 && offsetof(FwElfVersion, field3) == 31 &&
                  offsetof(FwElfVersion, field4) == 63 && offsetof(FwElfVersion, field5) == 79 &&
                  offsetof(FwElfVersion, field6) == 95,
              "field offsets match the firmware's record");

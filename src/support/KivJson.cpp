#include "support/KivJson.h"

#include <array>
#include <charconv>

bool jsonOutput = false;

namespace {

// How many bytes a valid UTF-8 sequence starting at `p` has, or 0 when the byte at `p` starts
// none (a stray continuation byte, an overlong form, a surrogate, a value beyond U+10FFFF, or a
// sequence cut short).
std::size_t utf8Length(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (static_cast<std::size_t>(end - p) < length || p[1] < low || p[1] > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) {
      return 0;
    }
  }
  return length;
}

// Bytes that cannot be copied into a JSON string as they are.
constexpr std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c) {
    table[c] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
  }
  return table;
}();

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  while (p != end) {
    const unsigned char* plain = p;
    while (plain != end && !kSpecial[*plain]) {
      ++plain;
    }
    out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(plain - p));
    p = plain;
    if (p == end) {
      break;
    }
    const unsigned char c = *p;
    if (c >= 0x80) {
      if (const std::size_t length = utf8Length(p, end)) {
        out.append(reinterpret_cast<const char*>(p), length);
        p += length;
        continue;
      }
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    ++p;
  }
  out += '"';
}

void KivJsonObject::name(std::string_view name) {
  if (!first_) {
    out_ += ',';
  }
  first_ = false;
  out_ += '"';
  out_ += name;
  out_ += "\":";
}

KivJsonObject& KivJsonObject::text(std::string_view name, std::string_view value) {
  this->name(name);
  appendJsonString(out_, value);
  return *this;
}

KivJsonObject& KivJsonObject::number(std::string_view name, uint64_t value) {
  this->name(name);
  char digits[24];
  out_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  return *this;
}

KivJsonObject& KivJsonObject::boolean(std::string_view name, bool value) {
  this->name(name);
  out_ += value ? "true" : "false";
  return *this;
}

KivJsonObject& KivJsonObject::json(std::string_view name, std::string_view value) {
  this->name(name);
  out_ += value;
  return *this;
}

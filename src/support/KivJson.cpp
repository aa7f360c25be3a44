#include "support/KivJson.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "support/KivUtf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Bytes that cannot be copied into a JSON string as they are.
constexpr std::array<bool, 256> kSpecial = [] {
  std::array<bool, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c) {
    table[c] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
  }
  return table;
}();

}  // namespace

char* writeJsonString(char* out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  *out++ = '"';
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  while (p != end) {
#if defined(__SSE2__)
    // Sixteen bytes at a time, copied whole (the room allows the overshoot) up to the first that
    // needs more than copying. As signed bytes, those above 0x7F are below 0x20 too.
    while (end - p >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
      const __m128i special =
          _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)),
                       _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                                    _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))));
      const int mask = _mm_movemask_epi8(special);
      if (mask != 0) {
        const int plain = std::countr_zero(static_cast<unsigned>(mask));
        p += plain;
        out += plain;
        break;
      }
      p += 16;
      out += 16;
    }
#endif
    // Then eight at a time, by the same test on a word: the tests may see a special byte where
    // there is none (the byte loop then decides), never miss one.
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      constexpr uint64_t kOnes = 0x0101010101010101;
      constexpr uint64_t kHigh = 0x8080808080808080;
      const auto hasZero = [](uint64_t x) { return (x - kOnes) & ~x & kHigh; };
      if (((word & kHigh) | hasZero(word & (kOnes * 0x60)) | hasZero(word ^ (kOnes * '"')) |
           hasZero(word ^ (kOnes * '\\'))) != 0) {
        break;
      }
      std::memcpy(out, p, sizeof word);
      p += 8;
      out += 8;
    }
    while (p != end && !kSpecial[*p]) {
      *out++ = static_cast<char>(*p++);
    }
    if (p == end) {
      break;
    }
    const unsigned char c = *p;
    if (c >= 0x80) {
      if (const std::size_t length = utf8Length(p, end)) {
        std::memcpy(out, p, length);
        out += length;
        p += length;
        continue;
      }
    }
    *out++ = '\\';
    switch (c) {
      case '"':
      case '\\':
        *out++ = static_cast<char>(c);
        break;
      case '\n':
        *out++ = 'n';
        break;
      case '\r':
        *out++ = 'r';
        break;
      case '\t':
        *out++ = 't';
        break;
      default:
        std::memcpy(out, "u00", 3);
        out[3] = kHex[c >> 4];
        out[4] = kHex[c & 0xF];
        out += 5;
    }
    ++p;
  }
  *out++ = '"';
  return out;
}

void appendJsonString(std::string& out, std::string_view text) {
  const std::size_t size = out.size();
  out.resize(size + jsonStringRoom(text.size()));
  out.resize(static_cast<std::size_t>(writeJsonString(out.data() + size, text) - out.data()));
}

void KivJsonWriter::grow(std::size_t bytes) {
  const auto used = static_cast<std::size_t>(end_ - buffer_.get());
  capacity_ = std::max(2 * capacity_, used + bytes);
  auto grown = std::make_unique_for_overwrite<char[]>(capacity_);
  std::memcpy(grown.get(), buffer_.get(), used);
  buffer_ = std::move(grown);
  end_ = buffer_.get() + used;
}

std::size_t KivJsonObject::key(std::string_view name, char* out) {
  std::size_t size = 0;
  if (!first_) {
    out[size++] = ',';
  }
  first_ = false;
  out[size++] = '"';
  std::memcpy(out + size, name.data(), name.size());
  size += name.size();
  out[size++] = '"';
  out[size++] = ':';
  return size;
}

void KivJsonObject::name(std::string_view name) {
  char text[kMaxName + 4];
  out_.append(text, key(name, text));
}

KivJsonObject& KivJsonObject::text(std::string_view name, std::string_view value) {
  this->name(name);
  appendJsonString(out_, value);
  return *this;
}

KivJsonObject& KivJsonObject::number(std::string_view name, uint64_t value) {
  char text[kMaxName + 4 + 20];
  const std::size_t size = key(name, text);
  out_.append(text, std::to_chars(text + size, text + sizeof text, value).ptr);
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

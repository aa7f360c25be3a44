#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A firmware format string parsed once into literal runs and conversions, then expanded with the
// two 32-bit values of each log record the way C printf does on a 32-bit platform, without ever
// handing the firmware's text to the C library.
//
// Supported: the conversions d i u o x X c, the flags - + space # 0, width and precision as digits
// or '*', the length modifiers h hh l, and "%%". A conversion the two values cannot feed (%s, %p,
// %n, floating point, ll j z t L q, an unknown conversion character, one needing a third value, or
// an incomplete conversion at the end) is copied out exactly as written and consumes no value.
// Which value each conversion takes depends only on the format, so it is settled by the parse.
class KivFormat {
 public:
  KivFormat() = default;
  explicit KivFormat(std::string_view format);

  // Appends the expansion to `out`, never letting `out` grow beyond `limit` bytes. The result may
  // hold zero bytes (a "%c" of value 0); callers decide where the text ends.
  void expand(uint32_t param0, uint32_t param1, std::string& out, std::size_t limit) const;
  // The same into a buffer of at least `limit` bytes that holds `size` bytes; returns the new size.
  std::size_t expand(uint32_t param0, uint32_t param1, char* out, std::size_t size,
                     std::size_t limit) const;
  // Whether an expansion can hold a zero byte: only "%c" writes one.
  bool writesZero() const { return writesZero_; }

  // Bytes this parse holds, for callers that bound what they keep.
  std::size_t footprint() const;

 private:
  enum class Length : uint8_t { kNone, kChar, kShort, kLong };
  static constexpr uint8_t kNoValue = 0xFF;

  // A literal run of `literals_`, or one conversion with the values it takes.
  struct Piece {
    uint32_t literalBegin = 0;
    uint32_t literalSize = 0;
    bool isConversion = false;
    char conversion = 0;
    Length length = Length::kNone;
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    bool hasPrecision = false;
    uint8_t widthValue = kNoValue;  // index of the value a '*' width takes
    uint8_t precisionValue = kNoValue;
    uint8_t value = 0;
    int32_t width = 0;
    int32_t precision = 0;
  };

  void addLiteral(std::string_view text);

  std::string literals_;
  std::vector<Piece> pieces_;
  bool writesZero_ = false;
};

class KivFormatter {
 public:
  // Parses `format` and appends its expansion to `out`, as KivFormat::expand does.
  static void expand(std::string_view format, uint32_t param0, uint32_t param1, std::string& out,
                     std::size_t limit);
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
  explicit KivFormat(std::string_view format) : KivFormat({}, format) {}
  // `literal` goes first, as it stands; then `format`, parsed.
  KivFormat(std::string_view literal, std::string_view format);
  KivFormat(KivFormat&&) noexcept = default;
  KivFormat& operator=(KivFormat&&) noexcept = default;

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
  static constexpr uint8_t kNoValue = 0xFF;
  enum Flag : uint8_t {
    kLeft = 1,
    kPlus = 2,
    kSpace = 4,
    kAlternate = 8,
    kZero = 16,
    kHasPrecision = 32,
    kPlain = 64,  // alone: no flag, width, precision or length that changes the value
  };

  // A literal run of the text, or one conversion with the values it takes.
  struct Piece {
    char conversion = 0;  // 0 for a literal run
    uint8_t flags = 0;
    uint8_t length = 0;             // 0 none, 1 hh, 2 h, 3 l
    uint8_t value = 0;              // index of the value the conversion writes
    uint8_t widthValue = kNoValue;  // index of the value a '*' width takes
    uint8_t precisionValue = kNoValue;
    // A literal run's offset and size in the text; a conversion's width and precision as written.
    uint32_t offsetOrWidth = 0;
    uint32_t sizeOrPrecision = 0;
  };

  void addLiteral(std::vector<Piece>& pieces, std::string& text, std::string_view literal);
  const char* text() const { return reinterpret_cast<const char*>(storage_.get() + pieceCount_); }

  // The pieces, then the text of the literal runs, in one block: expanding touches nothing else.
  std::unique_ptr<Piece[]> storage_;
  uint32_t pieceCount_ = 0;
  uint32_t textSize_ = 0;
  bool writesZero_ = false;
};

class KivFormatter {
 public:
  // Parses `format` and appends its expansion to `out`, as KivFormat::expand does.
  static void expand(std::string_view format, uint32_t param0, uint32_t param1, std::string& out,
                     std::size_t limit);
};

#include "support/KivFormatter.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Appends to a buffer only while it holds less than `limit` bytes. Counts are clipped to the room
// left, so a huge width or precision costs no more than the limit.
class Sink {
 public:
  Sink(char* out, std::size_t size, std::size_t limit) : out_(out), size_(size), limit_(limit) {}

  bool full() const { return size_ >= limit_; }
  std::size_t size() const { return size_; }

  void put(std::string_view text) {
    const std::size_t n = std::min(text.size(), limit_ - std::min(size_, limit_));
    if (n == 0) {
      return;  // an empty view may have no data at all, which memcpy must not be given
    }
    std::memcpy(out_ + size_, text.data(), n);
    size_ += n;
  }

  void repeat(char c, uint64_t count) {
    const auto n =
        static_cast<std::size_t>(std::min<uint64_t>(count, limit_ - std::min(size_, limit_)));
    std::memset(out_ + size_, c, n);
    size_ += n;
  }

 private:
  char* out_;
  std::size_t size_;
  std::size_t limit_;
};

enum class ParsedLength { kNone, kChar, kShort, kLong, kUnsupported };

// One conversion as written: "%" flags width precision length conversion.
struct Conversion {
  std::size_t end = 0;  // index just past the conversion's text
  bool expandable = false;
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alternate = false;
  bool zero = false;
  bool widthStar = false;
  bool precisionStar = false;
  bool hasPrecision = false;
  int64_t width = 0;
  int64_t precision = 0;
  ParsedLength length = ParsedLength::kNone;
  char conversion = 0;
};

// Reads decimal digits at `pos`. Returns false when the number does not fit in an int; the
// digits are consumed either way.
bool readNumber(std::string_view format, std::size_t& pos, int64_t& value) {
  value = 0;
  bool fits = true;
  while (pos < format.size() && format[pos] >= '0' && format[pos] <= '9') {
    value = value * 10 + (format[pos] - '0');
    if (value > INT_MAX) {
      fits = false;
      value = INT_MAX;
    }
    ++pos;
  }
  return fits;
}

ParsedLength readLength(std::string_view format, std::size_t& pos) {
  auto at = [&](std::size_t i) { return pos + i < format.size() ? format[pos + i] : '\0'; };
  switch (at(0)) {
    case 'h':
      if (at(1) == 'h') {
        pos += 2;
        return ParsedLength::kChar;
      }
      ++pos;
      return ParsedLength::kShort;
    case 'l':
      if (at(1) == 'l') {
        pos += 2;
        return ParsedLength::kUnsupported;
      }
      ++pos;
      return ParsedLength::kLong;
    case 'j':
    case 'z':
    case 't':
    case 'L':
    case 'q':
      ++pos;
      return ParsedLength::kUnsupported;
    default:
      return ParsedLength::kNone;
  }
}

// Parses the conversion whose '%' is at `start` (not "%%"). A conversion that runs into the end
// of the text ends there and is not expandable.
Conversion parse(std::string_view format, std::size_t start) {
  Conversion c;
  std::size_t pos = start + 1;
  for (; pos < format.size(); ++pos) {
    const char flag = format[pos];
    if (flag == '-') {
      c.left = true;
    } else if (flag == '+') {
      c.plus = true;
    } else if (flag == ' ') {
      c.space = true;
    } else if (flag == '#') {
      c.alternate = true;
    } else if (flag == '0') {
      c.zero = true;
    } else {
      break;
    }
  }
  bool fits = true;
  if (pos < format.size() && format[pos] == '*') {
    c.widthStar = true;
    ++pos;
  } else {
    fits = readNumber(format, pos, c.width);
  }
  if (pos < format.size() && format[pos] == '.') {
    c.hasPrecision = true;
    ++pos;
    if (pos < format.size() && format[pos] == '*') {
      c.precisionStar = true;
      ++pos;
    } else {
      fits = readNumber(format, pos, c.precision) && fits;
    }
  }
  c.length = readLength(format, pos);
  if (pos >= format.size()) {
    c.end = format.size();
    return c;
  }
  c.conversion = format[pos];
  c.end = pos + 1;
  const bool known = std::string_view("diuoxXc").find(c.conversion) != std::string_view::npos;
  c.expandable = fits && known && c.length != ParsedLength::kUnsupported &&
                 (c.conversion != 'c' || c.length == ParsedLength::kNone);
  return c;
}

// A conversion about to be written: width and precision resolved, '*' values included.
struct Spec {
  char conversion;
  int length;  // 0 none, 1 hh, 2 h, 3 l
  bool left;
  bool plus;
  bool space;
  bool alternate;
  bool zero;
  bool hasPrecision;
  int64_t width;
  int64_t precision;
};

void putPadded(Sink& sink, const Spec& c, uint64_t size, auto&& body) {
  const uint64_t padding =
      c.width > 0 && static_cast<uint64_t>(c.width) > size ? c.width - size : 0;
  if (!c.left) {
    sink.repeat(' ', padding);
  }
  body();
  if (c.left) {
    sink.repeat(' ', padding);
  }
}

// "%u", "%d", "%i", "%x" or "%X" without flags, width, precision or a length that changes the
// value: the common conversion, written without the general machinery.
void putPlain(Sink& sink, char conversion, uint32_t value) {
  char buffer[12];
  char* first = buffer + sizeof buffer;
  if (conversion == 'x' || conversion == 'X') {
    const char* digitSet = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
      *--first = digitSet[value & 0xF];
      value >>= 4;
    } while (value != 0);
  } else {
    const bool negative = conversion != 'u' && static_cast<int32_t>(value) < 0;
    uint32_t magnitude = negative ? 0u - value : value;
    do {
      *--first = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
      *--first = '-';
    }
  }
  sink.put(std::string_view(first, static_cast<std::size_t>(buffer + sizeof buffer - first)));
}

void putInteger(Sink& sink, const Spec& c, uint32_t raw) {
  bool negative = false;
  uint32_t magnitude = raw;
  if (c.conversion == 'd' || c.conversion == 'i') {
    int32_t value = static_cast<int32_t>(raw);
    if (c.length == 1) {
      value = static_cast<signed char>(raw);
    } else if (c.length == 2) {
      value = static_cast<int16_t>(raw);
    }
    negative = value < 0;
    magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  } else if (c.length == 1) {
    magnitude = static_cast<unsigned char>(raw);
  } else if (c.length == 2) {
    magnitude = static_cast<uint16_t>(raw);
  }

  const unsigned base = c.conversion == 'o'                            ? 8
                        : (c.conversion == 'x' || c.conversion == 'X') ? 16
                                                                       : 10;
  const char* digitSet = c.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char buffer[16];
  std::size_t first = sizeof buffer;
  // Each base written out, so that the division is by a constant.
  if (base == 10) {
    for (uint32_t v = magnitude; v != 0; v /= 10) {
      buffer[--first] = static_cast<char>('0' + v % 10);
    }
  } else if (base == 16) {
    for (uint32_t v = magnitude; v != 0; v >>= 4) {
      buffer[--first] = digitSet[v & 0xF];
    }
  } else {
    for (uint32_t v = magnitude; v != 0; v >>= 3) {
      buffer[--first] = static_cast<char>('0' + (v & 7));
    }
  }
  // Without a precision a zero still prints one digit; with precision 0 it prints none.
  if (magnitude == 0 && !(c.hasPrecision && c.precision == 0)) {
    buffer[--first] = '0';
  }
  const std::string_view digits(buffer + first, sizeof buffer - first);

  std::string_view prefix;
  if (c.conversion == 'd' || c.conversion == 'i') {
    prefix = negative ? "-" : c.plus ? "+" : c.space ? " " : "";
  } else if (c.alternate && magnitude != 0 && base == 16) {
    prefix = c.conversion == 'X' ? "0X" : "0x";
  }

  uint64_t zeros = 0;
  if (c.hasPrecision && static_cast<uint64_t>(c.precision) > digits.size()) {
    zeros = c.precision - digits.size();
  }
  if (c.alternate && base == 8 && zeros == 0 && (digits.empty() || digits[0] != '0')) {
    zeros = 1;
  }
  uint64_t size = prefix.size() + zeros + digits.size();
  if (c.zero && !c.left && !c.hasPrecision && static_cast<uint64_t>(c.width) > size) {
    zeros += c.width - size;
    size = c.width;
  }
  putPadded(sink, c, size, [&] {
    sink.put(prefix);
    sink.repeat('0', zeros);
    sink.put(digits);
  });
}

}  // namespace

KivFormat::KivFormat(std::string_view literal, std::string_view format) {
  std::vector<Piece> pieces;
  std::string text;
  addLiteral(pieces, text, literal);
  uint8_t used = 0;
  std::size_t pos = 0;
  while (pos < format.size()) {
    const std::size_t percent = format.find('%', pos);
    if (percent == std::string_view::npos) {
      addLiteral(pieces, text, format.substr(pos));
      break;
    }
    addLiteral(pieces, text, format.substr(pos, percent - pos));
    if (percent + 1 < format.size() && format[percent + 1] == '%') {
      addLiteral(pieces, text, "%");
      pos = percent + 2;
      continue;
    }
    const Conversion c = parse(format, percent);
    pos = c.end;
    const int needed = 1 + (c.widthStar ? 1 : 0) + (c.precisionStar ? 1 : 0);
    if (!c.expandable || used + needed > 2) {
      addLiteral(pieces, text, format.substr(percent, c.end - percent));
      continue;
    }
    Piece piece;
    piece.conversion = c.conversion;
    piece.length = c.length == ParsedLength::kChar    ? 1
                   : c.length == ParsedLength::kShort ? 2
                   : c.length == ParsedLength::kLong  ? 3
                                                      : 0;
    piece.flags = static_cast<uint8_t>((c.left ? kLeft : 0) | (c.plus ? kPlus : 0) |
                                       (c.space ? kSpace : 0) | (c.alternate ? kAlternate : 0) |
                                       (c.zero ? kZero : 0) | (c.hasPrecision ? kHasPrecision : 0));
    piece.offsetOrWidth = static_cast<uint32_t>(c.width);
    piece.sizeOrPrecision = static_cast<uint32_t>(c.precision);
    if (c.widthStar) {
      piece.widthValue = used++;
    }
    if (c.precisionStar) {
      piece.precisionValue = used++;
    }
    piece.value = used++;
    if (piece.flags == 0 && c.width == 0 && !c.widthStar && (piece.length == 0 || piece.length == 3) &&
        std::string_view("udixX").find(c.conversion) != std::string_view::npos) {
      piece.flags = kPlain;
    }
    writesZero_ = writesZero_ || c.conversion == 'c';
    pieces.push_back(piece);
  }
  pieceCount_ = static_cast<uint32_t>(pieces.size());
  textSize_ = static_cast<uint32_t>(text.size());
  storage_ =
      std::make_unique<Piece[]>(pieceCount_ + (textSize_ + sizeof(Piece) - 1) / sizeof(Piece));
  std::copy(pieces.begin(), pieces.end(), storage_.get());
  std::memcpy(storage_.get() + pieceCount_, text.data(), textSize_);
}

void KivFormat::addLiteral(std::vector<Piece>& pieces, std::string& text,
                           std::string_view literal) {
  if (literal.empty()) {
    return;
  }
  if (pieces.empty() || pieces.back().conversion != 0) {
    Piece piece;
    piece.offsetOrWidth = static_cast<uint32_t>(text.size());
    pieces.push_back(piece);
  }
  text += literal;
  pieces.back().sizeOrPrecision += static_cast<uint32_t>(literal.size());
}

std::size_t KivFormat::footprint() const {
  return sizeof *this + pieceCount_ * sizeof(Piece) + textSize_;
}

void KivFormat::expand(uint32_t param0, uint32_t param1, std::string& out,
                       std::size_t limit) const {
  const std::size_t size = out.size();
  if (size >= limit) {
    return;
  }
  out.resize(limit);
  out.resize(expand(param0, param1, out.data(), size, limit));
}

std::size_t KivFormat::expand(uint32_t param0, uint32_t param1, char* out, std::size_t size,
                              std::size_t limit) const {
  Sink sink(out, size, limit);
  const uint32_t values[2] = {param0, param1};
  const Piece* const end = storage_.get() + pieceCount_;
  for (const Piece* piece = storage_.get(); piece != end && !sink.full(); ++piece) {
    if (piece->conversion == 0) {
      sink.put(std::string_view(text() + piece->offsetOrWidth, piece->sizeOrPrecision));
      continue;
    }
    if (piece->flags == kPlain) {
      putPlain(sink, piece->conversion, values[piece->value]);
      continue;
    }
    Spec c{piece->conversion,
           piece->length,
           (piece->flags & kLeft) != 0,
           (piece->flags & kPlus) != 0,
           (piece->flags & kSpace) != 0,
           (piece->flags & kAlternate) != 0,
           (piece->flags & kZero) != 0,
           (piece->flags & kHasPrecision) != 0,
           static_cast<int32_t>(piece->offsetOrWidth),
           static_cast<int32_t>(piece->sizeOrPrecision)};
    if (piece->widthValue != kNoValue) {
      const int64_t width = static_cast<int32_t>(values[piece->widthValue]);
      c.left = c.left || width < 0;
      c.width = width < 0 ? -width : width;
    }
    if (piece->precisionValue != kNoValue) {
      const int64_t precision = static_cast<int32_t>(values[piece->precisionValue]);
      c.hasPrecision = precision >= 0;
      c.precision = std::max<int64_t>(precision, 0);
    }
    const uint32_t value = values[piece->value];
    if (c.conversion == 'c') {
      // The flags other than '-' (the zero flag included) and the precision leave %c unchanged.
      putPadded(sink, c, 1, [&] { sink.repeat(static_cast<char>(value), 1); });
    } else {
      putInteger(sink, c, value);
    }
  }
  return sink.size();
}

void KivFormatter::expand(std::string_view format, uint32_t param0, uint32_t param1,
                          std::string& out, std::size_t limit) {
  KivFormat(format).expand(param0, param1, out, limit);
}

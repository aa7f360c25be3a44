#include "records/KivFormatter.h"

#include <algorithm>
#include <climits>

namespace {

// Appends to `out` only while it is below `limit`. Counts are clipped to the room left, so a huge
// width or precision costs no more than the limit.
class Sink {
 public:
  Sink(std::string& out, std::size_t limit) : out_(out), limit_(limit) {}

  bool full() const { return out_.size() >= limit_; }

  void put(std::string_view text) {
    if (!full()) {
      out_.append(text.substr(0, limit_ - out_.size()));
    }
  }

  void repeat(char c, uint64_t count) {
    if (!full()) {
      out_.append(static_cast<std::size_t>(std::min<uint64_t>(count, limit_ - out_.size())), c);
    }
  }

 private:
  std::string& out_;
  std::size_t limit_;
};

enum class Length { kNone, kChar, kShort, kLong, kUnsupported };

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
  Length length = Length::kNone;
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

Length readLength(std::string_view format, std::size_t& pos) {
  auto at = [&](std::size_t i) { return pos + i < format.size() ? format[pos + i] : '\0'; };
  switch (at(0)) {
    case 'h':
      if (at(1) == 'h') {
        pos += 2;
        return Length::kChar;
      }
      ++pos;
      return Length::kShort;
    case 'l':
      if (at(1) == 'l') {
        pos += 2;
        return Length::kUnsupported;
      }
      ++pos;
      return Length::kLong;
    case 'j':
    case 'z':
    case 't':
    case 'L':
    case 'q':
      ++pos;
      return Length::kUnsupported;
    default:
      return Length::kNone;
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
  c.expandable = fits && known && c.length != Length::kUnsupported &&
                 (c.conversion != 'c' || c.length == Length::kNone);
  return c;
}

void putPadded(Sink& sink, const Conversion& c, uint64_t size, auto&& body) {
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

void putInteger(Sink& sink, const Conversion& c, uint32_t raw) {
  bool negative = false;
  uint32_t magnitude = raw;
  if (c.conversion == 'd' || c.conversion == 'i') {
    int32_t value = static_cast<int32_t>(raw);
    if (c.length == Length::kChar) {
      value = static_cast<signed char>(raw);
    } else if (c.length == Length::kShort) {
      value = static_cast<int16_t>(raw);
    }
    negative = value < 0;
    magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  } else if (c.length == Length::kChar) {
    magnitude = static_cast<unsigned char>(raw);
  } else if (c.length == Length::kShort) {
    magnitude = static_cast<uint16_t>(raw);
  }

  const unsigned base = c.conversion == 'o'                            ? 8
                        : (c.conversion == 'x' || c.conversion == 'X') ? 16
                                                                       : 10;
  const char* digitSet = c.conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char buffer[16];
  std::size_t first = sizeof buffer;
  for (uint32_t v = magnitude; v != 0; v /= base) {
    buffer[--first] = digitSet[v % base];
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

void KivFormatter::expand(std::string_view format, uint32_t param0, uint32_t param1,
                          std::string& out, std::size_t limit) {
  Sink sink(out, limit);
  const uint32_t values[2] = {param0, param1};
  std::size_t used = 0;
  std::size_t pos = 0;
  while (pos < format.size() && !sink.full()) {
    const std::size_t percent = format.find('%', pos);
    if (percent == std::string_view::npos) {
      sink.put(format.substr(pos));
      return;
    }
    sink.put(format.substr(pos, percent - pos));
    if (percent + 1 < format.size() && format[percent + 1] == '%') {
      sink.put("%");
      pos = percent + 2;
      continue;
    }
    Conversion c = parse(format, percent);
    pos = c.end;
    const std::size_t needed = 1 + (c.widthStar ? 1 : 0) + (c.precisionStar ? 1 : 0);
    if (!c.expandable || used + needed > 2) {
      sink.put(format.substr(percent, c.end - percent));
      continue;
    }
    if (c.widthStar) {
      const int64_t width = static_cast<int32_t>(values[used++]);
      c.left = c.left || width < 0;
      c.width = width < 0 ? -width : width;
    }
    if (c.precisionStar) {
      const int64_t precision = static_cast<int32_t>(values[used++]);
      c.hasPrecision = precision >= 0;
      c.precision = std::max<int64_t>(precision, 0);
    }
    const uint32_t value = values[used++];
    if (c.conversion == 'c') {
      // The flags other than '-' (the zero flag included) and the precision leave %c unchanged.
      putPadded(sink, c, 1, [&] { sink.repeat(static_cast<char>(value), 1); });
    } else {
      putInteger(sink, c, value);
    }
  }
}

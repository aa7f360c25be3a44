// Differential test of the formatter: formats built from the input out of the conversions the
// formatter expands are compared byte for byte with the C library's snprintf given the same two
// values, passed as the types a 32-bit firmware passes them. Any other text as a format only has
// to stay within the limit. Either way a format parsed once behind a literal prefix must expand
// exactly as the prefix and the format expanded together.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "KivFuzzSupport.h"
#include "support/KivFormatter.h"

namespace {

constexpr std::size_t kLimit = 4095;
// Widths and precisions stay this small, written or taken from a value, so that nothing the
// C library prints gets near its own limits.
constexpr int kMaxField = 200;

// Reads the input a byte at a time; zeros once it is used up.
class Bytes {
 public:
  Bytes(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t next32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      value |= static_cast<uint32_t>(next()) << (8 * i);
    }
    return value;
  }
  std::string_view rest() {
    const std::string_view text(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
    pos_ = size_;
    return text;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// One argument of the snprintf call, as the C type that carries it.
struct Argument {
  enum Kind { kInt, kUnsigned, kLong, kUnsignedLong } kind = kInt;
  uint32_t bits = 0;
};

template <int Depth, typename... Done>
int callSnprintf(char* out, std::size_t size, const char* format, const Argument* args,
                 std::size_t count, Done... done) {
  if constexpr (Depth == 0) {
    (void)args;
    (void)count;
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#pragma clang diagnostic ignored "-Wformat-security"
    return std::snprintf(out, size, format, done...);
#pragma clang diagnostic pop
  } else {
    if (count == 0) {
      return callSnprintf<0>(out, size, format, args, 0, done...);
    }
    const uint32_t bits = args->bits;
    switch (args->kind) {
      case Argument::kInt:
        return callSnprintf<Depth - 1>(out, size, format, args + 1, count - 1, done...,
                                       static_cast<int>(bits));
      case Argument::kUnsigned:
        return callSnprintf<Depth - 1>(out, size, format, args + 1, count - 1, done..., bits);
      case Argument::kLong:
        return callSnprintf<Depth - 1>(out, size, format, args + 1, count - 1, done...,
                                       static_cast<long>(static_cast<int32_t>(bits)));
      case Argument::kUnsignedLong:
        return callSnprintf<Depth - 1>(out, size, format, args + 1, count - 1, done...,
                                       static_cast<unsigned long>(bits));
    }
    return -1;
  }
}

// A field value taken by '*': kept within ±kMaxField, negative ones included.
uint32_t smallField(uint32_t value) {
  return static_cast<uint32_t>(static_cast<int32_t>(value) % (kMaxField + 1));
}

// A generated format in two spellings: the formatter's, and the C library's, which differs only
// where the formatter documents a choice of its own (a '0' flag pads "%c" with spaces).
struct Generated {
  std::string format;
  std::string libcFormat;
  uint32_t values[2] = {0, 0};
  Argument args[2];
  bool field[2] = {false, false};  // whether the argument is a '*' width or precision
  std::size_t argCount = 0;
};

std::string digits(Bytes& in) {
  const int value = in.next() % (kMaxField + 1);
  return std::to_string(value);
}

// Appends one conversion that uses at most the values left; false when none is left.
bool addConversion(Bytes& in, Generated& g) {
  const std::size_t left = 2 - g.argCount;
  if (left == 0) {
    return false;
  }
  const uint8_t choice = in.next();
  const char conversion = "diuoxXc"[choice % 7];
  const bool isChar = conversion == 'c';
  const bool isSigned = conversion == 'd' || conversion == 'i';
  std::string text = "%";
  std::string libcText = "%";
  const uint8_t flags = in.next();
  for (int bit = 0; bit < 5; ++bit) {
    if ((flags & (1u << bit)) == 0) {
      continue;
    }
    const char flag = "-+ #0"[bit];
    // '#' has a meaning for o, x and X only; '+' and ' ' none for %c.
    if ((flag == '#' && (isChar || isSigned || conversion == 'u')) ||
        (isChar && (flag == '+' || flag == ' '))) {
      continue;
    }
    text += flag;
    if (!(isChar && flag == '0')) {
      libcText += flag;
    }
  }
  const uint8_t fields = in.next();
  std::string field;
  // Width: none, digits or '*'; then precision: none, digits, "." alone or '*'.
  const int width = fields & 3;
  if (width == 1 || width == 2) {
    field += digits(in);
  } else if (width == 3 && left == 2) {
    field += '*';
    g.field[g.argCount] = true;
    g.args[g.argCount++] = {Argument::kInt, 0};
  }
  if (!isChar) {
    const int precision = (fields >> 2) & 3;
    if (precision == 1) {
      field += '.' + digits(in);
    } else if (precision == 2) {
      field += '.';
    } else if (precision == 3 && g.argCount == 0 && left == 2) {
      field += ".*";
      g.field[g.argCount] = true;
      g.args[g.argCount++] = {Argument::kInt, 0};
    }
  }
  std::string length;
  Argument::Kind kind = isSigned || isChar ? Argument::kInt : Argument::kUnsigned;
  if (!isChar) {
    switch ((fields >> 4) & 3) {
      case 1:
        length = "hh";
        break;
      case 2:
        length = "h";
        break;
      case 3:
        length = "l";
        kind = isSigned ? Argument::kLong : Argument::kUnsignedLong;
        break;
      default:
        break;
    }
  }
  text += field + length + conversion;
  libcText += field + length + conversion;
  g.format += text;
  g.libcFormat += libcText;
  g.args[g.argCount++] = {kind, 0};
  return true;
}

// Builds a format of literal text, "%%" and conversions from the input.
Generated generate(Bytes& in) {
  Generated g;
  const uint32_t raw[2] = {in.next32(), in.next32()};
  while (!in.empty() && g.format.size() < 512) {
    const uint8_t what = in.next();
    if (what < 0x10 && addConversion(in, g)) {
      continue;
    }
    if (what < 0x18) {
      g.format += "%%";
      g.libcFormat += "%%";
      continue;
    }
    // Any byte but '%' and the zero byte that would end the C library's format.
    const char literal = static_cast<char>(what == '%' ? '!' : what);
    g.format += literal;
    g.libcFormat += literal;
  }
  // The values in the order the conversions take them, the C library's arguments with them.
  for (std::size_t i = 0; i < g.argCount; ++i) {
    g.values[i] = g.field[i] ? smallField(raw[i]) : raw[i];
    g.args[i].bits = g.values[i];
  }
  return g;
}

void compareWithLibc(const Generated& g) {
  std::string ours;
  KivFormatter::expand(g.format, g.values[0], g.values[1], ours, kLimit);
  static char theirs[kLimit + 1];
  const int n = callSnprintf<2>(theirs, sizeof theirs, g.libcFormat.c_str(), g.args, g.argCount);
  if (n < 0) {
    kivFuzzFail("snprintf failed on a generated format");
  }
  const std::size_t expected = std::min<std::size_t>(static_cast<std::size_t>(n), kLimit);
  if (ours.size() != expected || std::memcmp(ours.data(), theirs, expected) != 0) {
    std::fprintf(stderr, "format \"%s\" values %u %u\nours   \"%s\"\ntheirs \"%.*s\"\n",
                 g.format.c_str(), g.values[0], g.values[1], ours.c_str(),
                 static_cast<int>(expected), theirs);
    kivFuzzFail("the formatter differs from snprintf");
  }
}

// The limit holds, and a format parsed behind a literal prefix expands as prefix + format.
void checkLimitAndPrefix(std::string_view prefix, std::string_view format, uint32_t param0,
                         uint32_t param1) {
  std::string whole;
  KivFormatter::expand(std::string(prefix) + std::string(format), param0, param1, whole, kLimit);
  if (whole.size() > kLimit) {
    kivFuzzFail("the expansion went beyond the limit");
  }
  std::string parsed;
  KivFormat(prefix, format).expand(param0, param1, parsed, kLimit);
  if (parsed != whole) {
    kivFuzzFail("a format parsed behind a prefix expands differently");
  }
  // Into a buffer that is nearly full already, by the other entry point.
  std::string nearlyFull(kLimit - 2, 'p');
  nearlyFull.resize(kLimit);
  const std::size_t size =
      KivFormat(prefix, format).expand(param0, param1, nearlyFull.data(), kLimit - 2, kLimit);
  if (size > kLimit ||
      nearlyFull.compare(kLimit - 2, size - (kLimit - 2), whole, 0, size - (kLimit - 2)) != 0) {
    kivFuzzFail("expanding into a nearly full buffer");
  }
}

}  // namespace

// Byte 0: even for a generated format compared with snprintf, odd for the rest of the input taken
// as the format itself; byte 1: the length of a literal prefix taken from the rest.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  const uint8_t mode = in.next();
  std::string prefix(in.next() % 16, 'p');
  if ((mode & 1) == 0) {
    const Generated g = generate(in);
    compareWithLibc(g);
    checkLimitAndPrefix(prefix, g.format, g.values[0], g.values[1]);
  } else {
    const uint32_t param0 = in.next32();
    const uint32_t param1 = in.next32();
    const std::string_view rest = in.rest();
    // The prefix is the first bytes of the text up to its first '%'.
    const std::size_t cut = std::min({rest.find('%'), prefix.size(), rest.size()});
    prefix.assign(rest.substr(0, cut));
    checkLimitAndPrefix(prefix, rest.substr(cut), param0, param1);
  }
  return 0;
}

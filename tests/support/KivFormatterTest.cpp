#include "support/KivFormatter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::string expand(std::string_view format, uint32_t p0 = 0, uint32_t p1 = 0,
                   std::size_t limit = 4095) {
  std::string out;
  KivFormatter::expand(format, p0, p1, out, limit);
  return out;
}

struct Case {
  const char* format;
  uint32_t p0;
  uint32_t p1;
  std::string expected;
};

void expectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(expand(c.format, c.p0, c.p1), c.expected) << "format: " << c.format;
  }
}

TEST(KivFormatter, ConversionsTakeTheValuesInOrder) {
  expectCases({
      {"plain text", 1, 2, "plain text"},
      {"%u and %u", 7, 8, "7 and 8"},
      {"%d %i", 0xffffffff, 0x80000000, "-1 -2147483648"},
      {"%x %X", 0xbeef, 0xbeef, "beef BEEF"},
      {"%o", 0xbeef, 0, "137357"},
      {"%c%c", 'O', 'K', "OK"},
      {"%lu %ld", 0xffffffff, 0xffffffff, "4294967295 -1"},
      {"%hd %hu", 0x18000, 0x18000, "-32768 32768"},
      {"%hhd|%hhu", 0x1ff, 0x1ff, "-1|255"},
      {"100%% %u%%", 5, 0, "100% 5%"},
  });
}

TEST(KivFormatter, ConversionsTwoValuesCannotFeedAreWrittenOutAndConsumeNothing) {
  expectCases({
      {"%s %u", 7, 8, "%s 7"},
      {"%u[%*d]%u", 1, 2, "1[%*d]2"},
      {"%*.*d|%u", 1, 2, "%*.*d|1"},
      {"%p %n %f %F %e %E %g %G %a %A %u", 3, 0, "%p %n %f %F %e %E %g %G %a %A 3"},
      {"%lld %jd %zu %td %Lf %qd %u", 4, 0, "%lld %jd %zu %td %Lf %qd 4"},
      {"%b %m %C %S %lc %hc %hhc %5% %-% %u", 9, 0, "%b %m %C %S %lc %hc %hhc %5% %-% 9"},
      {"%u %u %u", 1, 2, "1 2 %u"},
      {"%2147483648d %.2147483648d %u", 6, 0, "%2147483648d %.2147483648d 6"},
      {"abc%", 1, 2, "abc%"},
      {"abc%-08", 1, 2, "abc%-08"},
      {"abc%.*l", 1, 2, "abc%.*l"},
  });
}

TEST(KivFormatter, FlagsWidthAndPrecisionFollowC) {
  expectCases({
      {"[%5d][%-5d]", 42, 42, "[   42][42   ]"},
      {"[%05d][%-05d]", 42, 42, "[00042][42   ]"},
      {"[%+d][% d]", 5, 5, "[+5][ 5]"},
      {"[%+ d][%+ u]", 5, 5, "[+5][5]"},
      {"[%08.3d][%.0d]", 7, 0, "[     007][]"},
      {"[%5.0x][%#.0o]", 0, 0, "[     ][0]"},
      {"[%#o][%#x]", 0, 0, "[0][0]"},
      {"[%#o][%#5.3o]", 8, 8, "[010][  010]"},
      {"[%#x][%#08X]", 8, 8, "[0x8][0X000008]"},
      {"[%+06d][% 06d]", 0xffffffff, 3, "[-00001][ 00003]"},
      {"[%*d][%-*d]", 4, 1, "[   1][%-*d]"},
      {"[%*u]", static_cast<uint32_t>(-4), 1, "[1   ]"},
      {"[%.*d]", static_cast<uint32_t>(-1), 0, "[0]"},
      {"[%.*d]", 3, 1, "[001]"},
      {"[%05c][%-3c]", 'a', 'b', "[    a][b  ]"},
      {"[%+ #.0c]", 'z', 0, "[z]"},
  });
}

// These conversions put an empty sign or base prefix before their digits; writing it must cost
// nothing and touch nothing, also when the output is already full.
TEST(KivFormatter, ConversionsWithoutSignOrBasePrefixWriteOnlyPaddingAndDigits) {
  expectCases({
      {"%hu|%hhx", 0x18000, 0x1ff, "32768|ff"},
      {"[%5o][%-4X]", 8, 255, "[   10][FF  ]"},
      {"[%.0x][%#x]", 0, 0, "[][0]"},
  });
  EXPECT_EQ(expand("ab%5u", 7, 0, 2), "ab");
  EXPECT_EQ(expand("ab%hu", 7, 0, 3), "ab7");
}

TEST(KivFormatter, CharacterZeroIsWrittenAsAZeroByte) {
  EXPECT_EQ(expand("a%cb", 0), std::string("a\0b", 3));
}

TEST(KivFormatter, OutputNeverGrowsBeyondTheLimit) {
  EXPECT_EQ(expand("%2000000000d", 5, 0, 8), std::string(8, ' '));
  EXPECT_EQ(expand("%.2147483647x", 5, 0, 6), "000000");
  EXPECT_EQ(expand("%*d", 0x80000000, 0, 3), "0  ");
  EXPECT_EQ(expand("ab%-10d|", 7, 0, 5), "ab7  ");
  EXPECT_EQ(expand("%08d", 0xffffffff, 0, 4), "-000");

  std::string out = "xyz";
  KivFormatter::expand("%u", 1234, 0, out, 5);
  EXPECT_EQ(out, "xyz12");
  KivFormatter::expand("%u", 1234, 0, out, 2);
  EXPECT_EQ(out, "xyz12");
}

// Builds random formats from supported conversions only and compares against the C library.
TEST(KivFormatter, MatchesTheCLibraryOnSupportedFormats) {
  std::mt19937 rng(20240611);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  const uint32_t edges[] = {0, 1, 0x7fffffff, 0x80000000, 0xffffffff, 255, 256, 65535, 65536};
  auto value = [&] { return pick(3) == 0 ? static_cast<uint32_t>(rng()) : edges[pick(9)]; };

  for (int round = 0; round < 20000; ++round) {
    std::string format;
    uint32_t values[2] = {value(), value()};
    bool isSigned[2] = {true, true};
    int used = 0;
    for (int item = pick(4); item >= 0; --item) {
      format += std::string("ab ~x=:").substr(0, pick(5));
      if (pick(8) == 0) {
        format += "%%";
        continue;
      }
      if (used == 2) {
        break;
      }
      const char conversion = "diuoxXc"[pick(7)];
      // A '*' takes a small signed value, leaving one value for the conversion itself.
      const int star = used == 0 ? static_cast<int>(pick(6)) : 0;
      format += '%';
      for (int f = pick(4); f > 0; --f) {
        format += "-+ #0"[pick(5)];
      }
      if (star == 1) {
        format += '*';
      } else if (pick(2) == 0) {
        format += std::to_string(pick(25));
      }
      if (star == 2) {
        format += ".*";
      } else if (pick(2) == 0) {
        format += "." + (pick(4) == 0 ? std::string() : std::to_string(pick(20)));
      }
      if (star == 1 || star == 2) {
        values[used++] = pick(41) - 20;
      }
      if (conversion != 'c') {
        format += std::vector<std::string>{"", "", "h", "hh", "l"}[pick(5)];
      }
      format += conversion;
      isSigned[used] = conversion == 'd' || conversion == 'i' || conversion == 'c';
      used += 1;
    }

    // Here long is 64 bits; on the firmware's 32-bit platform 'l' changes nothing.
    std::string cFormat = format;
    std::erase(cFormat, 'l');
    char expected[1024];
    int size = 0;
    const uint32_t a = values[0];
    const uint32_t b = values[1];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    // The format is built above from supported conversions only, with the argument types it needs.
    if (isSigned[0] && isSigned[1]) {
      size = std::snprintf(expected, sizeof expected, cFormat.c_str(), static_cast<int>(a),
                           static_cast<int>(b));
    } else if (isSigned[0]) {
      size = std::snprintf(expected, sizeof expected, cFormat.c_str(), static_cast<int>(a), b);
    } else if (isSigned[1]) {
      size = std::snprintf(expected, sizeof expected, cFormat.c_str(), a, static_cast<int>(b));
    } else {
      size = std::snprintf(expected, sizeof expected, cFormat.c_str(), a, b);
    }
#pragma GCC diagnostic pop
    ASSERT_GE(size, 0);
    ASSERT_LT(size, static_cast<int>(sizeof expected));
    const std::string full(expected, static_cast<std::size_t>(size));
    ASSERT_EQ(expand(format, a, b), full) << "format: " << format << " values: " << a << ", " << b;
    const std::size_t limit = pick(static_cast<uint32_t>(full.size()) + 1);
    ASSERT_EQ(expand(format, a, b, limit), full.substr(0, limit)) << "format: " << format;
  }
}

}  // namespace

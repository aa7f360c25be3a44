#include "records/KivJsonLines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// Line numbers go on past 2^32 in JSON Lines, where a 32-bit count would start again at 0.
TEST(KivJsonLines, LineNumbersPast32BitsAreWrittenWhole) {
  const uint64_t n = (uint64_t{1} << 32) + 5;
  KivJsonWriter writer;
  EXPECT_EQ(kivjson::hostLine(writer, n, "h"), R"({"n":4294967301,"host":"h"})");
  EXPECT_EQ(kivjson::undecodedLine(n, "d", kivjson::kVersionMismatch, "l"),
            R"({"n":4294967301,"device":"d","undecoded":"version-mismatch","line":"l"})");
  EXPECT_EQ(std::string(kivjson::descriptorLine({.lineNumber = n, .line = "l"})).substr(0, 16),
            R"({"n":4294967301,)");
  EXPECT_EQ(
      std::string(kivjson::decodedLine(writer, {.lineNumber = n, .type = "UMAC"})).substr(0, 16),
      R"({"n":4294967301,)");
}

}  // namespace

// Pins the byte layout the image builder writes: every other test takes it on trust.
#include <gtest/gtest.h>

#include <string>

#include "support/KivImageBuilder.h"

namespace {

using namespace std::string_literals;

TEST(KivImageBuilder, WritesSignatureBlockAsPatternBaseVersionAndZeroTailAmidFiller) {
  KivImageBuilder b;
  b.mac("FAST_LOG_UMAC__", 0x20, 0x20000000, 0x20000200);
  const std::string& bytes = b.bytes();

  ASSERT_EQ(bytes.size(), 0x20u + 143u);
  EXPECT_EQ(bytes.substr(0, 0x20), std::string(0x20, '\xA5'));
  EXPECT_EQ(bytes.substr(0x20, 16), "FAST_LOG_UMAC__\0"s);
  EXPECT_EQ(bytes.substr(0x30, 8), "\x00\x00\x00\x20\x00\x02\x00\x20"s);
  EXPECT_EQ(bytes.substr(0x38), std::string(119, '\0'));
}

TEST(KivImageBuilder, VersionRecordCutsAndZeroPadsEachFieldAtItsWidth) {
  const KivTestVersion v{"EXACTLY15CHARS!", "short", std::string(40, 'x'), "", "f5", "f6"};
  const std::string record = "EXACTLY15CHARS!short"s + std::string(11, '\0') +
                             std::string(32, 'x') + std::string(16, '\0') + "f5" +
                             std::string(14, '\0') + "f6" + std::string(14, '\0');
  EXPECT_EQ(v.record(), record);

  KivImageBuilder b;
  b.mac("FAST_LOG_UMAC__", 0x100, 0x20000000, 0x20000200).version(v);
  EXPECT_EQ(b.bytes().substr(0x300, 111), record);
}

TEST(KivImageBuilder, LogStatementWritesLittleEndianDescriptorPointingAtZeroTerminatedStrings) {
  KivImageBuilder b;
  auto mac = b.mac("FAST_LOG_UMAC__", 0x100, 0x20000000, 0x20000200);
  mac.logStatement(0x20000400, "value=%u\n", "fw/src/main.c", 0x1234, 3, 0xBEEF);
  const std::string meta = b.bytes().substr(0x500, 16);
  const std::string format = b.bytes().substr(0x510, 10);
  const std::string file = b.bytes().substr(0x51C, 14);

  EXPECT_EQ(meta, "\x10\x04\x00\x20\xEF\xBE\x34\x12\x1C\x04\x00\x20\x03\x00\x00\x00"s);
  EXPECT_EQ(format, "value=%u\n\0"s);
  EXPECT_EQ(file, "fw/src/main.c\0"s);
}

}  // namespace

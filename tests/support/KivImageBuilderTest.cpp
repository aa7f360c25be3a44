#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "support/KivImageBuilder.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace std::string_literals;

std::string cStringAt(const std::string& bytes, std::size_t offset) {
  return std::string(bytes.c_str() + offset);
}

std::uint32_t le32At(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(offset + i)))
             << (8 * i);
  }
  return value;
}

std::size_t countOf(const std::string& haystack, const std::string& needle) {
  std::size_t count = 0;
  for (auto pos = haystack.find(needle); pos != std::string::npos;
       pos = haystack.find(needle, pos + 1)) {
    ++count;
  }
  return count;
}

TEST(KivImageBuilder, WritesSignatureBlockAsPatternBaseVersionAndZeroTailAmidFiller) {
  KivImageBuilder b;
  b.mac("FAST_LOG_UMAC__", 0x20, 0x20000000, 0x20000200);
  const std::string& bytes = b.bytes();

  ASSERT_EQ(bytes.size(), 0x20u + 143u);
  EXPECT_EQ(bytes.substr(0, 0x20), std::string(0x20, '\xA5'));
  EXPECT_EQ(bytes.substr(0x20, 16), "FAST_LOG_UMAC__\0"s);
  EXPECT_EQ(bytes.substr(0x30, 4), "\x00\x00\x00\x20"s);
  EXPECT_EQ(bytes.substr(0x34, 4), "\x00\x02\x00\x20"s);
  EXPECT_EQ(bytes.substr(0x38), std::string(119, '\0'));
}

TEST(KivImageBuilder, SignaturePatternIsFirstSixteenBytesOfTheTextZeroPadded) {
  EXPECT_EQ(kivSignaturePattern("FAST_LOG_START_"), "FAST_LOG_START_\0"s);
  EXPECT_EQ(kivSignaturePattern("ABC"), "ABC"s + std::string(13, '\0'));
  EXPECT_EQ(kivSignaturePattern("0123456789ABCDEFGH"), "0123456789ABCDEF");
}

TEST(KivImageBuilder, TruncatedBlockEndsTheFileInsideTheBlock) {
  KivImageBuilder b;
  b.mac("FAST_LOG_UMAC__", 0x10, 0x1000, 0x1100, 16 + 126);
  EXPECT_EQ(b.size(), 0x10u + 142u);
}

TEST(KivImageBuilder, VersionRecordCutsAndZeroPadsEachFieldAtItsWidth) {
  KivTestVersion v{"EXACTLY15CHARS!", "short", std::string(40, 'x'), "", "f5", "f6"};
  std::string record = v.record();

  ASSERT_EQ(record.size(), 111u);
  EXPECT_EQ(record.substr(0, 15), "EXACTLY15CHARS!");
  EXPECT_EQ(record.substr(15, 16), "short"s + std::string(11, '\0'));
  EXPECT_EQ(record.substr(31, 32), std::string(32, 'x'));
  EXPECT_EQ(record.substr(63, 16), std::string(16, '\0'));
  EXPECT_EQ(record.substr(79, 16), "f5"s + std::string(14, '\0'));
  EXPECT_EQ(record.substr(95, 16), "f6"s + std::string(14, '\0'));

  KivImageBuilder b;
  auto mac = b.mac("FAST_LOG_UMAC__", 0x100, 0x20000000, 0x20000200);
  mac.version(v);
  EXPECT_EQ(b.bytes().substr(0x300, 111), record);
}

TEST(KivImageBuilder, LogStatementWritesLittleEndianDescriptorPointingAtZeroTerminatedStrings) {
  KivImageBuilder b;
  auto mac = b.mac("FAST_LOG_UMAC__", 0x100, 0x20000000, 0x20000200);
  mac.logStatement(0x20000400, "value=%u\n", "fw/src/main.c", 0x1234, 3, 0xBEEF);
  const std::string& bytes = b.bytes();

  std::string meta = bytes.substr(0x500, 16);
  std::uint32_t format = le32At(meta, 0);
  std::uint32_t file = le32At(meta, 8);
  EXPECT_EQ(meta.substr(4, 4), "\xEF\xBE\x34\x12"s);
  EXPECT_EQ(meta.substr(12, 4), "\x03\x00\x00\x00"s);
  EXPECT_EQ(cStringAt(bytes, mac.offsetOf(format)), "value=%u\n");
  EXPECT_EQ(cStringAt(bytes, mac.offsetOf(file)), "fw/src/main.c");
  // The automatic places are past the descriptor and the version record.
  EXPECT_GE(mac.offsetOf(format), 0x510u);

  EXPECT_EQ(mac.placeString("fw/src/main.c"), file);
}

TEST(KivImageBuilder, MapsAddressesThroughBlockOffsetAndBaseWrappingInThirtyTwoBits) {
  KivImageBuilder b;
  auto mac = b.mac("FAST_LOG_UMAC__", 0x50, 0x200, 0x210);
  EXPECT_EQ(mac.offsetOf(0x200), 0x50u);
  EXPECT_EQ(mac.offsetOf(0x300), 0x150u);
  EXPECT_EQ(mac.offsetOf(0x100), 0xFFFFFF50u);
  EXPECT_EQ(mac.addressOf(0x150), 0x300u);
  EXPECT_THROW(mac.u32(0x100, 1), std::length_error);
}

TEST(KivImageBuilder, CombinedFileHoldsBothBlocksInEitherOrderEachWithItsOwnMapping) {
  KivImageBuilder b;
  auto lmac = b.mac("FAST_LOG_LMAC__", 0x40, 0x00800000, 0x00800100);
  auto umac = b.mac("FAST_LOG_UMAC__", 0x400, 0x20000000, 0x20000100);
  lmac.string(0x00800200, "lmac text");
  umac.string(0x20000200, "umac text");
  const std::string& bytes = b.bytes();

  EXPECT_EQ(bytes.find("FAST_LOG_LMAC__\0"s), 0x40u);
  EXPECT_EQ(bytes.find("FAST_LOG_UMAC__\0"s), 0x400u);
  EXPECT_EQ(cStringAt(bytes, 0x240), "lmac text");
  EXPECT_EQ(cStringAt(bytes, 0x600), "umac text");
}

TEST(KivSampleFirmware, CombinedImageEndsWithTheFarEndDescriptor) {
  std::string bytes = kivsample::image();
  ASSERT_EQ(bytes.size(), kivsample::kImageSize);
  EXPECT_EQ(bytes.find("FAST_LOG_UMAC__\0"s), kivsample::kUmacBlockOffset);
  EXPECT_EQ(bytes.find("FAST_LOG_LMAC__\0"s), kivsample::kLmacBlockOffset);
  const auto& s = kivsample::kLmacAtEnd;
  EXPECT_EQ(bytes.substr(bytes.size() - 16, 4), kivLe32(s.formatAddress));
  EXPECT_EQ(cStringAt(bytes, kivsample::kLmacBlockOffset + s.formatAddress - kivsample::kLmacBase),
            s.format);
}

TEST(KivSampleFirmware, LegacyFilesHoldOneBlockEachUnderTheLegacySignature) {
  KivTempDir dir;
  kivsample::writeLegacyImages(dir.path());
  for (const char* name : {"umac.elf", "lmac.elf"}) {
    std::string bytes = dir.read(name);
    EXPECT_EQ(countOf(bytes, "FAST_LOG_START_\0"s), 1u) << name;
    EXPECT_EQ(bytes.find("FAST_LOG_UMAC__"), std::string::npos) << name;
    EXPECT_EQ(bytes.find("FAST_LOG_LMAC__"), std::string::npos) << name;
  }
  std::string umac = dir.read("umac.elf");
  const auto& s = kivsample::kUmacValue;
  EXPECT_EQ(cStringAt(umac, kivsample::kUmacBlockOffset + s.fileAddress - kivsample::kUmacBase),
            s.file);
}

TEST(KivSampleFirmware, RawLogLinesCarryTokensInOrder) {
  EXPECT_EQ(kivsample::dataLine("dev1", 1000, 2, 0x1A2B, 7, 8),
            "[FW_LOG-R][ID:dev1][1000][2][1a2b][7][8]");
  EXPECT_EQ(kivsample::dataLine(std::nullopt, 1, kivsample::kUmacValue, 0, 4294967295u),
            "[FW_LOG-R][1][0][20000400][0][4294967295]");
  KivTestVersion u{"u1", "u2", "u3", "u4", "u5", "u6"};
  KivTestVersion l{"l1", "l2", "l3", "l4", "l5", ""};
  EXPECT_EQ(kivsample::descriptorLine("", u, l),
            "[FW_ELF_VER][ID:][UMAC][u1][u2][u3][u4][u5][u6][LMAC][l1][l2][l3][l4][l5][]");
}

}  // namespace

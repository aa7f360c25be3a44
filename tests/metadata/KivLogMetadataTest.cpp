#include "metadata/KivLogMetadata.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/KivCapture.h"
#include "support/KivImageBuilder.h"
#include "support/KivTempDir.h"

namespace {

using namespace std::string_literals;

constexpr char kUmac[] = "FAST_LOG_UMAC__";
const std::string kPattern = "FAST_LOG_UMAC__\0"s;
constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kPage = 4096;

std::string filler(std::size_t n) {
  return std::string(n, '\xA5');
}

// The 127 bytes after a pattern. Its version address equals its base address, so the version
// record is read from the block itself and only the search decides whether a load succeeds.
std::string blockTail(std::uint32_t base = 0x1000) {
  std::string tail = kivLe32(base) + kivLe32(base);
  tail.resize(127, '\0');
  return tail;
}

std::string block(std::uint32_t base = 0x1000) {
  return kPattern + blockTail(base);
}

class KivLogMetadataTest : public KivAtLevel<kLogError> {
 protected:
  struct Loaded {
    bool ok;
    std::string log;
  };

  Loaded load(KivLogMetadata& image, const std::string& bytes, int level = 0,
              const std::string& signature = kUmac) {
    const std::string path = dir_.write("image.elf", bytes);
    setDebugLevel(level);
    KivCapture capture;
    const bool ok = image.load(path, signature);
    return {ok, capture.text()};
  }

  std::string path() const { return dir_.file("image.elf"); }

  KivTempDir dir_;
};

struct SearchRow {
  const char* what;
  std::string bytes;
  bool found;
  std::uint32_t dataOffset;
  std::string signature = kUmac;
  std::uint32_t base = 0x1000;
};

TEST_F(KivLogMetadataTest, SignatureSearchFindsTheFirstTrueOccurrenceOfTheSixteenBytePattern) {
  const std::vector<SearchRow> rows = {
      {"at the start of the file", block(), true, 0},
      {"after filler", filler(100) + block(), true, 100},
      {"first of two", filler(50) + block(0x1111) + filler(20) + block(0x2222), true, 50, kUmac,
       0x1111},
      {"text followed by a non-zero byte is no match", "FAST_LOG_UMAC__X" + blockTail(), false, 0},
      {"text plus non-zero byte, then the pattern", "FAST_LOG_UMAC__X" + filler(7) + block(), true,
       23},
      {"an F directly before the pattern", "F" + block(), true, 1},
      {"a broken partial match overlapping the pattern",
       "FAST_LOG_FAST_LOG_UMAC__\0"s + blockTail(), true, 9},
      {"the other image's pattern", "FAST_LOG_LMAC__\0"s + blockTail(), false, 0},
      {"ending inside the pattern", filler(10) + "FAST_LOG_UMAC_", false, 0},
      {"ending before the pattern's zero byte", "FAST_LOG_UMAC__", false, 0},
      {"an empty file", "", false, 0},
      {"exactly 127 bytes after the pattern", filler(3) + block(), true, 3},
      {"only 126 bytes after the pattern", filler(3) + block().substr(0, 142), false, 0},
      {"pattern ending at the scan chunk boundary", filler(kChunk - 16) + block(), true,
       kChunk - 16},
      {"pattern across the scan chunk boundary", filler(kChunk - 9) + block(), true, kChunk - 9},
      {"pattern starting on the chunk's last byte", filler(kChunk - 1) + block(), true, kChunk - 1},
      {"pattern starting in the second chunk", filler(kChunk) + block(), true, kChunk},
      {"an F at the chunk's end before the pattern", filler(kChunk - 1) + "F" + block(), true,
       kChunk},
      {"pattern across the second chunk boundary", filler(2 * kChunk - 5) + block(), true,
       2 * kChunk - 5},
      {"a short signature is padded with zero bytes", "ABC"s + std::string(13, '\0') + blockTail(),
       true, 0, "ABC"},
      {"a short signature needs all its zero padding", "ABC\0\0\0"s + filler(10) + blockTail(),
       false, 0, "ABC"},
      {"a long signature contributes its first 16 bytes", "FAST_LOG_UMAC__E" + blockTail(), true, 0,
       "FAST_LOG_UMAC__EXT"},
  };
  for (const SearchRow& row : rows) {
    KivLogMetadata image;
    const Loaded loaded = load(image, row.bytes, 0, row.signature);
    EXPECT_EQ(loaded.ok, row.found) << row.what;
    if (row.found) {
      EXPECT_EQ(loaded.log, "") << row.what;
      EXPECT_EQ(image.dataOffset(), row.dataOffset) << row.what;
      EXPECT_EQ(image.baseAddress(), row.base) << row.what;
    } else {
      EXPECT_EQ(loaded.log, "[ERR] Failed to find signature in " + path() + "\n") << row.what;
    }
  }
}

TEST_F(KivLogMetadataTest, LoadAtDebugLevelThreeTracesTheSearchAndTheVersionRead) {
  std::string tail = kivLe32(0x20000000) + kivLe32(0x20000200) + "Build 42";
  tail.resize(126, '\0');
  tail += '\xEE';
  std::string bytes = kPattern + tail;
  bytes.resize(0x200, '\x5A');
  bytes += KivTestVersion{"KIV", "1.2", "Mar 20 2026", "rel", "abc", "prod"}.record();

  KivLogMetadata image;
  const Loaded loaded = load(image, bytes, 3);
  ASSERT_TRUE(loaded.ok);
  const std::string zeros =
      "    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00     ................\n";
  // A block at the very start of the file is found "at 10", where its pattern ends.
  EXPECT_EQ(loaded.log,
            "[DBG] Searching for signature \"FAST_LOG_UMAC__\"\n"
            "[DBG] Found signature at 10\n"
            "[DBG] Reading additional 127 bytes of signature struct\n"
            "[DBG] SIGNATURE:(143 bytes)\n" +
                zeros +
                "    00 00 00 20 00 02 00 20 42 75 69 6c 64 20 34 32     ... ... Build 42\n" +
                zeros + zeros + zeros + zeros + zeros + zeros +
                "    00 00 00 00 00 00 00 00 00 00 00 00 00 00 ee        ...............\n"
                "[DBG] Got baseAddress 20000000 versionAddress 20000200 dataOffset 0 pos F\n"
                "[DBG] Version read from offset 200\n");
  EXPECT_EQ(image.versionAddress(), 0x20000200u);
  EXPECT_EQ(image.elfVersion().text(), "KIV.1.2 Mar 20 2026 rel abc prod");
}

TEST_F(KivLogMetadataTest, VersionRecordMustBeReadWhole) {
  struct Row {
    const char* what;
    std::uint32_t blockOffset, base, version;
    std::size_t fileSize;
    bool ok;
    const char* offsetLine;
  };
  const std::vector<Row> rows = {
      {"ending exactly after the record", 0x10, 0x1000, 0x1200, 0x210 + 111, true, "210"},
      {"one byte short", 0x10, 0x1000, 0x1200, 0x210 + 110, false, "210"},
      {"beyond the end of the file", 0x10, 0x1000, 0x9000, 0x400, false, "8010"},
      {"below the base by more than the offset wraps around", 0x10, 0x1000, 0x0F00, 0x400, false,
       "FFFFFF10"},
      {"below the base within the offset", 0x200, 0x1000, 0x0F00, 0x400, true, "100"},
  };
  for (const Row& row : rows) {
    KivImageBuilder builder;
    builder.mac(kUmac, row.blockOffset, row.base, row.version);
    builder.resize(row.fileSize);
    KivLogMetadata image;
    const Loaded loaded = load(image, builder.bytes(), 3);
    EXPECT_EQ(loaded.ok, row.ok) << row.what;
    const std::string end = "[DBG] Version read from offset "s + row.offsetLine + "\n" +
                            (row.ok ? "" : "[ERR] Failed to find verion in file " + path() + "\n");
    ASSERT_GE(loaded.log.size(), end.size()) << row.what;
    EXPECT_EQ(loaded.log.substr(loaded.log.size() - end.size()), end) << row.what;
  }
}

// A loaded image with chosen bytes: the signature block at offset 0, base address 0, so
// firmware address and file offset coincide.
class KivLogMetadataReadTest : public KivLogMetadataTest {
 protected:
  void loadImage(KivImageBuilder& builder) {
    ASSERT_TRUE(load(image_, builder.bytes()).ok);
    size_ = static_cast<std::uint32_t>(builder.size());
  }

  static KivImageBuilder builderOfSize(std::size_t size) {
    KivImageBuilder builder;
    builder.mac(kUmac, 0, 0, 0);
    builder.resize(size);
    return builder;
  }

  std::string readBytes(std::uint32_t offset, std::size_t n, bool expectOk = true) {
    std::string out(n, '?');
    EXPECT_EQ(image_.readAt(offset, out.data(), n), expectOk) << "readAt " << offset;
    return out;
  }

  std::string readString(std::uint32_t offset, std::size_t keep = std::string::npos) {
    std::string out = "stale";
    EXPECT_TRUE(image_.readStringAt(offset, out, keep)) << "readStringAt " << offset;
    return out;
  }

  KivLogMetadata image_;
  std::uint32_t size_ = 0;
};

TEST_F(KivLogMetadataReadTest, ReadsAtOffsetsAcrossPageBoundariesKeepingAtMostTheKeepLimit) {
  const std::string longText(3 * kPage + 500, 't');
  KivImageBuilder builder = builderOfSize(8 * kPage);
  builder.raw(200, "abcdefghij\0"s).raw(300, "zero\0"s).raw(400, "\0"s);
  builder.raw(kPage - 6, "crossing-the-page\0"s);
  builder.raw(2 * kPage - 1, "X\0"s).raw(2 * kPage, "\0"s);
  builder.raw(2 * kPage + 100, longText + '\0');
  builder.raw(8 * kPage - 16, "0123456789abcdef");
  loadImage(builder);

  EXPECT_EQ(readBytes(0, 16), kPattern);
  EXPECT_EQ(readBytes(kPage - 6, 17), "crossing-the-page");
  EXPECT_EQ(readString(kPage - 6), "crossing-the-page");
  EXPECT_EQ(readString(kPage - 1), "ing-the-page");
  EXPECT_EQ(readString(300), "zero");
  EXPECT_EQ(readString(400), "");
  EXPECT_EQ(readString(2 * kPage - 1), "X");
  EXPECT_EQ(readString(2 * kPage), "");
  EXPECT_EQ(readBytes(size_ - 16, 16), "0123456789abcdef");
  EXPECT_EQ(readBytes(size_ - 16, 0), "");
  // The scan runs to the zero byte, whatever the keep limit.
  EXPECT_EQ(readString(200, 5), "abcde");
  EXPECT_EQ(readString(200, 0), "");
  EXPECT_EQ(readString(200, 10), "abcdefghij");
  EXPECT_EQ(readString(200, 11), "abcdefghij");
  EXPECT_EQ(readString(2 * kPage + 100), longText);
  EXPECT_EQ(readString(2 * kPage + 100, 4095), longText.substr(0, 4095));
  EXPECT_EQ(readString(2 * kPage + 100, 150), longText.substr(0, 150));
  EXPECT_EQ(readString(3 * kPage, 3), "ttt");
  std::string out;
  EXPECT_FALSE(image_.readStringAt(6 * kPage, out, 10));
}

TEST_F(KivLogMetadataReadTest, AFailedOrShortReadNeverMakesLaterReadsFail) {
  KivImageBuilder builder = builderOfSize(2 * kPage + 10);
  builder.raw(1000, "still here\0"s);
  builder.raw(2 * kPage, "0123456789");
  loadImage(builder);

  EXPECT_EQ(readBytes(size_ - 10, 16, false), "0123456789??????");
  EXPECT_EQ(readString(1000), "still here");
  EXPECT_EQ(readBytes(size_, 1, false), "?");
  EXPECT_EQ(readBytes(1000, 5), "still");
  EXPECT_EQ(readBytes(0xFFFFFFF8u, 16, false), std::string(16, '?'));
  EXPECT_EQ(readBytes(1006, 4), "here");
  std::string out;
  EXPECT_FALSE(image_.readStringAt(size_ - 10, out));
  EXPECT_FALSE(image_.readStringAt(size_, out));
  EXPECT_FALSE(image_.readStringAt(0xFFFFFFFFu, out));
  EXPECT_EQ(readString(1000), "still here");
  EXPECT_EQ(readBytes(size_ - 10, 10), "0123456789");
}

TEST_F(KivLogMetadataReadTest, PagesThatShareACacheSlotAreReadBackCorrectly) {
  constexpr std::size_t kPages = 40;
  KivImageBuilder builder = builderOfSize(kPages * kPage);
  for (std::size_t page = 1; page < kPages; ++page) {
    builder.raw(page * kPage, "page " + std::to_string(page) + '\0');
  }
  loadImage(builder);
  for (std::size_t page : {1u, 17u, 33u, 1u, 16u, 32u, 0u, 39u, 23u, 7u, 39u, 17u}) {
    if (page == 0) {
      EXPECT_EQ(readBytes(0, 15), "FAST_LOG_UMAC__");
    } else {
      EXPECT_EQ(readString(static_cast<std::uint32_t>(page * kPage)),
                "page " + std::to_string(page));
    }
  }
}

// Strings are read in any order, from inside texts already read, across long runs without a zero
// and past the end: every answer is the one a plain scan of the file's bytes gives.
TEST_F(KivLogMetadataReadTest, StringReadsInAnyOrderMatchAPlainScanOfTheFile) {
  constexpr std::size_t kSize = 12 * kPage;
  KivImageBuilder builder = builderOfSize(kSize);
  std::mt19937 random(7);
  for (int i = 0; i < 12; ++i) {
    builder.raw(200 + random() % (kSize - 3 * kPage), "\0"s);
  }
  loadImage(builder);
  const std::string& bytes = builder.bytes();

  for (int i = 0; i < 3000; ++i) {
    const auto offset = static_cast<std::uint32_t>(random() % (kSize + 64));
    const std::size_t keep = i % 3 == 0 ? 100 : std::string::npos;
    const std::size_t zero = offset < kSize ? bytes.find('\0', offset) : std::string::npos;
    std::string out = "stale";
    const bool ok = image_.readStringAt(offset, out, keep);
    ASSERT_EQ(ok, zero != std::string::npos) << "offset " << offset;
    if (ok) {
      ASSERT_EQ(out, bytes.substr(offset, std::min(zero - offset, keep))) << "offset " << offset;
    }
  }
}

}  // namespace

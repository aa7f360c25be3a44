#include "input/KivInputSource.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/KivCompress.h"

namespace {

using namespace std::string_literals;
using Format = KivInputSource::Format;

constexpr KivCompression kFormats[] = {KivCompression::kGzip, KivCompression::kZstd,
                                       KivCompression::kXz};

// Hands out its bytes in pieces of the given sizes, taken in turn, then ends as asked: at the
// end of the input, with a failure, or stopped as when the run is asked to end.
class PieceSource : public KivByteSource {
 public:
  enum class Ending { kEnd, kFailure, kStop };

  PieceSource(std::string bytes, std::vector<std::size_t> pieces, Ending ending = Ending::kEnd)
      : bytes_(std::move(bytes)), pieces_(std::move(pieces)), ending_(ending) {}

  ssize_t read(char* buffer, std::size_t size) override {
    if (at_ == bytes_.size()) {
      return ending_ == Ending::kFailure ? fail("Input/output error")
             : ending_ == Ending::kStop  ? stop()
                                         : 0;
    }
    const std::size_t n = std::min({size, pieces_[next_++ % pieces_.size()], bytes_.size() - at_});
    bytes_.copy(buffer, n, at_);
    at_ += n;
    return static_cast<ssize_t>(n);
  }
  uint64_t bytesConsumed() const override { return at_; }

 private:
  std::string bytes_;
  std::vector<std::size_t> pieces_;
  Ending ending_;
  std::size_t at_ = 0;
  std::size_t next_ = 0;
};

struct ReadBack {
  std::string text;
  ssize_t last = 0;  // what the read that ended returned
};

// Reads until a read returns 0 or -1, asking for the given sizes in turn.
ReadBack readAll(KivByteSource& source, const std::vector<std::size_t>& sizes = {1 << 20}) {
  ReadBack back;
  std::vector<char> buffer(*std::max_element(sizes.begin(), sizes.end()));
  for (std::size_t i = 0;; ++i) {
    const ssize_t got = source.read(buffer.data(), sizes[i % sizes.size()]);
    if (got <= 0) {
      back.last = got;
      return back;
    }
    back.text.append(buffer.data(), static_cast<std::size_t>(got));
  }
}

// Text that compresses to a few hundred KiB: longer than a piece of compressed input.
std::string capture(std::size_t lines, uint32_t seed) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    text += "[ " + std::to_string(i) + "] [FW_LOG-R][ID:wlan0][";
    for (int j = 0; j < 24; ++j) {
      seed = seed * 1103515245u + 12345u;
      text += "0123456789abcdef"[seed >> 28];
    }
    text += "]\n";
  }
  return text;
}

Format formatOf(KivCompression format) {
  return format == KivCompression::kGzip   ? Format::kGzip
         : format == KivCompression::kZstd ? Format::kZstd
                                           : Format::kXz;
}

TEST(KivInputSource, EachFormatDecodesToItsTextWhateverPiecesItArrivesIn) {
  const std::string first = capture(6000, 1);
  const std::string second = capture(3000, 2);
  // A zstd skippable frame: magic 0x184D2A53, length 3, and three bytes to skip.
  const std::string skippable =
      "\x53\x2a\x4d\x18\x03\x00\x00\x00"
      "abc"s;
  for (const KivCompression format : kFormats) {
    const std::string a = kivCompress(format, first);
    const std::string b = kivCompress(format, second);
    struct Row {
      const char* what;
      std::string bytes;
      std::string text;
    };
    std::vector<Row> rows = {{"one member", a, first}, {"two members", a + b, first + second}};
    if (format == KivCompression::kZstd) {
      rows.push_back({"a skippable frame first", skippable + a, first});
    }
    for (const Row& row : rows) {
      // The magic number split over reads; reads asking for a byte, a page, or much.
      for (const auto& [pieces, sizes] :
           {std::pair<std::vector<std::size_t>, std::vector<std::size_t>>{{1 << 20}, {1 << 20}},
            {{1, 5, 4093}, {1, 4096, 1 << 20}}}) {
        SCOPED_TRACE(std::string(kivCompressionName(format)) + ", " + row.what + ", pieces of " +
                     std::to_string(pieces[0]));
        KivInputSource source(std::make_unique<PieceSource>(row.bytes, pieces));
        EXPECT_EQ(source.format(), formatOf(format));
        const ReadBack back = readAll(source, sizes);
        EXPECT_EQ(back.last, 0);
        EXPECT_TRUE(back.text == row.text) << back.text.size() << " of " << row.text.size();
        EXPECT_EQ(source.failure(), "");
        EXPECT_EQ(source.bytesConsumed(), row.bytes.size());
      }
    }
  }
}

TEST(KivInputSource, TextIsHandedOnUnchangedAlsoWhenItBeginsLikeAMagicNumber) {
  for (const std::string& text : {""s, "a"s, "(boot)\n"s, "\x1f\n"s, "\x1f"s, "\x28\xb5\x2f\n"s,
                                  "\xfd\x37\x7a\x58\x5a"s, "\x5f\x2a\x4d"s, "plain\nlines\n"s}) {
    SCOPED_TRACE(::testing::PrintToString(text));
    KivInputSource source(std::make_unique<PieceSource>(text, std::vector<std::size_t>{1}));
    EXPECT_EQ(source.format(), Format::kPlain);
    const ReadBack back = readAll(source);
    EXPECT_EQ(back.text, text);
    EXPECT_EQ(back.last, 0);
    EXPECT_EQ(source.bytesConsumed(), text.size());
  }
}

// A zstd frame header that asks for a 256 MiB window: magic; descriptor 0x00 (no content size,
// no checksum, no dictionary); window descriptor 0x90 (exponent 18: 2^(10+18) bytes); then one
// last raw block of one byte (block header 0x000009) holding 'x'.
const std::string kZstdLargeWindow = "\x28\xb5\x2f\xfd\x00\x90\x09\x00\x00x"s;

// An xz stream whose LZMA2 dictionary is raised to 1.5 GiB in its block header (property byte
// 37), with the header's CRC32 made to match.
std::string xzLargeDictionary() {
  std::string bytes = kivCompress(KivCompression::kXz, "x\n");
  // The stream header is 12 bytes; the block header's first byte gives its size / 4 - 1, its
  // last four bytes are its CRC32. The LZMA2 filter is ID 0x21 with a one-byte property.
  const std::size_t header = 12;
  const std::size_t size = (static_cast<unsigned char>(bytes[header]) + 1) * 4;
  const std::size_t filter = bytes.find("\x21\x01", header + 2);
  bytes[filter + 2] = 37;
  const uint32_t crc =
      lzma_crc32(reinterpret_cast<const uint8_t*>(bytes.data() + header), size - 4, 0);
  for (int i = 0; i < 4; ++i) {
    bytes[header + size - 4 + i] = static_cast<char>(crc >> (8 * i));
  }
  return bytes;
}

TEST(KivInputSource, DamagedDataIsHandedOutUpToTheDamageAndThenNamed) {
  const std::string first = capture(2000, 3);
  const std::string second = capture(2000, 4);
  using Ending = PieceSource::Ending;
  for (const KivCompression format : kFormats) {
    const std::string name(kivCompressionName(format));
    const std::string a = kivCompress(format, first);
    const std::string b = kivCompress(format, second);
    std::string flipped = a + b;
    flipped.back() ^= 0x40;
    const struct {
      const char* what;
      std::string bytes;
      Ending ending;
      std::string failure;  // empty: the input ends without one
      // The decoded text begins with the first member's text, or is exactly that.
      bool onlyFirst;
    } rows[] = {
        {"nothing missing", a, Ending::kEnd, "", true},
        {"cut in the second member", a + b.substr(0, b.size() / 2), Ending::kEnd,
         "unexpected end of " + name + " data", false},
        {"cut in the second member's header", a + b.substr(0, 3), Ending::kEnd,
         "unexpected end of " + name + " data", true},
        {"last byte flipped", flipped, Ending::kEnd, "corrupt " + name + " data", false},
        {"text after the data", a + "more text after the capture\n", Ending::kEnd,
         "corrupt " + name + " data", true},
        {"a read fails", a + b.substr(0, b.size() / 2), Ending::kFailure, "Input/output error",
         false},
        {"the run is asked to end", a + b.substr(0, b.size() / 2), Ending::kStop, "", false},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(name + ", " + row.what);
      KivInputSource source(
          std::make_unique<PieceSource>(row.bytes, std::vector<std::size_t>{1000}, row.ending));
      const ReadBack back = readAll(source, {4096});
      EXPECT_EQ(back.last, row.failure.empty() ? 0 : -1);
      EXPECT_EQ(source.failure(), row.failure);
      EXPECT_EQ(source.stopped(), row.ending == Ending::kStop);
      EXPECT_TRUE(back.text.starts_with(first)) << back.text.size();
      EXPECT_TRUE((first + second).starts_with(back.text)) << back.text.size();
      if (row.onlyFirst) {
        EXPECT_EQ(back.text.size(), first.size());
      }
    }
  }
  // Streams that would take more memory than allowed are refused before it is taken.
  for (const auto& [bytes, failure] :
       {std::pair{kZstdLargeWindow, "zstd data needs more than 128 MiB of memory"s},
        {xzLargeDictionary(), "xz data needs more than 128 MiB of memory"s}}) {
    KivInputSource source(std::make_unique<PieceSource>(bytes, std::vector<std::size_t>{64}));
    EXPECT_EQ(readAll(source).last, -1);
    EXPECT_EQ(source.failure(), failure);
  }
}

}  // namespace

// Writes the seed corpora of the fuzz targets into the folder named by argv[1], one subfolder per
// target: small valid inputs made with the test image builder and the sample firmware, so that
// fuzzing starts from inputs that reach deep into the tool. The output is the same on every run.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "support/KivImageBuilder.h"
#include "support/KivSampleFirmware.h"

namespace {

using namespace std::string_literals;

class Corpus {
 public:
  explicit Corpus(std::string root) : root_(std::move(root)) { makeDir(root_); }

  // Starts the seeds of `target`.
  void target(const std::string& name) {
    dir_ = root_ + "/" + name;
    makeDir(dir_);
  }
  void seed(const std::string& name, std::string_view bytes) {
    std::ofstream file(dir_ + "/" + name, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush()) {
      throw std::runtime_error("cannot write " + dir_ + "/" + name);
    }
  }

 private:
  static void makeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
      throw std::runtime_error("cannot create " + path);
    }
  }
  std::string root_;
  std::string dir_;
};

// Formats a firmware could hold, from the common ones to those written out unexpanded.
const std::vector<std::pair<std::string, std::string>> kFormats = {
    {"value", "value=%u count=%x\n"},
    {"percent", "load %d%%\n"},
    {"flags", "[%-6d|%06i|%+d|% d|%#o|%#X]"},
    {"star", "%*d|%-*u|%.*x"},
    {"lengths", "%hhd %hu %lx %hhX"},
    {"character", "[%c] [%-3c] [%05c]"},
    {"unexpanded", "%s %p %lld %f %lc %q %"},
    {"huge_width", "%99999999999d %.2147483648u"},
    {"three_values", "%u %u %u"},
};

std::string values(uint32_t param0, uint32_t param1) {
  return kivLe32(param0) + kivLe32(param1);
}

void formatterSeeds(Corpus& corpus) {
  corpus.target("formatter");
  for (const auto& [name, format] : kFormats) {
    corpus.seed(name, values(0xFFFFFFF6u, 42) + format);
  }
}

// One conversion in the differential target's encoding: its index in "diuoxXc", the flag bits
// ("-+ #0"), the width (0 none, 1 digits, 3 '*'), the precision (0 none, 1 digits, 2 '.', 3 '*'),
// the length (0 none, 1 hh, 2 h, 3 l), then the width's and the precision's digits.
std::string conversion(int index, int flags, int width, int precision, int length,
                       std::string digits = {}) {
  std::string out{'\0', static_cast<char>(index), static_cast<char>(flags),
                  static_cast<char>(width | precision << 2 | length << 4)};
  return out + digits;
}

void formatterDiffSeeds(Corpus& corpus) {
  corpus.target("formatter_diff");
  // Byte 0 even: a generated format; byte 1: the prefix length; the values; the format.
  const std::string header = "\x00\x03"s + values(0x80000000u, 0x7F);
  corpus.seed("plain",
              header + "v=" + conversion(0, 0, 0, 0, 0) + " x=" + conversion(4, 0, 0, 0, 0));
  corpus.seed("padded", header + conversion(1, 0x11, 1, 0, 0, "\x0c") + '|' +
                            conversion(3, 0x08, 1, 1, 2, "\x08\x05"));
  corpus.seed("star", header + conversion(2, 0x01, 3, 0, 3) + "%");
  corpus.seed("star_precision", header + conversion(5, 0x18, 0, 3, 1));
  corpus.seed("character", header + '[' + conversion(6, 0x10, 1, 0, 0, "\x05") + ']' +
                               conversion(0, 0x06, 0, 2, 0));
  // Byte 0 odd: the text itself is the format.
  for (const auto& [name, format] : kFormats) {
    corpus.seed("text_" + name, "\x01\x04"s + values(0xFFFFFFF6u, 42) + format);
  }
}

std::string arguments(std::initializer_list<std::string_view> args) {
  std::string out;
  for (const std::string_view arg : args) {
    out.append(arg).push_back('\0');
  }
  out.pop_back();
  return out;
}

void commandLineSeeds(Corpus& corpus) {
  corpus.target("command_line");
  corpus.seed("none", "");
  corpus.seed("program_only", "/usr/local/bin/kivlog");
  corpus.seed("combined", arguments({"kivlog", "-r", "-s", "-f", "k.elf", "-i", "raw.log", "-o",
                                     "out", "-v", "3", "-sig_umac", "U", "-sig_lmac", "L"}));
  corpus.seed("legacy", arguments({"kivlog", "-u", "a.elf", "-sig_umac", "X", "-l", "b.elf"}));
  corpus.seed("conflict", arguments({"kivlog", "-f", "k.elf", "-l", "l.elf"}));
  corpus.seed("missing_value", arguments({"kivlog", "-r", "-o", "-s"}));
  corpus.seed("value_at_end", arguments({"kivlog", "-i"}));
  corpus.seed("unrecognised", arguments({"C:\\tools\\kivlog.exe", "-r", "-zz", "-i", "f"}));
  corpus.seed("usage_spelling", arguments({"kivlog", "-sig-lmac", "x"}));
  corpus.seed("levels", arguments({"kivlog", "-v", " +3x", "-v", "99999999999"}));
  corpus.seed("long_options", arguments({"kivlog", "--level", "error", "--device=wlan0", "--mac",
                                         "LMAC", "--no-host", "--color=always", "--device", ""}));
  corpus.seed("bad_value", arguments({"kivlog", "--mac", "UMAC_CR", "--level=notice"}));
  corpus.seed("follow", arguments({"kivlog", "--follow", "-i", "raw.log", "-r"}));
}

// The line reader's input: chunk sizes, the chunks after which the run is asked to end (0: never),
// and the text.
std::string withChunks(std::initializer_list<uint16_t> sizes, std::string_view input,
                       unsigned stopAfter = 0) {
  std::string out(1, static_cast<char>(sizes.size() | stopAfter << 4));
  for (const uint16_t size : sizes) {
    out += kivLe16(size);
  }
  return out.append(input);
}

void lineReaderSeeds(Corpus& corpus) {
  corpus.target("line_reader");
  const auto run = [](int units, char c) { return "\xff"s + static_cast<char>(units) + c; };
  corpus.seed("lines", withChunks({1}, "a\nb\n\nlast"));
  corpus.seed("zero_bytes", withChunks({3, 5}, "ab\0cd\nef\0\n\0"s));
  corpus.seed("carriage_returns", withChunks({2}, "cr\r\n\r\n"));
  // 4096 characters: one past the cut, delivered in pieces on either side of it.
  corpus.seed("cut", withChunks({4095, 1, 7}, run(64, 'x') + "\ny\n"));
  corpus.seed("cut_exact", withChunks({4094, 4097}, run(63, 'x') + std::string(63, 'x') + "\ny"));
  corpus.seed("long", withChunks({8191, 13}, run(200, 'z') + "\n" + run(3, '\0') + "tail"));
  // Asked to end with a line half read, and with a line past the cut half read.
  corpus.seed("stop", withChunks({5, 3}, "ab\ncd\nef\ngh\n", 2));
  corpus.seed("stop_after_cut", withChunks({4100}, run(65, 'x') + "\n", 1));
}

// Each format in each mode (see KivDecompressFuzz.cpp), on a few lines of a capture.
void decompressSeeds(Corpus& corpus) {
  using namespace kivsample;
  corpus.target("decompress");
  const std::string text =
      rawLog({descriptorLine("wlan0"), dataLine("wlan0", 7, kUmacPercent, 3, 0),
              "[   12.400001] host line"});
  const char* formats[] = {"gzip", "zstd", "xz"};
  const char* modes[] = {"whole", "cut", "flip", "arbitrary"};
  for (int mode = 0; mode < 4; ++mode) {
    for (int format = 0; format < 3; ++format) {
      // Split, cut or flipped at byte 40; reads of 2^12 bytes.
      const std::string header = std::string(1, static_cast<char>(mode * 3 + format)) +
                                 kivLe16(40) + static_cast<char>(0x1c);
      corpus.seed(std::string(formats[format]) + "_" + modes[mode], header + text);
    }
  }
}

// The standard combined image; the legacy pair in one file; and images that end inside what the
// tool reads.
void imageSeeds(Corpus& corpus) {
  using namespace kivsample;
  corpus.target("image");
  corpus.seed("sample", imageBuilder().bytes());

  KivImageBuilder legacy;
  addUmac(legacy, kLegacySignature);
  corpus.seed("legacy", legacy.bytes());

  // Small images: blocks at the start, base addresses far apart, statements right after the
  // version records.
  const auto small = [](KivImageBuilder& b) {
    const KivImageBuilder::Mac umac = b.mac(kUmacSignature, 0, 0x1000, 0x1090);
    const KivImageBuilder::Mac lmac = b.mac(kLmacSignature, 0x100, 0x2000, 0x2090);
    umac.version(umacVersion());
    lmac.version(lmacVersion());
    return std::pair{umac, lmac};
  };
  {
    // A descriptor that ends the file, with its strings before it.
    KivImageBuilder b;
    const auto [umac, lmac] = small(b);
    umac.placeLogStatement("value %u of %d\n", "umac/a.c", 7, 3);
    const uint32_t format = lmac.placeString("tail %x %c\n");
    const uint32_t file = lmac.placeString("lmac/b.c");
    lmac.descriptor(lmac.addressOf(static_cast<uint32_t>(b.size())),
                    {.format = format, .line = 9, .file = file, .level = 2});
    corpus.seed("descriptor_at_end", b.bytes());
  }
  {
    // A format string that runs into the end of the file.
    KivImageBuilder b;
    const auto [umac, lmac] = small(b);
    const uint32_t file = umac.placeString("umac/c.c");
    const uint32_t descriptor = umac.place(std::string(kKivLogMetaSize, '\0'));
    const uint32_t format = umac.addressOf(static_cast<uint32_t>(b.size()));
    umac.descriptor(descriptor, {.format = format, .line = 1, .file = file, .level = 1});
    umac.raw(format, "no end %u");
    lmac.placeLogStatement("%d\n", "lmac/d.c", 2, 0);
    corpus.seed("unterminated_format", b.bytes());
  }
  {
    // A descriptor cut by the end of the file, and a block address below the file's start.
    KivImageBuilder b;
    const auto [umac, lmac] = small(b);
    umac.placeLogStatement("%s\n", "umac/e.c", 3, 4);
    const uint32_t cut = lmac.placeLogStatement("cut\n", "lmac/f.c", 4, 5);
    b.resize(lmac.offsetOf(cut) + 10);
    corpus.seed("descriptor_cut", b.bytes());
  }
  {
    // A block cut short by the end of the file.
    KivImageBuilder b;
    b.mac(kUmacSignature, 0, 0x1000, 0x1090);
    b.mac(kLmacSignature, 0x100, 0x2000, 0x2090, 100);
    corpus.seed("block_cut", b.bytes());
  }
  // Images of a length that the target places just below 4 GiB: the sample, whose blocks are in
  // reach, and one whose LMAC block reaches past 4 GiB.
  const auto placedHigh = [](std::string bytes) {
    bytes.resize(bytes.size() + (7 - bytes.size() % 5) % 5, '\0');
    return bytes;
  };
  corpus.seed("sample_below_4gib", placedHigh(imageBuilder().bytes()));
  {
    KivImageBuilder b;
    b.mac(kUmacSignature, 0, 0x1000, 0x1090).version(umacVersion());
    b.mac(kLmacSignature, 8100, 0x2000, 0x2090).version(lmacVersion());
    corpus.seed("block_beyond_4gib", placedHigh(b.bytes()));
  }
}

// The processor target's layout: the two blocks sit in a fixed 0x200-byte header (UMAC base
// 0x1000 at offset 0, LMAC base 0x2000 at offset 0x100) and the input gives what follows.
void processorSeeds(Corpus& corpus) {
  using namespace kivsample;
  corpus.target("processor");
  KivImageBuilder b;
  const KivImageBuilder::Mac umac = b.mac(kUmacSignature, 0, 0x1000, 0x1090);
  const KivImageBuilder::Mac lmac = b.mac(kLmacSignature, 0x100, 0x2000, 0x2090);
  const uint32_t value = umac.placeLogStatement("value=%u count=%x\n", "umac/main.c", 42, 3, 5);
  const uint32_t star = umac.placeLogStatement("%*d|%c\n", "umac/star.c", 7, 1);
  const uint32_t done = lmac.placeLogStatement("done %d%%\n", "lmac/done.c", 65535, 0, 9);
  std::string body = b.bytes().substr(0x200);
  body.resize((body.size() + 15) / 16 * 16, static_cast<char>(kKivFiller));
  const KivTestVersion zero{};
  const std::string log = rawLog({
      "host line",
      descriptorLine("wlan0", zero, zero),
      dataLine("wlan0", 1000, 0, value, 7, 0xFFFFFFFFu),
      dataLine("wlan0", 1001, 1, star, 5, 'A'),
      dataLine("wlan1", 1002, 2, done, 50, 0),
      "[   1.5] prefix " + dataLine("wlan0", 1003, 3, done + 1, 0, 0),
      dataLine(std::nullopt, 4, 0, 0xFFFFFFF0u, 0, 0),
  });
  const std::string header{static_cast<char>(0), static_cast<char>(body.size() / 16)};
  corpus.seed("decodes", header + body + log);
  corpus.seed("strict_traced", std::string{static_cast<char>(7), header[1]} + body + log);
  // Traced JSON Lines with a library, decoded a second time by three threads: the device's
  // versions change between its records.
  const std::string changing =
      log + rawLog({descriptorLine("wlan0"), dataLine("wlan0", 1004, 0, value, 8, 1)}) + log;
  corpus.seed("parallel",
              std::string{static_cast<char>(3 | 8 | 16 | 32 | 64), header[1]} + body + changing);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <corpus folder>\n";
    return 2;
  }
  try {
    Corpus corpus(argv[1]);
    formatterSeeds(corpus);
    formatterDiffSeeds(corpus);
    commandLineSeeds(corpus);
    lineReaderSeeds(corpus);
    decompressSeeds(corpus);
    imageSeeds(corpus);
    processorSeeds(corpus);
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return 1;
  }
  return 0;
}

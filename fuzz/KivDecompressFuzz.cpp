// Feeds each decompressing source captures made from the input, whole, split into two members,
// cut, with a byte flipped, or as arbitrary bytes behind the format's magic number. Whatever they
// hold, reading ends, at the end of the input or with a failure named in the format's words; the
// output stays bounded; a whole capture gives back its text exactly, read in any pieces, and a cut
// one a beginning of its text.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "KivFuzzSupport.h"
#include "input/KivInputSource.h"
#include "support/KivCompress.h"

namespace {

// Reading stops past this much output: a small capture may expand a thousandfold.
constexpr std::size_t kMaxOutput = 8 * 1024 * 1024;

enum Mode { kWhole, kCut, kFlip, kArbitrary };

struct ReadBack {
  std::string text;
  ssize_t last = 0;
  std::string failure;
};

ReadBack readAll(std::string_view capture, std::size_t readSize) {
  const int fd = kivMemoryFile(capture);
  if (fd < 0) {
    kivFuzzFail("no memory file");
  }
  ReadBack back;
  {
    std::unique_ptr<KivInputSource> source = KivInputSource::open(fd, "", false);
    std::vector<char> buffer(readSize);
    while (back.text.size() <= kMaxOutput) {
      back.last = source->read(buffer.data(), buffer.size());
      if (back.last <= 0) {
        break;
      }
      back.text.append(buffer.data(), static_cast<std::size_t>(back.last));
    }
    back.failure = source->failure();
    if ((back.last < 0) != !back.failure.empty()) {
      kivFuzzFail("a failure without its reason, or a reason without a failure");
    }
  }
  ::close(fd);
  return back;
}

bool knownFailure(const std::string& failure, std::string_view format) {
  const std::string name(format);
  return failure == "corrupt " + name + " data" ||
         failure == "unexpected end of " + name + " data" ||
         failure == name + " data needs more than 128 MiB of memory" ||
         failure == std::strerror(ENOMEM);
}

const std::string_view kMagics[] = {"\x1f\x8b", "\x28\xb5\x2f\xfd",
                                    std::string_view("\xfd\x37\x7a\x58\x5a\x00", 6)};

}  // namespace

// Byte 0: the format (its value modulo 3: gzip, zstd, xz) and the mode (its value / 3, modulo 4);
// bytes 1-2: a position (little-endian) where the capture is split, cut or flipped; byte 3: the
// bits flipped, and the size of the reads (its low 4 bits: 2^n bytes); the rest: the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) {
    return 0;
  }
  const auto format = static_cast<KivCompression>(data[0] % 3);
  const auto mode = static_cast<Mode>(data[0] / 3 % 4);
  const std::size_t position = data[1] | data[2] << 8;
  const uint8_t flip = data[3] == 0 ? 1 : data[3];
  const std::size_t readSize = std::size_t{1} << (data[3] & 0x0f);
  const std::string text(reinterpret_cast<const char*>(data) + 4, size - 4);
  const std::string_view name = kivCompressionName(format);

  std::string capture;
  switch (mode) {
    case kWhole: {
      const std::size_t split = std::min(position, text.size());
      capture =
          kivCompress(format, text.substr(0, split)) + kivCompress(format, text.substr(split));
      break;
    }
    case kCut:
      capture = kivCompress(format, text);
      capture.resize(std::min(position, capture.size()));
      break;
    case kFlip:
      capture = kivCompress(format, text);
      capture[position % capture.size()] ^= static_cast<char>(flip);
      break;
    case kArbitrary:
      capture = std::string(kMagics[static_cast<int>(format)]) + text;
      break;
  }
  const ReadBack back = readAll(capture, readSize);
  if (back.last < 0 && !knownFailure(back.failure, name)) {
    kivFuzzFail("a failure not named in the format's words: " + back.failure);
  }
  if (back.text.size() > kMaxOutput + readSize) {
    kivFuzzFail("more output than asked for");
  }
  const bool recognised = capture.starts_with(kMagics[static_cast<int>(format)]);
  if (mode == kWhole && (back.last != 0 || back.text != text)) {
    kivFuzzFail("a whole capture does not give back its text");
  }
  if (mode == kCut && recognised && !text.starts_with(back.text)) {
    kivFuzzFail("a cut capture gives more than a beginning of its text");
  }
  if (mode == kCut && recognised && capture.size() < kivCompress(format, text).size() &&
      back.last == 0) {
    kivFuzzFail("a cut capture reads as whole");
  }
  return 0;
}

#include "input/KivInputSource.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "input/KivFdSource.h"
#include "input/KivFollowSource.h"
#include "input/KivGzipSource.h"
#include "input/KivReadAheadSource.h"
#include "input/KivXzSource.h"
#include "input/KivZstdSource.h"

namespace {

struct Magic {
  KivInputSource::Format format;
  std::string_view bytes;
  // Bits of the first byte that may take any value (zstd's skippable frames: 0x184D2A50 to
  // 0x184D2A5F, little-endian).
  unsigned char anyLowBits = 0;
};

using namespace std::string_view_literals;
constexpr Magic kMagics[] = {
    {KivInputSource::Format::kGzip, "\x1f\x8b"sv},
    {KivInputSource::Format::kZstd, "\x28\xb5\x2f\xfd"sv},
    {KivInputSource::Format::kZstd, "\x50\x2a\x4d\x18"sv, 0x0f},
    {KivInputSource::Format::kXz, "\xfd\x37\x7a\x58\x5a\x00"sv},
};

bool matches(const Magic& magic, std::string_view first) {
  for (std::size_t i = 0; i < std::min(first.size(), magic.bytes.size()); ++i) {
    const unsigned char mask = i == 0 ? static_cast<unsigned char>(~magic.anyLowBits) : 0xff;
    if (((static_cast<unsigned char>(first[i]) ^ static_cast<unsigned char>(magic.bytes[i])) &
         mask) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

KivInputSource::KivInputSource(std::unique_ptr<KivByteSource> raw) : raw_(std::move(raw)) {}

KivInputSource::~KivInputSource() {
  // The decoder reads from the raw source: it goes first.
  decoder_.reset();
}

std::unique_ptr<KivInputSource> KivInputSource::open(int fd, const std::string& path, bool follow) {
  struct stat info {};
  if (follow && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    return std::make_unique<KivInputSource>(std::make_unique<KivFollowSource>(fd, path));
  }
  return std::make_unique<KivInputSource>(std::make_unique<KivFdSource>(fd));
}

KivInputSource::Format KivInputSource::format() {
  if (!detected_) {
    detect();
  }
  return format_;
}

void KivInputSource::detect() {
  detected_ = true;
  format_ = Format::kPlain;
  firstSize_ = 0;
  firstHandedOut_ = 0;
  detectionEnd_ = 1;
  // Reads while the bytes so far begin some magic number and match none whole. A text line never
  // holds a magic number's bytes after its first, so this never waits beyond a line's end.
  for (;;) {
    const std::string_view first(first_.data(), firstSize_);
    bool open = false;
    for (const Magic& magic : kMagics) {
      if (matches(magic, first)) {
        if (first.size() >= magic.bytes.size()) {
          format_ = magic.format;
          break;
        }
        open = true;
      }
    }
    if (format_ != Format::kPlain || !open) {
      break;
    }
    const ssize_t got = raw_->read(first_.data() + firstSize_, kMagicSize - firstSize_);
    if (got <= 0) {
      detectionEnd_ = got;
      break;
    }
    firstSize_ += static_cast<std::size_t>(got);
  }
  const std::string_view first(first_.data(), firstSize_);
  std::unique_ptr<KivByteSource> decoder;
  switch (format_) {
    case Format::kGzip:
      decoder = std::make_unique<KivGzipSource>(*raw_, first);
      break;
    case Format::kZstd:
      decoder = std::make_unique<KivZstdSource>(*raw_, first);
      break;
    case Format::kXz:
      decoder = std::make_unique<KivXzSource>(*raw_, first);
      break;
    case Format::kPlain:
      break;
  }
  if (decoder) {
    // Decompressing takes as long as decoding the lines, or longer: it runs beside it.
    decoder_ = std::make_unique<KivReadAheadSource>(std::move(decoder));
    firstHandedOut_ = firstSize_;
  }
}

ssize_t KivInputSource::readCurrent(char* buffer, std::size_t size) {
  if (firstHandedOut_ < firstSize_) {
    const std::size_t n = std::min(size, firstSize_ - firstHandedOut_);
    std::memcpy(buffer, first_.data() + firstHandedOut_, n);
    firstHandedOut_ += n;
    return static_cast<ssize_t>(n);
  }
  if (detectionEnd_ <= 0) {
    return detectionEnd_;
  }
  return decoder_ ? decoder_->read(buffer, size) : raw_->read(buffer, size);
}

ssize_t KivInputSource::read(char* buffer, std::size_t size) {
  for (;;) {
    if (!detected_) {
      detect();
    }
    const ssize_t got = readCurrent(buffer, size);
    if (got > 0) {
      last_ = buffer[got - 1];
      return got;
    }
    if (got < 0) {
      return fail(decoder_ && detectionEnd_ > 0 ? decoder_->failure() : raw_->failure());
    }
    if (raw_->stopped()) {
      return stop();
    }
    if (!raw_->startsAgain()) {
      return 0;
    }
    detected_ = false;
    decoder_.reset();
    if (last_ != '\n') {
      last_ = '\n';
      buffer[0] = '\n';
      return 1;
    }
  }
}

#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "input/KivByteSource.h"

// The raw log's text from the source under it: as it is, or decompressed when its first bytes
// are those of a gzip, zstd or xz capture (the file's name plays no part). The first bytes are
// read to tell, and then handed on as the text's or the decoder's first bytes. When the source
// under it starts again (a followed file emptied or replaced), the format is told afresh, and a
// last line the old content left without its newline gets one.
class KivInputSource : public KivByteSource {
 public:
  enum class Format { kPlain, kGzip, kZstd, kXz };

  explicit KivInputSource(std::unique_ptr<KivByteSource> raw);
  ~KivInputSource() override;

  // The raw log on `fd`, which stays the caller's. With `follow`, a regular file is followed as
  // it grows (see KivFollowSource); `path` names it, so that a file put in its place is read
  // next, or is empty to follow the descriptor alone. Anything but a regular file is read to
  // its end, `follow` or not.
  static std::unique_ptr<KivInputSource> open(int fd, const std::string& path, bool follow);

  // The format of the input, told from its first bytes, which this reads unless a read has done
  // so already: it may wait for input. Plain when the input ends, or fails, before telling.
  Format format();

  ssize_t read(char* buffer, std::size_t size) override;
  uint64_t bytesConsumed() const override {
    return decoder_ ? decoder_->bytesConsumed() : raw_->bytesConsumed();
  }

 private:
  // The longest magic number: xz's six bytes.
  static constexpr std::size_t kMagicSize = 6;

  // Reads the first bytes until they tell the format; what ended the reading early (an end, a
  // failure or a stop) is left for the read after those bytes.
  void detect();
  // Reads from the decoder or the raw source; 0 and -1 as their reads.
  ssize_t readCurrent(char* buffer, std::size_t size);

  std::unique_ptr<KivByteSource> raw_;
  // The decompressed input, read ahead in a thread of its own (KivReadAheadSource); it alone
  // reads the raw source while it lives. Null for plain input.
  std::unique_ptr<KivByteSource> decoder_;
  bool detected_ = false;
  Format format_ = Format::kPlain;
  std::array<char, kMagicSize> first_{};
  std::size_t firstSize_ = 0;
  std::size_t firstHandedOut_ = 0;
  // What the raw read that ended detection early returned (0 or -1), to be returned after the
  // first bytes; 1 when detection read all it wanted.
  ssize_t detectionEnd_ = 1;
  // The last byte handed out of the current content; a newline while there was none.
  char last_ = '\n';
};

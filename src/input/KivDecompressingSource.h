#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "input/KivByteSource.h"

// The decompressed bytes of a compressed stream read from another source. Everything up to
// damaged or cut data is handed out before the read that fails on it; the reasons name the
// format: "corrupt gzip data", "unexpected end of gzip data", "gzip data needs more than 128 MiB
// of memory". A format's members (frames, streams) written one after the other are read to the
// end. Each format implements decode() over the library that reads it.
class KivDecompressingSource : public KivByteSource {
 public:
  // The most memory a stream may ask for to be decoded: what an xz stream's dictionary or a zstd
  // frame's window needs. The formats' own tools write streams well within it at every level.
  static constexpr uint64_t kMemoryLimit = uint64_t{128} << 20;

  ssize_t read(char* buffer, std::size_t size) final;
  uint64_t bytesConsumed() const final { return compressed_.bytesConsumed(); }

 protected:
  enum class Status {
    kMore,         // goes on: more input, or more room for output
    kEnd,          // the input has ended after a whole member: nothing more comes
    kCorrupt,      // the data is not of the format, or damaged
    kMemoryLimit,  // the stream needs more than kMemoryLimit
    kNoMemory,     // an allocation failed
    kCut,          // the input ended within a member
  };
  struct Step {
    std::size_t consumed = 0;
    std::size_t produced = 0;
    Status status = Status::kMore;
  };

  // `compressed` is read from; `alreadyRead` holds its first bytes, read before (to tell the
  // format), which are decoded first. `format` names the format in failure texts.
  KivDecompressingSource(KivByteSource& compressed, std::string_view alreadyRead,
                         std::string_view format);

  // Decodes from `input` into `output`. `inputEnded` tells that no input follows what is given:
  // a stream whose members are all whole then gives kEnd. A step that neither consumes nor
  // produces while the input goes on asks for more input; one that does so after the input has
  // ended means the data was cut.
  virtual Step decode(const char* input, std::size_t inputSize, char* output,
                      std::size_t outputSize, bool inputEnded) = 0;

 private:
  std::string reasonFor(Status status) const;

  KivByteSource& compressed_;
  std::string format_;
  std::vector<char> input_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool inputEnded_ = false;
  // A failure found by a step that also produced output: reported by the next read.
  Status pending_ = Status::kMore;
};

#include "input/KivGzipSource.h"

#include <algorithm>
#include <climits>

namespace {

// The window bits of a gzip stream: a 32 KiB window, and 16 for the gzip wrapper.
constexpr int kGzipWindowBits = 15 + 16;

}  // namespace

KivGzipSource::KivGzipSource(KivByteSource& compressed, std::string_view alreadyRead)
    : KivDecompressingSource(compressed, alreadyRead, "gzip") {
  ready_ = inflateInit2(&stream_, kGzipWindowBits) == Z_OK;
}

KivGzipSource::~KivGzipSource() {
  if (ready_) {
    inflateEnd(&stream_);
  }
}

KivDecompressingSource::Step KivGzipSource::decode(const char* input, std::size_t inputSize,
                                                   char* output, std::size_t outputSize,
                                                   bool inputEnded) {
  if (!ready_) {
    return {0, 0, Status::kNoMemory};
  }
  if (betweenMembers_) {
    if (inputSize == 0) {
      return {0, 0, inputEnded ? Status::kEnd : Status::kMore};
    }
    inflateReset(&stream_);
    betweenMembers_ = false;
  }
  // zlib counts in unsigned int; a step takes what fits.
  stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
  stream_.avail_in = static_cast<uInt>(std::min<std::size_t>(inputSize, UINT_MAX));
  stream_.next_out = reinterpret_cast<Bytef*>(output);
  stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(outputSize, UINT_MAX));
  const uInt inputGiven = stream_.avail_in;
  const uInt outputGiven = stream_.avail_out;
  const int result = inflate(&stream_, Z_NO_FLUSH);
  Step step{inputGiven - stream_.avail_in, outputGiven - stream_.avail_out, Status::kMore};
  switch (result) {
    case Z_OK:
    case Z_BUF_ERROR:  // no progress: more input is needed
      break;
    case Z_STREAM_END:
      betweenMembers_ = true;
      break;
    case Z_MEM_ERROR:
      step.status = Status::kNoMemory;
      break;
    default:  // Z_DATA_ERROR, Z_NEED_DICT, Z_STREAM_ERROR
      step.status = Status::kCorrupt;
      break;
  }
  return step;
}

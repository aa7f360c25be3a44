#include "input/KivXzSource.h"

KivXzSource::KivXzSource(KivByteSource& compressed, std::string_view alreadyRead)
    : KivDecompressingSource(compressed, alreadyRead, "xz"),
      ready_(lzma_stream_decoder(&stream_, kMemoryLimit, LZMA_CONCATENATED)) {}

KivXzSource::~KivXzSource() {
  lzma_end(&stream_);
}

KivDecompressingSource::Step KivXzSource::decode(const char* input, std::size_t inputSize,
                                                 char* output, std::size_t outputSize,
                                                 bool inputEnded) {
  if (ready_ != LZMA_OK) {
    return {0, 0, ready_ == LZMA_MEM_ERROR ? Status::kNoMemory : Status::kCorrupt};
  }
  if (ended_) {
    return {0, 0, Status::kEnd};
  }
  stream_.next_in = reinterpret_cast<const uint8_t*>(input);
  stream_.avail_in = inputSize;
  stream_.next_out = reinterpret_cast<uint8_t*>(output);
  stream_.avail_out = outputSize;
  // With concatenated streams the decoder knows the input is over only when told so.
  const lzma_ret result = lzma_code(&stream_, inputEnded ? LZMA_FINISH : LZMA_RUN);
  Step step{inputSize - stream_.avail_in, outputSize - stream_.avail_out, Status::kMore};
  switch (result) {
    case LZMA_OK:
      break;
    case LZMA_BUF_ERROR:
      // No progress: more input is needed, or after the end of the input, the data was cut.
      break;
    case LZMA_STREAM_END:
      ended_ = true;
      step.status = step.produced > 0 ? Status::kMore : Status::kEnd;
      break;
    case LZMA_MEMLIMIT_ERROR:
      step.status = Status::kMemoryLimit;
      break;
    case LZMA_MEM_ERROR:
      step.status = Status::kNoMemory;
      break;
    default:  // LZMA_FORMAT_ERROR, LZMA_OPTIONS_ERROR, LZMA_DATA_ERROR, LZMA_PROG_ERROR
      step.status = Status::kCorrupt;
      break;
  }
  return step;
}

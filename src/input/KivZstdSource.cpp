#include "input/KivZstdSource.h"

#include <zstd_errors.h>

#include <algorithm>
#include <bit>

KivZstdSource::KivZstdSource(KivByteSource& compressed, std::string_view alreadyRead)
    : KivDecompressingSource(compressed, alreadyRead, "zstd"), context_(ZSTD_createDCtx()) {
  if (context_ != nullptr) {
    // A frame whose window is larger than the limit is refused rather than allocated.
    ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax,
                           static_cast<int>(std::bit_width(kMemoryLimit) - 1));
  }
}

KivZstdSource::~KivZstdSource() {
  ZSTD_freeDCtx(context_);
}

KivDecompressingSource::Step KivZstdSource::decode(const char* input, std::size_t inputSize,
                                                   char* output, std::size_t outputSize,
                                                   bool inputEnded) {
  if (context_ == nullptr) {
    return {0, 0, Status::kNoMemory};
  }
  if (betweenFrames_ && inputSize == 0) {
    return {0, 0, inputEnded ? Status::kEnd : Status::kMore};
  }
  ZSTD_inBuffer in{input, inputSize, 0};
  // A failing step hands out nothing of what it decoded: a block at a time, a frame whose
  // checksum fails loses only its last block.
  ZSTD_outBuffer out{output, std::min(outputSize, ZSTD_DStreamOutSize()), 0};
  const std::size_t result = ZSTD_decompressStream(context_, &out, &in);
  Step step{in.pos, out.pos, Status::kMore};
  if (ZSTD_isError(result)) {
    switch (ZSTD_getErrorCode(result)) {
      case ZSTD_error_frameParameter_windowTooLarge:
        step.status = Status::kMemoryLimit;
        break;
      case ZSTD_error_memory_allocation:
        step.status = Status::kNoMemory;
        break;
      default:
        step.status = Status::kCorrupt;
        break;
    }
    return step;
  }
  // 0: a frame has been decoded and all of it handed out.
  betweenFrames_ = result == 0;
  return step;
}

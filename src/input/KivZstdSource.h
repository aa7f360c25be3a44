#pragma once

#include <zstd.h>

#include "input/KivDecompressingSource.h"

// A zstd capture (libzstd): its frames one after the other, skippable frames skipped; a frame's
// checksum, when it has one, is checked at its end.
class KivZstdSource : public KivDecompressingSource {
 public:
  KivZstdSource(KivByteSource& compressed, std::string_view alreadyRead);
  ~KivZstdSource() override;

 protected:
  Step decode(const char* input, std::size_t inputSize, char* output, std::size_t outputSize,
              bool inputEnded) override;

 private:
  ZSTD_DCtx* context_;
  // True between frames: the last one has been decoded and handed out whole.
  bool betweenFrames_ = false;
};

#pragma once

#include <lzma.h>

#include "input/KivDecompressingSource.h"

// An xz capture (liblzma): its streams one after the other, with the padding allowed between
// them; each block's check is verified.
class KivXzSource : public KivDecompressingSource {
 public:
  KivXzSource(KivByteSource& compressed, std::string_view alreadyRead);
  ~KivXzSource() override;

 protected:
  Step decode(const char* input, std::size_t inputSize, char* output, std::size_t outputSize,
              bool inputEnded) override;

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
  lzma_ret ready_;
  bool ended_ = false;
};

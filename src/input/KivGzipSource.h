#pragma once

#include <zlib.h>

#include "input/KivDecompressingSource.h"

// A gzip capture (zlib), its members one after the other; each member's CRC and length are
// checked at its end.
class KivGzipSource : public KivDecompressingSource {
 public:
  KivGzipSource(KivByteSource& compressed, std::string_view alreadyRead);
  ~KivGzipSource() override;

 protected:
  Step decode(const char* input, std::size_t inputSize, char* output, std::size_t outputSize,
              bool inputEnded) override;

 private:
  z_stream stream_{};
  bool ready_ = false;
  // True between members: the last one has ended, no byte of the next has been decoded.
  bool betweenMembers_ = false;
};

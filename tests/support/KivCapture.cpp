#include "support/KivCapture.h"

KivCapture::KivCapture(std::ostream& stream)
    : stream_(stream), saved_(stream.rdbuf(buffer_.rdbuf())) {}

KivCapture::~KivCapture() {
  stream_.rdbuf(saved_);
}

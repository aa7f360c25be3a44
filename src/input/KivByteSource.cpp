#include "input/KivByteSource.h"

#include <utility>

KivByteSource::~KivByteSource() = default;

ssize_t KivByteSource::fail(std::string reason) {
  failure_ = std::move(reason);
  return -1;
}

ssize_t KivByteSource::stop() {
  stopped_ = true;
  return 0;
}

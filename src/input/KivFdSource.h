#pragma once

#include "input/KivByteSource.h"

// The bytes of a descriptor as they arrive. A descriptor with nothing to read yet (a
// non-blocking one included) is waited for; a read interrupted by a signal is retried; once the
// run is asked to end (KivInterrupt) the source stops, also during a wait.
class KivFdSource : public KivByteSource {
 public:
  // The descriptor stays the caller's.
  explicit KivFdSource(int fd) : fd_(fd) {}

  ssize_t read(char* buffer, std::size_t size) override;
  uint64_t bytesConsumed() const override { return consumed_; }

 private:
  int fd_;
  uint64_t consumed_ = 0;
};

#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// A stream of bytes read piece by piece as read(2) reads a descriptor: the raw log as a plain
// file, a pipe, a followed file or a decompressed capture. Sources stack: a decompressing source
// reads the compressed bytes from the source under it.
class KivByteSource {
 public:
  virtual ~KivByteSource();
  KivByteSource(const KivByteSource&) = delete;
  KivByteSource& operator=(const KivByteSource&) = delete;

  // Reads up to `size` bytes (size > 0) into `buffer`: returns how many, at least one; 0 at the
  // end of the input, also when the run was asked to end (stopped() then tells); -1 on an error,
  // which failure() names. A read may wait for input. Once a read has returned 0 or -1 the source
  // is not read again, unless startsAgain() said so.
  virtual ssize_t read(char* buffer, std::size_t size) = 0;

  // Bytes taken from the underlying file or descriptor so far; for a compressed capture, the
  // compressed bytes.
  virtual uint64_t bytesConsumed() const = 0;

  // Asked after a read returned 0 without stopped(): true when the input goes on from a fresh
  // start (a followed file was emptied, or another file was put in its place), to be read anew
  // from the next read on; false at the end of the input.
  virtual bool startsAgain() { return false; }

  // Why the input could not be read further: a system error's text, or what is wrong with
  // compressed data. Empty until a read returned -1.
  const std::string& failure() const { return failure_; }
  // Whether the input ended because the run was asked to end (KivInterrupt).
  bool stopped() const { return stopped_; }

 protected:
  KivByteSource() = default;

  // For read(): records the reason and returns -1.
  ssize_t fail(std::string reason);
  // For read(): records that the run was asked to end and returns 0.
  ssize_t stop();

 private:
  std::string failure_;
  bool stopped_ = false;
};

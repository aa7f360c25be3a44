#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>

#include "support/KivCopy.h"

// An output file written through its own buffer with write(2). Nothing is written until the buffer
// fills or flush() is called, so the caller decides when a live reader sees the output.
//
// It is also a stream buffer: an std::ostream built on it (or std::cout with it as its buffer)
// writes into the same buffer, so text written either way keeps its order.
//
// A small output (a device's personal log) holds no buffer until text arrives: its buffer grows
// up to its capacity. All small outputs together hold at most kSmallBudget bytes of buffer; beyond
// that an output writes out its text before it takes more, and above half the budget buffers are
// released when flushed, so a log that names thousands of devices does not multiply the memory
// the tool needs.
//
// A failed write (no space left, an I/O error, a reader that has gone) is remembered with its
// reason; the output then drops everything written to it, and the process-wide failure hook, if
// one is set, hears of it once.
class KivOutput : public std::streambuf {
 public:
  static constexpr std::size_t kMainCapacity = 256 * 1024;
  static constexpr std::size_t kSmallCapacity = 64 * 1024;
  static constexpr std::size_t kSmallBudget = 4 * 1024 * 1024;

  enum class Size { kMain, kSmall };

  // A file as the system knows it, whatever its name: two names of one file have one identity.
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity&) const = default;
  };
  // The identity of the regular file open on `fd`; false for anything else.
  static bool regularFileIdentity(int fd, Identity& identity);

  // How create() treats the file it finds.
  struct CreateRules {
    // A file that must not be written to: the raw log being read.
    const Identity* input = nullptr;
    // Takes an exclusive advisory lock on the file before truncating it, held until it is closed.
    bool lock = false;
  };
  // Why create() gave no output.
  enum class Refusal {
    kCannotOpen,    // open(2) failed; errno tells why
    kSymbolicLink,  // the name is a symbolic link, which is never followed
    kNotRegular,    // a FIFO, a device or a folder
    kIsInput,       // the file is CreateRules::input
    kLocked,        // another process holds the lock
  };

  // Writes to `fd`, which it does not own. `name` names the output in a failure message.
  KivOutput(int fd, std::string name, Size size = Size::kMain);
  // Creates or truncates the regular file at `path`; null when it cannot be opened (errno tells
  // why). A symbolic link, a FIFO or device, the input, or a locked file is refused before anything
  // is truncated, with `refusal` saying which; the open never waits for a FIFO's reader.
  static std::unique_ptr<KivOutput> create(const std::string& path, Size size = Size::kMain);
  static std::unique_ptr<KivOutput> create(const std::string& path, Size size,
                                           const CreateRules& rules, Refusal& refusal);
  // The reason a refusal gives in a message, such as "it is a symbolic link".
  static std::string refusalText(Refusal refusal);
  // Flushes, and closes the file when it owns it.
  ~KivOutput() override;
  KivOutput(const KivOutput&) = delete;
  KivOutput& operator=(const KivOutput&) = delete;

  void write(std::string_view text) {
    if (static_cast<std::size_t>(epptr() - pptr()) >= text.size()) {
      kivCopy(pptr(), text.data(), text.size());
      pbump(static_cast<int>(text.size()));
    } else {
      writeSlow(text);
    }
  }
  void put(char c) {
    if (pptr() != epptr()) {
      *pptr() = c;
      pbump(1);
    } else {
      writeSlow(std::string_view(&c, 1));
    }
  }
  // `text` and a newline.
  void writeLine(std::string_view text) {
    write(text);
    put('\n');
  }

  // Writes out what the buffer holds, then `text` as it is, without copying it into the buffer:
  // for large texts that were put together elsewhere. The output gets the same bytes as from
  // write(), in other write(2) calls.
  void writeThrough(std::string_view text) {
    flush();
    if (!failed()) {
      writeOut(text.data(), text.size());
    }
  }

  // Writes out what the buffer holds; false once the output has failed.
  bool flush();
  // Flushes and closes the file it owns; false when a write or the close failed.
  bool close();

  bool failed() const { return error_ != 0; }
  // The errno of the first failure, 0 while there was none.
  int error() const { return error_; }
  const std::string& name() const { return name_; }

  // Called once for each output that fails, after it has recorded the failure.
  using FailureHook = void (*)(const KivOutput& output);
  static void setFailureHook(FailureHook hook);
  // Outputs that have failed since the process started.
  static unsigned failureCount();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  KivOutput(int fd, bool owned, std::string name, Size size);

  bool small() const { return capacity_ == kSmallCapacity; }
  void writeSlow(std::string_view text);
  // Makes room for `wanted` more bytes, by growing the buffer or by writing it out.
  void makeRoom(std::size_t wanted);
  void setBuffer(std::unique_ptr<char[]> buffer, std::size_t size, std::size_t used);
  // Hands `size` bytes to write(2), all of them or until an error.
  void writeOut(const char* data, std::size_t size);
  void fail(int error);

  int fd_;
  bool owned_;
  std::string name_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferSize_ = 0;
  int error_ = 0;
};

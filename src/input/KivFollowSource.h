#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include "input/KivByteSource.h"

// A regular file followed as it grows, as `tail -f` does: at the end of what it holds, the source
// waits for more (woken by inotify where it can be, and looking again every kRecheck at most)
// instead of ending. A file emptied or cut below what was read is read again from its start; a
// file renamed away and replaced by another of its name (log rotation) is read to its end, then
// the new one from its start. Each is a fresh start (startsAgain()). The input never ends by
// itself: the run is asked to end (KivInterrupt), or a read fails.
class KivFollowSource : public KivByteSource {
 public:
  static constexpr std::chrono::milliseconds kRecheck{200};

  // Follows the regular file open on `fd` (which stays the caller's) from its current offset.
  // `path` names the file, to notice a replacement; empty follows the descriptor alone.
  KivFollowSource(int fd, std::string path);
  ~KivFollowSource() override;

  ssize_t read(char* buffer, std::size_t size) override;
  uint64_t bytesConsumed() const override { return consumed_; }
  bool startsAgain() override;

 private:
  enum class Restart { kNone, kTruncated, kReplaced };

  // At the end of what the file holds: whether it was cut, or replaced (then opened into next_).
  Restart change();
  // Opens the file the path now names when it is a regular file other than the one being read.
  bool openReplacement();
  // Waits until the file may have changed, at most kRecheck.
  void wait();
  // Watches the file being read for writes, truncation and renaming.
  void watch();

  int fd_;
  bool ownsFd_ = false;
  std::string path_;
  off_t offset_ = 0;
  uint64_t consumed_ = 0;
  // The replacement, open once the old file has been read to its end.
  int next_ = -1;
  // A replacement was seen: the old file is read to its end before it is taken.
  bool draining_ = false;
  Restart restart_ = Restart::kNone;
  int inotify_ = -1;
  int watch_ = -1;
};

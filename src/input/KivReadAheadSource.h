#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "input/KivByteSource.h"

// Reads the source under it in a thread of its own, a few pieces ahead of its reader: a
// capture is decompressed on one core while its lines are decoded on another. What the source
// under it returns comes out unchanged and in order, its end, failure and stop included; a read
// waits only when no piece is ready. The thread takes no signals: they reach the program's
// main thread as before.
//
// Destroying it waits for the read under way: a source waiting for input ends that wait when
// the run is asked to end (KivInterrupt), and at its input's end.
class KivReadAheadSource : public KivByteSource {
 public:
  explicit KivReadAheadSource(std::unique_ptr<KivByteSource> ahead);
  ~KivReadAheadSource() override;

  ssize_t read(char* buffer, std::size_t size) override;
  // As of the last piece read ahead.
  uint64_t bytesConsumed() const override { return consumed_.load(std::memory_order_relaxed); }

 private:
  static constexpr std::size_t kPieces = 4;
  static constexpr std::size_t kPieceSize = 256 * 1024;

  void work();

  std::unique_ptr<KivByteSource> ahead_;
  std::mutex mutex_;
  std::condition_variable filled_;
  std::condition_variable emptied_;
  std::array<std::vector<char>, kPieces> pieces_;
  std::array<std::size_t, kPieces> sizes_{};
  // Guarded by mutex_: the first filled piece, how many are filled, how much of the first has
  // been handed out, and whether the source under it has ended (its last read's result).
  std::size_t head_ = 0;
  std::size_t filledCount_ = 0;
  std::size_t handedOut_ = 0;
  bool ended_ = false;
  ssize_t end_ = 0;
  bool quit_ = false;
  std::atomic<uint64_t> consumed_{0};
  std::thread worker_;
};

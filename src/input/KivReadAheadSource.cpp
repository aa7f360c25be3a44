#include "input/KivReadAheadSource.h"

#include <pthread.h>

#include <algorithm>
#include <csignal>
#include <cstring>

KivReadAheadSource::KivReadAheadSource(std::unique_ptr<KivByteSource> ahead)
    : ahead_(std::move(ahead)), consumed_(ahead_->bytesConsumed()) {
  for (std::vector<char>& piece : pieces_) {
    piece.resize(kPieceSize);
  }
  worker_ = std::thread([this] { work(); });
}

KivReadAheadSource::~KivReadAheadSource() {
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  emptied_.notify_one();
  worker_.join();
}

void KivReadAheadSource::work() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::unique_lock lock(mutex_);
  for (;;) {
    emptied_.wait(lock, [this] { return quit_ || filledCount_ < kPieces; });
    if (quit_) {
      return;
    }
    // The free piece after the filled ones is the worker's alone until it is counted as filled.
    const std::size_t slot = (head_ + filledCount_) % kPieces;
    lock.unlock();
    const ssize_t got = ahead_->read(pieces_[slot].data(), kPieceSize);
    consumed_.store(ahead_->bytesConsumed(), std::memory_order_relaxed);
    lock.lock();
    if (got <= 0) {
      ended_ = true;
      end_ = got;
      filled_.notify_one();
      return;
    }
    sizes_[slot] = static_cast<std::size_t>(got);
    ++filledCount_;
    filled_.notify_one();
  }
}

ssize_t KivReadAheadSource::read(char* buffer, std::size_t size) {
  std::unique_lock lock(mutex_);
  filled_.wait(lock, [this] { return filledCount_ > 0 || ended_; });
  if (filledCount_ == 0) {
    lock.unlock();
    if (end_ < 0) {
      return fail(ahead_->failure());
    }
    return ahead_->stopped() ? stop() : 0;
  }
  // The filled pieces are the reader's until handed back; they are copied without the lock.
  std::size_t done = 0;
  while (filledCount_ > 0 && done < size) {
    const std::size_t slot = head_;
    const std::size_t n = std::min(size - done, sizes_[slot] - handedOut_);
    const std::size_t from = handedOut_;
    lock.unlock();
    std::memcpy(buffer + done, pieces_[slot].data() + from, n);
    lock.lock();
    done += n;
    handedOut_ += n;
    if (handedOut_ == sizes_[slot]) {
      handedOut_ = 0;
      head_ = (head_ + 1) % kPieces;
      --filledCount_;
      emptied_.notify_one();
    }
  }
  return static_cast<ssize_t>(done);
}

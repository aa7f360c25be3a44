#include "processor/KivLineReader.h"

#include <algorithm>
#include <cstring>

#include "input/KivByteSource.h"
#include "input/KivFdSource.h"
#include "support/KivInterrupt.h"

namespace {

// Input is read in chunks this large; outputs are flushed before each read, so a large chunk
// also means few writes. A pipe delivers what it holds, however large the buffer.
constexpr std::size_t kBufferSize = 1024 * 1024;

}  // namespace

KivLineReader::KivLineReader(std::unique_ptr<KivByteSource> source,
                             std::function<void()> beforeWait)
    : source_(std::move(source)),
      beforeWait_(std::move(beforeWait)),
      buffer_(new char[kBufferSize]) {}

KivLineReader::KivLineReader(int fd, std::function<void()> beforeWait)
    : KivLineReader(std::make_unique<KivFdSource>(fd), std::move(beforeWait)) {}

KivLineReader::~KivLineReader() = default;

uint64_t KivLineReader::bytesRead() const {
  return source_->bytesConsumed();
}

bool KivLineReader::deliver(std::size_t length, std::size_t consumed, std::string_view& line) {
  line = std::string_view(buffer_.get() + begin_, std::min(length, nul_ - begin_));
  begin_ += consumed;
  if (nul_ < begin_) {
    nul_ = findNul(begin_);
  }
  return true;
}

std::size_t KivLineReader::findNul(std::size_t from) const {
  const void* nul = std::memchr(buffer_.get() + from, 0, end_ - from);
  return nul == nullptr ? end_
                        : static_cast<std::size_t>(static_cast<const char*>(nul) - buffer_.get());
}

bool KivLineReader::readLine(std::string_view& line, bool& cut) {
  std::size_t scanned = 0;
  for (;;) {
    const std::size_t available = end_ - begin_;
    const LineEnd end = lineEnd(buffer_.get() + begin_, available, scanned);
    if (end.taken > 0) {
      cut = end.cut;
      return deliver(end.length, end.taken, line);
    }
    scanned = available;
    if (!refill()) {
      cut = false;
      if (available == 0 || stopped_) {
        fail_ = true;
        return false;
      }
      return deliver(available, available, line);
    }
  }
}

bool KivLineReader::readSpan(std::string_view& span, bool& cut,
                             std::shared_ptr<const char[]>* buffer) {
  cut = false;
  if (buffer != nullptr) {
    buffer->reset();
  }
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const std::size_t available = end_ - begin_;
    // readLine() hands out every line up to the last newline, then pieces of a long last line
    // while more than kMaxLineLength of its characters are there.
    const void* newline = ::memrchr(start, '\n', available);
    const std::size_t whole =
        newline == nullptr
            ? 0
            : static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1;
    const std::size_t rest = available - whole;
    const std::size_t ready =
        whole + (rest > kMaxLineLength ? (rest - 1) / kMaxLineLength * kMaxLineLength : 0);
    if (ready > 0) {
      if (buffer != nullptr) {
        *buffer = buffer_;
      }
      span = std::string_view(start, ready);
      cut = ready > whole;
      begin_ += ready;
      if (nul_ < begin_) {
        nul_ = findNul(begin_);
      }
      return true;
    }
    if (!refill()) {
      if (available == 0 || stopped_) {
        fail_ = true;
        return false;
      }
      if (buffer != nullptr) {
        *buffer = buffer_;
      }
      span = std::string_view(buffer_.get() + begin_, available);
      begin_ = end_;
      nul_ = end_;
      return true;
    }
  }
}

bool KivLineReader::refill() {
  if (eof_ || bad_) {
    return false;
  }
  if (buffer_.use_count() > 1) {
    // Lines handed out still point into the buffer: read on in one nobody holds.
    auto free =
        std::find_if(spare_.begin(), spare_.end(),
                     [](const std::shared_ptr<char[]>& spare) { return spare.use_count() == 1; });
    std::shared_ptr<char[]> next;
    if (free == spare_.end()) {
      next.reset(new char[kBufferSize]);
    } else {
      next = std::move(*free);
      spare_.erase(free);
    }
    std::memcpy(next.get(), buffer_.get() + begin_, end_ - begin_);
    spare_.push_back(std::move(buffer_));
    buffer_ = std::move(next);
  } else if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  }
  end_ -= begin_;
  nul_ -= begin_;
  begin_ = 0;
  if (beforeWait_) {
    beforeWait_();
  }
  // Also checked here: decompressed input may come without a read of the descriptor.
  if (KivInterrupt::requested()) {
    stopped_ = true;
    eof_ = true;
    return false;
  }
  const ssize_t got = source_->read(buffer_.get() + end_, kBufferSize - end_);
  if (got > 0) {
    const std::size_t oldEnd = end_;
    end_ += static_cast<std::size_t>(got);
    if (nul_ == oldEnd) {
      nul_ = findNul(oldEnd);
    }
    return true;
  }
  if (got == 0) {
    stopped_ = source_->stopped();
    eof_ = true;
    return false;
  }
  error_ = source_->failure();
  bad_ = true;
  return false;
}

#include "processor/KivLineReader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/KivInterrupt.h"

namespace {

// Input is read in chunks this large; outputs are flushed before each read, so a large chunk
// also means few writes. A pipe delivers what it holds, however large the buffer.
constexpr std::size_t kBufferSize = 1024 * 1024;

}  // namespace

KivLineReader::KivLineReader(int fd, std::function<void()> beforeWait)
    : fd_(fd), beforeWait_(std::move(beforeWait)), buffer_(kBufferSize) {}

bool KivLineReader::deliver(std::size_t length, std::size_t consumed, std::string_view& line) {
  line = std::string_view(buffer_.data() + begin_, std::min(length, nul_ - begin_));
  begin_ += consumed;
  if (nul_ < begin_) {
    nul_ = findNul(begin_);
  }
  return true;
}

std::size_t KivLineReader::findNul(std::size_t from) const {
  const void* nul = std::memchr(buffer_.data() + from, 0, end_ - from);
  return nul == nullptr ? end_
                        : static_cast<std::size_t>(static_cast<const char*>(nul) - buffer_.data());
}

bool KivLineReader::readLine(std::string_view& line, bool& cut) {
  cut = false;
  std::size_t scanned = 0;
  for (;;) {
    const std::size_t available = end_ - begin_;
    // A newline right after kMaxLineLength characters still ends that line.
    const std::size_t window = std::min(available, kMaxLineLength + 1);
    const char* start = buffer_.data() + begin_;
    const void* newline = std::memchr(start + scanned, '\n', window - scanned);
    if (newline != nullptr) {
      const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - start);
      return deliver(length, length + 1, line);
    }
    scanned = window;
    if (available > kMaxLineLength) {
      cut = true;
      return deliver(kMaxLineLength, kMaxLineLength, line);
    }
    if (!refill()) {
      if (available == 0 || stopped_) {
        fail_ = true;
        return false;
      }
      return deliver(available, available, line);
    }
  }
}

bool KivLineReader::refill() {
  if (eof_ || bad_) {
    return false;
  }
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    nul_ -= begin_;
    begin_ = 0;
  }
  if (beforeWait_) {
    beforeWait_();
  }
  for (;;) {
    if (KivInterrupt::requested()) {
      stopped_ = true;
      eof_ = true;
      return false;
    }
    // Waits for input, or for the run to be asked to end. A regular file is always ready; a
    // descriptor that is not open is left to the read to report.
    pollfd waitFor[2] = {{fd_, POLLIN, 0}, {KivInterrupt::wakeFd(), POLLIN, 0}};
    if (fd_ >= 0 && ::poll(waitFor, waitFor[1].fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
      error_ = errno;
      bad_ = true;
      return false;
    }
    if (KivInterrupt::requested()) {
      continue;
    }
    const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got > 0) {
      const std::size_t oldEnd = end_;
      end_ += static_cast<std::size_t>(got);
      bytesRead_ += static_cast<uint64_t>(got);
      if (nul_ == oldEnd) {
        nul_ = findNul(oldEnd);
      }
      return true;
    }
    if (got == 0) {
      eof_ = true;
      return false;
    }
    // A non-blocking descriptor with nothing to read yet is waited for again.
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      error_ = errno;
      bad_ = true;
      return false;
    }
  }
}

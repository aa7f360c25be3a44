#include "input/KivDecompressingSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Compressed input is read in pieces this large.
constexpr std::size_t kInputSize = 256 * 1024;

}  // namespace

KivDecompressingSource::KivDecompressingSource(KivByteSource& compressed,
                                               std::string_view alreadyRead,
                                               std::string_view format)
    : compressed_(compressed), format_(format), input_(std::max(kInputSize, alreadyRead.size())) {
  std::memcpy(input_.data(), alreadyRead.data(), alreadyRead.size());
  end_ = alreadyRead.size();
}

std::string KivDecompressingSource::reasonFor(Status status) const {
  switch (status) {
    case Status::kCorrupt:
      return "corrupt " + format_ + " data";
    case Status::kMemoryLimit:
      return format_ + " data needs more than " + std::to_string(kMemoryLimit >> 20) +
             " MiB of memory";
    case Status::kNoMemory:
      return std::strerror(ENOMEM);
    case Status::kCut:
    case Status::kMore:
    case Status::kEnd:
      break;
  }
  return "unexpected end of " + format_ + " data";
}

ssize_t KivDecompressingSource::read(char* buffer, std::size_t size) {
  if (pending_ != Status::kMore) {
    return fail(reasonFor(pending_));
  }
  for (;;) {
    const Step step = decode(input_.data() + begin_, end_ - begin_, buffer, size, inputEnded_);
    begin_ += step.consumed;
    const bool failed = step.status != Status::kMore && step.status != Status::kEnd;
    if (failed && step.produced == 0) {
      return fail(reasonFor(step.status));
    }
    if (failed) {
      pending_ = step.status;
    }
    if (step.produced > 0) {
      return static_cast<ssize_t>(step.produced);
    }
    if (step.status == Status::kEnd) {
      return 0;
    }
    if (step.consumed > 0) {
      continue;
    }
    if (inputEnded_) {
      return fail(reasonFor(Status::kCut));
    }
    if (begin_ > 0) {
      std::memmove(input_.data(), input_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (end_ == input_.size()) {
      // A decoder that takes nothing from a full buffer cannot go on.
      return fail(reasonFor(Status::kCorrupt));
    }
    const ssize_t got = compressed_.read(input_.data() + end_, input_.size() - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
    } else if (got == 0 && compressed_.stopped()) {
      return stop();
    } else if (got == 0) {
      inputEnded_ = true;
    } else {
      return fail(compressed_.failure());
    }
  }
}

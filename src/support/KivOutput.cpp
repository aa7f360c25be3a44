#include "support/KivOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::size_t kFirstSmallBuffer = 256;
// Where an output without a buffer points its empty put area, so the inline fast path never copies
// to a null pointer.
char noBuffer[1];

KivOutput::FailureHook failureHook = nullptr;
unsigned failures = 0;
// Bytes of buffer held by all small outputs together.
std::size_t smallAllocated = 0;

}  // namespace

KivOutput::KivOutput(int fd, std::string name, Size size)
    : KivOutput(fd, false, std::move(name), size) {}

KivOutput::KivOutput(int fd, bool owned, std::string name, Size size)
    : fd_(fd),
      owned_(owned),
      name_(std::move(name)),
      capacity_(size == Size::kSmall ? kSmallCapacity : kMainCapacity) {
  setBuffer(small() ? nullptr : std::make_unique_for_overwrite<char[]>(capacity_),
            small() ? 0 : capacity_, 0);
}

bool KivOutput::regularFileIdentity(int fd, Identity& identity) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  identity = {info.st_dev, info.st_ino};
  return true;
}

std::unique_ptr<KivOutput> KivOutput::create(const std::string& path, Size size) {
  Refusal refusal{};
  return create(path, size, CreateRules{}, refusal);
}

std::unique_ptr<KivOutput> KivOutput::create(const std::string& path, Size size,
                                             const CreateRules& rules, Refusal& refusal) {
  // Not truncated at the open: what the file is decides first whether it may be.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    // A FIFO without a reader refuses a non-blocking open with ENXIO.
    refusal = errno == ELOOP   ? Refusal::kSymbolicLink
              : errno == ENXIO ? Refusal::kNotRegular
                               : Refusal::kCannotOpen;
    return nullptr;
  }
  auto refuse = [fd, &refusal](Refusal why) {
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    refusal = why;
    return nullptr;
  };
  Identity identity;
  if (!regularFileIdentity(fd, identity)) {
    return refuse(Refusal::kNotRegular);
  }
  if (rules.input != nullptr && *rules.input == identity) {
    return refuse(Refusal::kIsInput);
  }
  if (rules.lock && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return refuse(errno == EWOULDBLOCK ? Refusal::kLocked : Refusal::kCannotOpen);
  }
  if (::ftruncate(fd, 0) != 0) {
    return refuse(Refusal::kCannotOpen);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::unique_ptr<KivOutput>(new KivOutput(fd, true, path, size));
}

std::string KivOutput::refusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::kSymbolicLink:
      return "it is a symbolic link";
    case Refusal::kNotRegular:
      return "it is not a regular file";
    case Refusal::kIsInput:
      return "it is the input file";
    case Refusal::kLocked:
      return "it is in use by another run";
    case Refusal::kCannotOpen:
      break;
  }
  return std::strerror(errno);
}

KivOutput::~KivOutput() {
  close();
  if (small()) {
    smallAllocated -= bufferSize_;
  }
}

void KivOutput::setFailureHook(FailureHook hook) {
  failureHook = hook;
}

unsigned KivOutput::failureCount() {
  return failures;
}

void KivOutput::setBuffer(std::unique_ptr<char[]> buffer, std::size_t size, std::size_t used) {
  buffer_ = std::move(buffer);
  bufferSize_ = size;
  char* begin = buffer_ ? buffer_.get() : noBuffer;
  setp(begin, begin + size);
  pbump(static_cast<int>(used));
}

bool KivOutput::flush() {
  const auto used = static_cast<std::size_t>(pptr() - pbase());
  if (used > 0) {
    writeOut(pbase(), used);
    setp(pbase(), epptr());
  }
  // Buffers go back only when small outputs together hold much: a few devices keep theirs.
  if (small() && buffer_ && smallAllocated > kSmallBudget / 2) {
    smallAllocated -= bufferSize_;
    setBuffer(nullptr, 0, 0);
  }
  return !failed();
}

bool KivOutput::close() {
  flush();
  if (owned_ && fd_ >= 0) {
    if (::close(fd_) != 0 && !failed()) {
      fail(errno);
    }
    fd_ = -1;
  }
  return !failed();
}

void KivOutput::writeSlow(std::string_view text) {
  while (!text.empty() && !failed()) {
    auto room = static_cast<std::size_t>(epptr() - pptr());
    if (room == 0) {
      makeRoom(text.size());
      room = static_cast<std::size_t>(epptr() - pptr());
    }
    if (room == 0 || (pptr() == pbase() && text.size() >= capacity_)) {
      // Nothing is buffered and the text would not fit anyway: it goes out as it is.
      writeOut(text.data(), text.size());
      return;
    }
    const std::size_t n = std::min(room, text.size());
    std::copy_n(text.data(), n, pptr());
    pbump(static_cast<int>(n));
    text.remove_prefix(n);
  }
}

void KivOutput::makeRoom(std::size_t wanted) {
  const auto used = static_cast<std::size_t>(pptr() - pbase());
  if (small() && bufferSize_ < capacity_) {
    std::size_t size = std::max(bufferSize_ * 2, kFirstSmallBuffer);
    while (size < used + wanted && size < capacity_) {
      size *= 2;
    }
    size = std::min(size, capacity_);
    if (smallAllocated + size - bufferSize_ <= kSmallBudget) {
      auto grown = std::make_unique_for_overwrite<char[]>(size);
      std::memcpy(grown.get(), pbase(), used);
      smallAllocated += size - bufferSize_;
      setBuffer(std::move(grown), size, used);
      return;
    }
  }
  if (used > 0) {
    writeOut(pbase(), used);
    setp(pbase(), epptr());
  }
}

void KivOutput::writeOut(const char* data, std::size_t size) {
  while (size > 0 && !failed()) {
    const ssize_t done = ::write(fd_, data, size);
    if (done > 0) {
      data += done;
      size -= static_cast<std::size_t>(done);
    } else if (done == 0) {
      fail(EIO);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A non-blocking descriptor inherited from the caller: wait until it takes more.
      pollfd waitFor{fd_, POLLOUT, 0};
      ::poll(&waitFor, 1, -1);
    } else if (errno != EINTR) {
      fail(errno);
    }
  }
}

void KivOutput::fail(int error) {
  error_ = error;
  ++failures;
  setp(pbase(), epptr());
  if (failureHook != nullptr) {
    failureHook(*this);
  }
}

KivOutput::int_type KivOutput::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    put(traits_type::to_char_type(c));
  }
  return failed() ? traits_type::eof() : traits_type::not_eof(c);
}

std::streamsize KivOutput::xsputn(const char* s, std::streamsize n) {
  write(std::string_view(s, static_cast<std::size_t>(n)));
  return failed() ? 0 : n;
}

int KivOutput::sync() {
  return flush() ? 0 : -1;
}

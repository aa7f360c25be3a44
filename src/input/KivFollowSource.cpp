#include "input/KivFollowSource.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/KivDebugLog.h"
#include "support/KivInterrupt.h"

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

KivFollowSource::KivFollowSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  offset_ = at > 0 ? at : 0;
  inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  watch();
}

KivFollowSource::~KivFollowSource() {
  if (inotify_ >= 0) {
    ::close(inotify_);
  }
  if (next_ >= 0) {
    ::close(next_);
  }
  if (ownsFd_) {
    ::close(fd_);
  }
}

void KivFollowSource::watch() {
  if (inotify_ < 0) {
    return;
  }
  if (watch_ >= 0) {
    ::inotify_rm_watch(inotify_, watch_);
  }
  // The descriptor's own file, whatever its name now.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  watch_ =
      ::inotify_add_watch(inotify_, self.c_str(),
                          IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF);
}

ssize_t KivFollowSource::read(char* buffer, std::size_t size) {
  for (;;) {
    if (KivInterrupt::requested()) {
      return stop();
    }
    if (restart_ != Restart::kNone) {
      return 0;
    }
    const ssize_t got = ::read(fd_, buffer, size);
    if (got > 0) {
      offset_ += got;
      consumed_ += static_cast<uint64_t>(got);
      return got;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return fail(std::strerror(errno));
    }
    restart_ = change();
    if (restart_ != Restart::kNone) {
      return 0;
    }
    if (!draining_) {
      wait();
    }
  }
}

KivFollowSource::Restart KivFollowSource::change() {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    return Restart::kNone;
  }
  if (info.st_size < offset_) {
    return Restart::kTruncated;
  }
  if (draining_) {
    // The old file has been read to its end since the replacement was seen.
    draining_ = false;
    if (openReplacement()) {
      return Restart::kReplaced;
    }
  } else if (!path_.empty()) {
    struct stat named {};
    // Whatever was written to the old file before the name moved on is read first.
    draining_ =
        ::stat(path_.c_str(), &named) == 0 && S_ISREG(named.st_mode) && !sameFile(named, info);
  }
  return Restart::kNone;
}

bool KivFollowSource::openReplacement() {
  // Non-blocking, so that a FIFO put in the file's place cannot hold the open.
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  struct stat opened {};
  struct stat current {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || ::fstat(fd_, &current) != 0 ||
      sameFile(opened, current)) {
    ::close(fd);
    return false;
  }
  next_ = fd;
  return true;
}

bool KivFollowSource::startsAgain() {
  const Restart restart = restart_;
  restart_ = Restart::kNone;
  if (restart == Restart::kTruncated) {
    debugLog(kLogInfo, "Raw log %s was cut short; reading it again from its start",
             path_.empty() ? "on standard input" : ("file " + path_).c_str());
    ::lseek(fd_, 0, SEEK_SET);
  } else if (restart == Restart::kReplaced) {
    debugLog(kLogInfo, "Raw log file %s was replaced; reading the new file", path_.c_str());
    if (ownsFd_) {
      ::close(fd_);
    }
    fd_ = next_;
    next_ = -1;
    ownsFd_ = true;
    watch();
  } else {
    return false;
  }
  offset_ = 0;
  return true;
}

void KivFollowSource::wait() {
  pollfd waitFor[2] = {{inotify_, POLLIN, 0}, {KivInterrupt::wakeFd(), POLLIN, 0}};
  if (::poll(waitFor, 2, static_cast<int>(kRecheck.count())) > 0 &&
      (waitFor[0].revents & POLLIN) != 0) {
    // Only that something happened matters; the events are dropped.
    alignas(inotify_event) char events[4096];
    while (::read(inotify_, events, sizeof events) > 0) {
    }
  }
}

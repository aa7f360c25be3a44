#include "input/KivFdSource.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/KivInterrupt.h"

ssize_t KivFdSource::read(char* buffer, std::size_t size) {
  for (;;) {
    if (KivInterrupt::requested()) {
      return stop();
    }
    // Waits for input, or for the run to be asked to end. A regular file is always ready; a
    // descriptor that is not open is left to the read to report.
    pollfd waitFor[2] = {{fd_, POLLIN, 0}, {KivInterrupt::wakeFd(), POLLIN, 0}};
    if (fd_ >= 0 && ::poll(waitFor, waitFor[1].fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) {
      return fail(std::strerror(errno));
    }
    if (KivInterrupt::requested()) {
      continue;
    }
    const ssize_t got = ::read(fd_, buffer, size);
    if (got >= 0) {
      consumed_ += static_cast<uint64_t>(got);
      return got;
    }
    // A non-blocking descriptor with nothing to read yet is waited for again.
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return fail(std::strerror(errno));
    }
  }
}

#include "support/KivInterrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace {

// Atomic rather than volatile: the input may be read in a thread of its own (a compressed
// capture's decompression), which tests the request as the signal handler sets it.
std::atomic<int> stopRequested{0};
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
// Self-pipe: the handler writes a byte, a poll for input sees the read end become readable.
int wakePipe[2] = {-1, -1};

void onSignal(int signal) {
  KivInterrupt::request(signal);
}

}  // namespace

void KivInterrupt::install() {
  if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    wakePipe[0] = wakePipe[1] = -1;
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a read that waits for input returns, and the reader sees the request.
  action.sa_flags = SA_RESETHAND;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    ::sigaction(signal, &action, nullptr);
  }
}

void KivInterrupt::request(int signal) {
  const int savedErrno = errno;
  if (signal != 0 && stopSignal == 0) {
    stopSignal = signal;
  }
  stopRequested = 1;
  if (wakePipe[1] >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
  }
  errno = savedErrno;
}

bool KivInterrupt::requested() {
  return stopRequested != 0;
}

int KivInterrupt::signal() {
  return stopSignal;
}

void KivInterrupt::reset() {
  stopRequested = 0;
  stopSignal = 0;
  if (wakePipe[0] >= 0) {
    char bytes[64];
    while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
    }
  }
}

int KivInterrupt::wakeFd() {
  return wakePipe[0];
}

#include "support/KivProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#ifndef KIVLOG_BINARY
#error "KIVLOG_BINARY must name the built kivlog binary"
#endif

const char* kivlogBinary() {
  return KIVLOG_BINARY;
}

namespace {

// Pipe ends are close-on-exec and never take the numbers 0 to 2, so that the child's dup2 calls
// onto its standard streams cannot clobber one another even when the test runs without them.
void makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  for (int i = 0; i < 2; ++i) {
    if (fds[i] < 3) {
      int moved = fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
      close(fds[i]);
      fds[i] = moved;
    }
  }
  if (fds[0] < 0 || fds[1] < 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
}

void closeFd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

// What the child sends back through its close-on-exec pipe when it fails before exec.
struct ChildFailure {
  int stage;  // 0: chdir, 1: exec
  int error;
};

[[noreturn]] void childFail(int reportFd, int stage) {
  ChildFailure failure{stage, errno};
  ssize_t ignored = write(reportFd, &failure, sizeof failure);
  (void)ignored;
  _exit(127);
}

int waitChild(pid_t pid) {
  int ws = 0;
  while (waitpid(pid, &ws, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  if (WIFEXITED(ws)) {
    return WEXITSTATUS(ws);
  }
  if (WIFSIGNALED(ws)) {
    return 128 + WTERMSIG(ws);
  }
  return -1;
}

// Blocks SIGPIPE while the parent writes the child's input, so that a child that exits without
// reading it costs an EPIPE instead of killing the test; a SIGPIPE raised meanwhile is discarded.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet_, &oldMask_);
  }
  ~SigpipeGuard() {
    sigset_t pending;
    sigpending(&pending);
    if (!pendingBefore_ && sigismember(&pending, SIGPIPE) == 1) {
      timespec zero{0, 0};
      sigtimedwait(&pipeSet_, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;
  const sigset_t& oldMask() const { return oldMask_; }

 private:
  sigset_t pipeSet_;
  sigset_t oldMask_;
  bool pendingBefore_ = false;
};

}  // namespace

KivRunResult runKivlog(const KivRunOptions& options) {
  const std::string binary = options.binary.value_or(kivlogBinary());
  std::vector<std::string> argvText;
  argvText.push_back(options.argv0.value_or(binary));
  argvText.insert(argvText.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  int in[2], out[2], err[2], report[2];
  makePipe(in);
  makePipe(out);
  makePipe(err);
  makePipe(report);

  SigpipeGuard guard;
  pid_t pid = fork();
  if (pid < 0) {
    int error = errno;
    for (int* fds : {in, out, err, report}) {
      close(fds[0]);
      close(fds[1]);
    }
    throw std::runtime_error(std::string("fork: ") + std::strerror(error));
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    sigprocmask(SIG_SETMASK, &guard.oldMask(), nullptr);
    if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) {
      childFail(report[1], 1);
    }
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
      childFail(report[1], 0);
    }
    execv(binary.c_str(), argv.data());
    childFail(report[1], 1);
  }

  close(in[0]);
  close(out[1]);
  close(err[1]);
  close(report[1]);

  ChildFailure failure{};
  ssize_t got;
  do {
    got = read(report[0], &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got > 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    waitChild(pid);
    throw std::runtime_error(
        (failure.stage == 0 ? "chdir " + options.workingDirectory : "exec " + binary) + ": " +
        std::strerror(failure.error));
  }

  KivRunResult result;
  int inFd = in[1];
  int outFd = out[0];
  int errFd = err[0];
  fcntl(inFd, F_SETFL, fcntl(inFd, F_GETFL) | O_NONBLOCK);
  std::size_t written = 0;
  if (options.input.empty()) {
    closeFd(inFd);
  }

  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  char buffer[65536];
  while (inFd >= 0 || outFd >= 0 || errFd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      result.timedOut = true;
      break;
    }
    pollfd fds[3] = {{inFd, POLLOUT, 0}, {outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int ready = poll(fds, 3, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      kill(pid, SIGKILL);
      break;
    }
    if (inFd >= 0 && fds[0].revents != 0) {
      ssize_t n = write(inFd, options.input.data() + written, options.input.size() - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
        if (written == options.input.size()) {
          closeFd(inFd);
        }
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        closeFd(inFd);  // the child closed its input early
      }
    }
    std::pair<int*, std::string*> readers[2] = {{&outFd, &result.out}, {&errFd, &result.err}};
    for (int i = 0; i < 2; ++i) {
      int& fd = *readers[i].first;
      if (fd < 0 || fds[i + 1].revents == 0) {
        continue;
      }
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        readers[i].second->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        closeFd(fd);
      }
    }
  }
  closeFd(inFd);
  closeFd(outFd);
  closeFd(errFd);
  result.status = waitChild(pid);
  return result;
}

KivRunResult runKivlog(std::vector<std::string> args, std::string input) {
  KivRunOptions options;
  options.args = std::move(args);
  options.input = std::move(input);
  return runKivlog(options);
}

#include "support/KivProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>
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

// A child that exits without reading its input must cost the test an EPIPE, not its life. The
// children get the default action back before exec.
void ignoreSigpipe() {
  static const bool ignored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)ignored;
}

// Starts the program of `options` with `in`, `out` and `err` as its standard streams; throws when
// the program or the folder is missing.
pid_t spawn(const KivRunOptions& options, int in, int out, int err) {
  const std::string binary = options.binary.value_or(kivlogBinary());
  std::vector<std::string> argvText;
  argvText.push_back(options.argv0.value_or(binary));
  argvText.insert(argvText.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) {
    argv.push_back(arg.data());
  }
  argv.push_back(nullptr);

  std::vector<std::string> environmentText;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view entry(*variable);
    const std::string_view name = entry.substr(0, entry.find('='));
    bool changed = false;
    for (const auto& change : options.environment) {
      changed = changed || change.first == name;
    }
    if (!changed) {
      environmentText.emplace_back(entry);
    }
  }
  for (const auto& [name, value] : options.environment) {
    if (value) {
      environmentText.push_back(name + "=" + *value);
    }
  }
  std::vector<char*> environment;
  for (std::string& variable : environmentText) {
    environment.push_back(variable.data());
  }
  environment.push_back(nullptr);

  for (const std::string& path : {binary, options.workingDirectory}) {
    if (!path.empty() && access(path.c_str(), X_OK) != 0) {
      throw std::runtime_error(path + ": " + std::strerror(errno));
    }
  }
  ignoreSigpipe();
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    signal(SIGPIPE, SIG_DFL);
    if (dup2(in, 0) >= 0 && dup2(out, 1) >= 0 && dup2(err, 2) >= 0 &&
        (options.workingDirectory.empty() || chdir(options.workingDirectory.c_str()) == 0)) {
      execve(binary.c_str(), argv.data(), environment.data());
    }
    _exit(127);
  }
  return pid;
}

// With KIVLOG_TEST_WORKERS=N in the environment, every run of kivlog itself decodes with N
// workers and reads its input from a file, so that the whole suite runs the parallel decoder.
std::optional<std::string> forcedWorkers() {
  const char* workers = std::getenv("KIVLOG_TEST_WORKERS");
  return workers == nullptr || *workers == '\0' ? std::nullopt
                                                : std::optional<std::string>(workers);
}

}  // namespace

bool kivInputFromFile() {
  return forcedWorkers().has_value();
}

namespace {

// A file holding `text`, already removed from its folder, open for reading from its start.
int inputFile(const std::string& text) {
  const int fd = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      lseek(fd, 0, SEEK_SET) != 0) {
    throw std::runtime_error(std::string("input file: ") + std::strerror(errno));
  }
  return fd;
}

}  // namespace

KivRunResult runKivlog(const KivRunOptions& given) {
  KivRunOptions options = given;
  std::optional<int> fileInput;
  if (const auto workers = forcedWorkers(); workers && !options.binary) {
    options.args.insert(options.args.begin(), {"-P", *workers});
    if (!options.pipedInput) {
      fileInput = inputFile(options.input);
      options.input.clear();
    }
  }
  int in[2], out[2], err[2];
  makePipe(in);
  if (fileInput) {
    dup3(*fileInput, in[0], O_CLOEXEC);
    close(*fileInput);
  }
  makePipe(out);
  makePipe(err);
  for (const auto& [file, fd] :
       {std::pair{options.outputFile, out[1]}, {options.errorFile, err[1]}}) {
    if (file) {
      const int opened = open(file->c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (opened < 0 || dup3(opened, fd, O_CLOEXEC) < 0) {
        throw std::runtime_error(*file + ": " + std::strerror(errno));
      }
      close(opened);
    }
  }
  pid_t pid = -1;
  try {
    pid = spawn(options, in[0], out[1], err[1]);
  } catch (...) {
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
      close(fd);
    }
    throw;
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  int inFd = in[1];
  int outFd = out[0];
  int errFd = err[0];
  KivRunResult result;
  fcntl(inFd, F_SETFL, fcntl(inFd, F_GETFL) | O_NONBLOCK);
  std::size_t written = 0;
  if (options.input.empty()) {
    closeFd(inFd);
  }

  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + options.timeout;
  char buffer[65536];
  while (inFd >= 0 || outFd >= 0 || errFd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      result.timedOut = true;
      break;
    }
    const bool holding = std::chrono::steady_clock::now() < start + options.holdOutput;
    pollfd fds[3] = {{inFd, POLLOUT, 0}, {holding ? -1 : outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    int ready =
        poll(fds, 3, static_cast<int>(std::min<long long>(left.count(), holding ? 50 : 1000)));
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

KivRunResult runKivlogIn(const std::string& folder, std::vector<std::string> args,
                         std::string input) {
  KivRunOptions options;
  options.args = std::move(args);
  options.input = std::move(input);
  options.workingDirectory = folder;
  options.timeout = std::chrono::seconds(20);
  return runKivlog(options);
}

std::string kivShownArgs(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) {
    text += " '" + arg + "'";
  }
  return text;
}

KivLiveRun::KivLiveRun(const std::string& folder, std::vector<std::string> args,
                       const std::string& errorPath)
    : KivLiveRun(folder, std::move(args), errorPath, -1) {}

KivLiveRun::KivLiveRun(const std::string& folder, std::vector<std::string> args,
                       const std::string& errorPath, int outputFd,
                       std::optional<std::string> binary, bool nonBlockingInput) {
  KivRunOptions options;
  options.binary = std::move(binary);
  options.args = std::move(args);
  options.workingDirectory = folder;
  int in[2], out[2];
  makePipe(in);
  makePipe(out);
  if (nonBlockingInput) {
    fcntl(in[0], F_SETFL, fcntl(in[0], F_GETFL) | O_NONBLOCK);
  }
  const int err = errorPath.empty()
                      ? out[1]
                      : open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  try {
    if (err < 0) {
      throw std::runtime_error("cannot create " + errorPath);
    }
    pid_ = spawn(options, in[0], outputFd >= 0 ? outputFd : out[1], err);
  } catch (...) {
    for (int fd : {in[0], in[1], out[0], out[1]}) {
      close(fd);
    }
    throw;
  }
  close(in[0]);
  close(out[1]);
  if (err != out[1]) {
    close(err);
  }
  input_ = in[1];
  output_ = out[0];
}

KivLiveRun::~KivLiveRun() {
  closeFd(input_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitChild(pid_);
  }
  closeFd(output_);
}

void KivLiveRun::send(std::string_view text) {
  if (write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ADD_FAILURE() << "kivlog took no input: " << std::strerror(errno);
  }
}

const std::string& KivLiveRun::waitForOutput(const std::string& expected) {
  readWhile([&] { return out_.size() < expected.size(); });
  return out_;
}

int KivLiveRun::wait() {
  closeFd(input_);
  return waitForExit();
}

void KivLiveRun::signal(int number) {
  kill(pid_, number);
}

int KivLiveRun::waitForExit() {
  readWhile([] { return true; });
  // A child that does not end within a few seconds is killed, so that a test fails, not hangs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int ws = 0;
  pid_t done = 0;
  while ((done = waitpid(pid_, &ws, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &ws, 0);
  }
  pid_ = -1;
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : WIFSIGNALED(ws) ? 128 + WTERMSIG(ws) : -1;
}

void KivLiveRun::readWhile(const std::function<bool()>& more) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (more() && std::chrono::steady_clock::now() < deadline) {
    pollfd fd{output_, POLLIN, 0};
    if (poll(&fd, 1, 100) > 0) {
      char buffer[4096];
      const ssize_t n = read(output_, buffer, sizeof buffer);
      if (n <= 0) {
        return;
      }
      out_.append(buffer, static_cast<std::size_t>(n));
    }
  }
}

#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Runs the built tool (or another program) as a child process with piped standard streams.
// The child gets the test process's environment, with the changes asked for, and the given
// arguments, nothing else.
struct KivRunOptions {
  std::vector<std::string> args;
  // Written to the child's standard input, which is then closed; an empty text gives an
  // immediately closed input.
  std::string input;
  // Folder the child starts in; empty keeps the test's current folder.
  std::string workingDirectory;
  // The child's argv[0]; by default the binary path.
  std::optional<std::string> argv0;
  // The program to run; by default the kivlog binary of this build.
  std::optional<std::string> binary;
  // Changes to the child's environment: a value sets the variable, std::nullopt removes it.
  std::vector<std::pair<std::string, std::optional<std::string>>> environment;
  // A file the child's standard output goes to (such as /dev/full) instead of the result's `out`.
  std::optional<std::string> outputFile;
  // A file the child's standard error goes to (such as a terminal) instead of the result's `err`.
  std::optional<std::string> errorFile;
  // Standard output is not read for this long, so that a child writing much waits on it.
  std::chrono::milliseconds holdOutput{0};
  // A child still running after this long is killed (its status is then 128 + SIGKILL).
  std::chrono::milliseconds timeout{60000};
  // Standard input stays a pipe also when the suite's runs read their input from files
  // (KIVLOG_TEST_WORKERS): for a test of what kivlog does with a pipe.
  bool pipedInput = false;
};

struct KivRunResult {
  std::string out;
  std::string err;
  // The exit code, or 128 + the signal number when a signal ended the child.
  int status = -1;
  bool timedOut = false;
};

// The absolute path of the kivlog binary built alongside the tests.
const char* kivlogBinary();

// Whether runs of kivlog get their input from a file rather than a pipe (KIVLOG_TEST_WORKERS):
// a pipe delivers it a part at a time, a file at once, which changes when outputs are flushed.
bool kivInputFromFile();

// Throws std::runtime_error when the child cannot be started (missing binary, bad folder).
KivRunResult runKivlog(const KivRunOptions& options);
KivRunResult runKivlog(std::vector<std::string> args, std::string input = {});
// The same, started in `folder`, ending after 20 seconds at most.
KivRunResult runKivlogIn(const std::string& folder, std::vector<std::string> args,
                         std::string input = {});

// The arguments as a failure message shows them: each quoted, after a blank.
std::string kivShownArgs(const std::vector<std::string>& args);

// Runs kivlog in `folder` with a pipe as standard input that the test keeps open, to see what the
// tool writes while it waits for more input. Standard error goes to the file `errorPath`, or with
// an empty path into the same pipe as standard output, as a terminal shows both. The child is
// killed if it still runs when the object goes.
class KivLiveRun {
 public:
  KivLiveRun(const std::string& folder, std::vector<std::string> args,
             const std::string& errorPath);
  // The same with the child's standard output going to `outputFd` (such as a pipe nobody reads)
  // instead of the test, so that waitForOutput sees nothing; `binary` run in kivlog's place; and
  // standard input non-blocking, as some callers leave it, when `nonBlockingInput`.
  KivLiveRun(const std::string& folder, std::vector<std::string> args, const std::string& errorPath,
             int outputFd, std::optional<std::string> binary = std::nullopt,
             bool nonBlockingInput = false);
  ~KivLiveRun();
  KivLiveRun(const KivLiveRun&) = delete;
  KivLiveRun& operator=(const KivLiveRun&) = delete;

  // A failed write fails the test.
  void send(std::string_view text);
  // Reads standard output until it holds as many bytes as `expected`, or 5 seconds have passed.
  const std::string& waitForOutput(const std::string& expected);
  // Ends the input, reads standard output to its end and returns the exit status.
  int wait();
  // Sends the signal to the child.
  void signal(int number);
  // Leaves the input open, reads standard output to its end and returns the exit status: for a
  // child that ends by itself.
  int waitForExit();

 private:
  void readWhile(const std::function<bool()>& more);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string out_;
};

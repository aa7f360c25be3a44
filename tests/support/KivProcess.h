#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Runs the built tool (or another program) as a child process with piped standard streams.
// The child gets the test process's environment and the given arguments, nothing else.
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
  // A child still running after this long is killed (its status is then 128 + SIGKILL).
  std::chrono::milliseconds timeout{60000};
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

// Throws std::runtime_error when the child cannot be started (missing binary, bad folder).
KivRunResult runKivlog(const KivRunOptions& options);
KivRunResult runKivlog(std::vector<std::string> args, std::string input = {});

#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// A progress line on a terminal for a long decode of a file: after the first second, one line on
// standard error, rewritten in place a few times a second, with the bytes read of the file's size,
// the percentage, the lines per second and the time left. erase() takes it away again; whoever
// writes to standard error calls it first.
class KivProgress {
 public:
  // `program` starts the line.
  explicit KivProgress(std::string program);

  // Starts showing the reading of `inputFd` when that helps: standard error is a terminal,
  // standard output is not (so the decoded log does not run through the line), and the input is a
  // regular file. Otherwise the line never shows.
  void begin(int inputFd);

  // Called as the input is read; redraws the line when it is due.
  void update(uint64_t bytesRead, uint64_t lines);
  // Clears the line from the terminal, if it is shown.
  void erase();

 private:
  using Clock = std::chrono::steady_clock;

  std::string program_;
  bool active_ = false;
  uint64_t total_ = 0;
  Clock::time_point start_;
  Clock::time_point nextDraw_;
  bool shown_ = false;
};

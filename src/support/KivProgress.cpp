#include "support/KivProgress.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::chrono::milliseconds kFirstDraw{1000};
constexpr std::chrono::milliseconds kRedraw{250};

void writeAll(std::string_view text) {
  while (!text.empty()) {
    const ssize_t done = ::write(STDERR_FILENO, text.data(), text.size());
    if (done <= 0) {
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(done));
  }
}

std::string megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string duration(uint64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

}  // namespace

KivProgress::KivProgress(std::string program) : program_(std::move(program)) {}

void KivProgress::begin(int inputFd) {
  struct stat info {};
  active_ = ::isatty(STDERR_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 0 &&
            ::fstat(inputFd, &info) == 0 && S_ISREG(info.st_mode);
  total_ = static_cast<uint64_t>(info.st_size);
  start_ = Clock::now();
  nextDraw_ = start_ + kFirstDraw;
}

void KivProgress::update(uint64_t bytesRead, uint64_t lines) {
  if (!active_) {
    return;
  }
  const Clock::time_point now = Clock::now();
  if (now < nextDraw_) {
    return;
  }
  nextDraw_ = now + kRedraw;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double bytesPerSecond = static_cast<double>(bytesRead) / seconds;
  const uint64_t left =
      bytesRead < total_ && bytesPerSecond > 0
          ? static_cast<uint64_t>(static_cast<double>(total_ - bytesRead) / bytesPerSecond + 0.5)
          : 0;
  char rate[32];
  const double linesPerSecond = static_cast<double>(lines) / seconds;
  if (linesPerSecond >= 1e6) {
    std::snprintf(rate, sizeof rate, "%.2f M", linesPerSecond / 1e6);
  } else {
    std::snprintf(rate, sizeof rate, "%.0f", linesPerSecond);
  }
  const unsigned percent =
      total_ == 0 ? 100
                  : static_cast<unsigned>(std::min<uint64_t>(bytesRead, total_) * 100 / total_);
  writeAll("\r" + program_ + ": " + megabytes(bytesRead) + " of " + megabytes(total_) + " (" +
           std::to_string(percent) + "%), " + rate + " lines/s, " + duration(left) + " left\x1b[K");
  shown_ = true;
}

void KivProgress::erase() {
  if (shown_) {
    writeAll("\r\x1b[K");
    shown_ = false;
  }
}

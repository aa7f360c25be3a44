// The progress line: shown on a terminal's standard error during a long decode of a file, erased
// before anything else goes there and at the end, and never without a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

// A pseudo-terminal in raw mode: what the child writes to its slave side is read back unchanged.
class PseudoTerminal {
 public:
  PseudoTerminal() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    slavePath_ = ptsname(master_);
    // Held open, so that what the child wrote stays readable after it has gone.
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    tcgetattr(slave_, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave_, TCSANOW, &mode);
  }
  ~PseudoTerminal() {
    close(slave_);
    close(master_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  std::string drain() const {
    fcntl(master_, F_SETFL, O_NONBLOCK);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(master_, buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }

 private:
  int master_;
  int slave_ = -1;
  std::string slavePath_;
};

TEST(ProgressE2E, ALongDecodeShowsTheLineOnATerminalAndErasesItBeforeWarnings) {
  KivTempDir dir;
  writeImage(dir.path());
  // Three reads of input; standard output is left unread for over a second during the first,
  // so the second read comes after the line is due.
  std::string log;
  while (log.size() < 3 * 1024 * 1024) {
    log +=
        "[ 1234.567890] wlan0: a host line of a long capture, " + std::to_string(log.size()) + "\n";
  }
  log += dataLine("dev1", 1, kUmacPercent, 3, 0) + "\n";
  dir.write("raw.log", log);
  const std::string line =
      "\rkivlog: [0-9]+\\.[0-9] MB of 3\\.1 MB \\([0-9]+%\\), [0-9.]+( M)? lines/s, "
      "[0-9]+:[0-9]{2} left\x1b\\[K";
  for (const bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "terminal" : "pipe");
    PseudoTerminal pty;
    KivRunOptions options{.args = {"-i", "raw.log"}, .workingDirectory = dir.path()};
    options.holdOutput = std::chrono::milliseconds(1500);
    if (terminal) {
      options.errorFile = pty.slavePath();
    }
    const KivRunResult result = runKivlog(options);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(
        result.out.ends_with("FW_LOG [ID:dev1] [UMAC   :WARNING] [fw/src/stats.c                "
                             ":   77]: load 3%\n"));
    if (terminal) {
      const std::string shown = pty.drain();
      const std::string end = "\r\x1b[K" + unknownWarning(1);
      ASSERT_TRUE(shown.ends_with(end)) << shown;
      EXPECT_TRUE(std::regex_match(shown.substr(0, shown.size() - end.size()),
                                   std::regex("(" + line + ")+")))
          << shown;
      EXPECT_EQ(result.err, "");
    } else {
      EXPECT_EQ(result.err, unknownWarning(1));
    }
  }
}

}  // namespace

// The progress line: shown on a terminal's standard error during a long decode of a file, erased
// before anything else goes there and at the end, and never without a terminal.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/KivProcess.h"
#include "support/KivPseudoTerminal.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

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
    KivPseudoTerminal pty;
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

// A run that ends before its input does: a signal, a reader of the decoded log that has gone, a
// read error. Each ends the run as the end of its input would, at the last whole line read, with
// every output written and the report printed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

const std::string kDescriptor = descriptorLine("wlan0");
const std::string kData = dataLine("wlan0", 7, kUmacPercent, 3, 0);
const std::string kDecoded =
    "          7 FW_LOG [ID:wlan0] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
    "load 3%\n";
// Runs the tool through the shell, which sets things up as a caller would before the exec.
const std::string kShell = "/bin/sh";

// Waits until the file holds `expected`, or a few seconds have passed; returns what it holds.
std::string waitForFile(const KivTempDir& dir, const std::string& name,
                        const std::string& expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::string content;
  while (std::chrono::steady_clock::now() < deadline) {
    content = dir.exists(name) ? dir.read(name) : std::string();
    if (content == expected) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return content;
}

TEST(InterruptE2E, ASignalEndsTheRunAtTheLastWholeLineWithEverythingWritten) {
  const std::string written = rawLog({kDescriptor}) + kDecoded + "host\n";
  const std::string report = usingBlock("stdin", "out") + kImageReport + "Device: wlan0\n" +
                             kCompatible + counters(1, 2, 0, 1, 0, 0, 0);
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(number));
    KivTempDir dir;
    writeImage(dir.path());
    dir.makeDir("out");
    KivLiveRun run(dir.path(), {"-r", "-o", "out"}, dir.file("err"));
    // The last line has no end yet: it is not decoded.
    run.send(rawLog({kDescriptor, kData, "host"}) + "[FW_LOG-R][ID:wlan0][8]");
    ASSERT_EQ(waitForFile(dir, "out/HostAndFirmware.log", written), written);
    run.signal(number);
    EXPECT_EQ(run.waitForExit(), 128 + number);
    EXPECT_EQ(run.waitForOutput(report), report);
    EXPECT_EQ(dir.read("err"), "");
    EXPECT_EQ(dir.read("out/HostAndFirmware.log"), written);
    EXPECT_EQ(dir.read("out/wlan0_personal.log"), written);
  }
}

// While the report waits on a standard output that nobody reads, a second Ctrl-C ends the
// process at once.
TEST(InterruptE2E, ASecondSignalOfTheSameKindEndsTheProcessAtOnce) {
  KivTempDir dir;
  writeImage(dir.path());
  int unread[2];
  ASSERT_EQ(pipe2(unread, O_CLOEXEC), 0);
  {
    KivLiveRun run(dir.path(), {}, dir.file("err"), unread[1]);
    // More than the output pipe holds, less than the input pipe and what the tool reads before it
    // waits on its output: the tool waits on a write, the test never on one.
    std::string host;
    for (int i = 0; i < 2000; ++i) {
      host += "host line " + std::to_string(i) + " of a capture that nobody reads\n";
    }
    run.send(host);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run.signal(SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run.signal(SIGINT);
    EXPECT_EQ(run.waitForExit(), 128 + SIGINT);
  }
  close(unread[0]);
  close(unread[1]);
  EXPECT_EQ(dir.read("err"), "");
}

// `dmesg -w | kivlog | head -1` under a parent that ignores SIGPIPE: the input goes on, the
// reader has gone, and the run ends. With SIGPIPE at its default the process dies of it.
TEST(InterruptE2E, AReaderOfTheDecodedLogThatHasGoneEndsTheRun) {
  const struct {
    const char* what;
    const char* script;
    int status;
    std::string err;
  } cases[] = {
      {"SIGPIPE ignored", "trap '' PIPE; exec \"$0\" \"$@\"", 1,
       "kivlog: cannot write standard output: Broken pipe\n"},
      {"SIGPIPE at its default", "exec \"$0\" \"$@\"", 128 + SIGPIPE, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KivTempDir dir;
    writeImage(dir.path());
    int gone[2];
    ASSERT_EQ(pipe2(gone, O_CLOEXEC), 0);
    close(gone[0]);
    KivLiveRun run(dir.path(), {"-c", c.script, kivlogBinary()}, dir.file("err"), gone[1], kShell);
    close(gone[1]);
    run.send(rawLog({kDescriptor, kData, "host"}));
    EXPECT_EQ(run.waitForExit(), c.status);
    EXPECT_EQ(dir.read("err"), c.err);
  }
}

// Input that waits or fails: a non-blocking standard input is waited for; a read error is named
// after what was read before it and ends the run with status 1; a closed standard input reads as
// an empty one, not as the image the tool opens next.
TEST(InterruptE2E, ReadErrorsAreNamedAndANonBlockingInputIsWaitedFor) {
  KivTempDir dir;
  writeImage(dir.path());
  {
    KivLiveRun run(dir.path(), {}, dir.file("err"), -1, std::nullopt, true);
    std::string expected;
    for (int i = 0; i < 3; ++i) {
      run.send(rawLog({kDescriptor, kData}));
      expected += rawLog({kDescriptor}) + kDecoded;
      EXPECT_EQ(run.waitForOutput(expected), expected);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(run.wait(), 0);
    EXPECT_EQ(dir.read("err"), "");
  }
  dir.makeDir("folder");
  const struct {
    const char* what;
    std::string script;
    std::string out;
    std::string err;
    int status;
  } cases[] = {
      {"a folder on standard input", "exec \"$0\" < folder", "",
       "kivlog: cannot read standard input: Is a directory\n", 1},
      // Its first page is never mapped: the first read fails with EIO.
      {"an I/O error in a named file", "exec \"$0\" -i /proc/self/mem", "",
       "kivlog: cannot read /proc/self/mem: Input/output error\n", 1},
      {"standard input closed", "exec \"$0\" <&-", "", "", 0},
      {"standard output closed", "exec \"$0\" -i raw.log >&-", "", "", 0},
  };
  dir.write("raw.log", rawLog({kDescriptor, kData}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const KivRunResult result = runKivlog({.args = {"-c", c.script, kivlogBinary()},
                                           .workingDirectory = dir.path(),
                                           .binary = kShell});
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
  }
}

}  // namespace

// --follow: a raw log file decoded live as it grows, is cut and is replaced, until Ctrl-C ends the
// run with its report; what is no regular file is read to its end as without it.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/KivCompress.h"
#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

const std::string kDescriptor = descriptorLine("wlan0");

std::string data(uint32_t timestamp, uint32_t percent) {
  return dataLine("wlan0", timestamp, kUmacPercent, percent, 0);
}
std::string decoded(const std::string& timestamp, const std::string& percent) {
  return std::string(11 - timestamp.size(), ' ') + timestamp +
         " FW_LOG [ID:wlan0] [UMAC   :WARNING] [fw/src/stats.c                :   77]: load " +
         percent + "%\n";
}

void append(const KivTempDir& dir, const std::string& name, const std::string& bytes) {
  std::ofstream(dir.file(name), std::ios::binary | std::ios::app) << bytes;
}

// Each step waits until the output shows what came before, so that the file is changed under a
// run that has read it to its end and waits.
TEST(FollowE2E, AFileIsDecodedAsItGrowsIsCutAndIsReplacedUntilCtrlC) {
  KivTempDir dir;
  writeImage(dir.path());
  dir.write("raw.log", rawLog({kDescriptor, data(7, 3)}));
  KivLiveRun run(dir.path(), {"-r", "--follow", "-i", "raw.log"}, dir.file("err"));
  std::string expected = rawLog({kDescriptor}) + decoded("7", "3");
  EXPECT_EQ(run.waitForOutput(expected), expected);

  // A line still being written is decoded once it is whole.
  const std::string late = data(8, 4);
  append(dir, "raw.log", "host one\n" + late.substr(0, 20));
  expected += "host one\n";
  EXPECT_EQ(run.waitForOutput(expected), expected);
  append(dir, "raw.log", late.substr(20) + "\n");
  expected += decoded("8", "4");
  EXPECT_EQ(run.waitForOutput(expected), expected);

  // Cut shorter than what was read: read again from the start.
  dir.write("raw.log", "cut\n");
  expected += "cut\n";
  EXPECT_EQ(run.waitForOutput(expected), expected);

  // Rotated: the old file's last lines, then the new file's.
  ASSERT_EQ(std::rename(dir.file("raw.log").c_str(), dir.file("raw.log.1").c_str()), 0);
  append(dir, "raw.log.1", "old\n");
  dir.write("raw.log", rawLog({data(9, 5)}));
  expected += "old\n" + decoded("9", "5");
  EXPECT_EQ(run.waitForOutput(expected), expected);

  run.signal(SIGINT);
  EXPECT_EQ(run.waitForExit(), 128 + SIGINT);
  const std::string report = usingBlock("raw.log", "stdout") + kImageReport + "Device: wlan0\n" +
                             kCompatible + counters(1, 7, 0, 3, 0, 0, 0);
  EXPECT_EQ(run.waitForOutput(expected + report), expected + report);
  EXPECT_EQ(dir.read("err"), "");
}

// A regular file on standard input is followed too, though not by name; a pipe ends with its
// writer, and a growing compressed capture is followed member by member.
TEST(FollowE2E, StandardInputAndCompressedCapturesAreFollowedAndAPipeIsReadToItsEnd) {
  KivTempDir dir;
  writeImage(dir.path());
  dir.write("raw.log", rawLog({kDescriptor, "host"}));
  {
    KivLiveRun run(dir.path(), {"-c", "exec \"$0\" --follow < raw.log", kivlogBinary()},
                   dir.file("err"), -1, "/bin/sh");
    std::string expected = rawLog({kDescriptor, "host"});
    EXPECT_EQ(run.waitForOutput(expected), expected);
    append(dir, "raw.log", "more\n");
    expected += "more\n";
    EXPECT_EQ(run.waitForOutput(expected), expected);
    dir.write("raw.log", "again\n");
    expected += "again\n";
    EXPECT_EQ(run.waitForOutput(expected), expected);
    run.signal(SIGINT);
    EXPECT_EQ(run.waitForExit(), 128 + SIGINT);
    EXPECT_EQ(dir.read("err"), "");
  }
  {
    dir.write("raw.gz", kivCompress(KivCompression::kGzip, rawLog({kDescriptor, data(7, 3)})));
    KivLiveRun run(dir.path(), {"--follow", "-i", "raw.gz"}, dir.file("err"));
    std::string expected = rawLog({kDescriptor}) + decoded("7", "3");
    EXPECT_EQ(run.waitForOutput(expected), expected);
    append(dir, "raw.gz", kivCompress(KivCompression::kGzip, rawLog({"host two"})));
    expected += "host two\n";
    EXPECT_EQ(run.waitForOutput(expected), expected);
    run.signal(SIGINT);
    EXPECT_EQ(run.waitForExit(), 128 + SIGINT);
    EXPECT_EQ(dir.read("err"), "");
  }
  const KivRunResult piped = runKivlog({.args = {"--follow"},
                                        .input = rawLog({kDescriptor, "host"}),
                                        .workingDirectory = dir.path(),
                                        .timeout = std::chrono::seconds(20),
                                        .pipedInput = true});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, rawLog({kDescriptor, "host"}));
}

}  // namespace

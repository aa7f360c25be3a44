// The shipped sample: its files are what their generator writes, and the tool's output on them is
// the committed expected output.
#include <gtest/gtest.h>

#include <string>

#include "support/KivProcess.h"
#include "support/KivTempDir.h"

namespace {

const std::string kExamples = std::string(KIVLOG_SOURCE_DIR) + "/examples";

TEST(ShippedSample, FilesAreWhatTheGeneratorWrites) {
  KivTempDir dir;
  const KivRunResult run =
      runKivlog({.args = {dir.path()}, .binary = std::string(KIVLOG_MAKE_SAMPLE)});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"kiv_log.elf", "sample.log"}) {
    EXPECT_EQ(dir.read(name), kivReadFile(kExamples + "/" + name)) << name;
  }
}

TEST(ShippedSample, DecodesToTheExpectedOutput) {
  const KivRunResult run = runKivlog(
      {.args = {"-r", "-f", "kiv_log.elf", "-i", "sample.log"}, .workingDirectory = kExamples});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kivReadFile(kExamples + "/sample.expected"));
  EXPECT_EQ(run.err, "*** ERROR: 5 lines processed with mismatched ELF version\n");
}

}  // namespace

// The shipped sample: its files are what their generator writes, and the tool's output on them is
// the committed expected output.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/KivProcess.h"
#include "support/KivTempDir.h"

namespace {

const std::string kExamples = std::string(KIVLOG_SOURCE_DIR) + "/examples";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(ShippedSample, FilesAreWhatTheGeneratorWrites) {
  KivTempDir dir;
  const KivRunResult run =
      runKivlog({.args = {dir.path()}, .binary = std::string(KIVLOG_MAKE_SAMPLE)});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"kiv_log.elf", "sample.log"}) {
    EXPECT_EQ(dir.read(name), readFile(kExamples + "/" + name)) << name;
  }
}

TEST(ShippedSample, DecodesToTheExpectedOutput) {
  const KivRunResult run = runKivlog(
      {.args = {"-r", "-f", "kiv_log.elf", "-i", "sample.log"}, .workingDirectory = kExamples});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, readFile(kExamples + "/sample.expected"));
  EXPECT_EQ(run.err, "*** ERROR: 5 lines processed with mismatched ELF version\n");
}

}  // namespace

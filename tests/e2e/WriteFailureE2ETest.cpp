// Outputs that fail for real: standard output on /dev/full, and files of the output folder that
// are links to it. Each failed output is named once on standard error, everything else goes on as
// usual, and the run ends with status 1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

const std::string kFull = "No space left on device";

TEST(WriteFailureE2E, EachFailedOutputIsNamedOnceAndTheRunEndsWithStatusOne) {
  const std::string d0 = descriptorLine("wlan0");
  const std::string d1 = descriptorLine("wlan1");
  const std::string data = dataLine("wlan1", 7, kUmacPercent, 3, 0);
  const std::string decoded =
      "          7 FW_LOG [ID:wlan1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 3%\n";
  // More host text than any output buffer holds, so that every output is written more than once.
  std::string host;
  for (int i = 0; i < 9000; ++i) {
    host += "host line " + std::to_string(i) + " of a long capture\n";
  }
  const std::string input = rawLog({d0, d1}) + host + rawLog({data});
  const std::string report = kImageReport + "Device: wlan0\n" + kCompatible +
                             counters(1, 0, 0, 0, 0, 0, 0) + "Device: wlan1\n" + kCompatible +
                             counters(2, 9003, 0, 1, 0, 0, 0);

  const struct {
    const char* what;
    std::optional<std::string> fullFile;  // a folder file linked to /dev/full
    std::vector<std::string> args;
    std::string err;
    std::string out;  // standard output, unless it is /dev/full
    std::string wlan0Log, wlan1Log, mainLog;
  } cases[] = {
      {"standard output",
       std::nullopt,
       {"-r"},
       "kivlog: cannot write standard output: " + kFull + "\n"},
      {"main log",
       "HostAndFirmware.log",
       {"-r", "-o", "out"},
       "kivlog: cannot write out/HostAndFirmware.log: " + kFull + "\n",
       usingBlock("stdin", "out") + report,
       rawLog({d0}) + host,
       rawLog({d1}) + host + decoded,
       ""},
      {"personal log",
       "wlan1_personal.log",
       {"-o", "out"},
       "kivlog: cannot write out/wlan1_personal.log: " + kFull + "\n",
       "",
       rawLog({d0}) + host,
       "",
       input.substr(0, input.size() - data.size() - 1) + decoded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KivTempDir dir;
    writeImage(dir.path());
    KivRunOptions options{.args = c.args, .input = input, .workingDirectory = dir.path()};
    if (c.fullFile) {
      dir.makeDir("out");
      ASSERT_EQ(symlink("/dev/full", dir.file("out/" + *c.fullFile).c_str()), 0);
    } else {
      options.outputFile = "/dev/full";
    }
    const KivRunResult result = runKivlog(options);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, 1);
    if (c.fullFile) {
      for (const auto& [name, content] : {std::pair{"wlan0_personal.log", c.wlan0Log},
                                          std::pair{"wlan1_personal.log", c.wlan1Log},
                                          std::pair{"HostAndFirmware.log", c.mainLog}}) {
        if (name != *c.fullFile) {
          EXPECT_EQ(dir.read("out/" + std::string(name)), content) << name;
        }
      }
    }
  }
}

}  // namespace

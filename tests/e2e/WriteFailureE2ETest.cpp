// Outputs that fail for real: standard output on /dev/full, the files of an output folder on a
// full file system or under a file-size limit. Each failed output is named once on standard error,
// everything else goes on as usual, and the run ends with status 1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivSmallFileSystem.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

const std::string kFull = "No space left on device";
const std::string kTooLarge = "File too large";
// What `ulimit -f 100` allows in a POSIX shell, which counts 512-byte blocks.
constexpr std::size_t kFileSizeLimit = 51200;

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
  const std::string mainLog = rawLog({d0, d1}) + host + decoded;
  const std::string report = kImageReport + "Device: wlan0\n" + kCompatible +
                             counters(1, 0, 0, 0, 0, 0, 0) + "Device: wlan1\n" + kCompatible +
                             counters(2, 9003, 0, 1, 0, 0, 0);

  // Standard output on /dev/full; a file-size limit, which the tool does not die of: each file
  // keeps what fitted below the limit; the output folder on a small file system filled to the last
  // byte before the run, so that every file in it fails at its first write (last: it needs root).
  // Input from a pipe comes a part at a time, and the outputs are flushed, the main log first,
  // before each read: the main log fails first. Read from a file in one piece, the personal logs'
  // smaller buffers are written first.
  const std::string mainFails = "kivlog: cannot write out/HostAndFirmware.log: " + kFull + "\n";
  const std::string personalFail = "kivlog: cannot write out/wlan0_personal.log: " + kFull + "\n" +
                                   "kivlog: cannot write out/wlan1_personal.log: " + kFull + "\n";
  const struct {
    const char* what;
    bool fullFolder;
    std::vector<std::string> args;
    std::string err;
    std::string out;  // standard output, unless it is /dev/full
    std::string shellSetUp;
    std::vector<std::pair<std::string, std::string>> files;
  } cases[] = {
      {"standard output", false, {"-r"}, "kivlog: cannot write standard output: " + kFull + "\n"},
      {"file-size limit",
       false,
       {"-r", "-i", "in.log", "-o", "out"},
       "kivlog: cannot write out/wlan0_personal.log: " + kTooLarge + "\n" +
           "kivlog: cannot write out/wlan1_personal.log: " + kTooLarge + "\n" +
           "kivlog: cannot write out/HostAndFirmware.log: " + kTooLarge + "\n",
       usingBlock("in.log", "out") + report,
       "ulimit -f 100",
       {{"out/HostAndFirmware.log", mainLog.substr(0, kFileSizeLimit)},
        {"out/wlan0_personal.log", (rawLog({d0}) + host).substr(0, kFileSizeLimit)},
        {"out/wlan1_personal.log", (rawLog({d1}) + host).substr(0, kFileSizeLimit)}}},
      {"folder",
       true,
       {"-r", "-o", "out"},
       kivInputFromFile() ? personalFail + mainFails : mainFails + personalFail,
       usingBlock("stdin", "out") + report},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KivTempDir dir;
    writeImage(dir.path());
    KivRunOptions options{.args = c.args, .input = input, .workingDirectory = dir.path()};
    std::optional<KivSmallFileSystem> full;
    if (c.fullFolder) {
      if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a small file system needs root";
      }
      full.emplace(dir.makeDir("out"));
      full->fill();
    } else if (!c.shellSetUp.empty()) {
      dir.write("in.log", input);
      dir.makeDir("out");
      options.args.insert(options.args.begin(),
                          {"-c", c.shellSetUp + "; exec \"$0\" \"$@\"", kivlogBinary()});
      options.binary = "/bin/sh";
    } else {
      options.outputFile = "/dev/full";
    }
    const KivRunResult result = runKivlog(options);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, 1);
    for (const auto& [name, content] : c.files) {
      EXPECT_EQ(dir.read(name), content) << name;
    }
  }
}

}  // namespace

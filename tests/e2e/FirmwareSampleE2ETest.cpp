// The real firmware sample (examples/firmware): images built with the kit and run under QEMU, and
// the raw log made from their captured records, decode to the committed expected output in every
// form: one file for both cores or one per core, on standard output or into a folder, strict or
// not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivTempDir.h"

namespace {

const std::string kSample = std::string(KIVLOG_SOURCE_DIR) + "/examples/firmware";

struct SampleRun {
  std::string name;
  std::vector<std::string> args;
};

TEST(FirmwareSample, DecodesToTheCommittedOutput) {
  const std::vector<SampleRun> runs = {
      {"combined", {"-f", "kiv_log.elf"}},
      {"combined-strict", {"-s", "-f", "kiv_log.elf"}},
      {"combined-folder", {"-f", "kiv_log.elf", "-o", "out"}},
      {"combined-strict-folder", {"-s", "-f", "kiv_log.elf", "-o", "out"}},
      {"legacy", {"-u", "umac.elf", "-l", "lmac.elf"}},
      {"legacy-strict", {"-s", "-u", "umac.elf", "-l", "lmac.elf"}},
      {"legacy-folder", {"-u", "umac.elf", "-l", "lmac.elf", "-o", "out"}},
      {"legacy-strict-folder", {"-s", "-u", "umac.elf", "-l", "lmac.elf", "-o", "out"}},
  };
  for (const SampleRun& run : runs) {
    SCOPED_TRACE(run.name);
    KivTempDir dir;
    for (const char* name : {"kiv_log.elf", "umac.elf", "lmac.elf", "raw.log"}) {
      dir.write(name, kivReadFile(kSample + "/" + name));
    }
    dir.makeDir("out");
    std::vector<std::string> args = {"-r", "-i", "raw.log"};
    args.insert(args.begin() + 1, run.args.begin(), run.args.end());
    const KivRunResult result = runKivlogIn(dir.path(), args);
    const std::string expected = kSample + "/expected/" + run.name;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kivReadFile(expected + "/stdout.txt"));
    EXPECT_EQ(result.err, kivReadFile(expected + "/stderr.txt"));
    EXPECT_EQ(result.out.find("[ERR]"), std::string::npos);
    const std::vector<std::string> written = dir.list("out");
    if (run.args.back() == "out") {
      EXPECT_EQ(written, (std::vector<std::string>{"HostAndFirmware.log", "wlan0_personal.log",
                                                   "wlan1_personal.log"}));
      for (const std::string& name : written) {
        EXPECT_EQ(dir.read("out/" + name), kivReadFile(expected + "/out/" + name)) << name;
      }
    } else {
      EXPECT_TRUE(written.empty());
    }
  }
}

}  // namespace

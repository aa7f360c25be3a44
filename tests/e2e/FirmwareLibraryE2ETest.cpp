// A folder of firmware builds (-F): each device is decoded with the build whose versions it
// announced, the primary images decode the others, and the report says which build each used.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/KivImageBuilder.h"
#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

KivImageBuilder build(const std::string& name) {
  return releaseBuild(name);
}

std::string versionLines(const std::string& name) {
  return "    UMAC COMPATIBLE version KIV-UMAC." + name +
         " Mar 20 2026 14:02:11 release g7c1e9a0 prod\n"
         "    LMAC COMPATIBLE version LMAC-FW-7.2.015." +
         name + " Mar 20 2026 14:03:40 release g7c1e9a0 prod\n";
}

// A decoded line without a prefix whose time stamp is its line number.
std::string decoded(int line, const std::string& id, const std::string& typeAndLevel,
                    std::string file, int sourceLine, const std::string& text) {
  file.resize(30, ' ');
  std::string number = std::to_string(line);
  std::string sourceNumber = std::to_string(sourceLine);
  return std::string(11 - number.size(), ' ') + number + " FW_LOG [ID:" + id + "] [" +
         typeAndLevel + "] [" + file + ":" + std::string(5 - sourceNumber.size(), ' ') +
         sourceNumber + "]: " + text + "\n";
}

class FirmwareLibraryE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    writeImage(dir.path());
    dir.makeDir("builds/sub");
    build("5.1").writeTo(dir.file("builds/a.elf"));
    build("5.2").writeTo(dir.file("builds/b.elf"));
    build("5.3").writeTo(dir.file("builds/c.elf"));
    build("5.2").writeTo(dir.file("builds/dup.elf"));
    // A UMAC image that loads, and an LMAC block whose version record lies beyond the file.
    KivImageBuilder half;
    half.mac(kUmacSignature, 0x100, kUmacBase, kUmacVersionAddress).version(umacVersion());
    half.mac(kLmacSignature, 0x400, kLmacBase, kLmacBase + 0x100000);
    half.writeTo(dir.file("builds/half.elf"));
    dir.write("builds/junk.txt", "not an image\n");
  }

  KivRunResult run(std::vector<std::string> args, const std::string& input) const {
    return runKivlogIn(dir.path(), std::move(args), input);
  }

  const std::string skipped =
      "[WRN] Skipping firmware build builds/dup.elf: its versions are those of builds/b.elf\n"
      "[WRN] Skipping firmware build builds/half.elf: no LMAC version record\n"
      "[WRN] Skipping firmware build builds/junk.txt: no UMAC signature\n";
  KivTempDir dir;
};

// Four devices: d0 runs the primary images, d1 and d2 run builds of the library, d3 a release
// no build holds; d1 later goes back to the primary images.
struct FleetLog {
  const std::vector<std::string> lines = {
      "host boot",
      descriptorLine("d0"),
      announce("d1", "5.1"),
      announce("d2", "5.2"),
      announce("d3", "5.9"),
      dataLine("d1", 6, kUmacValue, 1, 0),
      dataLine("d2", 7, kUmacValue, 2, 0),
      dataLine("d0", 8, kUmacValue, 3, 0),
      dataLine("d3", 9, kUmacValue, 4, 0),
      dataLine("d2", 10, kLmacDone, 0, 0),
      dataLine("d1", 11, kLmacDone, 0, 0),
      descriptorLine("d1"),
      dataLine("d1", 13, kUmacValue, 5, 0),
      "host end",
  };
  const std::string umacPrimary = "UMAC   :INFO1  ";
  const std::string lmacBuild = "LMAC   :CRITICAL";

  std::string input() const {
    std::string text;
    for (const std::string& line : lines) {
      text += line + "\n";
    }
    return text;
  }
  std::string line(int number) const { return lines[static_cast<std::size_t>(number - 1)] + "\n"; }
  std::string d6() const {
    return decoded(6, "d1", umacPrimary, "fw/5.1.c", 10, "release 5.1 value 1");
  }
  std::string d7() const {
    return decoded(7, "d2", umacPrimary, "fw/5.2.c", 10, "release 5.2 value 2");
  }
  std::string d8() const {
    return decoded(8, "d0", umacPrimary, "fw/src/main.c", 42, "value=3 count=0");
  }
  std::string d9() const {
    return decoded(9, "d3", umacPrimary, "fw/src/main.c", 42, "value=4 count=0");
  }
  std::string d10() const {
    return decoded(10, "d2", lmacBuild, "lmac/5.2.c", 20, "release 5.2 done");
  }
  std::string d11() const {
    return decoded(11, "d1", lmacBuild, "lmac/5.1.c", 20, "release 5.1 done");
  }
  std::string d13() const {
    return decoded(13, "d1", umacPrimary, "fw/src/main.c", 42, "value=5 count=0");
  }
  std::string report(unsigned d3Skipped) const {
    return kImageReport + "Device: d0\n" + kCompatible + counters(2, 8, 0, 1, 0, 0, 0) +
           "Device: d1\n" + kCompatible + counters(3, 13, 0, 3, 0, 0, 0) + "Device: d2\n" +
           versionLines("5.2") + "    Firmware builds/b.elf\n\n" + counters(4, 10, 0, 2, 0, 0, 0) +
           "Device: d3\n" + (d3Skipped == 0 ? mismatchError(1) : "") +
           "    UMAC *INCOMPATIBLE* version KIV-UMAC.5.9 Mar 20 2026 14:02:11 release g7c1e9a0 "
           "prod\n    LMAC *INCOMPATIBLE* version LMAC-FW-7.2.015.5.9 Mar 20 2026 14:03:40 "
           "release g7c1e9a0 prod\n\n" +
           counters(5, 9, d3Skipped, 1 - d3Skipped, 1, 0, 0);
  }
};

TEST_F(FirmwareLibraryE2E, EachDeviceIsDecodedWithTheBuildItAnnounced) {
  const FleetLog log;
  const KivRunResult result = run({"-v", "2", "-r", "-F", "builds"}, log.input());
  EXPECT_EQ(result.out,
            log.line(1) + log.line(2) + skipped + "[INF] Device d1 uses firmware builds/a.elf\n" +
                log.line(3) + "[INF] Device d2 uses firmware builds/b.elf\n" + log.line(4) +
                log.line(5) + log.d6() + log.d7() + log.d8() + log.d9() + log.d10() + log.d11() +
                log.line(12) + log.d13() + log.line(14) +
                usingBlock("stdin", "stdout",
                           "  KIV_LOG ELF kiv_log.elf\n  Library  builds (3 builds)\n") +
                log.report(0));
  EXPECT_EQ(result.err, mismatchError(1));
  EXPECT_EQ(result.status, 0);
}

TEST_F(FirmwareLibraryE2E, StrictMatchingIntoAFolderDecodesTheBoundDevices) {
  const FleetLog log;
  dir.makeDir("out");
  const KivRunResult result = run({"-s", "-r", "-o", "out", "-F", "builds"}, log.input());
  EXPECT_EQ(result.out, usingBlock("stdin", "out",
                                   "  KIV_LOG ELF kiv_log.elf\n  Library  builds (3 builds)\n") +
                            log.report(1));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(dir.read("out/HostAndFirmware.log"),
            log.line(1) + log.line(2) + log.line(3) + log.line(4) + log.line(5) + log.d6() +
                log.d7() + log.d8() + log.line(9) + log.d10() + log.d11() + log.line(12) +
                log.d13() + log.line(14));
  EXPECT_EQ(dir.read("out/d2_personal.log"), log.line(4) + log.d7() + log.d10() + log.line(14));
  EXPECT_EQ(dir.read("out/d3_personal.log"), log.line(5) + log.line(9) + log.line(14));
}

TEST_F(FirmwareLibraryE2E, AFolderIsIndexedOnlyWhenADeviceNeedsIt) {
  const std::string matching = rawLog({descriptorLine("d0"), dataLine("d0", 1, kUmacValue, 1, 2)});
  const std::string unknown = rawLog({announce("d9", "6.0")});
  dir.makeDir("empty");
  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string out;
  } cases[] = {
      {{"-v", "1", "-F", "builds"},
       matching,
       rawLog({descriptorLine("d0")}) +
           decoded(1, "d0", "UMAC   :INFO1  ", "fw/src/main.c", 42, "value=1 count=2")},
      {{"-v", "2", "-F", "builds"}, unknown, skipped + unknown},
      {{"-v", "3", "-F", "empty"},
       unknown,
       "[DBG] Debug level is set 3\n" + loadTrace() +
           "[DBG] Found version delimiter at line 1\n"
           "[DBG] Got new or existing device d9\n"
           "[DBG] Inserting entirely new device d9\n"
           "[DBG] Firmware folder empty holds 0 builds\n" +
           unknown +
           "[DBG] good() 0 bad() 0 eof() 1 fail() 1\n"
           "[DBG] Deleting device \"d9\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kivShownArgs(c.args));
    const KivRunResult result = run(c.args, c.input);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST_F(FirmwareLibraryE2E, ABoundDeviceIsTracedWithItsBuildsImages) {
  const std::string descriptor = announce("d1", "5.1");
  const std::string data = dataLine("d1", 2, kUmacValue, 7, 0);
  dir.makeDir("one");
  build("5.1").writeTo(dir.file("one/a.elf"));
  const KivRunResult result = run({"-v", "3", "-F", "one"}, rawLog({descriptor, data}));
  EXPECT_EQ(result.out,
            "[DBG] Debug level is set 3\n" + loadTrace() +
                "[DBG] Found version delimiter at line 1\n"
                "[DBG] Got new or existing device d1\n"
                "[DBG] Inserting entirely new device d1\n"
                "[DBG] Firmware folder one holds 1 builds\n"
                "[INF] Device d1 uses firmware one/a.elf\n" +
                descriptor + "\n[DBG] Created data log from " + data +
                "\n"
                "[DBG] MAC: UMAC DataOffset 0x200 LogAddr 0x20000400 BaseAddress 0x20000000 -> "
                "metaOffset 0x600\n"
                "[DBG]     Log: pFormattedString 0x20000600 pFileName 0x20000640 module 0 line 10 "
                "level 3\n"
                "[DBG]          filenameOffset: 0x840\n"
                "[DBG]          formatStrOffset: 0x800\n"
                "[DBG] LOG DATA: timestamp 2 log_type 0 log_addr 20000400 param0 7 param1 0\n"
                "[DBG]     Offsets: meta 600, filename 840 formatstr 800\n"
                "[DBG]     Filename: fw/5.1.c Format:\"release 5.1 value %u\n\"\n"
                "[DBG]     Log Meta: pFormattedString 536872448 module 0 line 10 pFileName "
                "536872512 level 3\n\n" +
                decoded(2, "d1", "UMAC   :INFO1  ", "fw/5.1.c", 10, "release 5.1 value 7") +
                "[DBG] good() 0 bad() 0 eof() 1 fail() 1\n"
                "[DBG] Deleting device \"d1\"\n");
  EXPECT_EQ(result.err, "");
}

// A build that became a FIFO after the folder was indexed is not waited for when a device needs
// it: it is named, and the device is decoded as if the library had no build for it.
TEST_F(FirmwareLibraryE2E, ABuildReplacedByAFifoDuringTheRunIsNotWaitedFor) {
  KivLiveRun run(dir.path(), {"-v", "1", "-F", "builds"}, dir.file("err"));
  const std::string first = announce("d1", "5.1") + "\n";
  run.send(first);
  ASSERT_EQ(run.waitForOutput(skipped + first), skipped + first);
  ASSERT_EQ(unlink(dir.file("builds/b.elf").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.file("builds/b.elf").c_str(), 0644), 0);
  const std::string second = announce("d2", "5.2") + "\n";
  run.send(second);
  const std::string all =
      skipped + first + "[WRN] Firmware build builds/b.elf cannot be opened again\n" + second;
  ASSERT_EQ(run.waitForOutput(all), all);
  EXPECT_EQ(run.wait(), 0);
  EXPECT_EQ(dir.read("err"), "");
}

TEST_F(FirmwareLibraryE2E, AFolderThatCannotBeReadIsACommandLineError) {
  const KivRunResult result = run({"-F", "missing"}, "");
  EXPECT_EQ(result.err, "kivlog: cannot read firmware folder missing: No such file or directory\n");
  EXPECT_EQ(result.out.rfind("Version: ", 0), 0u);
  EXPECT_EQ(result.status, 1);
}

}  // namespace

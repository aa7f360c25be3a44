// Runs the built kivlog on the standard combined image and checks every byte it leaves behind:
// standard output, standard error, exit status and the output folder's files.
#include <gtest/gtest.h>

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
using Files = std::vector<std::pair<std::string, std::string>>;

const std::string kLevel3 = "[DBG] Debug level is set 3\n";
const std::string kBothCompatible =
    "[DBG] Device description to FW check UMAC compatible\n"
    "[DBG] Device description to FW check LMAC compatible\n";

// What -v 3 shows for a descriptor line that announces a new device with the images' versions.
std::string announced(int line, const std::string& id, const std::string& personalLog) {
  return "[DBG] Found version delimiter at line " + std::to_string(line) +
         "\n[DBG] Got new or existing device " + id + "\n[DBG] Inserting entirely new device " +
         id + "\n[DBG] Using personal log " + personalLog + "\n" + kBothCompatible;
}

class ProcessorE2ETest : public ::testing::Test {
 protected:
  void SetUp() override { writeImage(dir.path()); }

  KivRunResult run(std::vector<std::string> args, std::string input) const {
    return runKivlogIn(dir.path(), std::move(args), std::move(input));
  }

  // Every file in `folder`, by name, with its content.
  void expectFolder(const std::string& folder, const Files& expected) const {
    std::vector<std::string> names;
    for (const auto& entry : expected) {
      names.push_back(entry.first);
    }
    ASSERT_EQ(dir.list(folder), names);
    for (const auto& [name, content] : expected) {
      EXPECT_EQ(dir.read(folder + "/" + name), content) << name;
    }
  }

  KivTempDir dir;
};

// A day of two wifi devices and a legacy device without an id: wlan0 runs the images' firmware,
// wlan1 announces an older LMAC, wlan2 logs before it announces itself, and the id-less device
// never announces itself.
struct RealisticLog {
  const std::string l1 = "Jan 01 00:00:00 host: driver loaded";
  const std::string l2 = "Jan 01 00:00:01 host: " + descriptorLine("wlan0");
  const std::string l3 = "Jan 01 00:00:02 host: " + dataLine("wlan0", 1000, kUmacValue, 7, 255);
  const std::string l4 = dataLine("wlan2", 1100, kLmacDone, 0, 0);
  const std::string l5 = "Jan 01 00:00:03 host: link up";
  const std::string l6 = descriptorLine("wlan1", umacVersion(), otherLmacVersion());
  const std::string l7 = "Jan 01 00:00:04 host: " + dataLine("wlan1", 1200, kUmacPercent, 42, 0);
  const std::string l9 = dataLine(std::nullopt, 1300, kUmacValue, 1, 16);
  const std::string l10 = descriptorLine("wlan2");
  const std::string l11 = dataLine("wlan2", 1400, 3, kLmacDone.address, 0, 0);
  const std::string l12 = dataLine("wlan1", 1500, kLmacDone, 0, 0);
  const std::string l13 = "Jan 01 00:00:09 host: shutting down";

  const std::string d3 =
      "Jan 01 00:00:02 host:        1000 FW_LOG [ID:wlan0] [UMAC   :INFO1  ] "
      "[fw/src/main.c                 :   42]: value=7 count=ff\n";
  const std::string d4 =
      "       1100 FW_LOG [ID:wlan2] [LMAC   :CRITICAL] [lmac/src/calibration/rf_power_:65535]: "
      "done\n";
  const std::string d7 =
      "Jan 01 00:00:04 host:        1200 FW_LOG [ID:wlan1] [UMAC   :WARNING] "
      "[fw/src/stats.c                :   77]: load 42%\n";
  const std::string d9 =
      "       1300 FW_LOG [UMAC   :INFO1  ] [fw/src/main.c                 :   42]: value=1 "
      "count=10\n";
  const std::string d11 =
      "       1400 FW_LOG [ID:wlan2] [LMAC_CR:CRITICAL] [lmac/src/calibration/rf_power_:65535]: "
      "done\n";
  const std::string d12 =
      "       1500 FW_LOG [ID:wlan1] [LMAC   :CRITICAL] [lmac/src/calibration/rf_power_:65535]: "
      "done\n";

  std::string input() const {
    return rawLog({l1, l2, l3, l4, l5, l6, l7, "", l9, l10, l11, l12, l13});
  }
  std::string decoded() const {
    return rawLog({l1, l2}) + d3 + d4 + rawLog({l5, l6}) + d7 + "\n" + d9 + rawLog({l10}) + d11 +
           d12 + rawLog({l13});
  }
  std::string warnings() const { return unknownWarning(1) + mismatchError(2) + unknownWarning(1); }
};

TEST_F(ProcessorE2ETest, RealisticLogIsDecodedToStandardOutputWithWarningsOnStandardError) {
  const RealisticLog log;
  const KivRunResult result = run({}, log.input());
  EXPECT_EQ(result.out, log.decoded());
  EXPECT_EQ(result.err, log.warnings());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"kiv_log.elf"});
}

TEST_F(ProcessorE2ETest, RealisticLogGoesToTheFolderAndTheReportToStandardOutput) {
  const RealisticLog log;
  dir.makeDir("out");
  const KivRunResult result = run({"-r", "-o", "out"}, log.input());
  EXPECT_EQ(result.out, usingBlock("stdin", "out") + kImageReport + "Device: \n" +
                            unknownWarning(1) + kUnversioned + counters(9, 9, 0, 1, 0, 1, 0) +
                            "Device: wlan0\n" + kCompatible + counters(2, 3, 0, 1, 0, 0, 0) +
                            "Device: wlan1\n" + mismatchError(2) + kIncompatible +
                            counters(6, 12, 0, 2, 2, 0, 0) + "Device: wlan2\n" + unknownWarning(1) +
                            kCompatible + counters(4, 11, 0, 2, 0, 1, 0));
  EXPECT_EQ(result.err, log.warnings());
  EXPECT_EQ(result.status, 0);
  // Host lines reach the personal logs of the devices that exist when they are read; the line
  // before the first device and the id-less device's lines reach the main log only.
  expectFolder(
      "out",
      {{"HostAndFirmware.log", log.decoded()},
       {"wlan0_personal.log", rawLog({log.l2}) + log.d3 + rawLog({log.l5, "", log.l13})},
       {"wlan1_personal.log", rawLog({log.l6}) + log.d7 + "\n" + log.d12 + rawLog({log.l13})},
       {"wlan2_personal.log",
        log.d4 + rawLog({log.l5, "", log.l10}) + log.d11 + rawLog({log.l13})}});
}

TEST_F(ProcessorE2ETest, StrictMatchingPassesMismatchedAndUnannouncedLinesThroughUnchanged) {
  const RealisticLog log;
  dir.makeDir("out");
  const KivRunResult result = run({"-s", "-r", "-o", "out"}, log.input());
  // wlan1 skips its mismatched lines without an error line; lines of devices not announced yet
  // reach the main log unchanged and create no device.
  EXPECT_EQ(result.out, usingBlock("stdin", "out") + kImageReport + "Device: wlan0\n" +
                            kCompatible + counters(2, 3, 0, 1, 0, 0, 0) + "Device: wlan1\n" +
                            kIncompatible + counters(6, 12, 2, 0, 2, 0, 0) + "Device: wlan2\n" +
                            kCompatible + counters(10, 11, 0, 1, 0, 0, 0));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  expectFolder(
      "out",
      {{"HostAndFirmware.log", rawLog({log.l1, log.l2}) + log.d3 +
                                   rawLog({log.l4, log.l5, log.l6, log.l7, "", log.l9, log.l10}) +
                                   log.d11 + rawLog({log.l12, log.l13})},
       {"wlan0_personal.log", rawLog({log.l2}) + log.d3 + rawLog({log.l5, "", log.l13})},
       {"wlan1_personal.log", rawLog({log.l6, log.l7, "", log.l12, log.l13})},
       {"wlan2_personal.log", rawLog({log.l10}) + log.d11 + rawLog({log.l13})}});
}

TEST_F(ProcessorE2ETest, DebugTraceFollowsDevicesFromCreationToDeletionAndStaysOutOfTheMainLog) {
  dir.makeDir("out");
  const std::string l1 = dataLine("b", 1, kLmacDone, 0, 0);
  // A second line of the same device creates nothing; its log type fails the record.
  const std::string l2 = dataLine("b", 2, 4, kUmacValue.address, 0, 0);
  const std::string l3 = descriptorLine("a");
  const std::string l4 = descriptorLine("b");
  const std::string l5 = descriptorLine(std::nullopt);
  const KivRunResult result = run({"-v", "3", "-o", "out"}, rawLog({l1, l2, l3, l4, l5, "host"}));
  EXPECT_EQ(result.out,
            kLevel3 + loadTrace() +
                "[DBG] Output to folder is desired\n"
                "[DBG] Directory out exists.\n"
                "[DBG] Using main log out/HostAndFirmware.log\n"
                "[DBG] Create unversioned device b\n"
                "[DBG] Using personal log out/b_personal.log\n"
                "[DBG] Created data log from " +
                l1 +
                "\n"
                "[DBG] MAC: LMAC DataOffset 0x1000 LogAddr 0x400400 BaseAddress 0x400000 -> "
                "metaOffset 0x1400\n"
                "[DBG]     Log: pFormattedString 0x400500 pFileName 0x400540 module 9 line 65535 "
                "level 0\n"
                "[DBG]          filenameOffset: 0x1540\n"
                "[DBG]          formatStrOffset: 0x1500\n"
                "[DBG] LOG DATA: timestamp 1 log_type 2 log_addr 400400 param0 0 param1 0\n"
                "[DBG]     Offsets: meta 1400, filename 1540 formatstr 1500\n"
                "[DBG]     Filename: lmac/src/calibration/rf_power_tables_load.c Format:\"done\n"
                "\"\n"
                "[DBG]     Log Meta: pFormattedString 4195584 module 9 line 65535 pFileName "
                "4195648 level 0\n"
                "\n"
                "[DBG] Created data log from " +
                l2 + "\n[ERR] Log type 4 not supported (macNumber 2 a_size 2)\n" +
                announced(3, "a", "out/a_personal.log") +
                "[DBG] Found version delimiter at line 4\n"
                "[DBG] Got new or existing device b\n"
                "[DBG] b already exists. Update existing\n" +
                kBothCompatible +
                "[DBG] Found version delimiter at line 5\n"
                "[DBG] Got new or existing device EMPTY-BACKWARDS-COMPATIBILITY\n"
                "[DBG] Inserting entirely new device \n" +
                kBothCompatible +
                "[DBG] good() 0 bad() 0 eof() 1 fail() 1\n"
                "[DBG] Deleting device \"\"\n"
                "[DBG] Deleting device \"a\"\n"
                "[DBG] Deleting device \"b\"\n");
  EXPECT_EQ(result.err, unknownWarning(2));
  EXPECT_EQ(result.status, 0);
  const std::string d1 =
      "          1 FW_LOG [ID:b] [LMAC   :CRITICAL] [lmac/src/calibration/rf_power_:65535]: done\n";
  expectFolder("out", {{"HostAndFirmware.log", d1 + rawLog({l3, l4, l5, "host"})},
                       {"a_personal.log", rawLog({l3, "host"})},
                       {"b_personal.log", d1 + rawLog({l4, "host"})}});
}

TEST_F(ProcessorE2ETest, RefusedAndUnannouncedLinesAreReportedAndStillWrittenOut) {
  const std::string data = dataLine("x", 5, kUmacValue, 1, 2);
  const std::string four = data.substr(0, data.rfind('['));
  const std::string both = "[FW_ELF_VER] " + data;
  const std::string thirteen = descriptorLine("d").substr(0, descriptorLine("d").rfind('['));
  const std::string noId = "[ERR] Failed to get expected device id from ";
  const std::string noDevice = "[ERR] Failed to detokenize device descriptor line ";
  const std::string report = usingBlock("stdin", "stdout") + kImageReport;
  const struct {
    std::vector<std::string> args;
    std::string input, out, err;
  } cases[] = {
      {{}, "[FW_ELF_VER]\nnext\n", noId + "line [FW_ELF_VER]\n[FW_ELF_VER]\nnext\n", ""},
      {{}, "x [FW_ELF_VER][ID:d\n", noId + "line x [FW_ELF_VER][ID:d\nx [FW_ELF_VER][ID:d\n", ""},
      {{},
       "up [FW_LOG-R] down\nnext\n",
       noId + "up [FW_LOG-R] down\nup [FW_LOG-R] down\nnext\n",
       ""},
      // Under strict matching a malformed data line of a new id creates no device.
      {{"-s", "-r"},
       four + "\n",
       "[ERR] Failed to detokenize data log line " + four + "\n" + four + "\n" + report,
       ""},
      {{"-r"},
       thirteen + "\n",
       noDevice + thirteen + "\n[ERR] Failed create device from log line " + thirteen + "\n" +
           thirteen + "\n" + report,
       ""},
      // A refused descriptor line is still decoded as a data line.
      {{},
       both + "\n",
       noDevice + both + "\n[ERR] Failed create device from log line " + both +
           "\n[FW_ELF_VER]           5 FW_LOG [ID:x] [UMAC   :INFO1  ] "
           "[fw/src/main.c                 :   42]: value=1 count=2\n",
       unknownWarning(1)},
      // Under strict matching a data line of a device no descriptor announced is written through
      // unchanged and counts nowhere.
      {{"-s", "-r"}, data + "\n", data + "\n" + report, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kivShownArgs(c.args) + " with " + c.input);
    const KivRunResult result = run(c.args, c.input);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, 0);
  }
}

TEST_F(ProcessorE2ETest, NewIdWithFourTokensGetsADeviceAndTheLineAsHostLine) {
  dir.makeDir("out");
  const std::string bad = dataLine("n", 1, kUmacValue, 7, 8);
  const std::string four = bad.substr(0, bad.rfind('['));
  const KivRunResult result = run({"-r", "-o", "out"}, rawLog({four, "host"}));
  EXPECT_EQ(result.out, "[ERR] Failed to detokenize data log line " + four + "\n" +
                            usingBlock("stdin", "out") + kImageReport + "Device: n\n" +
                            kUnversioned + counters(1, 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  expectFolder("out", {{"HostAndFirmware.log", rawLog({four, "host"})},
                       {"n_personal.log", rawLog({four, "host"})}});
}

TEST_F(ProcessorE2ETest, SecondDescriptorUpdatesTheDeviceWithoutTruncatingItsPersonalLog) {
  dir.makeDir("out");
  const std::string l1 = descriptorLine("dev1");
  const std::string l2 = dataLine("dev1", 10, kUmacPercent, 5, 0);
  const std::string l3 = descriptorLine("dev1", umacVersion(), otherLmacVersion());
  const std::string l4 = dataLine("dev1", 11, kUmacPercent, 6, 0);
  const KivRunResult result = run({"-r", "-o", "out"}, rawLog({l1, l2, "host", l3, l4}));
  EXPECT_EQ(result.out, usingBlock("stdin", "out") + kImageReport + "Device: dev1\n" +
                            "*** ERROR: 1 lines processed with mismatched ELF version\n" +
                            kIncompatible + counters(1, 5, 0, 2, 1, 0, 0));
  EXPECT_EQ(result.err, "*** ERROR: 1 lines processed with mismatched ELF version\n");
  const std::string all =
      rawLog({l1}) +
      "         10 FW_LOG [ID:dev1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 5%\n" +
      rawLog({"host", l3}) +
      "         11 FW_LOG [ID:dev1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 6%\n";
  expectFolder("out", {{"HostAndFirmware.log", all}, {"dev1_personal.log", all}});
}

TEST_F(ProcessorE2ETest, FolderPathWithTrailingSlashDoublesTheSlashAndOldLogsAreTruncated) {
  dir.write("out/HostAndFirmware.log", std::string(5000, 'o') + "\n");
  dir.write("out/dev1_personal.log", std::string(5000, 'p') + "\n");
  const std::string d = descriptorLine("dev1");
  const KivRunResult result = run({"-v", "3", "-o", "out/"}, rawLog({d}));
  EXPECT_EQ(result.out, kLevel3 + loadTrace() +
                            "[DBG] Output to folder is desired\n"
                            "[DBG] Directory out/ exists.\n"
                            "[DBG] Using main log out//HostAndFirmware.log\n" +
                            announced(1, "dev1", "out//dev1_personal.log") +
                            "[DBG] good() 0 bad() 0 eof() 1 fail() 1\n"
                            "[DBG] Deleting device \"dev1\"\n");
  expectFolder("out", {{"HostAndFirmware.log", rawLog({d})}, {"dev1_personal.log", rawLog({d})}});
}

TEST_F(ProcessorE2ETest, FolderWhereTheMainLogCannotBeCreatedFallsBackWithoutPersonalLogs) {
  // A folder in the main log's place cannot be opened for writing, even by root.
  dir.makeDir("out/HostAndFirmware.log");
  const std::string d = descriptorLine("dev1");
  const KivRunResult result = run({"-v", "2", "-o", "out"}, rawLog({d, "host"}));
  EXPECT_EQ(result.out,
            "[ERR] Unable to open main output stream out/HostAndFirmware.log\n"
            "[INF] Directory out is not available. Output is sent to stdout by default\n" +
                rawLog({d, "host"}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(dir.list("out"), std::vector<std::string>{"HostAndFirmware.log"});
  EXPECT_EQ(dir.list("out/HostAndFirmware.log"), std::vector<std::string>{});
}

TEST_F(ProcessorE2ETest, PersonalLogNamesEscapeSlashAndPercentAndStayInTheFolder) {
  dir.makeDir("out");
  const std::string a = descriptorLine("a/b");
  const std::string b = descriptorLine("a%2Fb");
  const std::string c = descriptorLine("../x");
  const KivRunResult result = run({"-o", "out"}, rawLog({a, b, c, "host"}));
  EXPECT_EQ(result.out + result.err, "");
  expectFolder("out", {{"..%2Fx_personal.log", rawLog({c, "host"})},
                       {"HostAndFirmware.log", rawLog({a, b, c, "host"})},
                       {"a%252Fb_personal.log", rawLog({b, "host"})},
                       {"a%2Fb_personal.log", rawLog({a, "host"})}});
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"kiv_log.elf", "out"}));
}

// The message names the path actually tried: the escaped one.
TEST_F(ProcessorE2ETest, DeviceWhosePersonalLogCannotBeOpenedWritesToTheMainLogOnly) {
  dir.makeDir("out");
  const std::string longName(300, 'x');  // longer than a file name may be
  const std::string d = descriptorLine(longName + "/%");
  const KivRunResult result = run({"-o", "out"}, rawLog({d, "host"}));
  EXPECT_EQ(result.out, "[ERR] Unable to open personal log output stream out/" + longName +
                            "%2F%25_personal.log\n");
  EXPECT_EQ(result.status, 0);
  expectFolder("out", {{"HostAndFirmware.log", rawLog({d, "host"})}});
}

// Reads the file until it holds `expected` or a few seconds have passed.
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

using ProcessorE2ELiveTest = ProcessorE2ETest;

TEST_F(ProcessorE2ELiveTest, EachLineShowsOnStandardOutputBeforeTheInputEnds) {
  KivLiveRun tool(dir.path(), {}, dir.file("stderr.txt"));
  tool.send("first host line\n");
  EXPECT_EQ(tool.waitForOutput("first host line\n"), "first host line\n");
  const std::string decoded =
      "          7 FW_LOG [ID:dev1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 3%\n";
  tool.send(dataLine("dev1", 7, kUmacPercent, 3, 0) + "\n");
  EXPECT_EQ(tool.waitForOutput("first host line\n" + decoded), "first host line\n" + decoded);
  EXPECT_EQ(tool.wait(), 0);
  EXPECT_EQ(dir.read("stderr.txt"), unknownWarning(1));
}

TEST_F(ProcessorE2ELiveTest, EachLineReachesTheMainLogAndPersonalLogBeforeTheInputEnds) {
  dir.makeDir("out");
  KivLiveRun tool(dir.path(), {"-o", "out"}, dir.file("stderr.txt"));
  const std::string d = descriptorLine("dev1");
  tool.send(d + "\nhost\n");
  const std::string first = rawLog({d, "host"});
  EXPECT_EQ(waitForFile(dir, "out/HostAndFirmware.log", first), first);
  EXPECT_EQ(waitForFile(dir, "out/dev1_personal.log", first), first);
  tool.send(dataLine("dev1", 8, kUmacPercent, 4, 0) + "\n");
  const std::string second =
      first +
      "          8 FW_LOG [ID:dev1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 4%\n";
  EXPECT_EQ(waitForFile(dir, "out/HostAndFirmware.log", second), second);
  EXPECT_EQ(waitForFile(dir, "out/dev1_personal.log", second), second);
  EXPECT_EQ(tool.wait(), 0);
  EXPECT_EQ(dir.read("stderr.txt"), "");
}

TEST_F(ProcessorE2ELiveTest, WarningLinesFollowEverythingWrittenBeforeThemOnASharedPipe) {
  const std::string data = dataLine("a", 7, kUmacPercent, 3, 0);
  const std::string decoded =
      "          7 FW_LOG [ID:a] [UMAC   :WARNING] [fw/src/stats.c                :   77]: load "
      "3%\n";
  for (const bool report : {false, true}) {
    KivLiveRun tool(dir.path(),
                    report ? std::vector<std::string>{"-r"} : std::vector<std::string>{}, "");
    tool.send(rawLog({data, "host"}));
    EXPECT_EQ(tool.wait(), 0);
    const std::string expected = report ? decoded + "host\n" + usingBlock("stdin", "stdout") +
                                              kImageReport + "Device: a\n" + unknownWarning(1) +
                                              unknownWarning(1) + kUnversioned +
                                              counters(1, 1, 0, 1, 0, 1, 0)
                                        : decoded + "host\n" + unknownWarning(1);
    EXPECT_EQ(tool.waitForOutput(expected), expected) << report;
  }
}

}  // namespace

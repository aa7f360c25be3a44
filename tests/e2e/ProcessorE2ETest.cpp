// Runs the built kivlog on the standard combined image and checks every byte it leaves behind:
// standard output, standard error, exit status and the output folder's files.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using kivsample::dataLine;
using kivsample::descriptorLine;
using kivsample::kLmacDone;
using kivsample::kUmacPercent;
using kivsample::kUmacValue;
using kivsample::otherLmacVersion;
using kivsample::rawLog;
using kivsample::umacVersion;
using Files = std::vector<std::pair<std::string, std::string>>;

// What -v 3 prints while the two standard images load.
std::string loadTrace() {
  const std::string zeros =
      "    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00     ................\n";
  const std::string tail =
      "    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00        ...............\n";
  std::string six;
  for (int i = 0; i < 6; ++i) {
    six += zeros;
  }
  return "[DBG] Debug level is set 3\n"
         "[DBG] Searching for signature \"FAST_LOG_UMAC__\"\n"
         "[DBG] Found signature at 110\n"
         "[DBG] Reading additional 127 bytes of signature struct\n"
         "[DBG] SIGNATURE:(143 bytes)\n" +
         zeros + "    00 00 00 20 00 02 00 20 00 00 00 00 00 00 00 00     ... ... ........\n" +
         six + tail +
         "[DBG] Got baseAddress 20000000 versionAddress 20000200 dataOffset 100 pos 10F\n"
         "[DBG] Version read from offset 300\n"
         "[DBG] Searching for signature \"FAST_LOG_LMAC__\"\n"
         "[DBG] Found signature at 1010\n"
         "[DBG] Reading additional 127 bytes of signature struct\n"
         "[DBG] SIGNATURE:(143 bytes)\n" +
         zeros + "    00 00 40 00 00 03 40 00 00 00 00 00 00 00 00 00     ..@...@.........\n" +
         six + tail +
         "[DBG] Got baseAddress 400000 versionAddress 400300 dataOffset 1000 pos 100F\n"
         "[DBG] Version read from offset 1300\n";
}

std::string usingBlock(const std::string& input, const std::string& output) {
  return "\n\nUsing:\n  KIV_LOG ELF kiv_log.elf\n  Input    " + input + "\n  Output   " + output +
         "\n";
}

const std::string kImageReport =
    "[UMAC]\n"
    "    Data Offset=100 Base Address=20000000 Version Address=20000200\n"
    "    VERSION KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 prod\n"
    "[LMAC]\n"
    "    Data Offset=1000 Base Address=400000 Version Address=400300\n"
    "    VERSION LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release g7c1e9a0 prod\n"
    "\n";
const std::string kCompatible =
    "    UMAC COMPATIBLE version KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 prod\n"
    "    LMAC COMPATIBLE version LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release g7c1e9a0 "
    "prod\n\n";
const std::string kIncompatible =
    "    UMAC *INCOMPATIBLE* version KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 "
    "prod\n"
    "    LMAC *INCOMPATIBLE* version LMAC-FW-7.2.015.4.3.0.2150 Mar 20 2026 14:03:40 release "
    "g7c1e9a0 prod\n\n";
const std::string kUnversioned = "    UMAC    LMAC\n";
const std::string kUnknownWarning = "*** WARNING: 1 lines processed with unknown ELF version\n";

struct Counters {
  unsigned lineStart, lineEnd, skipped, processed, mismatch, unknown, errors;
};

std::string counters(const Counters& c) {
  auto row = [](const char* label, unsigned value) {
    return std::string(label) + std::to_string(value) + "\n";
  };
  return row("    Line Start:       ", c.lineStart) + row("    Line End:         ", c.lineEnd) +
         row("    Skipped:          ", c.skipped) + row("    Processed:        ", c.processed) +
         row("    Version mismatch: ", c.mismatch) + row("    Version Unknown:  ", c.unknown) +
         row("    Errors:           ", c.errors);
}

std::string lines(std::initializer_list<std::string_view> parts) {
  return rawLog(parts);
}

class ProcessorE2ETest : public ::testing::Test {
 protected:
  void SetUp() override { kivsample::writeImage(dir.path()); }

  KivRunResult run(std::vector<std::string> args, std::string input) const {
    KivRunOptions options;
    options.args = std::move(args);
    options.input = std::move(input);
    options.workingDirectory = dir.path();
    options.timeout = std::chrono::milliseconds(20000);
    return runKivlog(options);
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
  const std::string l7 = dataLine("wlan1", 1200, kUmacPercent, 42, 0);
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
      "       1200 FW_LOG [ID:wlan1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 42%\n";
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
    return lines({l1, l2, l3, l4, l5, l6, l7, "", l9, l10, l11, l12, l13});
  }
  std::string decoded() const {
    return lines({l1, l2}) + d3 + d4 + lines({l5, l6}) + d7 + "\n" + d9 + lines({l10}) + d11 + d12 +
           lines({l13});
  }
  std::string warnings() const {
    return kUnknownWarning + "*** ERROR: 2 lines processed with mismatched ELF version\n" +
           kUnknownWarning;
  }
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
  EXPECT_EQ(result.out, usingBlock("stdin", "out") + kImageReport + "Device: \n" + kUnknownWarning +
                            kUnversioned + counters({9, 9, 0, 1, 0, 1, 0}) + "Device: wlan0\n" +
                            kCompatible + counters({2, 3, 0, 1, 0, 0, 0}) + "Device: wlan1\n" +
                            "*** ERROR: 2 lines processed with mismatched ELF version\n" +
                            kIncompatible + counters({6, 12, 0, 2, 2, 0, 0}) + "Device: wlan2\n" +
                            kUnknownWarning + kCompatible + counters({4, 11, 0, 2, 0, 1, 0}));
  EXPECT_EQ(result.err, log.warnings());
  EXPECT_EQ(result.status, 0);
  // Host lines reach the personal logs of the devices that exist when they are read; the line
  // before the first device and the id-less device's lines reach the main log only.
  expectFolder(
      "out",
      {{"HostAndFirmware.log", log.decoded()},
       {"wlan0_personal.log", lines({log.l2}) + log.d3 + lines({log.l5, "", log.l13})},
       {"wlan1_personal.log", lines({log.l6}) + log.d7 + "\n" + log.d12 + lines({log.l13})},
       {"wlan2_personal.log", log.d4 + lines({log.l5, "", log.l10}) + log.d11 + lines({log.l13})}});
}

TEST_F(ProcessorE2ETest, StrictMatchingPassesMismatchedAndUnannouncedLinesThroughUnchanged) {
  const RealisticLog log;
  dir.makeDir("out");
  const KivRunResult result = run({"-s", "-r", "-o", "out"}, log.input());
  // wlan1 skips its mismatched lines without an error line; lines of devices not announced yet
  // reach the main log unchanged and create no device.
  EXPECT_EQ(result.out, usingBlock("stdin", "out") + kImageReport + "Device: wlan0\n" +
                            kCompatible + counters({2, 3, 0, 1, 0, 0, 0}) + "Device: wlan1\n" +
                            kIncompatible + counters({6, 12, 2, 0, 2, 0, 0}) + "Device: wlan2\n" +
                            kCompatible + counters({10, 11, 0, 1, 0, 0, 0}));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  expectFolder(
      "out",
      {{"HostAndFirmware.log", lines({log.l1, log.l2}) + log.d3 +
                                   lines({log.l4, log.l5, log.l6, log.l7, "", log.l9, log.l10}) +
                                   log.d11 + lines({log.l12, log.l13})},
       {"wlan0_personal.log", lines({log.l2}) + log.d3 + lines({log.l5, "", log.l13})},
       {"wlan1_personal.log", lines({log.l6, log.l7, "", log.l12, log.l13})},
       {"wlan2_personal.log", lines({log.l10}) + log.d11 + lines({log.l13})}});
}

TEST_F(ProcessorE2ETest, DebugTraceFollowsDevicesFromCreationToDeletionAndStaysOutOfTheMainLog) {
  dir.makeDir("out");
  const std::string l1 = dataLine("b", 1, kLmacDone, 0, 0);
  const std::string l2 = descriptorLine("a");
  const std::string l3 = descriptorLine("b");
  const std::string l4 = descriptorLine(std::nullopt);
  const KivRunResult result = run({"-v", "3", "-o", "out"}, lines({l1, l2, l3, l4, "host"}));
  const std::string bothCompatible =
      "[DBG] Device description to FW check UMAC compatible\n"
      "[DBG] Device description to FW check LMAC compatible\n";
  EXPECT_EQ(result.out,
            loadTrace() +
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
                "[DBG] Found version delimiter at line 2\n"
                "[DBG] Got new or existing device a\n"
                "[DBG] Inserting entirely new device a\n"
                "[DBG] Using personal log out/a_personal.log\n" +
                bothCompatible +
                "[DBG] Found version delimiter at line 3\n"
                "[DBG] Got new or existing device b\n"
                "[DBG] b already exists. Update existing\n" +
                bothCompatible +
                "[DBG] Found version delimiter at line 4\n"
                "[DBG] Got new or existing device EMPTY-BACKWARDS-COMPATIBILITY\n"
                "[DBG] Inserting entirely new device \n" +
                bothCompatible +
                "[DBG] good() 0 bad() 0 eof() 1 fail() 1\n"
                "[DBG] Deleting device \"\"\n"
                "[DBG] Deleting device \"a\"\n"
                "[DBG] Deleting device \"b\"\n");
  EXPECT_EQ(result.err, kUnknownWarning);
  EXPECT_EQ(result.status, 0);
  const std::string d1 =
      "          1 FW_LOG [ID:b] [LMAC   :CRITICAL] [lmac/src/calibration/rf_power_:65535]: done\n";
  expectFolder("out", {{"HostAndFirmware.log", d1 + lines({l2, l3, l4, "host"})},
                       {"a_personal.log", lines({l2, "host"})},
                       {"b_personal.log", d1 + lines({l3, "host"})}});
}

struct LineCase {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  std::string out;
  std::string err;
  int status;
};

std::string descriptorWithoutLastToken(const std::string& id) {
  const std::string line = descriptorLine(id);
  return line.substr(0, line.rfind('['));
}

const std::string kBothMarkers = "[FW_ELF_VER] " + dataLine("x", 5, kUmacValue, 1, 2);
const std::string kThirteenTokens = descriptorWithoutLastToken("d");
const std::string kStrictData = dataLine("x", 5, kUmacValue, 1, 2);

class ProcessorE2ELineTest : public ProcessorE2ETest,
                             public ::testing::WithParamInterface<LineCase> {};

TEST_P(ProcessorE2ELineTest, LineEndsUpAsExpected) {
  const LineCase& c = GetParam();
  const KivRunResult result = run(c.args, c.input);
  EXPECT_EQ(result.out, c.out);
  EXPECT_EQ(result.err, c.err);
  EXPECT_EQ(result.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    ProcessorE2E, ProcessorE2ELineTest,
    ::testing::Values(
        LineCase{
            "DescriptorMarkerAloneIsReportedAndWrittenAsHostLine",
            {},
            "[FW_ELF_VER]\nnext\n",
            "[ERR] Failed to get expected device id from line [FW_ELF_VER]\n[FW_ELF_VER]\nnext\n",
            "",
            0},
        LineCase{"DataMarkerAloneIsReportedAndWrittenAsHostLine",
                 {},
                 "[FW_LOG-R]\nnext\n",
                 "[ERR] Failed to get expected device id from [FW_LOG-R]\n[FW_LOG-R]\nnext\n",
                 "",
                 0},
        LineCase{"DescriptorWithThirteenTokensCreatesNoDevice",
                 {"-r"},
                 kThirteenTokens + "\n",
                 "[ERR] Failed to detokenize device descriptor line " + kThirteenTokens +
                     "\n[ERR] Failed create device from log line " + kThirteenTokens + "\n" +
                     kThirteenTokens + "\n" + usingBlock("stdin", "stdout") + kImageReport,
                 "",
                 0},
        LineCase{"RefusedDescriptorIsStillDecodedAsDataLine",
                 {},
                 kBothMarkers + "\n",
                 "[ERR] Failed to detokenize device descriptor line " + kBothMarkers +
                     "\n[ERR] Failed create device from log line " + kBothMarkers +
                     "\n[FW_ELF_VER]           5 FW_LOG [ID:x] [UMAC   :INFO1  ] "
                     "[fw/src/main.c                 :   42]: value=1 count=2\n",
                 kUnknownWarning,
                 0},
        LineCase{"StrictRunWritesUnannouncedDeviceLineUnchangedAndCountsNothing",
                 {"-s", "-r"},
                 kStrictData + "\n",
                 kStrictData + "\n" + usingBlock("stdin", "stdout") + kImageReport,
                 "",
                 0},
        LineCase{"NonStrictRunDecodesTheSameLineForANewUnversionedDevice",
                 {"-r"},
                 kStrictData + "\n",
                 "          5 FW_LOG [ID:x] [UMAC   :INFO1  ] [fw/src/main.c                 :   "
                 "42]: value=1 count=2\n" +
                     usingBlock("stdin", "stdout") + kImageReport + "Device: x\n" +
                     kUnknownWarning + kUnversioned + counters({1, 1, 0, 1, 0, 1, 0}),
                 kUnknownWarning,
                 0},
        LineCase{"InputFolderIsARawLogThatCannotBeOpened",
                 {"-r", "-i", "."},
                 "",
                 "[ERR] Unable to open raw log file .\n" + usingBlock(".", "stdout") + kImageReport,
                 "",
                 1},
        LineCase{"MissingInputFileStillPrintsTheReport",
                 {"-r", "-i", "missing.log"},
                 "",
                 "[ERR] Unable to open raw log file missing.log\n" +
                     usingBlock("missing.log", "stdout") + kImageReport,
                 "",
                 1}),
    [](const ::testing::TestParamInfo<LineCase>& param) { return std::string(param.param.name); });

TEST_F(ProcessorE2ETest, NewIdWithFourTokensGetsADeviceAndTheLineAsHostLine) {
  dir.makeDir("out");
  const std::string bad = dataLine("n", 1, kUmacValue, 7, 8);
  const std::string four = bad.substr(0, bad.rfind('['));
  const KivRunResult result = run({"-r", "-o", "out"}, lines({four, "host"}));
  EXPECT_EQ(result.out, "[ERR] Failed to detokenize data log line " + four + "\n" +
                            usingBlock("stdin", "out") + kImageReport + "Device: n\n" +
                            kUnversioned + counters({1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  expectFolder("out", {{"HostAndFirmware.log", lines({four, "host"})},
                       {"n_personal.log", lines({four, "host"})}});
}

TEST_F(ProcessorE2ETest, SecondDescriptorUpdatesTheDeviceWithoutTruncatingItsPersonalLog) {
  dir.makeDir("out");
  const std::string l1 = descriptorLine("dev1");
  const std::string l2 = dataLine("dev1", 10, kUmacPercent, 5, 0);
  const std::string l3 = descriptorLine("dev1", umacVersion(), otherLmacVersion());
  const std::string l4 = dataLine("dev1", 11, kUmacPercent, 6, 0);
  const KivRunResult result = run({"-r", "-o", "out"}, lines({l1, l2, "host", l3, l4}));
  EXPECT_EQ(result.out, usingBlock("stdin", "out") + kImageReport + "Device: dev1\n" +
                            "*** ERROR: 1 lines processed with mismatched ELF version\n" +
                            kIncompatible + counters({1, 5, 0, 2, 1, 0, 0}));
  EXPECT_EQ(result.err, "*** ERROR: 1 lines processed with mismatched ELF version\n");
  const std::string all =
      lines({l1}) +
      "         10 FW_LOG [ID:dev1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 5%\n" +
      lines({"host", l3}) +
      "         11 FW_LOG [ID:dev1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 6%\n";
  expectFolder("out", {{"HostAndFirmware.log", all}, {"dev1_personal.log", all}});
}

TEST_F(ProcessorE2ETest, LogsLeftByAnEarlierRunAreTruncated) {
  dir.write("out/HostAndFirmware.log", std::string(5000, 'o') + "\n");
  dir.write("out/dev1_personal.log", std::string(5000, 'p') + "\n");
  const std::string d = descriptorLine("dev1");
  EXPECT_EQ(run({"-o", "out"}, lines({d})).out, "");
  expectFolder("out", {{"HostAndFirmware.log", lines({d})}, {"dev1_personal.log", lines({d})}});
}

TEST_F(ProcessorE2ETest, FolderPathWithTrailingSlashDoublesTheSlashInLogPaths) {
  dir.makeDir("out");
  const std::string d = descriptorLine("dev1");
  const KivRunResult result = run({"-v", "3", "-o", "out/"}, lines({d}));
  EXPECT_EQ(result.out, loadTrace() +
                            "[DBG] Output to folder is desired\n"
                            "[DBG] Directory out/ exists.\n"
                            "[DBG] Using main log out//HostAndFirmware.log\n"
                            "[DBG] Found version delimiter at line 1\n"
                            "[DBG] Got new or existing device dev1\n"
                            "[DBG] Inserting entirely new device dev1\n"
                            "[DBG] Using personal log out//dev1_personal.log\n"
                            "[DBG] Device description to FW check UMAC compatible\n"
                            "[DBG] Device description to FW check LMAC compatible\n"
                            "[DBG] good() 0 bad() 0 eof() 1 fail() 1\n"
                            "[DBG] Deleting device \"dev1\"\n");
  expectFolder("out", {{"HostAndFirmware.log", lines({d})}, {"dev1_personal.log", lines({d})}});
}

struct UnusableFolderCase {
  const char* name;
  bool regularFile;
};

class ProcessorE2EUnusableFolderTest : public ProcessorE2ETest,
                                       public ::testing::WithParamInterface<UnusableFolderCase> {};

TEST_P(ProcessorE2EUnusableFolderTest, OutputFallsBackToStandardOutput) {
  if (GetParam().regularFile) {
    dir.write("target", "a file\n");
  }
  const std::string d = descriptorLine("dev1");
  const KivRunResult result = run({"-v", "2", "-r", "-o", "target"}, lines({d, "host"}));
  EXPECT_EQ(result.out,
            "[INF] Directory target is not available. Output is sent to stdout by default\n" +
                lines({d, "host"}) + usingBlock("stdin", "target") + kImageReport +
                "Device: dev1\n" + kCompatible + counters({1, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  if (GetParam().regularFile) {
    EXPECT_EQ(dir.read("target"), "a file\n");
  } else {
    EXPECT_FALSE(dir.exists("target"));
  }
}

INSTANTIATE_TEST_SUITE_P(ProcessorE2E, ProcessorE2EUnusableFolderTest,
                         ::testing::Values(UnusableFolderCase{"RegularFile", true},
                                           UnusableFolderCase{"MissingFolder", false}),
                         [](const ::testing::TestParamInfo<UnusableFolderCase>& param) {
                           return std::string(param.param.name);
                         });

TEST_F(ProcessorE2ETest, FolderWhereTheMainLogCannotBeCreatedFallsBackWithoutPersonalLogs) {
  // A folder in the main log's place cannot be opened for writing, even by root.
  dir.makeDir("out/HostAndFirmware.log");
  const std::string d = descriptorLine("dev1");
  const KivRunResult result = run({"-v", "2", "-o", "out"}, lines({d, "host"}));
  EXPECT_EQ(result.out,
            "[ERR] Unable to open main output stream out/HostAndFirmware.log\n"
            "[INF] Directory out is not available. Output is sent to stdout by default\n" +
                lines({d, "host"}));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(dir.list("out"), std::vector<std::string>{"HostAndFirmware.log"});
  EXPECT_EQ(dir.list("out/HostAndFirmware.log"), std::vector<std::string>{});
}

TEST_F(ProcessorE2ETest, PersonalLogNamesEscapeSlashAndPercentAndStayInTheFolder) {
  dir.makeDir("out");
  const std::string a = descriptorLine("a/b");
  const std::string b = descriptorLine("a%2Fb");
  const std::string c = descriptorLine("../x");
  const KivRunResult result = run({"-v", "3", "-o", "out"}, lines({a, b, c, "host"}));
  auto created = [](int line, const std::string& id, const std::string& name) {
    return "[DBG] Found version delimiter at line " + std::to_string(line) +
           "\n[DBG] Got new or existing device " + id + "\n[DBG] Inserting entirely new device " +
           id + "\n[DBG] Using personal log out/" + name +
           "\n[DBG] Device description to FW check UMAC compatible\n"
           "[DBG] Device description to FW check LMAC compatible\n";
  };
  EXPECT_EQ(result.out, loadTrace() +
                            "[DBG] Output to folder is desired\n"
                            "[DBG] Directory out exists.\n"
                            "[DBG] Using main log out/HostAndFirmware.log\n" +
                            created(1, "a/b", "a%2Fb_personal.log") +
                            created(2, "a%2Fb", "a%252Fb_personal.log") +
                            created(3, "../x", "..%2Fx_personal.log") +
                            "[DBG] good() 0 bad() 0 eof() 1 fail() 1\n"
                            "[DBG] Deleting device \"../x\"\n"
                            "[DBG] Deleting device \"a%2Fb\"\n"
                            "[DBG] Deleting device \"a/b\"\n");
  expectFolder("out", {{"..%2Fx_personal.log", lines({c, "host"})},
                       {"HostAndFirmware.log", lines({a, b, c, "host"})},
                       {"a%252Fb_personal.log", lines({b, "host"})},
                       {"a%2Fb_personal.log", lines({a, "host"})}});
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"kiv_log.elf", "out"}));
}

TEST_F(ProcessorE2ETest, DeviceWhosePersonalLogCannotBeOpenedWritesToTheMainLogOnly) {
  dir.makeDir("out");
  const std::string id(300, 'x');  // longer than a file name may be
  const std::string d = descriptorLine(id);
  const KivRunResult result = run({"-o", "out"}, lines({d, "host"}));
  EXPECT_EQ(result.out,
            "[ERR] Unable to open personal log output stream out/" + id + "_personal.log\n");
  EXPECT_EQ(result.status, 0);
  expectFolder("out", {{"HostAndFirmware.log", lines({d, "host"})}});
}

TEST_F(ProcessorE2ETest, ReportCountsStayDecimalRightAfterTheHexImageValues) {
  std::string input;
  for (unsigned i = 1; i <= 12; ++i) {
    input += dataLine("a", i, kUmacPercent, i, 0) + "\n";
  }
  dir.makeDir("out");
  const KivRunResult result = run({"-r", "-o", "out"}, input);
  const std::string warning = "*** WARNING: 12 lines processed with unknown ELF version\n";
  EXPECT_EQ(result.out, usingBlock("stdin", "out") + kImageReport + "Device: a\n" + warning +
                            kUnversioned + counters({1, 12, 0, 12, 0, 12, 0}));
  EXPECT_EQ(result.err, warning);
}

// Runs kivlog with a pipe as standard input that the test keeps open, to see what the tool writes
// while it waits for more input. Standard error goes to a file, or with `mergeErrors` into the same
// pipe as standard output, as a terminal would show both.
class LiveKivlog {
 public:
  LiveKivlog(const std::string& folder, const std::vector<std::string>& args,
             bool mergeErrors = false) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    const std::string errPath = folder + "/stderr.txt";
    std::vector<std::string> argvText{kivlogBinary()};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvText) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      const int err =
          mergeErrors ? out[1] : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err < 0 || dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err, 2) < 0 ||
          chdir(folder.c_str()) != 0) {
        _exit(126);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (pid_ < 0) {
      throw std::runtime_error("fork failed");
    }
  }
  ~LiveKivlog() {
    closeInput();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) {
      close(output_);
    }
  }
  LiveKivlog(const LiveKivlog&) = delete;
  LiveKivlog& operator=(const LiveKivlog&) = delete;

  void send(const std::string& text) {
    ASSERT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void closeInput() {
    if (input_ >= 0) {
      close(input_);
      input_ = -1;
    }
  }
  // Reads standard output until it holds as many bytes as `expected`, or a few seconds have passed.
  const std::string& waitForOutput(const std::string& expected) {
    readWhile([&] { return out_.size() < expected.size(); });
    return out_;
  }
  // Ends the input, reads standard output to its end and returns the exit status.
  int wait() {
    closeInput();
    readWhile([] { return true; });
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  template <typename More>
  void readWhile(More more) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (more() && std::chrono::steady_clock::now() < deadline) {
      pollfd fd{output_, POLLIN, 0};
      if (poll(&fd, 1, 100) > 0) {
        char buffer[4096];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n <= 0) {
          return;
        }
        out_.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string out_;
};

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

class ProcessorE2ELiveTest : public ProcessorE2ETest {
 protected:
  void SetUp() override {
    ProcessorE2ETest::SetUp();
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &oldPipeAction_);
  }
  void TearDown() override { sigaction(SIGPIPE, &oldPipeAction_, nullptr); }

 private:
  struct sigaction oldPipeAction_ {};
};

TEST_F(ProcessorE2ELiveTest, EachLineShowsOnStandardOutputBeforeTheInputEnds) {
  LiveKivlog tool(dir.path(), {});
  tool.send("first host line\n");
  EXPECT_EQ(tool.waitForOutput("first host line\n"), "first host line\n");
  const std::string decoded =
      "          7 FW_LOG [ID:dev1] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 3%\n";
  tool.send(dataLine("dev1", 7, kUmacPercent, 3, 0) + "\n");
  EXPECT_EQ(tool.waitForOutput("first host line\n" + decoded), "first host line\n" + decoded);
  EXPECT_EQ(tool.wait(), 0);
  EXPECT_EQ(dir.read("stderr.txt"), kUnknownWarning);
}

TEST_F(ProcessorE2ELiveTest, EachLineReachesTheMainLogAndPersonalLogBeforeTheInputEnds) {
  dir.makeDir("out");
  LiveKivlog tool(dir.path(), {"-o", "out"});
  const std::string d = descriptorLine("dev1");
  tool.send(d + "\nhost\n");
  const std::string first = lines({d, "host"});
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
    LiveKivlog tool(dir.path(),
                    report ? std::vector<std::string>{"-r"} : std::vector<std::string>{}, true);
    tool.send(lines({data, "host"}));
    EXPECT_EQ(tool.wait(), 0);
    const std::string expected =
        report
            ? decoded + "host\n" + usingBlock("stdin", "stdout") + kImageReport + "Device: a\n" +
                  kUnknownWarning + kUnknownWarning + kUnversioned + counters({1, 1, 0, 1, 0, 1, 0})
            : decoded + "host\n" + kUnknownWarning;
    EXPECT_EQ(tool.waitForOutput(expected), expected) << report;
  }
}

}  // namespace

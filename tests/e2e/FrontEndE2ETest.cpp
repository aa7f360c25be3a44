#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/KivImageBuilder.h"
#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;
using Args = std::vector<std::string>;

// Everything after the banner line, for a program called `program`.
std::string usageAfterBanner(const std::string& program) {
  return "Usage: " + program +
         " [-r] [-s] [-i <input file>] [-v <level>] [-o <output file>]\n"
         "                [[-l <lmac.elf>] [-u <umac.elf>] | [-f <kiv_log.elf>]]\n"
         "                [-sig_umac <umac sig string>] [-sig-lmac <lmac sig string>]\n"
         "\n"
         "\n"
         "    Processes input logs and reconstitutes firmware logs from the selected\n"
         "    ELF files. The output is passed to stdout by default.\n"
         "\n"
         "    -i: Read raw log input from the specified file.\n"
         "    -o: Processed log output folder.\n"
         "    -l: The path to lower MAC elf file. Defaults to ./lmac.elf\n"
         "    -u: The path to upper MAC elf file. Defaults to ./umac.elf\n"
         "    -f: The path to the kiv_log elf file. Defaults to ./kiv_log.elf\n"
         "    -v: Verbose logging level. Default 0 (Error)\n"
         "    -r: Print processing report\n"
         "    -s: Enforce strict matching of firmware version versus loaded ELF version\n"
         "    -F: Folder of firmware builds; each device is decoded with the build it announced\n"
         "    -j: Write JSON Lines instead of text\n"
         "    -P: Number of parallel decode workers. Default one per core for a file\n"
         "    --color=<when>: Colour level names on a terminal: auto (default), always or never\n"
         "    --level <level>: Only decoded lines of this level or a more severe one\n"
         "                     (CRITICAL ERROR WARNING INFO1 INFO2 TRACE DUMP ALWAYS, or 0 to 7)\n"
         "    --device <id>: Only this device's firmware lines; may be repeated\n"
         "    --mac <UMAC|LMAC>: Only the firmware lines of this processor\n"
         "    --no-host: Leave host lines out\n"
         "    --follow: Keep reading the input file as it grows, until interrupted\n"
         "\n"
         "    Input to the tool is taken from stdin by default unless -i option is used. Output "
         "goes to\n"
         "    stdout unless -o option is used. With -o option, the specified folder is populated "
         "with a main \n"
         "    log file containing all logs decoded, and a separate log file for each device "
         "detected.\n"
         "    The output folder, if specified, is expected to exist already.\n"
         "\n"
         "    The tool matches the ELF version detected from loaded ELF file(s) vs the logged\n"
         "    firmware version number (FW_ELF_VER). Under strict (-s) processing, if the versions "
         "do \n"
         "    not match, no firmware log processing will be done.\n"
         "    By default unknown FW_ELF_VER will be treated with warning, and mismtatch with "
         "error.\n"
         "\n"
         "    The in the default mode, the tool works with the kiv_log ELF file (-f or default "
         "file).\n"
         "    In case the kiv_log.elf is not available, the separated UMAC and LMAC ELF files may "
         "be \n"
         "    specified by providing -u and -l options.\n"
         "    Given no -l, -u or -f the program will prefer kiv_log.elf, if it is found.\n"
         "\n"
         "    The default signature strings may be overridden with the -sig_umac and -sig_lmac "
         "options\n"
         "\n"
         "\n";
}

// The banner holds the build date, time and account; the rest of the usage text is fixed.
void expectUsage(const std::string& out, const std::string& program) {
  const std::size_t end = out.find('\n');
  ASSERT_NE(end, std::string::npos);
  const std::string banner = out.substr(0, end);
  static const std::regex kBanner(
      "Version: 4\\.3\\.4194980 (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3]?[0-9] "
      "[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [^ ].*");
  EXPECT_TRUE(std::regex_match(banner, kBanner)) << banner;
  EXPECT_EQ(out.substr(end + 1), usageAfterBanner(program));
}

const std::string kEmptyEnd = "[DBG] good() 0 bad() 0 eof() 1 fail() 1\n";
const std::string kUnendedEnd = "[DBG] good() 0 bad() 0 eof() 1 fail() 0\n";
const std::string kHostLog = "boot: host side\n\n  indented\tand tabbed  \nwith cr\r\nlast\n";

std::string xs(std::size_t n) {
  return std::string(n, 'x');
}

std::string longLineWarning(int line) {
  return "[WRN] Line " + std::to_string(line) +
         " is longer than 4095 characters; the rest is read as the next line\n";
}

// A folder holding the combined image and the two legacy images; `empty` holds nothing.
class FrontEndE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    writeImage(dir_.path());
    writeLegacyImages(dir_.path());
  }

  // One run: its arguments and input, and the whole standard output expected, with nothing on
  // standard error.
  struct Row {
    Args args;
    std::string input;
    std::string out;
  };

  static void expectRuns(const std::string& folder, const std::vector<Row>& rows, int status) {
    for (const Row& row : rows) {
      const KivRunResult r = runKivlogIn(folder, row.args, row.input);
      EXPECT_EQ(r.out, row.out) << kivShownArgs(row.args);
      EXPECT_EQ(r.err, "") << kivShownArgs(row.args);
      EXPECT_EQ(r.status, status) << kivShownArgs(row.args);
    }
  }

  KivTempDir dir_;
  KivTempDir empty_;
};

// Help and unrecognised arguments print the usage text and end well; a command-line error also
// goes to standard error, under the program name argv[0] gives, and ends with status 1. Nothing
// is processed. Which arguments are unrecognised is the command line's unit test's business.
TEST_F(FrontEndE2E, UsageTextAnswersHelpUnrecognisedArgumentsAndCommandLineErrors) {
  const std::string conflict = ": cannot use -f with -u/-l (legacy mode)\n";
  auto needs = [](const std::string& option) {
    return ": option " + option + " requires a filename argument\n";
  };
  const struct {
    Args args;
    std::string error;  // after the program name
    std::optional<std::string> argv0 = std::nullopt;
    std::string program = "kivlog";
  } rows[] = {
      {{"-h"}, ""},
      {{"word"}, ""},
      {{"-r", "-zz", "-i", "f"}, ""},
      {{"-i"}, needs("-i")},
      {{"-r", "-o", "-s"}, needs("-o")},
      {{"-v", "-1"}, needs("-v")},
      {{"-u", "--"}, needs("-u")},
      {{"-sig_umac", "-sig_lmac"}, needs("-sig_umac")},
      {{"-f", "-l", "l.elf"}, needs("-f")},
      {{"-l", "l.elf", "-f", "k.elf"}, conflict},
      {{"-u", "u.elf", "-f", "k.elf", "-zz"}, conflict},
      {{"-i"}, needs("-i"), "/usr/local/bin/tool", "tool"},
      {{"-i"}, needs("-i"), "C:\\tools\\tool.exe", "tool.exe"},
      {{"-i"}, needs("-i"), "tool", "tool"},
      {{"--no-host=yes", "--level", "x"}, ""},
      {{"--device"}, ": option --device requires an argument\n"},
      {{"--level", "-1"}, ": option --level requires an argument\n"},
      {{"--level=notice"},
       ": option --level: unknown level \"notice\" (CRITICAL, ERROR, WARNING, INFO1, INFO2, "
       "TRACE, DUMP, ALWAYS, or 0 to 7)\n"},
      {{"--mac", "CPU"}, ": option --mac: unknown processor \"CPU\" (UMAC or LMAC)\n"},
      {{"--color", "yes"}, ": option --color: unknown mode \"yes\" (auto, always or never)\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.argv0.value_or("kivlog") + kivShownArgs(row.args));
    const KivRunResult r = runKivlog({.args = row.args,
                                      .input = "host line\n",
                                      .workingDirectory = dir_.path(),
                                      .argv0 = row.argv0});
    expectUsage(r.out, row.program);
    EXPECT_EQ(r.err, row.error.empty() ? "" : row.program + row.error);
    EXPECT_EQ(r.status, row.error.empty() ? 0 : 1);
  }
}

// Nothing was decoded: status 1. The first image that fails stops the run before the next.
TEST_F(FrontEndE2E, AnImageThatCannotBeLoadedEndsTheRunWithOneErrorLineNamingTheFile) {
  const std::string line = "host line\n";
  expectRuns(
      empty_.path(),
      {
          {{}, line, "[ERR] Failed opening strings file kiv_log.elf\n"},
          {{"-r", "-v", "3"},
           line,
           "[DBG] Debug level is set 3\n[ERR] Failed opening strings file kiv_log.elf\n"},
          {{"-f", "other.elf", "-i", "x"}, "", "[ERR] Failed opening strings file other.elf\n"},
          {{"-u", "umac.elf"}, line, "[ERR] Failed opening strings file umac.elf\n"},
          {{"-l", "l.elf"}, line, "[ERR] Failed opening strings file umac.elf\n"},
      },
      1);

  KivImageBuilder noSignature;
  noSignature.resize(0x2000);
  noSignature.writeTo(empty_.file("umac.elf"));

  KivImageBuilder umacOnly;
  addUmac(umacOnly);
  umacOnly.writeTo(empty_.file("umac_only.elf"));

  KivImageBuilder wrappedVersion;
  wrappedVersion.mac(kUmacSignature, 0x10, 0x1000, 0x0F00);
  addLmac(wrappedVersion);
  wrappedVersion.writeTo(empty_.file("wrapped.elf"));

  expectRuns(
      empty_.path(),
      {
          // lmac.elf does not exist: had it been tried, its open failure would show.
          {{"-u", "umac.elf"}, line, "[ERR] Failed to find signature in umac.elf\n"},
          {{"-f", "umac_only.elf"}, line, "[ERR] Failed to find signature in umac_only.elf\n"},
          {{"-f", "wrapped.elf"}, line, "[ERR] Failed to find verion in file wrapped.elf\n"},
          {{"-u", "umac_only.elf", "-sig_umac", "FAST_LOG_UMAC__"},
           line,
           "[ERR] Failed opening strings file lmac.elf\n"},
      },
      1);
}

TEST_F(FrontEndE2E, HostLinesPassThroughFromStandardInputAndFromAnInputFile) {
  const std::string input = kHostLog + std::string("zero\0byte\n", 10) + "no newline at the end";
  const std::string expected = kHostLog + "zero\nno newline at the end\n";
  dir_.write("raw.log", input);
  KivImageBuilder builder;
  addUmac(builder, "MY_UMAC");
  addLmac(builder, "MY_LMAC");
  builder.writeTo(dir_.file("custom.elf"));
  expectRuns(
      dir_.path(),
      {
          {{}, input, expected},
          {{"-i", "raw.log"}, "ignored\n", expected},
          {{"-u", "umac.elf", "-l", "lmac.elf"}, input, expected},
          // Signatures shorter than 15 characters are matched with zero padding.
          {{"-f", "custom.elf", "-sig_umac", "MY_UMAC", "-sig_lmac", "MY_LMAC"}, input, expected},
      },
      0);
}

TEST_F(FrontEndE2E, AnInputFileThatCannotBeOpenedIsAnErrorButTheReportStillFollows) {
  dir_.makeDir("folder");
  const std::string unread = "stdin is not read\n";
  const std::string error = "[ERR] Unable to open raw log file missing.log\n";
  expectRuns(dir_.path(),
             {
                 {{"-i", "missing.log"}, unread, error},
                 {{"-i", "folder"}, unread, "[ERR] Unable to open raw log file folder\n"},
                 {{"-r", "-i", "missing.log"},
                  unread,
                  error + usingBlock("missing.log", "stdout") + kImageReport},
                 {{"-i", "missing.log", "-v", "3"},
                  unread,
                  "[DBG] Debug level is set 3\n" + loadTrace() + error},
             },
             1);
}

TEST_F(FrontEndE2E, ReportFlagPrintsTheUsingBlockAfterTheLog) {
  dir_.write("raw.log", "from file\n");
  const std::string host = "host\n";
  // Devices are kept as usual when the output folder cannot be used, without personal logs.
  const std::string device = rawLog({descriptorLine("dev1"), "host"});
  const std::string unavailable = " is not available. Output is sent to stdout by default\n";
  expectRuns(
      dir_.path(),
      {
          {{"-r"}, host, host + usingBlock("stdin", "stdout") + kImageReport},
          {{"-r", "-f", "./kiv_log.elf", "-s"},
           host,
           host + usingBlock("stdin", "stdout", "  KIV_LOG ELF ./kiv_log.elf\n") + kImageReport},
          {{"-l", "lmac.elf", "-r", "-i", "raw.log"},
           host,
           "from file\n" +
               usingBlock("raw.log", "stdout", "  LMAC ELF lmac.elf\n  UMAC ELF umac.elf\n") +
               kImageReport},
          {{"-r", "-o", "nowhere"}, host, host + usingBlock("stdin", "nowhere") + kImageReport},
          {{"-o", "nowhere", "-v", "2"}, device, "[INF] Directory nowhere" + unavailable + device},
          {{"-o", "raw.log", "-v", "2", "-r"},
           device,
           "[INF] Directory raw.log" + unavailable + device + usingBlock("stdin", "raw.log") +
               kImageReport + "Device: dev1\n" + kCompatible + counters(1, 0, 0, 0, 0, 0, 0)},
          {{"-o", "nowhere", "-v", "1"}, host, host},
      },
      0);
  EXPECT_EQ(dir_.list(),
            (std::vector<std::string>{"kiv_log.elf", "lmac.elf", "raw.log", "umac.elf"}));
  EXPECT_EQ(dir_.read("raw.log"), "from file\n");
}

TEST_F(FrontEndE2E, DebugLevelThreeTracesAWholeRun) {
  const std::string level3 = "[DBG] Debug level is set 3\n";
  const std::string combined = loadTrace();
  const std::string legacy = loadTrace(kLegacySignature, kLegacySignature);
  expectRuns(
      dir_.path(),
      {
          {{"-v", "3"}, "", level3 + combined + kEmptyEnd},
          {{"-v", "3"}, "a\nb", level3 + combined + "a\nb\n" + kUnendedEnd},
          {{"-v", "7x"},
           "a\n\r\n",
           "[DBG] Debug level is set 7\n" + combined + "a\n\r\n" + kEmptyEnd},
          {{"-v", "3", "-u", "umac.elf"}, "a\n", level3 + legacy + "a\n" + kEmptyEnd},
          {{"-v", "3", "-o", "nowhere"},
           "a\n",
           level3 + combined +
               "[DBG] Output to folder is desired\n"
               "[INF] Directory nowhere is not available. Output is sent to stdout by default\n"
               "a\n" +
               kEmptyEnd},
      },
      0);
}

TEST_F(FrontEndE2E, AnOverLongLineIsReadInPiecesAndTheRunGoesOn) {
  dir_.write("long.log", "first\n" + xs(4096) + "\nafter\n");
  const std::string pieces = "first\n" + longLineWarning(2) + xs(4095) + "\nx\nafter\n";
  // A record whose prefix leaves too little room: its decoded line is cut, and ends there.
  const std::string descriptor = descriptorLine("wlan0");
  const std::string decoded =
      "          7 FW_LOG [ID:wlan0] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
      "load 3%";
  expectRuns(
      dir_.path(),
      {
          {{"-v", "1"}, "first\n" + xs(4096) + "\nafter\n", pieces},
          {{"-v", "1", "-i", "long.log"}, "", pieces},
          {{"-v", "1"}, xs(4095) + "\nafter\n", xs(4095) + "\nafter\n"},
          {{"-v", "1"},
           xs(8191) + "\nz\n",
           longLineWarning(1) + xs(4095) + "\n" + longLineWarning(2) + xs(4095) + "\nx\nz\n"},
          {{}, xs(4100) + "\n", xs(4095) + "\n" + xs(5) + "\n"},
          {{"-v", "3"},
           "a\n" + xs(4096),
           "[DBG] Debug level is set 3\n" + loadTrace() + "a\n" + longLineWarning(2) + xs(4095) +
               "\nx\n" + kUnendedEnd},
          {{},
           rawLog({descriptor, xs(4040) + dataLine("wlan0", 7, kUmacPercent, 3, 0), "after"}),
           rawLog({descriptor, (xs(4040) + decoded).substr(0, 4095), "after"})},
      },
      0);
}

}  // namespace

#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/KivImageBuilder.h"
#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

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
void expectUsage(const std::string& out, const std::string& program, const std::string& context) {
  const std::size_t end = out.find('\n');
  ASSERT_NE(end, std::string::npos) << context;
  const std::string banner = out.substr(0, end);
  static const std::regex kBanner(
      "Version: 4\\.3\\.4194980 (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3]?[0-9] "
      "[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [^ ].*");
  EXPECT_TRUE(std::regex_match(banner, kBanner)) << context << ": " << banner;
  EXPECT_EQ(out.substr(end + 1), usageAfterBanner(program)) << context;
}

const std::string kZeroRow =
    "    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00     ................\n";
const std::string kLastZeroRow =
    "    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00        ...............\n";

// What loading the standard images writes at debug level 3 (the legacy files use the same
// layout, only their signature differs).
std::string loadTrace(const std::string& umacSignature, const std::string& lmacSignature) {
  std::string zeroRows;
  for (int i = 0; i < 6; ++i) {
    zeroRows += kZeroRow;
  }
  return "[DBG] Searching for signature \"" + umacSignature +
         "\"\n"
         "[DBG] Found signature at 110\n"
         "[DBG] Reading additional 127 bytes of signature struct\n"
         "[DBG] SIGNATURE:(143 bytes)\n" +
         kZeroRow + "    00 00 00 20 00 02 00 20 00 00 00 00 00 00 00 00     ... ... ........\n" +
         zeroRows + kLastZeroRow +
         "[DBG] Got baseAddress 20000000 versionAddress 20000200 dataOffset 100 pos 10F\n"
         "[DBG] Version read from offset 300\n"
         "[DBG] Searching for signature \"" +
         lmacSignature +
         "\"\n"
         "[DBG] Found signature at 1010\n"
         "[DBG] Reading additional 127 bytes of signature struct\n"
         "[DBG] SIGNATURE:(143 bytes)\n" +
         kZeroRow + "    00 00 40 00 00 03 40 00 00 00 00 00 00 00 00 00     ..@...@.........\n" +
         zeroRows + kLastZeroRow +
         "[DBG] Got baseAddress 400000 versionAddress 400300 dataOffset 1000 pos 100F\n"
         "[DBG] Version read from offset 1300\n";
}

const std::string kReport =
    "[UMAC]\n"
    "    Data Offset=100 Base Address=20000000 Version Address=20000200\n"
    "    VERSION KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 prod\n"
    "[LMAC]\n"
    "    Data Offset=1000 Base Address=400000 Version Address=400300\n"
    "    VERSION LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release g7c1e9a0 prod\n"
    "\n";

std::string usingBlock(const std::string& images, const std::string& input,
                       const std::string& output) {
  return "\n\nUsing:\n" + images + "  Input    " + input + "\n  Output   " + output + "\n";
}

const std::string kCombined = "  KIV_LOG ELF kiv_log.elf\n";
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
    kivsample::writeImage(dir_.path());
    kivsample::writeLegacyImages(dir_.path());
  }

  KivRunResult run(const Args& args, const std::string& input = {},
                   std::optional<std::string> argv0 = std::nullopt) {
    return runIn(dir_.path(), args, input, std::move(argv0));
  }

  static KivRunResult runIn(const std::string& folder, const Args& args,
                            const std::string& input = {},
                            std::optional<std::string> argv0 = std::nullopt) {
    KivRunOptions options;
    options.args = args;
    options.input = input;
    options.workingDirectory = folder;
    options.argv0 = std::move(argv0);
    options.timeout = std::chrono::seconds(20);
    return runKivlog(options);
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
      const KivRunResult r = runIn(folder, row.args, row.input);
      EXPECT_EQ(r.out, row.out) << shown(row.args);
      EXPECT_EQ(r.err, "") << shown(row.args);
      EXPECT_EQ(r.status, status) << shown(row.args);
    }
  }

  static std::string shown(const Args& args) {
    std::string text;
    for (const std::string& arg : args) {
      text += " '" + arg + "'";
    }
    return text;
  }

  KivTempDir dir_;
  KivTempDir empty_;
};

TEST_F(FrontEndE2E, HelpAndUnrecognisedArgumentsPrintTheUsageAndProcessNothing) {
  const std::vector<Args> rows = {{"-h"},  {"--help"},    {"-sig-lmac", "X"},       {"word"},
                                  {"-v3"}, {"-iraw.log"}, {"-r", "-zz", "-i", "f"}, {"-zz", "-i"}};
  for (const Args& args : rows) {
    const KivRunResult r = run(args, "host line\n");
    expectUsage(r.out, "kivlog", shown(args));
    EXPECT_EQ(r.err, "") << shown(args);
    EXPECT_EQ(r.status, 0) << shown(args);
  }
}

TEST_F(FrontEndE2E, CommandLineErrorsGoToStandardErrorWithTheUsageAndStatusOne) {
  const std::string conflict = "kivlog: cannot use -f with -u/-l (legacy mode)\n";
  auto needs = [](const std::string& option) {
    return "kivlog: option " + option + " requires a filename argument\n";
  };
  const std::vector<std::pair<Args, std::string>> rows = {
      {{"-i"}, needs("-i")},
      {{"-i", "-r"}, needs("-i")},
      {{"-r", "-o", "-s"}, needs("-o")},
      {{"-v", "-1"}, needs("-v")},
      {{"-r", "-v"}, needs("-v")},
      {{"-l"}, needs("-l")},
      {{"-u", "--"}, needs("-u")},
      {{"-f"}, needs("-f")},
      {{"-sig_umac", "-sig_lmac"}, needs("-sig_umac")},
      {{"-sig_lmac"}, needs("-sig_lmac")},
      {{"-i", "-r", "-zz"}, needs("-i")},
      {{"-f", "-l", "l.elf"}, needs("-f")},
      {{"-f", "k.elf", "-l", "l.elf"}, conflict},
      {{"-l", "l.elf", "-f", "k.elf"}, conflict},
      {{"-u", "u.elf", "-f", "k.elf", "-zz"}, conflict},
  };
  for (const auto& [args, message] : rows) {
    const KivRunResult r = run(args, "host line\n");
    EXPECT_EQ(r.err, message) << shown(args);
    expectUsage(r.out, "kivlog", shown(args));
    EXPECT_EQ(r.status, 1) << shown(args);
  }
}

TEST_F(FrontEndE2E, ProgramNameIsArgvZeroAfterItsLastSlashOrBackslash) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"/usr/local/bin/tool", "tool"}, {"C:\\tools\\tool.exe", "tool.exe"}, {"tool", "tool"}};
  for (const auto& [argv0, program] : rows) {
    const KivRunResult r = run({"-i"}, "", argv0);
    EXPECT_EQ(r.err, program + ": option -i requires a filename argument\n") << argv0;
    expectUsage(r.out, program, argv0);
    const KivRunResult help = run({"-h"}, "", argv0);
    expectUsage(help.out, program, argv0);
  }
}

TEST_F(FrontEndE2E, AnImageThatCannotBeLoadedEndsTheRunWithOneErrorLine) {
  const std::string line = "host line\n";
  expectRuns(
      empty_.path(),
      {
          {{}, line, "[ERR] Failed opening strings file kiv_log.elf\n"},
          {{"-r", "-v", "1"}, line, "[ERR] Failed opening strings file kiv_log.elf\n"},
          {{"-f", "other.elf", "-i", "x"}, "", "[ERR] Failed opening strings file other.elf\n"},
          {{"-u", "umac.elf"}, line, "[ERR] Failed opening strings file umac.elf\n"},
          {{"-l", "l.elf"}, line, "[ERR] Failed opening strings file umac.elf\n"},
      },
      1);
}

TEST_F(FrontEndE2E, ImageFailuresNameTheFileAndStopBeforeTheNextImage) {
  KivImageBuilder noSignature;
  noSignature.resize(0x2000);
  noSignature.writeTo(empty_.file("umac.elf"));

  KivImageBuilder umacOnly;
  kivsample::addUmac(umacOnly);
  umacOnly.writeTo(empty_.file("umac_only.elf"));

  KivImageBuilder wrappedVersion;
  wrappedVersion.mac(kivsample::kUmacSignature, 0x10, 0x1000, 0x0F00);
  kivsample::addLmac(wrappedVersion);
  wrappedVersion.writeTo(empty_.file("wrapped.elf"));

  KivImageBuilder cutBlock;
  kivsample::addLmac(cutBlock);
  cutBlock.mac(kivsample::kUmacSignature, static_cast<std::uint32_t>(cutBlock.size()), 0x1000,
               0x1000, 142);
  cutBlock.writeTo(empty_.file("cut.elf"));

  const std::string line = "host line\n";
  expectRuns(
      empty_.path(),
      {
          // lmac.elf does not exist: had it been tried, its open failure would show.
          {{"-u", "umac.elf"}, line, "[ERR] Failed to find signature in umac.elf\n"},
          {{"-f", "umac_only.elf"}, line, "[ERR] Failed to find signature in umac_only.elf\n"},
          {{"-f", "wrapped.elf"}, line, "[ERR] Failed to find verion in file wrapped.elf\n"},
          {{"-f", "cut.elf"}, line, "[ERR] Failed to find signature in cut.elf\n"},
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
  kivsample::addUmac(builder, "MY_UMAC");
  kivsample::addLmac(builder, "MY_LMAC");
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
                  error + usingBlock(kCombined, "missing.log", "stdout") + kReport},
                 {{"-i", "missing.log", "-v", "3"},
                  unread,
                  "[DBG] Debug level is set 3\n" + loadTrace("FAST_LOG_UMAC__", "FAST_LOG_LMAC__") +
                      error},
             },
             1);
}

TEST_F(FrontEndE2E, ReportFlagPrintsTheUsingBlockAfterTheLog) {
  dir_.write("raw.log", "from file\n");
  const std::string host = "host\n";
  const std::string fallback =
      "[INF] Directory nowhere is not available. Output is sent to stdout by default\n";
  expectRuns(
      dir_.path(),
      {
          {{"-r"}, host, host + usingBlock(kCombined, "stdin", "stdout") + kReport},
          {{"-r", "-f", "./kiv_log.elf", "-s"},
           host,
           host + usingBlock("  KIV_LOG ELF ./kiv_log.elf\n", "stdin", "stdout") + kReport},
          {{"-l", "lmac.elf", "-r", "-i", "raw.log"},
           host,
           "from file\n" +
               usingBlock("  LMAC ELF lmac.elf\n  UMAC ELF umac.elf\n", "raw.log", "stdout") +
               kReport},
          {{"-r", "-o", "nowhere"},
           host,
           host + usingBlock(kCombined, "stdin", "nowhere") + kReport},
          {{"-o", "nowhere", "-v", "2"}, host, fallback + host},
          {{"-o", "raw.log", "-v", "2", "-r"},
           host,
           "[INF] Directory raw.log is not available. Output is sent to stdout by default\n" +
               host + usingBlock(kCombined, "stdin", "raw.log") + kReport},
          {{"-o", "nowhere", "-v", "1"}, host, host},
      },
      0);
}

TEST_F(FrontEndE2E, DebugLevelThreeTracesAWholeRun) {
  const std::string level3 = "[DBG] Debug level is set 3\n";
  const std::string combined = loadTrace("FAST_LOG_UMAC__", "FAST_LOG_LMAC__");
  const std::string legacy = loadTrace("FAST_LOG_START_", "FAST_LOG_START_");
  expectRuns(
      dir_.path(),
      {
          {{"-v", "3"}, "", level3 + combined + kEmptyEnd},
          {{"-v", "3"}, "a\nb", level3 + combined + "a\nb\n" + kUnendedEnd},
          {{"-v", "7x"},
           "a\n\r\n",
           "[DBG] Debug level is set 7\n" + combined + "a\n\r\n" + kEmptyEnd},
          {{"-v", "3", "-u", "umac.elf"}, "a\n", level3 + legacy + "a\n" + kEmptyEnd},
          {{"-l", "lmac.elf", "-sig_lmac", "FAST_LOG_START_", "-sig_umac", "FAST_LOG_START_", "-v",
            "3"},
           "a\n",
           level3 + legacy + "a\n" + kEmptyEnd},
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
           "[DBG] Debug level is set 3\n" + loadTrace("FAST_LOG_UMAC__", "FAST_LOG_LMAC__") +
               "a\n" + longLineWarning(2) + xs(4095) + "\nx\n" + kUnendedEnd},
      },
      0);
}

}  // namespace

#include "app/KivCommandLine.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/KivUsage.h"
#include "support/KivProcess.h"

namespace {

using Args = std::vector<std::string>;

// The outcome, the option a value error names, and every setting that differs from its default,
// in a fixed order: a row's expectation reads like the command line it describes.
std::string describe(const KivCommandLine& c) {
  const KivOptions& o = c.options;
  const KivOptions d;
  std::string out = c.outcome == KivParseOutcome::kRun        ? "run"
                    : c.outcome == KivParseOutcome::kUsage    ? "usage"
                    : c.outcome == KivParseOutcome::kConflict ? "conflict"
                    : c.outcome == KivParseOutcome::kBadValue
                        ? "bad value " + c.errorOption + " '" + c.errorValue + "'"
                        : "value error " + c.errorOption;
  std::string devices;
  for (const std::string& device : o.filters.devices) {
    devices += " '" + device + "'";
  }
  const std::pair<bool, std::string> settings[] = {
      {o.report, "report"},
      {o.strict, "strict"},
      {o.inputFile.has_value(), "input " + o.inputFile.value_or("")},
      {o.legacyMode, "legacy"},
      {o.umacPath != d.umacPath, "umac " + o.umacPath},
      {o.lmacPath != d.lmacPath, "lmac " + o.lmacPath},
      {o.combinedGiven, "combined given"},
      {o.combinedPath != d.combinedPath, "combined " + o.combinedPath},
      {o.outputFolder.has_value(), "output " + o.outputFolder.value_or("")},
      {o.verbosity.has_value(),
       "verbosity " + o.verbosity.value_or("") + " level " + std::to_string(o.debugLevel)},
      {o.umacSignature != d.umacSignature, "sig_umac " + o.umacSignature},
      {o.lmacSignature != d.lmacSignature, "sig_lmac " + o.lmacSignature},
      {o.colour != d.colour, o.colour == KivColourMode::kNever ? "never" : "always"},
      {o.filters.level.has_value(), "level " + std::to_string(o.filters.level.value_or(0))},
      {!devices.empty(), "devices" + devices},
      {o.filters.mac.has_value(), "mac " + std::to_string(o.filters.mac.value_or(0))},
      {o.filters.noHost, "no host"},
      {o.follow, "follow"},
  };
  for (const auto& [differs, text] : settings) {
    if (differs) {
      out += "; " + text;
    }
  }
  return out;
}

struct Row {
  Args args;
  std::string expected;
};

void expectRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    EXPECT_EQ(describe(parseCommandLine(row.args)), row.expected)
        << "arguments:" << kivShownArgs(row.args);
  }
}

TEST(KivCommandLine, NoArgumentsRunCombinedModeWithTheDefaults) {
  const KivCommandLine c = parseCommandLine({});
  EXPECT_EQ(c.outcome, KivParseOutcome::kRun);
  EXPECT_FALSE(c.options.report);
  EXPECT_FALSE(c.options.strict);
  EXPECT_FALSE(c.options.inputFile.has_value());
  EXPECT_FALSE(c.options.outputFolder.has_value());
  EXPECT_FALSE(c.options.legacyMode);
  EXPECT_EQ(c.options.combinedPath, "kiv_log.elf");
  EXPECT_EQ(c.options.umacPath, "umac.elf");
  EXPECT_EQ(c.options.lmacPath, "lmac.elf");
  EXPECT_EQ(c.options.umacSignature, "FAST_LOG_UMAC__");
  EXPECT_EQ(c.options.lmacSignature, "FAST_LOG_LMAC__");
  EXPECT_EQ(c.options.debugLevel, 0);
}

TEST(KivCommandLine, OptionsAreTakenInAnyOrderAndTheLastRepeatWins) {
  expectRows({
      {{"-r", "-s", "-i", "in.log", "-o", "out", "-v", "2"},
       "run; report; strict; input in.log; output out; verbosity 2 level 2"},
      {{"-v", "2", "-o", "out", "-i", "in.log", "-s", "-r"},
       "run; report; strict; input in.log; output out; verbosity 2 level 2"},
      {{"-f", "k.elf", "-sig_lmac", "L", "-sig_umac", "U"},
       "run; combined given; combined k.elf; sig_umac U; sig_lmac L"},
      {{"-i", "a", "-i", "b", "-v", "1", "-v", "3", "-r", "-r"},
       "run; report; input b; verbosity 3 level 3"},
      {{"-f", "a.elf", "-f", "b.elf"}, "run; combined given; combined b.elf"},
      {{"-o", "x y", "-i", ""}, "run; input ; output x y"},
  });
}

TEST(KivCommandLine, LegacyModeSearchesBothImagesForTheStartSignatureUnlessOneIsGiven) {
  expectRows({
      {{"-u", "a.elf"},
       "run; legacy; umac a.elf; sig_umac FAST_LOG_START_; sig_lmac FAST_LOG_START_"},
      {{"-l", "b.elf"},
       "run; legacy; lmac b.elf; sig_umac FAST_LOG_START_; sig_lmac FAST_LOG_START_"},
      {{"-u", "a.elf", "-sig_umac", "X"},
       "run; legacy; umac a.elf; sig_umac X; sig_lmac FAST_LOG_START_"},
      {{"-sig_lmac", "Y", "-l", "b.elf", "-u", "a.elf"},
       "run; legacy; umac a.elf; lmac b.elf; sig_umac FAST_LOG_START_; sig_lmac Y"},
      {{"-sig_umac", "X"}, "run; sig_umac X"},
      {{"-sig_umac", "FAST_LOG_UMAC__", "-u", "u"},
       "run; legacy; umac u; sig_lmac FAST_LOG_START_"},
  });
}

TEST(KivCommandLine, AValueIsTakenWhateverItLooksLikeAndADashValueIsAnErrorNamingItsOption) {
  expectRows({
      {{"-i"}, "value error -i"},
      {{"-i", "-r"}, "value error -i; input -r"},
      {{"-r", "-o", "-s"}, "value error -o; report; output -s"},
      {{"-i", "-r", "-s"}, "value error -i; strict; input -r"},
      {{"-f", "--help"}, "value error -f; combined given; combined --help"},
      {{"-o", "-h", "-zz"}, "value error -o; output -h"},
      {{"-sig_umac", "-"}, "value error -sig_umac; sig_umac -"},
      {{"-sig_lmac"}, "value error -sig_lmac"},
      {{"-l"}, "value error -l; legacy"},
      {{"-r", "-u"}, "value error -u; report; legacy"},
      {{"-v"}, "value error -v"},
      {{"-o", "a", "-i"}, "value error -i; output a"},
      {{"-i", "-r", "-o"}, "value error -i; input -r"},
      {{"-f", "k.elf", "-l", "-x"},
       "value error -l; legacy; lmac -x; combined given; combined k.elf"},
      {{"-i", "s", "-sig_umac", "-f"}, "value error -sig_umac; input s; sig_umac -f"},
      {{"-i", " -r"}, "run; input  -r"},
      {{"-i", "r-"}, "run; input r-"},
  });
}

TEST(KivCommandLine, VerbosityIsConvertedAsDecimalWithLeadingBlanksAndASign) {
  expectRows({
      {{"-v", "abc"}, "run; verbosity abc level 0"},
      {{"-v", "3x"}, "run; verbosity 3x level 3"},
      {{"-v", "-1"}, "value error -v; verbosity -1 level -1"},
      {{"-v", " -2"}, "run; verbosity  -2 level -2"},
      {{"-v", "  +7"}, "run; verbosity   +7 level 7"},
      {{"-v", "0x10"}, "run; verbosity 0x10 level 0"},
      {{"-v", "010"}, "run; verbosity 010 level 10"},
      {{"-v", ""}, "run; verbosity  level 0"},
  });
}

TEST(KivCommandLine, FTogetherWithUOrLIsAConflictInEitherOrder) {
  expectRows({
      {{"-f", "k.elf", "-l", "l.elf"},
       "conflict; legacy; lmac l.elf; combined given; combined k.elf"},
      {{"-l", "l.elf", "-f", "k.elf"},
       "conflict; legacy; lmac l.elf; combined given; combined k.elf"},
      {{"-u", "u.elf", "-f", "k.elf"},
       "conflict; legacy; umac u.elf; combined given; combined k.elf"},
      {{"-f", "k.elf", "-u", "u.elf", "-zz"},
       "conflict; legacy; umac u.elf; combined given; combined k.elf"},
      {{"-f", "-l", "-u", "u.elf"},
       "value error -f; legacy; umac u.elf; combined given; combined -l"},
  });
}

TEST(KivCommandLine, AnUnrecognisedArgumentEndsTheScanAndAsksForTheUsageText) {
  expectRows({
      {{"-h"}, "usage"},
      {{"--help"}, "usage"},
      {{"-sig-lmac", "X"}, "usage"},
      {{"word"}, "usage"},
      {{"-R"}, "usage"},
      {{"-v3"}, "usage"},
      {{"-iinput.log"}, "usage"},
      {{"-r", "-zz", "-i", "f"}, "usage; report"},
      {{"-zz", "-i"}, "usage"},
      {{"-zz", "-f", "k", "-u", "u"}, "usage"},
      {{"-u", "u.elf", "x"},
       "usage; legacy; umac u.elf; sig_umac FAST_LOG_START_; sig_lmac FAST_LOG_START_"},
      {{"-i", "-r", "-zz"}, "value error -i; input -r"},
      {{"-s", ""}, "usage; strict"},
  });
}

TEST(KivCommandLine, LongOptionsTakeTheirValueAfterAnEqualsSignOrAsTheNextArgument) {
  expectRows({
      {{"--level", "error", "--mac=lmac", "--no-host"}, "run; level 1; mac 1; no host"},
      {{"--level=Warning", "--level", "0", "--mac", "UMAC"}, "run; level 0; mac 0"},
      {{"--level=7"}, "run; level 7"},
      {{"--color=never", "--no-host"}, "run; never; no host"},
      {{"--color", "always", "--color=never", "--color=auto"}, "run"},
      {{"--color", "always", "-r"}, "run; report; always"},
      {{"--device", "wlan0", "--device=pci/0", "--device=", "--device=-x", "--device", "wlan0"},
       "run; devices 'wlan0' 'pci/0' '' '-x' 'wlan0'"},
      {{"-j", "--level", "dump", "-i", "in"}, "run; input in; level 6"},
  });
}

TEST(KivCommandLine, AValueALongOptionDoesNotTakeIsAnErrorAfterAnyMissingValue) {
  expectRows({
      {{"--level", "8"}, "bad value --level '8'"},
      {{"--level", "INFO"}, "bad value --level 'INFO'"},
      {{"--level", "07"}, "bad value --level '07'"},
      {{"--level="}, "bad value --level ''"},
      {{"--mac", "UMAC_CR"}, "bad value --mac 'UMAC_CR'"},
      {{"--mac", "x", "--level", "y"}, "bad value --mac 'x'"},
      {{"--level", "x", "-zz"}, "bad value --level 'x'"},
      {{"--level", "x", "-f", "a", "-u", "b"},
       "bad value --level 'x'; legacy; umac b; combined given; combined a"},
      {{"--mac", "x", "-i"}, "value error -i"},
      {{"--mac"}, "value error --mac"},
      {{"--color"}, "value error --color"},
      {{"--color=yes"}, "bad value --color 'yes'"},
      {{"--color", "Always"}, "bad value --color 'Always'"},
      {{"--device", "-x"}, "value error --device"},
      {{"--level", "--no-host"}, "value error --level"},
      {{"--no-host=1", "--level", "x"}, "usage"},
      {{"--levels=0"}, "usage"},
      {{"--colour=never"}, "usage"},
      {{"--"}, "usage"},
      {{"-zz", "--level", "x"}, "usage"},
  });
}

// The one long option is one whole argument like the others; any other spelling is unknown.
TEST(KivCommandLine, FollowIsAWholeArgumentAnywhereAndNoValue) {
  expectRows({
      {{"--follow"}, "run; follow"},
      {{"-r", "--follow", "-i", "in.log", "--follow"}, "run; report; input in.log; follow"},
      {{"-i", "--follow"}, "value error -i; input --follow"},
      {{"--follow", "-o"}, "value error -o; follow"},
      {{"--follow=yes"}, "usage"},
      {{"-follow"}, "usage"},
      {{"--Follow"}, "usage"},
      {{"--fol"}, "usage"},
      {{"--follow", "--help"}, "usage; follow"},
  });
}

TEST(KivCommandLine, ProgramNameIsTheLastPathComponentOfArgvZero) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"/usr/local/bin/tool", "tool"},
      {"C:\\tools\\tool.exe", "tool.exe"},
      {"tool", "tool"},
      {"./kivlog", "kivlog"},
      {"dir\\sub/tool", "tool"},
      {"a/b\\c", "b\\c"},
      {"bin/", ""},
      {"", ""},
  };
  for (const auto& [argv0, name] : rows) {
    EXPECT_EQ(programNameFrom(argv0), name) << "argv0: " << argv0;
  }
}

std::string usageOf(std::string_view program) {
  std::ostringstream text;
  printUsage(text, program);
  return text.str();
}

TEST(KivFrontEnd, WritesWhatTheCommandLineCallsForOrChoosesTheImageFiles) {
  struct FrontEndRow {
    Args argv;
    std::optional<int> status;  // std::nullopt: a run starts
    std::string err;
    std::string usageProgram;  // the usage text expected on standard output, for this name
    std::string umacPath;
    std::string lmacPath;
  };
  const std::vector<FrontEndRow> rows = {
      {{}, std::nullopt, "", "", "kiv_log.elf", "kiv_log.elf"},
      {{"/opt/kivlog", "-f", "c.elf", "-r"}, std::nullopt, "", "", "c.elf", "c.elf"},
      {{"kivlog", "-u", "a.elf"}, std::nullopt, "", "", "a.elf", "lmac.elf"},
      {{"kivlog", "-sig_umac", "S", "-l", "b.elf"}, std::nullopt, "", "", "umac.elf", "b.elf"},
      {{"/opt/kivlog", "-r", "-i"},
       1,
       "kivlog: option -i requires a filename argument\n",
       "kivlog"},
      {{"kivlog", "-f", "a", "-u", "b"},
       1,
       "kivlog: cannot use -f with -u/-l (legacy mode)\n",
       "kivlog"},
      {{"C:\\tools\\k.exe", "-h"}, 0, "", "k.exe"},
  };
  for (const FrontEndRow& row : rows) {
    std::vector<const char*> argv;
    for (const std::string& arg : row.argv) {
      argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    std::ostringstream out;
    std::ostringstream err;
    KivFrontEnd frontEnd;
    const std::optional<int> status =
        readFrontEnd(static_cast<int>(row.argv.size()), argv.data(), out, err, frontEnd);
    const std::string shown = kivShownArgs(row.argv);
    EXPECT_EQ(status, row.status) << shown;
    EXPECT_EQ(err.str(), row.err) << shown;
    EXPECT_EQ(out.str(), row.usageProgram.empty() ? "" : usageOf(row.usageProgram)) << shown;
    if (!row.status) {
      EXPECT_EQ(frontEnd.umacPath, row.umacPath) << shown;
      EXPECT_EQ(frontEnd.lmacPath, row.lmacPath) << shown;
    }
  }
}

}  // namespace

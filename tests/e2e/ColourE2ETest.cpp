// --color: level names and diagnostic tags coloured on a terminal (a pseudo-terminal here), the
// other bytes as without colour; never in JSON Lines or folder files.
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivPseudoTerminal.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;
using Args = std::vector<std::string>;
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

std::string withoutEscapes(const std::string& text) {
  return std::regex_replace(text, std::regex("\x1b\\[[0-9;]*m"), "");
}

// A line of each colour: CRITICAL (cut within its name, and whole), WARNING, INFO1 (none),
// level 9 (ALWAYS), and the [ERR] and [WRN] tags; host and descriptor lines stay plain.
const std::string kInput =
    rawLog({"boot", descriptorLine("dev1"), dataLine("dev1", 1, kLmacDone, 0, 0),
            dataLine("dev1", 2, kUmacPercent, 3, 0), dataLine("dev1", 3, kUmacValue, 7, 255),
            dataLine("dev1", 4, kLmacAtEnd, 5, 0), dataLine("dev1", 5, kUmacBadFile, 1, 0),
            std::string(4096, 'x'), std::string(4053, 'p') + dataLine("dev1", 6, kLmacDone, 0, 0)});

// What the coloured output holds that the plain one does not, in order.
const std::vector<std::string> kColoured = {
    "[LMAC   :\x1b[1;31mCRITICAL\x1b[0m] [", "[UMAC   :\x1b[33mWARNING\x1b[0m] [",
    "[LMAC   :\x1b[1mALWAYS\x1b[0m ] [",     "\x1b[31m[ERR]\x1b[0m Seeking filename failed",
    "\x1b[33m[WRN]\x1b[0m Line 8 is longer", "[LMAC   :\x1b[1;31mCRIT\x1b[0m\n",
};

void expectColoured(const std::string& out) {
  std::size_t at = 0;
  for (const std::string& part : kColoured) {
    at = out.find(part, at);
    ASSERT_NE(at, std::string::npos) << part;
  }
  EXPECT_EQ(std::regex_replace(out, std::regex("[^\x1b]"), ""), std::string(12, '\x1b'));
}

TEST(ColourE2E, ATerminalSeesLevelNamesAndTagsColouredWhenNothingSaysOtherwise) {
  KivTempDir dir;
  writeImage(dir.path());
  const KivRunResult plain = runKivlogIn(dir.path(), {"-v", "1", "--color=never"}, kInput);
  ASSERT_EQ(plain.status, 0);
  const std::optional<std::string> unset;
  const struct {
    Args args;
    Environment environment;
    bool terminal;
    bool coloured;
  } rows[] = {
      {{}, {{"TERM", "xterm"}, {"NO_COLOR", unset}}, true, true},
      {{"--color=auto"}, {{"TERM", "vt100"}, {"NO_COLOR", unset}}, true, true},
      {{"--color", "never"}, {{"TERM", "xterm"}, {"NO_COLOR", unset}}, true, false},
      {{}, {{"TERM", "dumb"}, {"NO_COLOR", unset}}, true, false},
      {{}, {{"TERM", unset}, {"NO_COLOR", unset}}, true, false},
      {{}, {{"TERM", "xterm"}, {"NO_COLOR", ""}}, true, false},
      {{}, {{"TERM", "xterm"}, {"NO_COLOR", unset}}, false, false},
      {{"--color=always"}, {{"TERM", "dumb"}, {"NO_COLOR", "1"}}, false, true},
  };
  for (const auto& row : rows) {
    KivPseudoTerminal pty;
    Args args = {"-v", "1"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    KivRunOptions options{.args = args, .input = kInput, .workingDirectory = dir.path()};
    options.environment = row.environment;
    if (row.terminal) {
      options.outputFile = pty.slavePath();
    }
    SCOPED_TRACE(kivShownArgs(args) + (row.terminal ? " on a terminal" : " into a pipe"));
    const KivRunResult run = runKivlog(options);
    EXPECT_EQ(run.status, 0);
    const std::string out = row.terminal ? pty.drain() : run.out;
    if (row.coloured) {
      expectColoured(out);
      EXPECT_EQ(withoutEscapes(out), plain.out);
    } else {
      EXPECT_EQ(out, plain.out);
    }
  }
}

TEST(ColourE2E, JsonLinesAndFolderFilesAreNeverColoured) {
  KivTempDir dir;
  writeImage(dir.path());
  const Environment terminal = {{"TERM", "xterm"}, {"NO_COLOR", std::nullopt}};
  auto run = [&](Args args, const std::string& out) {
    KivPseudoTerminal pty;
    args.insert(args.begin(), {"-v", "1"});
    KivRunOptions options{.args = args, .input = kInput, .workingDirectory = dir.path()};
    options.environment = terminal;
    options.outputFile = pty.slavePath();
    SCOPED_TRACE(kivShownArgs(args));
    EXPECT_EQ(runKivlog(options).status, 0);
    const std::string shown = pty.drain();
    const std::string folder =
        out.empty() ? ""
                    : dir.read(out + "/HostAndFirmware.log") + dir.read(out + "/dev1_personal.log");
    EXPECT_EQ(folder.find('\x1b'), std::string::npos);
    return std::pair{shown, folder};
  };
  const std::string json = run({"-j", "--color=never"}, "").first;
  EXPECT_EQ(run({"-j", "--color=always"}, "").first, json);

  dir.makeDir("never");
  dir.makeDir("always");
  dir.makeDir("auto");
  const auto [diagnostics, files] = run({"-o", "never", "--color=never"}, "never");
  EXPECT_EQ(run({"-o", "auto"}, "auto"), std::pair(diagnostics, files));
  // Always: the diagnostics on the terminal are coloured all the same.
  const auto [colouredDiagnostics, alwaysFiles] = run({"-o", "always", "--color=always"}, "always");
  EXPECT_EQ(alwaysFiles, files);
  EXPECT_EQ(withoutEscapes(colouredDiagnostics), diagnostics);
  EXPECT_NE(colouredDiagnostics.find("\x1b[31m[ERR]\x1b[0m "), std::string::npos);
}

}  // namespace

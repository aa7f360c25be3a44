// The decoder library gives, event for event, what kivlog -j -r writes for the same raw log: each
// case runs the binary and the library on the same files and compares the JSON Lines, and the
// library's three ways of feeding a log (a whole file, a line at a time, parts of a file) agree.
#include "kivlog/Decoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "api/KivApiCases.h"
#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return lines;
}

// Runs in `folder` while it lives, so that paths are given as the command line is given them.
class InFolder {
 public:
  explicit InFolder(const std::string& folder) : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~InFolder() { std::filesystem::current_path(saved_); }

 private:
  std::filesystem::path saved_;
};

// The command line's JSON Lines up to its report; the devices' farewell traces follow it there.
std::vector<std::string> commandLineObjects(const KivTempDir& dir, const KivApiCase& c) {
  std::vector<std::string> args = {"-j", "-r"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  args.insert(args.end(), {"-i", "raw.log"});
  std::vector<std::string> lines = linesOf(runKivlogIn(dir.path(), args).out);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with("{\"report\":")) {
      lines.resize(i + 1);
    }
  }
  return lines;
}

TEST(KivDecoder, EveryEventIsTheObjectTheCommandLineWrites) {
  for (const KivApiCase& c : kivApiCases()) {
    SCOPED_TRACE(c.what);
    KivTempDir dir;
    c.setUp(dir);
    const std::vector<std::string> expected = commandLineObjects(dir, c);
    const InFolder in(dir.path());

    std::vector<std::string> whole;
    kivlog::Decoder decoder(c.options);
    decoder.decodeFile(
        "raw.log", [&whole](const kivlog::Event& e) { whole.push_back(kivlog::toJsonLine(e)); });
    whole.push_back(kivlog::toJsonLine(decoder.finish()));
    EXPECT_EQ(whole, expected);

    // Part by part, and line by line: the same events, but for the end-of-file trace.
    std::vector<std::string> parts;
    kivlog::Decoder partly(c.options);
    partly.open("raw.log");
    std::vector<kivlog::Event> events;
    while (partly.read(events, 3)) {
      for (const kivlog::Event& e : events) {
        parts.push_back(kivlog::toJsonLine(e));
      }
    }
    parts.push_back(kivlog::toJsonLine(partly.finish()));
    EXPECT_EQ(parts, expected);

    std::vector<std::string> byLine;
    kivlog::Decoder lines(c.options);
    for (const std::string& line : linesOf(dir.read("raw.log"))) {
      for (const kivlog::Event& e :
           lines.decode(std::string_view(line).substr(0, line.size() - 1))) {
        byLine.push_back(kivlog::toJsonLine(e));
      }
    }
    std::vector<std::string> withoutEnd = whole;
    withoutEnd.pop_back();
    if (c.options.verbosity >= 3) {
      withoutEnd.pop_back();  // "good() 0 bad() 0 eof() 1 fail() 1"
    }
    EXPECT_EQ(byLine, withoutEnd);
  }
}

TEST(KivDecoder, WhatCannotBeOpenedThrowsTheCommandLinesText) {
  KivTempDir dir;
  writeImage(dir.path());
  const InFolder in(dir.path());
  const struct {
    kivlog::Options options;
    std::string text;
  } rows[] = {
      {{.elf = "missing.elf"}, "Failed opening strings file missing.elf"},
      {{.umac = "kiv_log.elf", .lmac = "kiv_log.elf", .verbosity = -1},
       "Failed to find signature in kiv_log.elf"},
      {{.library = "nowhere"}, "cannot read firmware folder nowhere: No such file or directory"},
  };
  for (const auto& row : rows) {
    try {
      kivlog::Decoder decoder(row.options);
      ADD_FAILURE() << "no error for " << row.text;
    } catch (const kivlog::Error& error) {
      EXPECT_EQ(error.what(), row.text);
    }
  }
  kivlog::Decoder decoder({});
  EXPECT_THROW(decoder.open("missing.log"), kivlog::InputError);
  std::vector<std::string> seen;
  EXPECT_THROW(decoder.decodeFile(
                   ".", [&seen](const kivlog::Event& e) { seen.push_back(kivlog::toJsonLine(e)); }),
               kivlog::InputError);
  EXPECT_EQ(seen, std::vector<std::string>{
                      "{\"diag\":\"ERR\",\"text\":\"Unable to open raw log file .\"}\n"});
}

}  // namespace

// The decoder library gives, event for event, what kivlog -j -r writes for the same raw log: each
// case runs the binary and the library on the same files and compares the JSON Lines, and the
// library's three ways of feeding a log (a whole file, a line at a time, parts of a file) agree.
#include "kivlog/Decoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "KivWorkload.h"
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

struct Case {
  const char* what;
  std::function<void(KivTempDir&)> setUp;  // writes the images and raw.log
  std::vector<std::string> args;
  kivlog::Options options;
};

void copyExample(KivTempDir& dir, const std::string& from, const std::string& to) {
  std::filesystem::copy_file(std::string(KIVLOG_SOURCE_DIR) + "/examples/" + from, dir.file(to));
}

std::string hostileLog() {
  std::string longLine(5000, 'x');
  longLine[4100] = '\0';
  return rawLog({descriptorLine("d\xff\x01"),
                 "pre\xc3\x28\t[FW_LOG-R][ID:d\xff\x01][1][0][20000400][7][0]",
                 dataLine("e/%s", 2, 9, kUmacValue.address, 1, 2),
                 dataLine("e/%s", 3, 0, kUmacUnmappedAddress, 1, 2), "[FW_LOG-R][ID:e][oops]",
                 "[FW_ELF_VER][ID:z][UMAC]", longLine,
                 dataLine(std::nullopt, 4, kUmacPercent, 0xffffffff, 5)});
}

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"the shipped sample",
       [](KivTempDir& d) {
         copyExample(d, "kiv_log.elf", "kiv_log.elf");
         copyExample(d, "sample.log", "raw.log");
       },
       {},
       {}},
      {"the firmware sample in legacy files, strict, with every trace",
       [](KivTempDir& d) {
         copyExample(d, "firmware/umac.elf", "umac.elf");
         copyExample(d, "firmware/lmac.elf", "lmac.elf");
         copyExample(d, "firmware/raw.log", "raw.log");
       },
       {"-u", "umac.elf", "-l", "lmac.elf", "-s", "-v", "3"},
       {.umac = "umac.elf", .lmac = "lmac.elf", .strict = true, .verbosity = 3}},
      {"a fleet decoded with a firmware library",
       [](KivTempDir& d) {
         writeImage(d.path());
         d.makeDir("builds");
         releaseBuild("5.1").writeTo(d.file("builds/a.elf"));
         releaseBuild("5.2").writeTo(d.file("builds/b.elf"));
         d.write("builds/junk", "not an image");
         d.write("raw.log",
                 rawLog({"host", descriptorLine("d0"), announce("d1", "5.1"), announce("d2", "5.9"),
                         dataLine("d1", 5, kUmacValue, 1, 0), dataLine("d0", 6, kUmacValue, 2, 0),
                         dataLine("d2", 7, kLmacDone, 0, 0), descriptorLine("d1"),
                         dataLine("d1", 9, kUmacValue, 3, 0)}));
       },
       {"-F", "builds", "-v", "2"},
       {.library = "builds", .verbosity = 2}},
      {"hostile bytes, cut lines and broken records",
       [](KivTempDir& d) {
         writeImage(d.path());
         d.write("raw.log", hostileLog());
       },
       {"-v", "1"},
       {.verbosity = 1}},
      {"a generated workload",
       [](KivTempDir& d) {
         const KivWorkload workload;
         workload.image().writeTo(d.file("kiv_log.elf"));
         d.write("raw.log", workload.log(KivWorkloadMix::kDataHeavy, 3000));
       },
       {},
       {}},
  };
  return all;
}

// The command line's JSON Lines up to its report; the devices' farewell traces follow it there.
std::vector<std::string> commandLineObjects(const KivTempDir& dir, const Case& c) {
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
  for (const Case& c : cases()) {
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

// Decoding with several workers gives what one gives, byte for byte, where a piece boundary falls
// on what depends on the lines before it: a descriptor line, the pieces of a cut line, a device's
// first line and a library build bound in one piece and used in the next. Every input is decoded
// with 2 to 5 workers, which cut it at different places, and compared with one worker's run:
// standard output, standard error, the status and every file of the output folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

struct Case {
  const char* what;
  std::vector<std::string> args;
  std::vector<std::string> lines;
};

std::string logOf(const std::vector<std::string>& lines) {
  std::string log;
  for (const std::string& line : lines) {
    log += line + "\n";
  }
  return log;
}

// The run's streams and status, and the folder's files with their contents (but for the link
// planted in place of a personal log).
std::string outcome(const KivTempDir& dir, const std::vector<std::string>& args,
                    const std::string& workers) {
  std::vector<std::string> withWorkers = {"-P", workers};
  withWorkers.insert(withWorkers.end(), args.begin(), args.end());
  const KivRunResult result = runKivlogIn(dir.path(), withWorkers);
  std::string all = result.out + "\n--- err\n" + result.err + "\n--- status " +
                    std::to_string(result.status) + "\n";
  for (const std::string& name : dir.list("out")) {
    if (name != "link_personal.log") {
      all += "--- " + name + "\n" + dir.read("out/" + name);
    }
  }
  return all;
}

TEST(ParallelE2E, PieceBoundariesChangeNothing) {
  const std::string cut(4095 * 2 + 17, 'c');
  const std::vector<Case> cases = {
      {"descriptor lines change a device's versions between its records",
       {"-s", "-r", "-v", "3", "-o", "out"},
       {descriptorLine("a"), dataLine("a", 1, kUmacValue, 1, 0), dataLine("a", 2, kLmacDone, 0, 0),
        descriptorLine("a", umacVersion(), otherLmacVersion()), dataLine("a", 4, kUmacValue, 4, 0),
        dataLine("a", 5, kUmacValue, 5, 0), descriptorLine("a"), dataLine("a", 7, kUmacValue, 7, 0),
        descriptorLine("b", umacVersion(), otherLmacVersion()), dataLine("b", 9, kUmacValue, 9, 0),
        "host", dataLine("a", 11, kUmacValue, 11, 0)}},
      {"a cut line's pieces fall into different pieces of the input",
       {"-j", "-v", "1"},
       {dataLine("a", 1, kUmacValue, 1, 0), cut, dataLine("a", 3, kUmacValue, 3, 0), cut, cut,
        "host", dataLine(std::nullopt, 7, kUmacPercent, 1, 0)}},
      {"devices first named at every line, one whose personal log cannot be opened",
       {"-r", "-v", "3", "-o", "out"},
       {"host 1", dataLine("d1", 1, kUmacValue, 1, 0), descriptorLine("d2"), "host 2",
        dataLine("link", 4, kUmacValue, 4, 0), dataLine("d3", 5, kLmacDone, 0, 0), "host 3",
        dataLine("d1", 7, kUmacValue, 7, 0), descriptorLine("d4"),
        dataLine("d2", 9, kUmacValue, 9, 0), "host 4",
        dataLine(std::nullopt, 11, kUmacValue, 11, 0)}},
      {"a build bound in one piece decodes the next",
       {"-F", "builds", "-r", "-v", "2", "-o", "out"},
       {"host", announce("a", "5.1"), dataLine("a", 2, kUmacValue, 2, 0),
        dataLine("a", 3, kLmacDone, 0, 0), announce("b", "5.2"), dataLine("b", 5, kUmacValue, 5, 0),
        dataLine("a", 6, kUmacValue, 6, 0), announce("a", "5.2"),
        dataLine("a", 8, kUmacValue, 8, 0), descriptorLine("b"),
        dataLine("b", 10, kUmacValue, 10, 0), announce("c", "6.0"),
        dataLine("c", 12, kUmacValue, 12, 0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KivTempDir dir;
    writeImage(dir.path());
    dir.makeDir("builds");
    releaseBuild("5.1").writeTo(dir.file("builds/a.elf"));
    releaseBuild("5.2").writeTo(dir.file("builds/b.elf"));
    dir.write("builds/junk", "not an image");
    dir.write("raw.log", logOf(c.lines));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-i", "raw.log"});
    auto fresh = [&dir] {
      if (dir.exists("out")) {
        for (const std::string& name : dir.list("out")) {
          unlink(dir.file("out/" + name).c_str());
        }
      }
      dir.makeDir("out");
      ASSERT_EQ(symlink("/nonexistent", dir.file("out/link_personal.log").c_str()), 0);
    };
    fresh();
    const std::string one = outcome(dir, args, "1");
    for (const std::string workers : {"2", "3", "4", "5"}) {
      fresh();
      EXPECT_EQ(outcome(dir, args, workers), one) << workers << " workers";
    }
  }
}

// Past the first megabyte the pieces point into the line reader's buffers, which it reads on
// into others while pieces still hold them: runs of lines of several reads, a line cut into
// pieces across reads (and longer than a read), zero bytes and device changes among them.
TEST(ParallelE2E, InputOfManyReadsChangesNothing) {
  std::vector<std::string> lines = {descriptorLine("a"), descriptorLine("b")};
  for (int i = 0; i < 60000; ++i) {
    lines.push_back(dataLine(i % 3 == 0 ? "a" : "b", static_cast<uint32_t>(i), kUmacValue,
                             static_cast<uint32_t>(i), 0));
    if (i % 9001 == 0) {
      lines.push_back(std::string("host\0hidden", 11));
      lines.push_back(
          descriptorLine("b", umacVersion(), i % 2 == 0 ? otherLmacVersion() : lmacVersion()));
    }
    if (i == 30000) {
      lines.push_back(std::string(2500000, 'c'));
    }
  }
  KivTempDir dir;
  writeImage(dir.path());
  dir.write("raw.log", logOf(lines));
  dir.makeDir("out");
  const std::vector<std::string> args = {"-j", "-v", "1", "-r", "-i", "raw.log"};
  const std::string one = outcome(dir, args, "1");
  for (const std::string workers : {"2", "3"}) {
    // Megabytes of output: where they part, not a diff of them.
    const std::string many = outcome(dir, args, workers);
    const auto parted = std::mismatch(many.begin(), many.end(), one.begin(), one.end());
    EXPECT_TRUE(many == one) << workers << " workers differ from one at byte "
                             << (parted.first - many.begin()) << ": "
                             << std::string(parted.first, std::min(parted.first + 200, many.end()));
  }
}

}  // namespace

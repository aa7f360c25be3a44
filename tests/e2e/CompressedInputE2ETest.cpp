// Compressed captures as gzip, zstd and xz write them: decoded as the plain capture is, from a file
// or standard input, whatever their names; a damaged one up to the damage, and then named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

// Each tool's command that writes a file's compressed form on standard output.
const struct {
  const char* name;
  const char* command;
} kTools[] = {{"gzip", "gzip -c"}, {"zstd", "zstd -q -c"}, {"xz", "xz -c"}};

// Lines `from` to `from + count` of a capture: data lines of an announced device between host
// lines; the first part starts with the announcement.
std::string capturePart(int from, int count) {
  std::string log = from == 0 ? descriptorLine("wlan0") + "\n" : "";
  for (int i = from; i < from + count; ++i) {
    log += "[" + std::to_string(i) + ".000000] host line " + std::to_string(i) + "\n";
    log += dataLine("wlan0", static_cast<uint32_t>(i), kUmacPercent, static_cast<uint32_t>(i), 0) +
           "\n";
  }
  return log;
}

// Runs a shell command in `dir`; a failure fails the test.
void shell(const KivTempDir& dir, const std::string& command) {
  const KivRunResult run =
      runKivlog({.args = {"-c", command}, .workingDirectory = dir.path(), .binary = "/bin/sh"});
  ASSERT_EQ(run.status, 0) << command << ": " << run.err;
}

class CompressedInputE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    writeImage(dir.path());
    dir.write("first.log", capturePart(0, 1500));
    dir.write("second.log", capturePart(1500, 1500));
    dir.write("raw.log", dir.read("first.log") + dir.read("second.log"));
  }
  KivRunResult run(std::vector<std::string> args, std::string input = {}) {
    return runKivlogIn(dir.path(), std::move(args), std::move(input));
  }

  KivTempDir dir;
};

TEST_F(CompressedInputE2E, EachFormatIsDecodedAsThePlainCapture) {
  const KivRunResult plain = run({"-r", "-i", "raw.log"});
  const KivRunResult plainStdin = run({"-r"}, dir.read("raw.log"));
  ASSERT_EQ(plain.status, 0);
  for (const auto& tool : kTools) {
    const std::string c = tool.command;
    // Names that say nothing of the format: the first bytes tell it.
    shell(dir, c + " raw.log > whole.capture");
    shell(dir, c + " first.log > parts.capture && " + c + " second.log >> parts.capture");
    for (const std::string name : {"whole.capture", "parts.capture"}) {
      SCOPED_TRACE(std::string(tool.name) + ", " + name);
      const KivRunResult file = run({"-r", "-i", name});
      std::string expected = plain.out;
      const std::string input = "  Input    raw.log\n";
      expected.replace(expected.find(input), input.size(), "  Input    " + name + "\n");
      EXPECT_EQ(file.status, 0);
      EXPECT_TRUE(file.out == expected)
          << file.out.size() << " bytes, expected " << expected.size();
      EXPECT_EQ(file.err, plain.err);

      const KivRunResult piped = run({"-r"}, dir.read(name));
      EXPECT_EQ(piped.status, 0);
      EXPECT_TRUE(piped.out == plainStdin.out);
      EXPECT_EQ(piped.err, plainStdin.err);
    }
  }
}

TEST_F(CompressedInputE2E, ADamagedCaptureIsDecodedUpToTheDamageThenNamed) {
  const std::string firstOut = run({"-i", "first.log"}).out;
  const std::string wholeOut = run({"-i", "raw.log"}).out;
  for (const auto& tool : kTools) {
    const std::string c = tool.command;
    const std::string name = tool.name;
    shell(dir, c + " first.log > a && " + c + " second.log > b");
    const std::string a = dir.read("a");
    const std::string b = dir.read("b");
    std::string flipped = a + b;
    flipped.back() ^= 0x40;
    // The first member is decoded whole; of the second, what comes before the damage (the
    // last byte is past the data of gzip and xz; zstd holds back a frame's last block when its
    // checksum fails).
    const struct {
      const char* what;
      std::string bytes;
      std::string reason;
      bool decodedWhole;
    } cases[] = {
        {"cut in the second member", a + b.substr(0, b.size() / 2),
         "unexpected end of " + name + " data", false},
        {"last byte flipped", flipped, "corrupt " + name + " data", name != "zstd"},
    };
    for (const auto& c2 : cases) {
      SCOPED_TRACE(name + ", " + c2.what);
      dir.write("damaged.log", c2.bytes);
      for (const bool file : {true, false}) {
        const KivRunResult result = file ? run({"-i", "damaged.log"}) : run({}, c2.bytes);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "kivlog: cannot read " +
                                  std::string(file ? "damaged.log" : "standard input") + ": " +
                                  c2.reason + "\n");
        if (c2.decodedWhole) {
          EXPECT_TRUE(result.out == wholeOut);
        } else {
          EXPECT_TRUE(result.out.starts_with(firstOut)) << result.out.size();
        }
      }
    }
  }
}

}  // namespace

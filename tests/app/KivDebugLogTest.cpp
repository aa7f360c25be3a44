#include "app/KivDebugLog.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Sends everything written to std::cout into a string while it lives.
class CoutCapture {
 public:
  CoutCapture() : old_(std::cout.rdbuf(buffer_.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(old_); }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;
  std::string text() {
    std::cout.flush();
    return buffer_.str();
  }

 private:
  std::ostringstream buffer_;
  std::streambuf* old_;
};

// The debug level is program-wide: every test leaves it as it found it.
class KivDebugLog : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = debugLevel; }
  void TearDown() override { setDebugLevel(saved_); }

  // What one message of each level writes at `level`.
  static std::string allLevelsAt(int level) {
    setDebugLevel(level);
    CoutCapture capture;
    debugLog(kLogError, "e %d", 0);
    debugLog(kLogWarning, "w %s", "one");
    debugLog(kLogInfo, "i %u", 2u);
    debugLog(kLogDebug, "d %x", 0xabu);
    return capture.text();
  }

 private:
  int saved_ = 0;
};

TEST_F(KivDebugLog, TheDebugLevelDecidesWhichLevelsAreWrittenWithTheirPrefixes) {
  const std::string all = "[ERR] e 0\n[WRN] w one\n[INF] i 2\n[DBG] d ab\n";
  const std::vector<std::pair<int, std::string>> rows = {
      {-2147483647 - 1, ""},
      {-1, ""},
      {0, "[ERR] e 0\n"},
      {1, "[ERR] e 0\n[WRN] w one\n"},
      {2, "[ERR] e 0\n[WRN] w one\n[INF] i 2\n"},
      {3, all},
      {7, all},
      {2147483647, all},
  };
  for (const auto& [level, expected] : rows) {
    EXPECT_EQ(allLevelsAt(level), expected) << "debug level " << level;
  }
}

TEST_F(KivDebugLog, AMessageIsCutAt1023Characters) {
  setDebugLevel(0);
  const std::string text(2000, 'm');
  CoutCapture capture;
  debugLog(kLogError, "%s", text.c_str());
  debugLog(kLogError, "%s", text.substr(0, 1023).c_str());
  debugLog(kLogError, "<%s>", text.substr(0, 1021).c_str());
  debugLog(kLogError, "<%s>", text.substr(0, 1022).c_str());
  const std::string cut = text.substr(0, 1023);
  EXPECT_EQ(capture.text(), "[ERR] " + cut + "\n[ERR] " + cut + "\n[ERR] <" + text.substr(0, 1021) +
                                ">\n[ERR] <" + text.substr(0, 1022) + "\n");
}

TEST_F(KivDebugLog, AFormatEndingInNewlineLeavesAnEmptyLine) {
  setDebugLevel(1);
  CoutCapture capture;
  debugLog(kLogWarning, "two\nlines\n");
  debugLog(kLogWarning, "%s", "");
  EXPECT_EQ(capture.text(), "[WRN] two\nlines\n\n[WRN] \n");
}

TEST_F(KivDebugLog, APercentInAValueIsPrintedAsItIs) {
  setDebugLevel(0);
  CoutCapture capture;
  debugLog(kLogError, "Unable to open raw log file %s", "100%d%n.log");
  EXPECT_EQ(capture.text(), "[ERR] Unable to open raw log file 100%d%n.log\n");
}

struct DumpRow {
  std::vector<unsigned char> bytes;
  std::string expected;
};

TEST_F(KivDebugLog, HexDumpShowsSixteenBytesALineInHexAndAsCharacters) {
  std::vector<unsigned char> ramp(143);
  for (std::size_t i = 0; i < ramp.size(); ++i) {
    ramp[i] = static_cast<unsigned char>(0x70 + i);
  }
  const std::vector<DumpRow> rows = {
      {{}, "[DBG] T:(0 bytes)\n"},
      {{0x00, 0x41, 0x7F},
       "[DBG] T:(3 bytes)\n"
       "    00 41 7f                                            .A.\n"},
      {{0x20, 0x7E, 0x1F, 0x80, 0xFF, 'a', 'b', 'c', '0', '1', '2', '3', '4', '5', '6', '7'},
       "[DBG] T:(16 bytes)\n"
       "    20 7e 1f 80 ff 61 62 63 30 31 32 33 34 35 36 37      ~...abc01234567\n"},
      {ramp,
       "[DBG] T:(143 bytes)\n"
       "    70 71 72 73 74 75 76 77 78 79 7a 7b 7c 7d 7e 7f     pqrstuvwxyz{|}~.\n"
       "    80 81 82 83 84 85 86 87 88 89 8a 8b 8c 8d 8e 8f     ................\n"
       "    90 91 92 93 94 95 96 97 98 99 9a 9b 9c 9d 9e 9f     ................\n"
       "    a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af     ................\n"
       "    b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 ba bb bc bd be bf     ................\n"
       "    c0 c1 c2 c3 c4 c5 c6 c7 c8 c9 ca cb cc cd ce cf     ................\n"
       "    d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 da db dc dd de df     ................\n"
       "    e0 e1 e2 e3 e4 e5 e6 e7 e8 e9 ea eb ec ed ee ef     ................\n"
       "    f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe        ...............\n"},
  };
  setDebugLevel(3);
  for (const DumpRow& row : rows) {
    CoutCapture capture;
    debugHexDump(kLogDebug, "T:", row.bytes.data(), static_cast<uint32_t>(row.bytes.size()));
    EXPECT_EQ(capture.text(), row.expected) << row.bytes.size() << " bytes";
  }
}

TEST_F(KivDebugLog, HexDumpFollowsTheLevelRuleAndPrefix) {
  const unsigned char bytes[] = {'o', 'k'};
  setDebugLevel(2);
  CoutCapture capture;
  debugHexDump(kLogDebug, "hidden", bytes, 2);
  debugHexDump(kLogInfo, "shown ", bytes, 2);
  setDebugLevel(-1);
  debugHexDump(kLogError, "silenced", bytes, 2);
  EXPECT_EQ(capture.text(),
            "[INF] shown (2 bytes)\n"
            "    6f 6b                                               ok\n");
}

}  // namespace

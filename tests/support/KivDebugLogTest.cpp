#include "support/KivDebugLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/KivCapture.h"

namespace {

using KivDebugLog = KivAtLevel<kLogError>;

// What one message of each level writes at `level`.
std::string allLevelsAt(int level) {
  setDebugLevel(level);
  KivCapture capture;
  debugLog(kLogError, "e %d", 0);
  debugLog(kLogWarning, "w %s", "one");
  debugLog(kLogInfo, "i %u", 2u);
  debugLog(kLogDebug, "d %x", 0xabu);
  return capture.text();
}

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
  const std::string text(2000, 'm');
  KivCapture capture;
  debugLog(kLogError, "%s", text.c_str());
  debugLog(kLogError, "%s", text.substr(0, 1023).c_str());
  debugLog(kLogError, "<%s>", text.substr(0, 1021).c_str());
  debugLog(kLogError, "<%s>", text.substr(0, 1022).c_str());
  const std::string cut = text.substr(0, 1023);
  EXPECT_EQ(capture.text(), "[ERR] " + cut + "\n[ERR] " + cut + "\n[ERR] <" + text.substr(0, 1021) +
                                ">\n[ERR] <" + text.substr(0, 1022) + "\n");
}

TEST_F(KivDebugLog, TheMessageIsWrittenAsFormattedWithOneNewlineAdded) {
  setDebugLevel(1);
  KivCapture capture;
  debugLog(kLogWarning, "two\nlines\n");
  debugLog(kLogWarning, "%s", "");
  debugLog(kLogError, "Unable to open raw log file %s", "100%d%n.log");
  EXPECT_EQ(capture.text(),
            "[WRN] two\nlines\n\n[WRN] \n[ERR] Unable to open raw log file 100%d%n.log\n");
}

struct DumpRow {
  std::vector<unsigned char> bytes;
  int debugLevel;
  int level;
  std::string expected;
};

// Dumps of many lines are pinned by the image loading traces.
TEST_F(KivDebugLog, HexDumpShowsSixteenBytesALineInHexAndAsCharactersUnderTheLevelRule) {
  const std::vector<DumpRow> rows = {
      {{}, 3, kLogDebug, "[DBG] T:(0 bytes)\n"},
      {{0x00, 0x41, 0x7F},
       3,
       kLogDebug,
       "[DBG] T:(3 bytes)\n"
       "    00 41 7f                                            .A.\n"},
      {{0x20, 0x7E, 0x1F, 0x80, 0xFF, 'a', 'b', 'c', '0', '1', '2', '3', '4', '5', '6', '7'},
       3,
       kLogDebug,
       "[DBG] T:(16 bytes)\n"
       "    20 7e 1f 80 ff 61 62 63 30 31 32 33 34 35 36 37      ~...abc01234567\n"},
      {{'o', 'k'}, 2, kLogDebug, ""},
      {{'o', 'k'},
       2,
       kLogInfo,
       "[INF] T:(2 bytes)\n"
       "    6f 6b                                               ok\n"},
      {{'o', 'k'}, -1, kLogError, ""},
  };
  for (const DumpRow& row : rows) {
    setDebugLevel(row.debugLevel);
    KivCapture capture;
    debugHexDump(row.level, "T:", row.bytes.data(), static_cast<uint32_t>(row.bytes.size()));
    EXPECT_EQ(capture.text(), row.expected) << row.bytes.size() << " bytes at " << row.level;
  }
}

}  // namespace

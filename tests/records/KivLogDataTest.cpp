#include "records/KivLogData.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/KivCapture.h"

namespace {

constexpr uint32_t kMax = 4294967295u;
constexpr std::size_t kAfterId = sizeof("[FW_LOG-R][ID:dev1]") - 1;

using KivLogDataTest = KivAtLevel<kLogDebug>;

struct Conversion {
  std::string text;
  uint32_t decimal;      // as token 0, 1, 3 or 4
  uint32_t hexadecimal;  // as token 2, the log address
};

TEST_F(KivLogDataTest, NumbersConvertAsStrtoulSaturatingAt32Bits) {
  const std::vector<Conversion> cases = {
      {"0", 0, 0},
      {"42", 42, 0x42},
      {"12", 12, 0x12},
      {"1a2b", 1, 0x1A2B},
      {"0x1A2B", 0, 0x1A2B},
      {"0X1a2B", 0, 0x1A2B},
      {"4294967295", kMax, kMax},
      {"4294967296", kMax, kMax},
      {"99999999999999999999999999", kMax, kMax},
      {"ffffffff", 0, kMax},
      {"100000000", 100000000, kMax},
      {"000000000000000000000000007", 7, 7},
      {"-1", kMax, kMax},
      {"-4294967295", 1, kMax},
      {"-4294967296", kMax, kMax},
      {"-0x10", 0, 0xFFFFFFF0},
      {"+7", 7, 7},
      {" \t\n\v\f\r12", 12, 0x12},
      {"12abc", 12, 0x12ABC},
      {"1 2", 1, 1},
      {"abc", 0, 0xABC},
      {"xyz", 0, 0},
      {"", 0, 0},
      {"-", 0, 0},
      {"+", 0, 0},
      {"--1", 0, 0},
      {"- 1", 0, 0},
      {"0x", 0, 0},
      {"0xg", 0, 0},
      {"0x0x5", 0, 0},
      {"%n%s", 0, 0},
  };
  for (const Conversion& c : cases) {
    SCOPED_TRACE("token '" + c.text + "'");
    for (const uint32_t index : {0u, 1u, 3u, 4u}) {
      KivLogData record("", "");
      ASSERT_TRUE(record.handleToken(index, c.text));
      const uint32_t values[] = {record.timestamp, record.log_type, record.log_addr, record.param0,
                                 record.param1};
      EXPECT_EQ(values[index], c.decimal) << "token " << index;
    }
    KivLogData record("", "");
    ASSERT_TRUE(record.handleToken(2, c.text));
    EXPECT_EQ(record.log_addr, c.hexadecimal);
  }
}

struct FailedLine {
  std::string line;
  int level;
  std::string diagnostics;
};

TEST_F(KivLogDataTest, WrongTokenCountGivesNoRecordAndNamesTheWholeLine) {
  const std::string four = "12:00 [FW_LOG-R][ID:dev1][1][2][3][4] [5";
  const std::string six = "[FW_LOG-R][ID:dev1][1][2][3][4][5][9]";
  const std::string percent = "%s%n [FW_LOG-R][ID:dev1][1][2][3][4]";
  const std::vector<FailedLine> cases = {
      {four, kLogDebug, "[ERR] Failed to detokenize data log line " + four + "\n"},
      {six, kLogDebug,
       "[DBG] Unknown device version token number 5\n[DBG] Bad token 5 9\n"
       "[ERR] Failed to detokenize data log line " +
           six + "\n"},
      {six, kLogError, "[ERR] Failed to detokenize data log line " + six + "\n"},
      {percent, kLogError, "[ERR] Failed to detokenize data log line " + percent + "\n"},
  };
  for (const FailedLine& c : cases) {
    SCOPED_TRACE(c.line + " at level " + std::to_string(c.level));
    setDebugLevel(c.level);
    std::size_t position = c.line.find("[ID:dev1]") + 9;
    KivCapture capture;
    EXPECT_EQ(KivLogData::createDataLog("dev1", c.line, position), nullptr);
    EXPECT_EQ(capture.text(), c.diagnostics);
  }
}

TEST_F(KivLogDataTest, TokenPastTheFifthIsRefusedWithoutChangingTheRecord) {
  KivLogData record("d", "line");
  KivCapture capture;
  EXPECT_FALSE(record.handleToken(4294967295u, "123"));
  EXPECT_EQ(capture.text(), "[DBG] Unknown device version token number -1\n");
  EXPECT_EQ(record.timestamp + record.log_type + record.log_addr + record.param0 + record.param1,
            0u);
}

TEST_F(KivLogDataTest, RecordOwnsCopiesOfTheIdAndTheLine) {
  auto line = std::make_unique<std::string>("[FW_LOG-R][ID:dev1][1][2][3][4][5]");
  auto id = std::make_unique<std::string>("dev1");
  std::size_t position = kAfterId;
  const auto record = KivLogData::createDataLog(*id, *line, position);
  ASSERT_NE(record, nullptr);
  line->assign(line->size(), 'x');
  id->assign("zzzz");
  line.reset();
  id.reset();
  EXPECT_EQ(record->rawLine, "[FW_LOG-R][ID:dev1][1][2][3][4][5]");
  EXPECT_EQ(record->deviceId, "dev1");
}

}  // namespace

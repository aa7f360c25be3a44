#include "records/KivDetokenizer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "support/KivCapture.h"

namespace {

using namespace std::string_literals;

// Records every call the detokenizer makes; refuses one chosen token index if asked to.
class RecordingRecord : public KivLogTokenized {
 public:
  bool handleToken(uint32_t index, std::string_view token) override {
    indices.push_back(index);
    tokens.emplace_back(token);
    return !refuseIndex || index != *refuseIndex;
  }
  bool isTokenCountValid(uint32_t count) override {
    countAsked = count;
    return countValid;
  }

  std::vector<uint32_t> indices;
  std::vector<std::string> tokens;
  std::optional<uint32_t> countAsked;
  std::optional<uint32_t> refuseIndex;
  bool countValid = true;
};

using KivDetokenizerTest = KivAtLevel<kLogDebug>;

struct DetokenizeCase {
  std::string line;
  std::size_t start;
  std::vector<std::string> tokens;
  std::optional<std::size_t> end;  // unset: the end of the line
};

TEST_F(KivDetokenizerTest, HandsEveryCompleteTokenToTheRecordInLineOrderThenAsksTheCount) {
  const std::vector<DetokenizeCase> cases = {
      {"[a] x [b]", 0, {"a", "b"}, {}},
      {"[a][b", 0, {"a"}, {}},
      {"[ab[cd]", 0, {"abcd"}, {}},
      {"[[a]", 0, {"a"}, {}},
      {"x]y[z]", 0, {"z"}, {}},
      {"[a]]]] ]", 0, {"a"}, {}},
      {"]]]", 0, {}, {}},
      {"[]", 0, {""}, {}},
      {"[][]", 0, {"", ""}, {}},
      {"[ a ]", 0, {" a "}, {}},
      {"[a:b:c][ID:x]", 0, {"a:b:c", "ID:x"}, {}},
      {"[\t\xff\x01]", 0, {"\t\xff\x01"}, {}},
      {"[skip][x]text[y]", 6, {"x", "y"}, {}},
      {"[skip][x]", 3, {"x"}, {}},
      {"[a]", 3, {}, {}},
      {"[a]", 10, {}, 10},
      {"", 0, {}, {}},
  };
  for (const DetokenizeCase& c : cases) {
    SCOPED_TRACE("line '" + c.line + "' from " + std::to_string(c.start));
    RecordingRecord record;
    KivDetokenizer detokenizer;
    std::size_t position = c.start;
    EXPECT_TRUE(detokenizer.detokenize(c.line, position, record));
    EXPECT_EQ(record.tokens, c.tokens);
    std::vector<uint32_t> expectedIndices(c.tokens.size());
    std::iota(expectedIndices.begin(), expectedIndices.end(), 0u);
    EXPECT_EQ(record.indices, expectedIndices);
    EXPECT_EQ(record.countAsked, std::optional<uint32_t>(c.tokens.size()));
    EXPECT_EQ(detokenizer.tokenIndex, c.tokens.size());
    EXPECT_EQ(position, c.end.value_or(c.line.size()));
  }
}

TEST_F(KivDetokenizerTest, ResultIsTheCountVerdictAndEveryCallCountsFromZeroAgain) {
  KivDetokenizer detokenizer;
  RecordingRecord first;
  first.countValid = false;
  std::size_t position = 0;
  KivCapture capture;
  EXPECT_FALSE(detokenizer.detokenize("[a][b][c]", position, first));
  EXPECT_EQ(first.countAsked, std::optional<uint32_t>(3));
  RecordingRecord second;
  position = 0;
  EXPECT_TRUE(detokenizer.detokenize("[d]", position, second));
  EXPECT_EQ(second.indices, std::vector<uint32_t>{0});
  EXPECT_EQ(second.countAsked, std::optional<uint32_t>(1));
  EXPECT_EQ(capture.text(), "");
}

TEST_F(KivDetokenizerTest, RefusedTokenStopsTheLineWithBadTokenAndNoCountCheck) {
  RecordingRecord record;
  record.refuseIndex = 3;
  KivDetokenizer detokenizer;
  std::size_t position = 0;
  {
    KivCapture capture;
    EXPECT_FALSE(detokenizer.detokenize("[t0][t1][t2][%s%n%x%%][t4]", position, record));
    // The token text goes out literally, never as a format.
    EXPECT_EQ(capture.text(), "[DBG] Bad token 3 %s%n%x%%\n");
  }
  EXPECT_EQ(record.tokens, (std::vector<std::string>{"t0", "t1", "t2", "%s%n%x%%"}));
  EXPECT_FALSE(record.countAsked.has_value());
  EXPECT_EQ(position, 22u);

  setDebugLevel(kLogInfo);
  position = 0;
  KivCapture capture;
  EXPECT_FALSE(detokenizer.detokenize("[a][b][c][d]", position, record));
  EXPECT_EQ(capture.text(), "");
}

struct NextTokenCase {
  std::string line;
  std::size_t start;
  std::string key;
  bool result;
  std::string token;
  std::size_t end;
};

TEST_F(KivDetokenizerTest, NextTokenReadsPlainTokensAndNameValuePairs) {
  const std::vector<NextTokenCase> cases = {
      {"[a][b]", 0, "", true, "a", 3},
      {"[a][b]", 3, "", true, "b", 6},
      {"[a][b]", 6, "", false, "", 6},
      {"[a:b]", 0, "", true, "a:b", 5},
      {"  x][y", 0, "", false, "y", 6},
      {"[a]", 9, "", false, "", 9},
      {"[ID:dev0][UMAC]", 0, "ID", true, "dev0", 9},
      {"[XY:dev0]", 0, "ID", true, "dev0", 9},
      {"[ID:dev0]", 0, "OTHER", true, "dev0", 9},
      {"[UMAC][x]", 0, "ID", true, "", 0},
      {"  [UMAC][x]", 2, "ID", true, "", 2},
      {"[ID:a:b]", 0, "ID", true, "a:b", 8},
      {"[ID:]", 0, "ID", true, "", 5},
      {"[:]", 0, "ID", true, "", 3},
      {"[]", 0, "ID", true, "", 2},
      {"no bracket here", 0, "ID", false, "", 15},
      {"[ID:dev0", 0, "ID", false, "dev0", 8},
      {"[UMAC", 0, "ID", false, "", 0},
      {"x]y[I[D:q]", 0, "ID", true, "q", 10},
  };
  for (const NextTokenCase& c : cases) {
    SCOPED_TRACE("line '" + c.line + "' from " + std::to_string(c.start) + " key '" + c.key + "'");
    KivDetokenizer detokenizer;
    std::size_t position = c.start;
    std::string token = "left over";
    KivCapture capture;
    EXPECT_EQ(detokenizer.nextToken(c.line, position, c.key, token), c.result);
    EXPECT_EQ(token, c.token);
    EXPECT_EQ(position, c.end);
    EXPECT_EQ(capture.text(), "");
  }
}

}  // namespace

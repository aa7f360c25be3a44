#include "support/KivJson.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

std::string quoted(const std::string& text) {
  std::string out;
  appendJsonString(out, text);
  return out;
}

TEST(KivJson, StringsAreEscapedAndBytesOutsideUtf8BecomeTheirCodePoint) {
  const struct {
    const char* what;
    std::string text;
    std::string json;
  } cases[] = {
      {"plain", "scan started", R"("scan started")"},
      {"quote and backslash", R"(a"b\c)", R"("a\"b\\c")"},
      {"control characters", "\n\r\t\b\f\x01\x1f\x7f"s,
       R"("\n\r\t\u0008\u000c\u0001\u001f)"
       "\x7f\""},
      {"zero byte", "a\0b"s, R"("a\u0000b")"},
      {"valid UTF-8 of every length", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\xa1",
       "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\xa1\""},
      {"stray continuation byte", "\x80x", R"("\u0080x")"},
      {"overlong forms", "\xc0\x80\xe0\x80\x80", R"("\u00c0\u0080\u00e0\u0080\u0080")"},
      {"surrogate", "\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},
      {"sequence cut by the end", "a\xe2\x82", R"("a\u00e2\u0082")"},
      {"sequence cut by ASCII", "\xe2(x", R"("\u00e2(x")"},
      {"bytes no sequence starts with", "\xf5\xff", R"("\u00f5\u00ff")"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quoted(c.text), c.json) << c.what;
  }
}

TEST(KivJson, ObjectsJoinTheirMembers) {
  std::string out;
  KivJsonObject(out)
      .number("n", 4294967295u)
      .text("s", "x")
      .boolean("b", false)
      .json("a", "[1,2]")
      .end();
  EXPECT_EQ(out, R"({"n":4294967295,"s":"x","b":false,"a":[1,2]})");
}

}  // namespace

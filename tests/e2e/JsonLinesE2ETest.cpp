// -j: every written line is one JSON object. Exact bytes for each kind of object; the shipped
// samples and hostile input read back with a real JSON parser.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/KivImageBuilder.h"
#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;
using namespace std::string_literals;
using nlohmann::json;

const std::string kExamples = std::string(KIVLOG_SOURCE_DIR) + "/examples";

// Every line of `text` parsed; a line that is not one JSON object fails the test.
std::vector<json> parseLines(const std::string& text) {
  std::vector<json> objects;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    EXPECT_NE(end, std::string::npos) << "unended last line";
    const std::string line = text.substr(start, end - start);
    const json object = json::parse(line, nullptr, false);
    EXPECT_TRUE(object.is_object()) << line;
    objects.push_back(object);
    start = end + 1;
  }
  return objects;
}

const std::string kUmacText = "KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 prod";
const std::string kLmacText =
    "LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release g7c1e9a0 prod";

TEST(JsonLinesE2E, EachKindOfLineIsOneObject) {
  KivTempDir dir;
  writeImage(dir.path());
  const std::string descriptor = descriptorLine("dev1");
  const std::string other = descriptorLine("dev2", umacVersion(), otherLmacVersion());
  const std::string value = "[ 12.4] " + dataLine("dev1", 1000, kUmacValue, 7, 255);
  const std::string noId = dataLine(std::nullopt, 5, kUmacNoNewline, 1, 2);
  const std::string mismatched = dataLine("dev2", 6, kUmacPercent, 3, 0);
  const std::string unannounced = dataLine("dev3", 7, kUmacPercent, 3, 0);
  const std::string descriptorObject = R"({"n":2,"device":"dev1","umac":")" + kUmacText +
                                       R"(","lmac":")" + kLmacText +
                                       R"(","compatible":true,"line":")" + descriptor + "\"}\n";
  const std::string valueObject =
      R"({"n":3,"prefix":"[ 12.4] ","device":"dev1","timestamp":1000,"type":"UMAC","level":"INFO1","module":5,"file":"fw/src/main.c","source_line":42,"format":"value=%u count=%x\n","values":[7,255],"message":"value=7 count=ff"})"
      "\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string out;
  } cases[] = {
      {{"-j"},
       rawLog({"boot \"quoted\"", descriptor, value}),
       R"({"n":1,"host":"boot \"quoted\""})"
       "\n" +
           descriptorObject + valueObject},
      {{"-j"},
       rawLog({noId, "[FW_LOG-R] broken"}),
       R"({"n":1,"prefix":"","timestamp":5,"type":"UMAC","level":"INFO2","module":5,"file":"fw/src/main.c","source_line":120,"format":"progress %u of %u","values":[1,2],"message":"progress 1 of 2"})"
       "\n"
       R"({"diag":"ERR","text":"Failed to get expected device id from [FW_LOG-R] broken"})"
       "\n"
       R"({"n":2,"host":"[FW_LOG-R] broken"})"
       "\n"},
      {{"-j", "-s"},
       rawLog({other, mismatched, unannounced}),
       R"({"n":1,"device":"dev2","umac":")" + kUmacText +
           R"(","lmac":"LMAC-FW-7.2.015.4.3.0.2150 Mar 20 2026 14:03:40 release g7c1e9a0 prod","compatible":false,"line":")" +
           other + "\"}\n" + R"({"n":2,"device":"dev2","undecoded":"version-mismatch","line":")" +
           mismatched + "\"}\n" +
           R"({"n":3,"device":"dev3","undecoded":"unannounced-device","line":")" + unannounced +
           "\"}\n"},
      {{"-j", "-r"},
       rawLog({"boot \"quoted\"", descriptor}),
       R"({"n":1,"host":"boot \"quoted\""})"
       "\n" +
           descriptorObject +
           R"({"report":{"using":{"mode":"combined","kiv_log_elf":"kiv_log.elf","input":"stdin","output":"stdout"},"images":{"UMAC":{"data_offset":256,"base_address":536870912,"version_address":536871424,"version":")" +
           kUmacText +
           R"("},"LMAC":{"data_offset":4096,"base_address":4194304,"version_address":4195072,"version":")" +
           kLmacText +
           R"("}},"devices":[{"id":"dev1","versioned":true,"compatible":true,"umac":")" +
           kUmacText + R"(","lmac":")" + kLmacText +
           R"(","strict":false,"line_start":2,"line_end":0,"skipped":0,"processed":0,"version_mismatch":0,"version_unknown":0,"errors":0}]}})"
           "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kivShownArgs(c.args));
    const KivRunResult result = runKivlogIn(dir.path(), c.args, c.input);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, 0);
    parseLines(result.out);
  }
}

TEST(JsonLinesE2E, TheShippedSamplesParseLineByLine) {
  const struct {
    std::string folder;
    std::vector<std::string> args;
  } runs[] = {
      {kExamples, {"-f", "kiv_log.elf", "-i", "sample.log"}},
      {kExamples + "/firmware", {"-f", "kiv_log.elf", "-i", "raw.log"}},
      {kExamples + "/firmware", {"-u", "umac.elf", "-l", "lmac.elf", "-i", "raw.log", "-s"}},
  };
  for (const auto& run : runs) {
    for (const char* level : {"0", "3"}) {
      std::vector<std::string> args = run.args;
      args.insert(args.end(), {"-j", "-r", "-v", level});
      SCOPED_TRACE(kivShownArgs(args));
      const KivRunResult result = runKivlogIn(run.folder, args);
      EXPECT_EQ(result.status, 0);
      const std::vector<json> objects = parseLines(result.out);
      std::size_t decoded = 0;
      std::size_t reports = 0;
      for (const json& object : objects) {
        decoded += object.contains("message") ? 1 : 0;
        reports += object.contains("report") ? 1 : 0;
        EXPECT_FALSE(object.contains("diag") && object["diag"] == "ERR") << object.dump();
      }
      EXPECT_GT(decoded, 10u);
      EXPECT_EQ(reports, 1u);
    }
  }
}

// The text line a JSON Lines object stands for, rebuilt from its members.
std::string textLine(const json& object) {
  if (object.contains("host")) {
    return object["host"].get<std::string>() + "\n";
  }
  if (object.contains("line")) {
    return object["line"].get<std::string>() + "\n";
  }
  char header[256];
  const std::string device =
      object.contains("device") ? "[ID:" + object["device"].get<std::string>() + "] " : "";
  std::snprintf(header, sizeof header,
                " %10u FW_LOG %s[%-7s:%-7s] [%-30.30s:%5u]: ", object["timestamp"].get<unsigned>(),
                device.c_str(), object["type"].get<std::string>().c_str(),
                object["level"].get<std::string>().c_str(),
                object["file"].get<std::string>().c_str(), object["source_line"].get<unsigned>());
  const std::string format = object["format"];
  const std::string end = format.ends_with("\r\n") ? "\r\n" : format.ends_with("\n") ? "\n" : "";
  return object["prefix"].get<std::string>() + header + object["message"].get<std::string>() + end;
}

TEST(JsonLinesE2E, ObjectsHoldWhatTheTextLinesSay) {
  const struct {
    std::string folder;
    std::vector<std::string> args;
  } runs[] = {
      {kExamples, {"-f", "kiv_log.elf", "-i", "sample.log"}},
      {kExamples + "/firmware", {"-f", "kiv_log.elf", "-i", "raw.log", "-s"}},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(kivShownArgs(run.args));
    std::vector<std::string> args = run.args;
    args.push_back("-j");
    std::string rebuilt;
    for (const json& object : parseLines(runKivlogIn(run.folder, args).out)) {
      rebuilt += textLine(object);
    }
    EXPECT_EQ(rebuilt, runKivlogIn(run.folder, run.args).out);
  }
}

TEST(JsonLinesE2E, HostileBytesStillGiveValidJson) {
  KivTempDir dir;
  KivImageBuilder image = imageBuilder();
  const auto umac = image.mac(kUmacSignature, kUmacBlockOffset, kUmacBase, kUmacVersionAddress);
  const uint32_t address =
      umac.placeLogStatement("\x01\"%c\\\xff\xe2\x82\n", "dir\\\"\x80/\x1b[0m.c", 7, 3);
  image.writeTo(dir.file("kiv_log.elf"));
  const std::string hostile = "\xff\xfe\"\\\x01\x7f\xc0\x80";
  char addressText[16];
  std::snprintf(addressText, sizeof addressText, "%x", address);
  const std::string input = hostile + "\n" + descriptorLine(hostile) + "\n" + hostile +
                            "[FW_LOG-R][ID:" + hostile + "][1][0][" + addressText + "][66][0]\n";
  const KivRunResult result = runKivlogIn(dir.path(), {"-j", "-r", "-v", "3"}, input);
  EXPECT_EQ(result.status, 0);
  const std::vector<json> objects = parseLines(result.out);
  // Bytes outside UTF-8 come back as the code points of their values.
  const std::string readBack = "\xc3\xbf\xc3\xbe\"\\\x01\x7f\xc3\x80\xc2\x80";
  bool sawHost = false;
  bool sawRecord = false;
  for (const json& object : objects) {
    if (object.contains("host")) {
      EXPECT_EQ(object["host"], readBack);
      sawHost = true;
    }
    if (object.contains("message")) {
      EXPECT_EQ(object["device"], readBack);
      EXPECT_EQ(object["prefix"], readBack);
      EXPECT_EQ(object["file"], "dir\\\"\xc2\x80/\x1b[0m.c");
      EXPECT_EQ(object["message"], "\x01\"B\\\xc3\xbf\xc3\xa2\xc2\x82");
      sawRecord = true;
    }
  }
  EXPECT_TRUE(sawHost);
  EXPECT_TRUE(sawRecord);
}

}  // namespace

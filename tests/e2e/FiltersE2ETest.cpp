// --level, --device, --mac and --no-host, each alone and together, on standard output, in JSON
// Lines and in an output folder: the output is the unfiltered output with the lines each rule
// names left out, filtered here from what the test knows of every input line. Diagnostics, the
// report and the warnings stay as they are.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/KivImageBuilder.h"
#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;
using Args = std::vector<std::string>;
using nlohmann::json;

// What the test knows of an input line. A data line the tool refuses counts as a host line.
struct InputLine {
  enum Kind { kHost, kDescriptor, kData } kind;
  std::string device;
  uint32_t type = 0;
  uint16_t level = 0;
};

struct Rules {
  Args args;
  std::optional<uint16_t> level;
  std::set<std::string> devices;
  std::optional<uint32_t> mac;
  bool noHost = false;

  bool device(const std::string& id) const { return devices.empty() || devices.contains(id); }
};

// One line of the unfiltered output and the input line it stands for (none for a diagnostic).
struct OutputLine {
  std::string text;
  std::string json;
  const InputLine* input;
  bool undecoded;
};

bool shown(const Rules& rules, const OutputLine& line) {
  if (line.input == nullptr) {
    return true;
  }
  const InputLine& in = *line.input;
  switch (in.kind) {
    case InputLine::kHost:
      return !rules.noHost;
    case InputLine::kDescriptor:
      return rules.device(in.device);
    case InputLine::kData:
      break;
  }
  const bool levelShown =
      !rules.level || (!line.undecoded && (in.level <= *rules.level || in.level >= 7));
  return levelShown && (!rules.mac || in.type >> 1 == *rules.mac) && rules.device(in.device);
}

// The lines of `text`, each with its line end.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// The personal logs an output folder holds, by device: a device's own lines and the host lines
// from the one that brought the device in; with --device, only the devices shown get host lines.
std::map<std::string, std::string> personalLogs(const std::vector<OutputLine>& output, bool strict,
                                                const Rules& rules) {
  std::map<std::string, std::string> logs;
  for (const OutputLine& line : output) {
    if (line.input == nullptr) {
      continue;
    }
    const InputLine& in = *line.input;
    if (in.kind != InputLine::kHost && !in.device.empty() && !logs.contains(in.device) &&
        (in.kind == InputLine::kDescriptor || !strict)) {
      logs[in.device];
    }
    if (!shown(rules, line)) {
      continue;
    }
    for (auto& [device, log] : logs) {
      if (in.kind == InputLine::kHost ? rules.device(device) : device == in.device) {
        log += line.text;
      }
    }
  }
  return logs;
}

TEST(FiltersE2E, EachRuleAloneAndTogetherLeavesOutOfEveryOutputTheLinesItNamesAndNothingElse) {
  KivTempDir dir;
  // One statement of each level, 0 to 8 (8 shows as ALWAYS), in each image.
  KivImageBuilder builder;
  const auto umac = builder.mac(kUmacSignature, kUmacBlockOffset, kUmacBase, kUmacVersionAddress);
  umac.version(umacVersion());
  const auto lmac = builder.mac(kLmacSignature, kLmacBlockOffset, kLmacBase, kLmacVersionAddress);
  lmac.version(lmacVersion());
  std::array<std::array<uint32_t, 9>, 2> statements{};
  for (uint16_t level = 0; level < 9; ++level) {
    statements[0][level] = umac.placeLogStatement("umac %u\n", "umac.c", level, level);
    statements[1][level] = lmac.placeLogStatement("lmac %u\n", "lmac.c", level, level);
  }
  builder.writeTo(dir.file("kiv_log.elf"));

  // dev1 announces the images' versions, dev2 others, dev3 nothing; the last lines carry no id.
  std::vector<InputLine> input;
  std::string raw;
  auto add = [&](const std::string& line, InputLine in) {
    raw += line + "\n";
    input.push_back(std::move(in));
  };
  add("boot", {InputLine::kHost});
  add(descriptorLine("dev1"), {InputLine::kDescriptor, "dev1"});
  add(descriptorLine("dev2", umacVersion(), otherLmacVersion()), {InputLine::kDescriptor, "dev2"});
  const std::optional<std::string> ids[] = {"dev1", "dev2", "dev3", std::nullopt};
  for (uint32_t i = 0; i < std::size(ids); ++i) {
    for (uint16_t level = 0; level < 9; ++level) {
      const uint32_t type = (level + i) % 4;
      add(dataLine(ids[i], level, type, statements[type >> 1][level], level, 0),
          {InputLine::kData, ids[i].value_or(""), type, level});
    }
    add("host after " + ids[i].value_or("no id"), {InputLine::kHost});
  }
  // Decoded, a log type without an image is an error and writes nothing; undecoded, it is written.
  add(dataLine("dev1", 9, 4, statements[0][1], 0, 0), {InputLine::kData, "dev1", 4, 1});
  add(dataLine("dev2", 9, 5, statements[0][1], 0, 0), {InputLine::kData, "dev2", 5, 1});
  add("[FW_LOG-R] refused", {InputLine::kHost});
  dir.write("raw.log", raw);

  const Rules rules[] = {
      {},
      {{"--level", "warning"}, 2},
      {{"--level=0"}, 0},
      {{"--level", "Always"}, 7},
      {{"--device", "dev1"}, {}, {"dev1"}},
      {{"--device", "dev2", "--device=dev3"}, {}, {"dev2", "dev3"}},
      {{"--device", ""}, {}, {""}},
      {{"--mac", "UMAC"}, {}, {}, 0},
      {{"--mac=lmac"}, {}, {}, 1},
      {{"--no-host"}, {}, {}, {}, true},
      {{"--device", "dev2", "--level", "INFO2"}, 4, {"dev2"}},
      {{"--level", "ERROR", "--mac", "LMAC", "--device", "dev1", "--no-host"},
       1,
       {"dev1"},
       1,
       true},
  };
  for (const bool strict : {false, true}) {
    const Args base = strict ? Args{"-r", "-i", "raw.log", "-s"} : Args{"-r", "-i", "raw.log"};
    auto with = [&base](Args extra) {
      extra.insert(extra.begin(), base.begin(), base.end());
      return extra;
    };
    const KivRunResult text = runKivlogIn(dir.path(), base);
    const KivRunResult jsonLines = runKivlogIn(dir.path(), with({"-j"}));
    ASSERT_EQ(text.status, 0);
    ASSERT_EQ(jsonLines.status, 0);

    // The unfiltered output, line by line in both forms, then the report.
    const std::vector<std::string> textLines = linesOf(text.out);
    std::vector<std::string> objects = linesOf(jsonLines.out);
    ASSERT_FALSE(objects.empty());
    const std::string jsonReport = objects.back();
    objects.pop_back();
    ASSERT_GT(textLines.size(), objects.size());
    std::vector<OutputLine> output;
    std::string textReport;
    for (std::size_t i = 0; i < textLines.size(); ++i) {
      if (i >= objects.size()) {
        textReport += textLines[i];
        continue;
      }
      const json object = json::parse(objects[i]);
      const InputLine* in =
          object.contains("n") ? &input.at(object["n"].get<std::size_t>() - 1) : nullptr;
      output.push_back({textLines[i], objects[i], in, object.contains("undecoded")});
    }

    for (const Rules& rule : rules) {
      SCOPED_TRACE(kivShownArgs(with(rule.args)));
      std::string expectedText;
      std::string expectedJson;
      std::string expectedMain;
      for (const OutputLine& line : output) {
        if (shown(rule, line)) {
          expectedText += line.text;
          expectedJson += line.json;
          expectedMain += line.input != nullptr ? line.text : "";
        }
      }
      const KivRunResult filtered = runKivlogIn(dir.path(), with(rule.args));
      EXPECT_EQ(filtered.out, expectedText + textReport);
      EXPECT_EQ(filtered.err, text.err);
      EXPECT_EQ(filtered.status, 0);
      Args asJson = rule.args;
      asJson.push_back("-j");
      EXPECT_EQ(runKivlogIn(dir.path(), with(asJson)).out, expectedJson + jsonReport);

      KivTempDir folder;
      Args toFolder = rule.args;
      toFolder.insert(toFolder.end(), {"-o", folder.path()});
      EXPECT_EQ(runKivlogIn(dir.path(), with(toFolder)).status, 0);
      EXPECT_EQ(folder.read("HostAndFirmware.log"), expectedMain);
      std::vector<std::string> files = {"HostAndFirmware.log"};
      for (const auto& [device, log] : personalLogs(output, strict, rule)) {
        files.push_back(device + "_personal.log");
        EXPECT_EQ(folder.read(files.back()), log) << device;
      }
      EXPECT_EQ(folder.list(), files);
    }
  }
}

}  // namespace

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "output/KivTextWriter.h"
#include "records/KivDeviceDesc.h"
#include "records/KivLogData.h"
#include "support/KivCapture.h"
#include "support/KivLoadedImages.h"

namespace {

using namespace kivsample;

struct Rendered {
  std::string output;
  std::string diagnostics;
};

const std::string kExample1 =
    "12:00:01.000     123456 FW_LOG [ID:dev1] [UMAC   :INFO1  ] [fw/src/main.c                 "
    ":   42]: value=7 count=ff\n";
// Header of a line of device "d" with prefix "P", time stamp 1, file "c.c", line 1 and level 3.
const std::string kCutHeader =
    "P          1 FW_LOG [ID:d] [UMAC   :INFO1  ] [c.c                           :    1]: ";
// What a 4095-character line leaves for the format after that header.
const std::size_t kRoom = 4095 - kCutHeader.size();

KivLogData makeRecord(std::string_view id, uint32_t timestamp, uint32_t logType, uint32_t address,
                      uint32_t param0, uint32_t param1) {
  KivLogData record(id, dataLine(id, timestamp, logType, address, param0, param1));
  record.timestamp = timestamp;
  record.log_type = logType;
  record.log_addr = address;
  record.param0 = param0;
  record.param1 = param1;
  return record;
}

std::unique_ptr<KivDeviceDesc> compatibleDevice(std::string_view id) {
  auto device = std::make_unique<KivDeviceDesc>(id, 1, true, false);
  device->compatible = true;
  return device;
}

// The standard combined image. `umac` places further UMAC statements: it rewrites the standard
// UMAC block unchanged, so its addresses map exactly as the standard ones do.
class KivLogRenderTest : public KivAtLevel<kLogError> {
 protected:
  KivLogRenderTest()
      : builder(imageBuilder()),
        umac(builder.mac(kUmacSignature, kUmacBlockOffset, kUmacBase, kUmacVersionAddress)) {}

  void load(const KivImageBuilder& image) { images.emplace(image); }
  void load() { load(builder); }

  Rendered render(KivDeviceDesc& device, const KivLogData& record, std::string_view prefix = "P",
                  uint32_t lineNumber = 5, int aSize = 2) {
    std::ostringstream out;
    KivCapture capture;
    KivTextWriter writer(std::cout, {});
    writer.setMainOutput(*out.rdbuf());
    device.renderDataLog(record, lineNumber, prefix, images->array(), aSize, writer, *scratch);
    return {out.str(), capture.text()};
  }

  KivImageBuilder builder;
  KivImageBuilder::Mac umac;
  KivDecodedRecord::ScratchPtr scratch = KivDecodedRecord::makeScratch();
  std::optional<KivLoadedImages> images;
};

struct LineCase {
  std::string id;  // empty: the device of lines without an id
  std::string prefix;
  uint32_t timestamp;
  uint32_t logType;
  Statement statement;
  uint32_t param0;
  uint32_t param1;
  std::string expected;
};

TEST_F(KivLogRenderTest, RecordIsDecodedIntoHeaderAndExpandedFormat) {
  load();
  const std::vector<LineCase> cases = {
      {"dev1", "12:00:01.000", 123456, 0, kUmacValue, 7, 255, kExample1},
      {"", "", 4294967295u, 3, kLmacDone, 1, 2,
       " 4294967295 FW_LOG [LMAC_CR:CRITICAL] [lmac/src/calibration/rf_power_:65535]: done\n"},
      {"d", "P", 9, 1, kUmacPercent, 4294967295u, 3,
       "P          9 FW_LOG [ID:d] [UMAC_CR:WARNING] [fw/src/stats.c                :   77]: "
       "load -1%\n"},
      {"d", "", 0, 2, kLmacAtEnd, 5, 6,
       "          0 FW_LOG [ID:d] [LMAC   :ALWAYS ] [lmac/src/tail.c               :  300]: "
       "tail 5\n"},
      {"d", "P", 1, 0, kUmacNoNewline, 1, 2,
       "P          1 FW_LOG [ID:d] [UMAC   :INFO2  ] [fw/src/main.c                 :  120]: "
       "progress 1 of 2"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.expected);
    auto device = compatibleDevice(c.id);
    const KivLogData record = makeRecord(device->deviceId, c.timestamp, c.logType,
                                         c.statement.address, c.param0, c.param1);
    const Rendered r = render(*device, record, c.prefix, 31);
    EXPECT_EQ(r.output, c.expected);
    EXPECT_EQ(r.diagnostics, "");
    EXPECT_EQ(device->processed, 1u);
    EXPECT_EQ(device->errors + device->skipped + device->versionUnknown + device->versionMismatch,
              0u);
    EXPECT_EQ(device->lineEnd, 31u);
  }
}

TEST_F(KivLogRenderTest, LevelNamesStopAtAlways) {
  const std::vector<std::pair<uint16_t, std::string>> levels = {{4, "INFO2  "}, {5, "TRACE  "},
                                                                {6, "DUMP   "}, {7, "ALWAYS "},
                                                                {8, "ALWAYS "}, {65535, "ALWAYS "}};
  std::vector<uint32_t> addresses;
  for (const auto& level : levels) {
    addresses.push_back(umac.placeLogStatement("x\n", "f.c", 1, level.first));
  }
  load();
  for (std::size_t i = 0; i < levels.size(); ++i) {
    auto device = compatibleDevice("d");
    EXPECT_EQ(render(*device, makeRecord("d", 1, 0, addresses[i], 0, 0), "").output,
              "          1 FW_LOG [ID:d] [UMAC   :" + levels[i].second +
                  "] [f.c                           :    1]: x\n");
  }
}

struct FailureCase {
  std::string name;
  uint32_t logType;
  uint32_t address;
  int aSize;
  std::string error;
};

TEST_F(KivLogRenderTest, FailedRecordCountsAnErrorWritesNothingAndLeavesTheNextRecordIntact) {
  load();
  const std::vector<FailureCase> cases = {
      {"log type 4", 4, kUmacValue.address, 2, "Log type 4 not supported (macNumber 2 a_size 2)"},
      {"log type 4294967295", 4294967295u, kUmacValue.address, 2,
       "Log type -1 not supported (macNumber 2147483647 a_size 2)"},
      {"LMAC beyond the images given", 2, kLmacDone.address, 1,
       "Log type 2 not supported (macNumber 1 a_size 1)"},
      {"descriptor past the end", 0, 0x2ABCDEF0, 2, "Seeking metadata failed at offset 0xabcdff0"},
      {"descriptor cut by the end", 3, 0x00400808, 2, "Seeking metadata failed at offset 0x1808"},
      {"UMAC address read in the LMAC image", 2, kUmacValue.address, 2,
       "Seeking metadata failed at offset 0x1fc01400"},
      {"file name unreadable", 1, kUmacBadFile.address, 2,
       "Seeking filename failed at offset 0x100100"},
      {"format unreadable", 0, kUmacBadFormat.address, 2,
       "Seeking format failed at offset 0x100100"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto device = compatibleDevice("dev1");
    const Rendered failed =
        render(*device, makeRecord("dev1", 1, c.logType, c.address, 1, 2), "P", 8, c.aSize);
    EXPECT_EQ(failed.output, "");
    EXPECT_EQ(failed.diagnostics, "[ERR] " + c.error + "\n");
    EXPECT_EQ(device->errors, 1u);
    EXPECT_EQ(device->processed, 0u);
    EXPECT_EQ(device->lineEnd, 8u);

    const Rendered next = render(*device, makeRecord("dev1", 123456, 0, kUmacValue.address, 7, 255),
                                 "12:00:01.000", 9);
    EXPECT_EQ(next.output, kExample1);
    EXPECT_EQ(device->errors, 1u);
    EXPECT_EQ(device->processed, 1u);
    EXPECT_EQ(device->lineEnd, 9u);
  }
}

TEST_F(KivLogRenderTest, FailedDescriptorReadTracesTheOffsetAndTheBytesRead) {
  KivImageBuilder wrapping;
  wrapping.mac(kUmacSignature, 0x50, 0x200, 0x300).version(umacVersion());
  addLmac(wrapping);
  const struct {
    const KivImageBuilder& image;
    uint32_t logType;
    uint32_t address;
    std::string trace;
  } cases[] = {
      // The descriptor is cut by the end of the file.
      {builder, 2, 0x00400808,
       "[DBG] MAC: LMAC DataOffset 0x1000 LogAddr 0x400808 BaseAddress 0x400000 -> metaOffset "
       "0x1808\n"
       "[DBG]     Log: pFormattedString 0x400640 pFileName 0x0 module 9 line 0 level 0\n"
       "[ERR] Seeking metadata failed at offset 0x1808\n"},
      // An address below the base wraps around in 32 bits.
      {wrapping, 0, 0x100,
       "[DBG] MAC: UMAC DataOffset 0x50 LogAddr 0x100 BaseAddress 0x200 -> metaOffset "
       "0xFFFFFF50\n"
       "[DBG]     Log: pFormattedString 0x0 pFileName 0x0 module 0 line 0 level 0\n"
       "[ERR] Seeking metadata failed at offset 0xffffff50\n"},
  };
  setDebugLevel(kLogDebug);
  for (const auto& c : cases) {
    load(c.image);
    auto device = compatibleDevice("d");
    const Rendered r = render(*device, makeRecord("d", 1, c.logType, c.address, 0, 0));
    EXPECT_EQ(r.diagnostics, c.trace);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(device->errors, 1u);
  }
}

TEST_F(KivLogRenderTest, PercentInPrefixIdOrFileNameIsPrintedLiterally) {
  const uint32_t address = umac.placeLogStatement("v=%u w=%u\n", "%x%%.c", 7, 3);
  load();
  auto device = compatibleDevice("a%ub");
  EXPECT_EQ(render(*device, makeRecord("a%ub", 1, 0, address, 1, 2), "50% %d %s %n").output,
            "50% %d %s %n          1 FW_LOG [ID:a%ub] [UMAC   :INFO1  ] [%x%%.c                 "
            "       :    7]: v=1 w=2\n");
}

struct CutCase {
  std::string name;
  std::string prefix;
  std::string format;
  uint32_t param0;
  std::string expected;
};

// A line cut short gets a line end of its own after its 4095 characters.
TEST_F(KivLogRenderTest, DecodedLineIsCutTo4095CharactersAndEndsAtAZeroByte) {
  const std::string longFormat = std::string(5000, 'f') + "\n";
  const std::vector<CutCase> cases = {
      {"prefix alone fills the line", std::string(5000, 'p'), "x\n", 1,
       std::string(4095, 'p') + "\n"},
      {"format gets the room the header leaves", "P", longFormat, 1,
       kCutHeader + std::string(kRoom, 'f') + "\n"},
      {"format is cut before it is expanded", "P",
       std::string(kRoom - 2, 'f') + "%%" + std::string(100, 'X'), 1,
       kCutHeader + std::string(kRoom - 2, 'f') + "%\n"},
      {"conversion cut in half stays unexpanded", "P", std::string(kRoom - 1, 'f') + "%u\n", 5,
       kCutHeader + std::string(kRoom - 1, 'f') + "%\n"},
      {"expansion is cut", "P", std::string(kRoom - 2, 'f') + "%u", 123456789,
       kCutHeader + std::string(kRoom - 2, 'f') + "12\n"},
      {"wide conversions are cut", "P", "%4000u%4000u\n", 7,
       kCutHeader + std::string(3999, ' ') + "7" + std::string(kRoom - 4000, ' ') + "\n"},
      {"huge width costs no more than the line", "P", "%999999999u\n", 7,
       kCutHeader + std::string(kRoom, ' ') + "\n"},
      {"a %c of zero ends the text", "P", "ab%cde\n", 0, kCutHeader + "ab"},
  };
  std::vector<uint32_t> addresses;
  for (const CutCase& c : cases) {
    addresses.push_back(umac.placeLogStatement(c.format, "c.c", 1, 3));
  }
  load();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    auto device = compatibleDevice("d");
    const Rendered r =
        render(*device, makeRecord("d", 1, 0, addresses[i], cases[i].param0, 8), cases[i].prefix);
    EXPECT_EQ(r.output, cases[i].expected);
    EXPECT_EQ(device->processed, 1u);
  }
}

// Each image keeps the statements it has decoded: by image and address, parsed once for any
// values, and never after a read that failed.
TEST_F(KivLogRenderTest, DecodedStatementsAreKeptPerImageAndFailedReadsAreMadeAgain) {
  KivImageBuilder image;
  const auto u = image.mac(kUmacSignature, 0x100, 0x1000, 0x1200);
  const auto l = image.mac(kLmacSignature, 0x2000, 0x1000, 0x1200);
  u.version(umacVersion());
  l.version(lmacVersion());
  u.logStatement(0x1400, "u=%u\n", "u.c", 1, 3);
  l.logStatement(0x1400, "l=%x\n", "l.c", 2, 3);
  const uint32_t format = u.placeString("f\n");
  u.descriptor(0x1500, {.format = format, .line = 3, .file = u.place("no end")});
  load(image);
  setDebugLevel(kLogDebug);
  auto device = compatibleDevice("d");
  const auto decode = [&](uint32_t logType, uint32_t address, uint32_t value) {
    return render(*device, makeRecord("d", 1, logType, address, value, 0), "");
  };
  // `type` padded to its column, as "UMAC   ".
  const auto decodedLine = [](const char* type, const char* file, int line, std::string text) {
    return "          1 FW_LOG [ID:d] [" + std::string(type) + ":INFO1  ] [" + file +
           "                           :    " + std::to_string(line) + "]: " + text + "\n";
  };

  const Rendered first = decode(0, 0x1400, 10);
  const Rendered again = decode(0, 0x1400, 10);
  EXPECT_EQ(again.output, first.output);
  EXPECT_EQ(again.diagnostics, first.diagnostics);
  EXPECT_EQ(first.output, decodedLine("UMAC   ", "u.c", 1, "u=10"));
  EXPECT_EQ(decode(1, 0x1400, 11).output, decodedLine("UMAC_CR", "u.c", 1, "u=11"));
  EXPECT_EQ(decode(2, 0x1400, 255).output, decodedLine("LMAC   ", "l.c", 2, "l=ff"));
  EXPECT_EQ(decode(3, 0x1400, 16).output, decodedLine("LMAC_CR", "l.c", 2, "l=10"));

  const Rendered failed = decode(0, 0x1500, 1);
  EXPECT_EQ(decode(0, 0x1500, 1).diagnostics, failed.diagnostics);
  EXPECT_NE(failed.diagnostics.find("[ERR] Seeking filename failed"), std::string::npos);
  EXPECT_EQ(device->errors, 2u);
  EXPECT_EQ(device->processed, 5u);
}

}  // namespace

#include "records/KivDeviceDesc.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "records/KivDetokenizer.h"
#include "support/KivCapture.h"
#include "support/KivLoadedImages.h"

namespace {

using namespace std::string_literals;
using kivsample::lmacVersion;
using kivsample::umacVersion;

using KivDeviceDescTest = KivAtLevel<kLogDebug>;

std::string bytesOf(const FwElfVersion& version) {
  return std::string(reinterpret_cast<const char*>(&version), sizeof version);
}

const std::string kZeroRecord(kKivVersionRecordSize, '\0');

std::string group(std::string_view mac, const KivTestVersion& v) {
  return "[" + std::string(mac) + "][" + v.field1 + "][" + v.field2 + "][" + v.field3 + "][" +
         v.field4 + "][" + v.field5 + "][" + v.field6 + "]";
}

// Reads the id token the way the descriptor line handler does, then builds the device.
std::unique_ptr<KivDeviceDesc> parse(const std::string& line, bool strict = false,
                                     uint32_t lineNumber = 7) {
  std::size_t position = line.find("[FW_ELF_VER]") + 12;
  std::string id;
  KivDetokenizer().nextToken(line, position, "ID", id);
  return KivDeviceDesc::createFromLine(id, line, position, lineNumber, strict);
}

struct HalvesCase {
  std::string name;
  std::string tokens;
  std::string half0;
  std::string half1;
};

TEST_F(KivDeviceDescTest, MacNameOfEachGroupChoosesTheHalfItFillsCutToTheFieldWidths) {
  const KivTestVersion other{"A", "B", "C", "D", "E", "F"};
  const KivTestVersion tooLong{
      "ABCDEFGHIJKLMNOPQRST", "0123456789abcdef", std::string(40, 'c'), "", "short",
      "0123456789abcdefXYZ"};
  // A token that fills its field keeps no terminating zero.
  const std::string cut = "ABCDEFGHIJKLMNO"s + "0123456789abcdef" + std::string(32, 'c') +
                          std::string(16, '\0') + "short" + std::string(11, '\0') +
                          "0123456789abcdef";
  const std::vector<HalvesCase> cases = {
      {"UMAC then LMAC", group("UMAC", umacVersion()) + group("LMAC", lmacVersion()),
       umacVersion().record(), lmacVersion().record()},
      {"LMAC then UMAC", group("LMAC", lmacVersion()) + group("UMAC", umacVersion()),
       umacVersion().record(), lmacVersion().record()},
      {"two UMAC groups", group("UMAC", umacVersion()) + group("UMAC", other), other.record(),
       kZeroRecord},
      {"lowercase lmac", group("UMAC", umacVersion()) + group("lmac", other), other.record(),
       kZeroRecord},
      {"LMAC with a blank", group("LMAC ", other) + group("UMAC", umacVersion()),
       umacVersion().record(), kZeroRecord},
      {"any other name", group("", other) + group("LMAC", lmacVersion()), other.record(),
       lmacVersion().record()},
      {"over-long tokens", group("UMAC", tooLong) + group("LMAC", {}), cut, kZeroRecord},
  };
  for (const HalvesCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto device = parse("[FW_ELF_VER][ID:d]" + c.tokens);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(bytesOf(device->versions[0]), c.half0);
    EXPECT_EQ(bytesOf(device->versions[1]), c.half1);
  }
}

TEST_F(KivDeviceDescTest, LineWithoutExactlyFourteenTokensMakesNoDeviceAndOneError) {
  const std::string full = kivsample::descriptorLine("dev0");
  const std::string thirteen = full.substr(0, full.rfind('['));
  const std::string fifteen = full + "[extra]";
  const std::string twice = full + group("UMAC", umacVersion()) + group("LMAC", lmacVersion());
  for (const std::string& line : {thirteen, fifteen, twice, "[FW_ELF_VER][ID:dev0]"s}) {
    KivCapture capture;
    EXPECT_EQ(parse(line), nullptr);
    EXPECT_EQ(capture.text(), "[ERR] Failed to detokenize device descriptor line " + line + "\n");
  }
  EXPECT_NE(parse(full + "[unclosed"), nullptr);
}

TEST_F(KivDeviceDescTest, UpdateTakesEveryByteOfTheNewVersionsAndKeepsTheRest) {
  const auto device = KivDeviceDesc::createUnversioned("dev0", 5);
  device->errors = 3;
  device->lineEnd = 9;
  device->updateVersion(*parse(kivsample::descriptorLine("dev0"), true, 20));
  EXPECT_TRUE(device->versioned);
  EXPECT_FALSE(device->strict);
  EXPECT_EQ(bytesOf(device->versions[0]) + bytesOf(device->versions[1]),
            umacVersion().record() + lmacVersion().record());
  // A later, shorter descriptor leaves no byte of the longer texts behind.
  device->updateVersion(*parse("[FW_ELF_VER][ID:dev0]" + group("UMAC", {"U"}) + group("LMAC", {})));
  EXPECT_EQ(bytesOf(device->versions[0]) + bytesOf(device->versions[1]),
            KivTestVersion{"U"}.record() + kZeroRecord);
  EXPECT_EQ(std::vector<uint32_t>({device->lineStart, device->lineEnd, device->errors}),
            std::vector<uint32_t>({5, 9, 3}));
}

struct CheckCase {
  std::string name;
  std::string line;
  bool paddedImage;
  std::size_t count;
  bool compatible;
  std::string diagnostics;
};

TEST_F(KivDeviceDescTest, FirmwareCheckComparesWholeRecordsHalfByHalf) {
  const std::string umacOk = "[DBG] Device description to FW check UMAC compatible\n";
  const std::string lmacOk = "[DBG] Device description to FW check LMAC compatible\n";
  KivTestVersion otherUmac = umacVersion();
  otherUmac.field6 = "dev";
  const std::string same = kivsample::descriptorLine("d");
  const std::vector<CheckCase> cases = {
      {"same versions", same, false, 2, true, umacOk + lmacOk},
      {"other LMAC", kivsample::descriptorLine("d", umacVersion(), kivsample::otherLmacVersion()),
       false, 2, false, umacOk},
      {"other UMAC", kivsample::descriptorLine("d", otherUmac, lmacVersion()), false, 2, false, ""},
      {"two UMAC groups",
       "[FW_ELF_VER][ID:d]" + group("UMAC", umacVersion()) + group("UMAC", umacVersion()), false, 2,
       false, umacOk},
      {"image padding differs", same, true, 2, false, ""},
      {"one image only", same, false, 1, false, umacOk},
      {"no image", same, false, 0, false, ""},
  };
  KivLoadedImages standard;
  KivImageBuilder padded = kivsample::imageBuilder();
  // A byte after the terminator of the UMAC record's field1 "KIV-UMAC".
  padded.raw(
      kivsample::kUmacBlockOffset + (kivsample::kUmacVersionAddress - kivsample::kUmacBase) + 12,
      "Z");
  KivLoadedImages paddedImages(padded);
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto device = parse(c.line);
    ASSERT_NE(device, nullptr);
    device->compatible = !c.compatible;
    KivCapture capture;
    EXPECT_EQ(device->checkFirmware((c.paddedImage ? paddedImages : standard).array(), c.count),
              c.compatible);
    EXPECT_EQ(device->compatible, c.compatible);
    EXPECT_EQ(capture.text(), c.diagnostics);
  }
}

struct NameCase {
  std::string id;
  std::string fileName;
  std::string folder = "out";
};

// Every id gets a name of its own: no two rows share a file name.
TEST_F(KivDeviceDescTest, PersonalLogLiesDirectlyInTheFolderUnderItsEscapedIdAndStartsEmpty) {
  const std::vector<NameCase> cases = {
      {"dev0", "dev0_personal.log"},
      {"dev0", "dev0_personal.log", "out/"},
      {"dev 1:x.y", "dev 1:x.y_personal.log"},
      {"a/b", "a%2Fb_personal.log"},
      {"../up", "..%2Fup_personal.log"},
      {"/", "%2F_personal.log"},
      {"50%", "50%25_personal.log"},
      {"a%2Fb", "a%252Fb_personal.log"},
      {"a%252Fb", "a%25252Fb_personal.log"},
      {"a%b", "a%25b_personal.log"},
      {"a_b", "a_b_personal.log"},
      {"..", ".._personal.log"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.id + " in " + c.folder);
    KivTempDir dir;
    dir.write("out/" + c.fileName, "old content\n");
    // The folder is used as given: a trailing '/' doubles the slash.
    const std::string folder = dir.file(c.folder);
    {
      const auto device = KivDeviceDesc::createUnversioned(c.id, 1);
      KivCapture capture;
      device->openPersonalLog(folder);
      EXPECT_NE(device->personalLog, nullptr);
      EXPECT_EQ(capture.text(), "[DBG] Using personal log " + folder + "/" + c.fileName + "\n");
    }
    EXPECT_EQ(dir.list("out"), std::vector<std::string>{c.fileName});
    EXPECT_EQ(dir.list(), std::vector<std::string>{"out"});
    EXPECT_EQ(dir.read("out/" + c.fileName), "");
  }
}

TEST_F(KivDeviceDescTest, UnopenablePersonalLogIsReportedWithTheEscapedPathAndLeftClosed) {
  KivTempDir dir;
  const std::string folder = dir.file("missing");
  const auto device = KivDeviceDesc::createUnversioned("a/b%", 1);
  KivCapture capture;
  device->openPersonalLog(folder);
  EXPECT_EQ(capture.text(), "[ERR] Unable to open personal log output stream " + folder +
                                "/a%2Fb%25_personal.log\n");
  EXPECT_EQ(device->personalLog, nullptr);
}

}  // namespace

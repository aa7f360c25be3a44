#include "records/KivDeviceDesc.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/KivDebugLog.h"
#include "metadata/KivLogMetadata.h"
#include "records/KivDetokenizer.h"
#include "support/KivImageBuilder.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace std::string_literals;
using kivsample::lmacVersion;
using kivsample::umacVersion;

// Redirects std::cout, where diagnostics go, into a string for the life of the object.
class CoutCapture {
 public:
  CoutCapture() : saved_(std::cout.rdbuf(buffer_.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(saved_); }
  std::string text() const { return buffer_.str(); }

 private:
  std::ostringstream buffer_;
  std::streambuf* saved_;
};

class KivDeviceDescTest : public ::testing::Test {
 protected:
  void SetUp() override { setDebugLevel(kLogDebug); }
  void TearDown() override { setDebugLevel(savedLevel_); }

 private:
  int savedLevel_ = debugLevel;
};

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

// The standard images, or a variant of them, loaded from a temporary file.
class Images {
 public:
  explicit Images(const KivImageBuilder& builder = kivsample::imageBuilder()) {
    const std::string path = dir_.file("kiv_log.elf");
    builder.writeTo(path);
    CoutCapture quiet;
    if (!umac_.load(path, std::string(kivsample::kUmacSignature)) ||
        !lmac_.load(path, std::string(kivsample::kLmacSignature))) {
      throw std::runtime_error("test images do not load");
    }
  }
  KivLogMetadata* const* array() { return pointers_.data(); }

 private:
  KivTempDir dir_;
  KivLogMetadata umac_;
  KivLogMetadata lmac_;
  std::array<KivLogMetadata*, 2> pointers_{&umac_, &lmac_};
};

TEST_F(KivDeviceDescTest, DescriptorLineMakesAVersionedDeviceWithBothHalves) {
  const std::string line = "12:00 " + kivsample::descriptorLine("dev0");
  CoutCapture capture;
  const auto device = parse(line, true, 12);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(device->deviceId, "dev0");
  EXPECT_FALSE(device->emptyId);
  EXPECT_TRUE(device->versioned);
  EXPECT_TRUE(device->strict);
  EXPECT_FALSE(device->compatible);
  EXPECT_EQ(device->personalLog, nullptr);
  EXPECT_EQ(device->lineStart, 12u);
  EXPECT_EQ(device->lineEnd + device->skipped + device->processed + device->errors +
                device->versionUnknown + device->versionMismatch,
            0u);
  EXPECT_EQ(bytesOf(device->versions[0]), umacVersion().record());
  EXPECT_EQ(bytesOf(device->versions[1]), lmacVersion().record());
}

struct HalvesCase {
  std::string name;
  std::string tokens;
  std::string half0;
  std::string half1;
};

TEST_F(KivDeviceDescTest, MacNameOfEachGroupChoosesTheHalfItFills) {
  const KivTestVersion other{"A", "B", "C", "D", "E", "F"};
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
  };
  for (const HalvesCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto device = parse("[FW_ELF_VER][ID:d]" + c.tokens);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(bytesOf(device->versions[0]), c.half0);
    EXPECT_EQ(bytesOf(device->versions[1]), c.half1);
  }
}

TEST_F(KivDeviceDescTest, OverLongTokensAreCutToTheFieldWithoutTerminator) {
  const KivTestVersion tokens{
      "ABCDEFGHIJKLMNOPQRST", "0123456789abcdef", std::string(40, 'c'), "", "short",
      "0123456789abcdefXYZ"};
  const auto device = parse("[FW_ELF_VER][ID:d]" + group("UMAC", tokens) + group("LMAC", {}));
  ASSERT_NE(device, nullptr);
  const std::string expected = "ABCDEFGHIJKLMNO"s + "0123456789abcdef" + std::string(32, 'c') +
                               std::string(16, '\0') + "short" + std::string(11, '\0') +
                               "0123456789abcdef";
  EXPECT_EQ(bytesOf(device->versions[0]), expected);
  EXPECT_EQ(bytesOf(device->versions[1]), kZeroRecord);
}

TEST_F(KivDeviceDescTest, TokenFillsOnlyItsOwnFieldAndIsNeverRefused) {
  KivDeviceDesc device("d", 1, true, false);
  std::memset(&device.versions, 'X', sizeof device.versions);
  EXPECT_TRUE(device.handleToken(7, "LMAC"));
  EXPECT_TRUE(device.handleToken(10, "ab"));
  EXPECT_TRUE(device.handleToken(100, "yz"));  // 100 % 7 == 2: field2 of the LMAC half
  const std::string expectedLmac = std::string(15, 'X') + "yz" + std::string(14, '\0') + "ab" +
                                   std::string(30, '\0') + std::string(48, 'X');
  EXPECT_EQ(bytesOf(device.versions[0]), std::string(111, 'X'));
  EXPECT_EQ(bytesOf(device.versions[1]), expectedLmac);
  EXPECT_TRUE(device.isTokenCountValid(14));
  for (const uint32_t count : {0u, 13u, 15u, 28u}) {
    EXPECT_FALSE(device.isTokenCountValid(count)) << count;
  }
}

TEST_F(KivDeviceDescTest, LineWithoutExactlyFourteenTokensMakesNoDeviceAndOneError) {
  const std::string full = kivsample::descriptorLine("dev0");
  const std::string thirteen = full.substr(0, full.rfind('['));
  const std::string fifteen = full + "[extra]";
  for (const std::string& line : {thirteen, fifteen}) {
    CoutCapture capture;
    EXPECT_EQ(parse(line), nullptr);
    EXPECT_EQ(capture.text(), "[ERR] Failed to detokenize device descriptor line " + line + "\n");
  }
  EXPECT_NE(parse(full + "[unclosed"), nullptr);
}

TEST_F(KivDeviceDescTest, LineWithoutIdTokenGivesTheEmptyIdDevice) {
  const auto device = parse(kivsample::descriptorLine(std::nullopt));
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->deviceId, "");
  EXPECT_TRUE(device->emptyId);
  EXPECT_EQ(bytesOf(device->versions[0]), umacVersion().record());
  EXPECT_EQ(bytesOf(device->versions[1]), lmacVersion().record());

  KivTempDir dir;
  const std::string folder = dir.makeDir("out");
  CoutCapture capture;
  device->openPersonalLog(folder);
  EXPECT_EQ(device->personalLog, nullptr);
  EXPECT_EQ(capture.text(), "");
  EXPECT_TRUE(dir.list("out").empty());
}

TEST_F(KivDeviceDescTest, UnversionedDeviceHasNoVersionAndIsNeverStrict) {
  const auto device = KivDeviceDesc::createUnversioned("dev3", 17);
  EXPECT_EQ(device->deviceId, "dev3");
  EXPECT_FALSE(device->emptyId || device->versioned || device->strict || device->compatible);
  EXPECT_EQ(device->lineStart, 17u);
  EXPECT_EQ(bytesOf(device->versions[0]) + bytesOf(device->versions[1]), kZeroRecord + kZeroRecord);
  EXPECT_TRUE(KivDeviceDesc::createUnversioned("", 1)->emptyId);
}

TEST_F(KivDeviceDescTest, UpdateTakesTheVersionsAndKeepsTheDevicesHistory) {
  KivTempDir dir;
  const auto device = KivDeviceDesc::createUnversioned("dev0", 5);
  {
    CoutCapture quiet;
    device->openPersonalLog(dir.path());
  }
  device->skipped = 1;
  device->processed = 2;
  device->errors = 3;
  device->versionUnknown = 4;
  device->versionMismatch = 5;
  device->lineEnd = 9;
  device->writeToPersonalLog("before");

  const auto parsed = parse(
      kivsample::descriptorLine("dev0", umacVersion(), kivsample::otherLmacVersion()), true, 20);
  ASSERT_NE(parsed, nullptr);
  device->updateVersion(*parsed);
  EXPECT_TRUE(device->versioned);
  EXPECT_EQ(bytesOf(device->versions[0]), umacVersion().record());
  EXPECT_EQ(bytesOf(device->versions[1]), kivsample::otherLmacVersion().record());
  EXPECT_FALSE(device->strict);
  EXPECT_EQ(device->macIndex, 0u);
  EXPECT_EQ(device->lineStart, 5u);
  EXPECT_EQ(device->lineEnd, 9u);
  EXPECT_EQ(std::vector<uint32_t>({device->skipped, device->processed, device->errors,
                                   device->versionUnknown, device->versionMismatch}),
            std::vector<uint32_t>({1, 2, 3, 4, 5}));

  // A later descriptor replaces every byte of both halves, padding included.
  const auto shorter = parse("[FW_ELF_VER][ID:dev0]" + group("UMAC", {"U"}) + group("LMAC", {}));
  device->updateVersion(*shorter);
  EXPECT_EQ(bytesOf(device->versions[0]), KivTestVersion{"U"}.record());
  EXPECT_EQ(bytesOf(device->versions[1]), kZeroRecord);

  device->writeToPersonalLog("after");
  ASSERT_NE(device->personalLog, nullptr);
  device->personalLog->close();
  EXPECT_EQ(dir.read("dev0_personal.log"), "before\nafter\n");
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
  Images standard;
  KivImageBuilder padded = kivsample::imageBuilder();
  // A byte after the terminator of the UMAC record's field1 "KIV-UMAC".
  padded.raw(
      kivsample::kUmacBlockOffset + (kivsample::kUmacVersionAddress - kivsample::kUmacBase) + 12,
      "Z");
  Images paddedImages(padded);
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto device = parse(c.line);
    ASSERT_NE(device, nullptr);
    device->compatible = !c.compatible;
    CoutCapture capture;
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
      CoutCapture capture;
      device->openPersonalLog(folder);
      EXPECT_NE(device->personalLog, nullptr);
      EXPECT_EQ(capture.text(), "[DBG] Using personal log " + folder + "/" + c.fileName + "\n");
    }
    EXPECT_EQ(dir.list("out"), std::vector<std::string>{c.fileName});
    EXPECT_EQ(dir.list(), std::vector<std::string>{"out"});
    EXPECT_EQ(dir.read("out/" + c.fileName), "");
  }
}

TEST_F(KivDeviceDescTest, DifferentIdsNeverShareAPersonalLog) {
  KivTempDir dir;
  const std::vector<std::string> ids = {"a/b", "a%2Fb", "a%252Fb", "a_b", "a%b"};
  {
    CoutCapture quiet;
    std::vector<std::unique_ptr<KivDeviceDesc>> devices;
    for (const std::string& id : ids) {
      devices.push_back(KivDeviceDesc::createUnversioned(id, 1));
      devices.back()->openPersonalLog(dir.path());
    }
    for (const auto& device : devices) {
      device->writeToPersonalLog("line of " + device->deviceId);
    }
  }
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"a%25252Fb_personal.log", "a%252Fb_personal.log",
                                                  "a%25b_personal.log", "a%2Fb_personal.log",
                                                  "a_b_personal.log"}));
  EXPECT_EQ(dir.read("a%2Fb_personal.log"), "line of a/b\n");
  EXPECT_EQ(dir.read("a%252Fb_personal.log"), "line of a%2Fb\n");
  EXPECT_EQ(dir.read("a%25b_personal.log"), "line of a%b\n");
}

TEST_F(KivDeviceDescTest, UnopenablePersonalLogIsReportedWithTheEscapedPath) {
  KivTempDir dir;
  const std::string folder = dir.file("missing");
  const auto device = KivDeviceDesc::createUnversioned("a/b%", 1);
  {
    CoutCapture capture;
    device->openPersonalLog(folder);
    EXPECT_EQ(capture.text(), "[ERR] Unable to open personal log output stream " + folder +
                                  "/a%2Fb%25_personal.log\n");
  }
  EXPECT_EQ(device->personalLog, nullptr);
  device->writeToPersonalLog("goes nowhere");
  EXPECT_TRUE(dir.list().empty());
}

}  // namespace

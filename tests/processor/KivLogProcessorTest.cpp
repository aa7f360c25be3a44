#include "processor/KivLogProcessor.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "app/KivDebugLog.h"
#include "metadata/KivLogMetadata.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using kivsample::dataLine;
using kivsample::descriptorLine;
using kivsample::kUmacValue;

// Sends everything written to std::cout (diagnostics and the standard main output) into a string
// while it lives.
class CoutCapture {
 public:
  CoutCapture() : old_(std::cout.rdbuf(buffer_.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(old_); }
  CoutCapture(const CoutCapture&) = delete;
  CoutCapture& operator=(const CoutCapture&) = delete;

  std::string text() const { return buffer_.str(); }

 private:
  std::ostringstream buffer_;
  std::streambuf* old_;
};

// A processor holding the two standard images, the debug level restored after each test.
class KivLogProcessorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLevel_ = debugLevel;
    setDebugLevel(0);
    const std::string image = kivsample::writeImage(dir.path());
    ASSERT_TRUE(umac.load(image, std::string(kivsample::kUmacSignature)));
    ASSERT_TRUE(lmac.load(image, std::string(kivsample::kLmacSignature)));
    processor = std::make_unique<KivLogProcessor>();
    processor->setUmacMetadata(&umac);
    processor->setLmacMetadata(&lmac);
  }
  void TearDown() override {
    setDebugLevel(0);
    processor.reset();
    setDebugLevel(savedLevel_);
  }

  KivTempDir dir;
  KivLogMetadata umac;
  KivLogMetadata lmac;
  std::unique_ptr<KivLogProcessor> processor;

 private:
  int savedLevel_ = 0;
};

TEST_F(KivLogProcessorTest, DescriptorLineCreatesADeviceAndALaterOneUpdatesIt) {
  setDebugLevel(3);
  processor->lineNumber = 4;
  KivDeviceDesc* first = nullptr;
  {
    CoutCapture capture;
    first = processor->processVersionLine("12:00:00 " + descriptorLine("dev1"));
    EXPECT_EQ(capture.text(),
              "[DBG] Found version delimiter at line 4\n"
              "[DBG] Got new or existing device dev1\n"
              "[DBG] Inserting entirely new device dev1\n"
              "[DBG] Device description to FW check UMAC compatible\n"
              "[DBG] Device description to FW check LMAC compatible\n");
  }
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(processor->devices.size(), 1u);
  EXPECT_EQ(processor->devices.at("dev1").get(), first);
  EXPECT_TRUE(first->versioned);
  EXPECT_TRUE(first->compatible);
  EXPECT_EQ(first->lineStart, 4u);

  processor->lineNumber = 9;
  CoutCapture capture;
  KivDeviceDesc* second = processor->processVersionLine(
      descriptorLine("dev1", kivsample::umacVersion(), kivsample::otherLmacVersion()));
  EXPECT_EQ(capture.text(),
            "[DBG] Found version delimiter at line 9\n"
            "[DBG] Got new or existing device dev1\n"
            "[DBG] dev1 already exists. Update existing\n"
            "[DBG] Device description to FW check UMAC compatible\n");
  EXPECT_EQ(second, first);
  EXPECT_EQ(processor->devices.size(), 1u);
  EXPECT_FALSE(first->compatible);
  EXPECT_EQ(first->lineStart, 4u);
  EXPECT_EQ(first->versions[1].fieldText(1), "4.3.0.2150");
}

TEST_F(KivLogProcessorTest, LinesThatAreNoUsableDescriptorReturnNoDevice) {
  const std::string thirteen = descriptorLine("d").substr(0, descriptorLine("d").rfind('['));
  const struct {
    std::string line;
    std::string messages;
  } cases[] = {
      {"host line", ""},
      {dataLine("d", 1, kUmacValue, 1, 2), ""},
      {"[FW_ELF_VER]", "[ERR] Failed to get expected device id from line [FW_ELF_VER]\n"},
      {"x [FW_ELF_VER][ID:d",
       "[ERR] Failed to get expected device id from line x [FW_ELF_VER][ID:d\n"},
      {thirteen, "[ERR] Failed to detokenize device descriptor line " + thirteen +
                     "\n[ERR] Failed create device from log line " + thirteen + "\n"},
  };
  for (const auto& c : cases) {
    CoutCapture capture;
    EXPECT_EQ(processor->processVersionLine(c.line), nullptr) << c.line;
    EXPECT_EQ(capture.text(), c.messages) << c.line;
  }
  EXPECT_TRUE(processor->devices.empty());
}

TEST_F(KivLogProcessorTest, DataLineGivesItsRecordAndTheTextBeforeTheMarker) {
  setDebugLevel(3);
  processor->lineNumber = 6;
  const std::string line = "12:00:01 [FW_LOG-R][ID:dev1][1000][2][1a2b][7][8]";
  CoutCapture capture;
  std::string prefix;
  const std::unique_ptr<KivLogData> record = processor->processDataLine(line, prefix);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(prefix, "12:00:01 ");
  EXPECT_EQ(record->deviceId, "dev1");
  EXPECT_EQ(record->rawLine, line);
  EXPECT_EQ(record->timestamp, 1000u);
  EXPECT_EQ(record->log_type, 2u);
  EXPECT_EQ(record->log_addr, 0x1a2bu);
  EXPECT_EQ(record->param0, 7u);
  EXPECT_EQ(record->param1, 8u);
  EXPECT_EQ(capture.text(),
            "[DBG] Create unversioned device dev1\n[DBG] Created data log from " + line + "\n");
  ASSERT_EQ(processor->devices.count("dev1"), 1u);
  EXPECT_FALSE(processor->devices.at("dev1")->versioned);
  EXPECT_EQ(processor->devices.at("dev1")->lineStart, 6u);
}

TEST_F(KivLogProcessorTest, DataLineWithoutIdTokenBelongsToTheEmptyId) {
  std::string prefix = "stale";
  const std::unique_ptr<KivLogData> record =
      processor->processDataLine("[FW_LOG-R][1000][2][1a2b][7][8]", prefix);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(prefix, "");
  EXPECT_EQ(record->deviceId, "");
  EXPECT_EQ(record->timestamp, 1000u);
  EXPECT_EQ(record->param1, 8u);
  EXPECT_EQ(processor->devices.count(""), 1u);
}

TEST_F(KivLogProcessorTest, MalformedDataLineOfANewIdStillCreatesTheDeviceUnlessStrict) {
  const std::string four = "[FW_LOG-R][ID:n][1][0][20000400][7]";
  for (const bool strict : {false, true}) {
    processor->strict = strict;
    CoutCapture capture;
    std::string prefix;
    EXPECT_EQ(processor->processDataLine(four, prefix), nullptr);
    EXPECT_EQ(capture.text(), "[ERR] Failed to detokenize data log line " + four + "\n");
    EXPECT_EQ(processor->devices.count("n"), strict ? 0u : 1u) << strict;
    processor->devices.clear();
  }
}

TEST_F(KivLogProcessorTest, StrictDataLineOfAnUnannouncedIdYieldsARecordButNoDevice) {
  processor->strict = true;
  std::string prefix;
  const std::unique_ptr<KivLogData> record =
      processor->processDataLine(dataLine("x", 1, kUmacValue, 1, 2), prefix);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->deviceId, "x");
  EXPECT_TRUE(processor->devices.empty());
}

TEST_F(KivLogProcessorTest, DataMarkerWithoutTokenIsRefusedWithAnError) {
  CoutCapture capture;
  std::string prefix;
  EXPECT_EQ(processor->processDataLine("up [FW_LOG-R] down", prefix), nullptr);
  EXPECT_EQ(processor->processDataLine("no marker [1][2][3][4][5]", prefix), nullptr);
  EXPECT_EQ(capture.text(), "[ERR] Failed to get expected device id from up [FW_LOG-R] down\n");
  EXPECT_TRUE(processor->devices.empty());
}

TEST_F(KivLogProcessorTest, UnversionedDeviceIsCreatedOnceAndNeverReplacesAnExistingOne) {
  setDebugLevel(3);
  processor->lineNumber = 2;
  KivDeviceDesc* versioned = nullptr;
  {
    CoutCapture quiet;
    versioned = processor->processVersionLine(descriptorLine("v"));
  }
  CoutCapture capture;
  processor->createUnversionedDevice("u");
  KivDeviceDesc* const created = processor->devices.at("u").get();
  processor->lineNumber = 5;
  processor->createUnversionedDevice("u");
  processor->createUnversionedDevice("v");
  EXPECT_EQ(capture.text(), "[DBG] Create unversioned device u\n");
  EXPECT_EQ(processor->devices.size(), 2u);
  EXPECT_EQ(processor->devices.at("u").get(), created);
  EXPECT_EQ(created->lineStart, 2u);
  EXPECT_EQ(processor->devices.at("v").get(), versioned);
  EXPECT_TRUE(versioned->versioned);
}

TEST_F(KivLogProcessorTest, DestructionDeletesDevicesInKeyOrder) {
  processor->createUnversionedDevice("b");
  processor->createUnversionedDevice("a");
  processor->createUnversionedDevice("");
  processor->createUnversionedDevice("B");
  setDebugLevel(3);
  CoutCapture capture;
  processor.reset();
  EXPECT_EQ(capture.text(),
            "[DBG] Deleting device \"\"\n"
            "[DBG] Deleting device \"B\"\n"
            "[DBG] Deleting device \"a\"\n"
            "[DBG] Deleting device \"b\"\n");
}

TEST_F(KivLogProcessorTest, ProcessorThatReadNothingDestroysSilently) {
  setDebugLevel(3);
  CoutCapture capture;
  processor.reset();
  EXPECT_EQ(capture.text(), "");
}

TEST_F(KivLogProcessorTest, MissingRawLogFileIsReportedAndNothingIsWritten) {
  const std::string path = dir.file("missing.log");
  CoutCapture capture;
  EXPECT_FALSE(processor->processFile(path));
  processor.reset();
  EXPECT_EQ(capture.text(), "[ERR] Unable to open raw log file " + path + "\n");
}

TEST_F(KivLogProcessorTest, StreamIsReadLineByLineAndNumbered) {
  const std::string path = dir.write("raw.log", "a\n\nb");
  setDebugLevel(3);
  CoutCapture capture;
  EXPECT_TRUE(processor->processFile(path));
  EXPECT_EQ(processor->lineNumber, 4u);
  EXPECT_EQ(capture.text(), "a\n\nb\n[DBG] good() 0 bad() 0 eof() 1 fail() 0\n");
}

}  // namespace

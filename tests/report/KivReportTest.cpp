#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "app/KivDebugLog.h"
#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "records/KivDeviceDesc.h"
#include "support/KivImageBuilder.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

// Redirects a standard stream into a string for the life of the object.
class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& stream)
      : stream_(stream), saved_(stream.rdbuf(buffer_.rdbuf())) {}
  ~StreamCapture() { stream_.rdbuf(saved_); }
  std::string text() const { return buffer_.str(); }

 private:
  std::ostream& stream_;
  std::ostringstream buffer_;
  std::streambuf* saved_;
};

struct Report {
  std::string stream;
  std::string err;
};

const std::string kImages =
    "[UMAC]\n"
    "    Data Offset=100 Base Address=20000000 Version Address=20000200\n"
    "    VERSION KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 prod\n"
    "[LMAC]\n"
    "    Data Offset=1000 Base Address=400000 Version Address=400300\n"
    "    VERSION LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release g7c1e9a0 prod\n"
    "\n";
const std::string kUmacText = "KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 prod";
const std::string kLmacText =
    "LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release g7c1e9a0 prod";
const std::string kWarning3 = "*** WARNING: 3 lines processed with unknown ELF version\n";

// The seven counter lines of one device, in report order.
std::string counters(uint32_t start, uint32_t end, uint32_t skipped, uint32_t processed,
                     uint32_t mismatch, uint32_t unknown, uint32_t errors) {
  return "    Line Start:       " + std::to_string(start) +
         "\n    Line End:         " + std::to_string(end) +
         "\n    Skipped:          " + std::to_string(skipped) +
         "\n    Processed:        " + std::to_string(processed) +
         "\n    Version mismatch: " + std::to_string(mismatch) +
         "\n    Version Unknown:  " + std::to_string(unknown) +
         "\n    Errors:           " + std::to_string(errors) + "\n";
}

class KivReportTest : public ::testing::Test {
 protected:
  void SetUp() override { setDebugLevel(kLogError); }
  void TearDown() override { setDebugLevel(savedLevel_); }

  void load(const KivImageBuilder& image = imageBuilder()) {
    const std::string path = dir_.file("kiv_log.elf");
    image.writeTo(path);
    StreamCapture quiet(std::cout);
    if (!umacImage_.load(path, std::string(kUmacSignature)) ||
        !lmacImage_.load(path, std::string(kLmacSignature))) {
      throw std::runtime_error("test images do not load");
    }
    processor.setUmacMetadata(&umacImage_);
    processor.setLmacMetadata(&lmacImage_);
  }

  KivDeviceDesc& addDevice(const std::string& id, bool versioned, bool compatible, bool strict,
                           uint32_t lineStart, const KivTestVersion& umac = umacVersion(),
                           const KivTestVersion& lmac = lmacVersion()) {
    auto device = std::make_unique<KivDeviceDesc>(id, lineStart, versioned, strict);
    if (versioned) {
      std::memcpy(&device->versions[0], umac.record().data(), kKivVersionRecordSize);
      std::memcpy(&device->versions[1], lmac.record().data(), kKivVersionRecordSize);
    }
    device->compatible = compatible;
    return *processor.devices.emplace(id, std::move(device)).first->second;
  }

  Report report(bool full) {
    std::ostringstream stream;
    StreamCapture err(std::cerr);
    StreamCapture out(std::cout);
    processor.printReport(stream, full);
    EXPECT_EQ(out.text(), "");
    return {stream.str(), err.text()};
  }

  int savedLevel_ = debugLevel;
  KivTempDir dir_;
  KivLogMetadata umacImage_;
  KivLogMetadata lmacImage_;
  // Declared after the images it points at, so it goes first.
  KivLogProcessor processor;
};

TEST_F(KivReportTest, FullReportShowsTheImagesThenEachDevicesVersionsAndCounters) {
  load();
  KivDeviceDesc& device = addDevice("dev1", true, true, false, 26);
  device.lineEnd = 4000;
  device.processed = 255;
  device.errors = 11;
  const Report r = report(true);
  EXPECT_EQ(r.stream,
            "[UMAC]\n"
            "    Data Offset=100 Base Address=20000000 Version Address=20000200\n"
            "    VERSION KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 prod\n"
            "[LMAC]\n"
            "    Data Offset=1000 Base Address=400000 Version Address=400300\n"
            "    VERSION LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release g7c1e9a0 prod\n"
            "\n"
            "Device: dev1\n"
            "    UMAC COMPATIBLE version KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release "
            "g7c1e9a0 prod\n"
            "    LMAC COMPATIBLE version LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release "
            "g7c1e9a0 prod\n"
            "\n"
            "    Line Start:       26\n"
            "    Line End:         4000\n"
            "    Skipped:          0\n"
            "    Processed:        255\n"
            "    Version mismatch: 0\n"
            "    Version Unknown:  0\n"
            "    Errors:           11\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(KivReportTest, IncompatibleDeviceGetsAnErrorLineInTheReportAndOnStandardError) {
  load();
  KivTestVersion umac = umacVersion();
  umac.field3 = "0123456789abcdef0123456789ABCDEF";  // fills its field: no terminator
  KivDeviceDesc& device = addDevice("dev2", true, false, false, 3, umac, otherLmacVersion());
  device.lineEnd = 40;
  device.processed = 12;
  device.versionMismatch = 12;
  const std::string error = "*** ERROR: 12 lines processed with mismatched ELF version\n";
  const Report r = report(true);
  EXPECT_EQ(r.stream, kImages + "Device: dev2\n" + error +
                          "    UMAC *INCOMPATIBLE* version KIV-UMAC.4.3.1.2207 "
                          "0123456789abcdef0123456789ABCDEF release g7c1e9a0 prod\n"
                          "    LMAC *INCOMPATIBLE* version LMAC-FW-7.2.015.4.3.0.2150 Mar 20 "
                          "2026 14:03:40 release g7c1e9a0 prod\n\n" +
                          counters(3, 40, 0, 12, 12, 0, 0));
  EXPECT_EQ(r.err, error);
}

TEST_F(KivReportTest, UnversionedDeviceListsTheMacNamesOnOneLine) {
  load();
  KivDeviceDesc& unknown = addDevice("dev3", false, false, false, 26);
  unknown.lineEnd = 30;
  unknown.processed = 26;
  unknown.versionUnknown = 26;
  KivDeviceDesc& both = addDevice("dev4", true, false, false, 2);
  both.versionUnknown = 2;
  both.versionMismatch = 3;
  const std::string warning26 = "*** WARNING: 26 lines processed with unknown ELF version\n";
  const std::string warning2 = "*** WARNING: 2 lines processed with unknown ELF version\n";
  const std::string error3 = "*** ERROR: 3 lines processed with mismatched ELF version\n";
  const Report r = report(true);
  EXPECT_EQ(r.stream, kImages + "Device: dev3\n" + warning26 + "    UMAC    LMAC\n" +
                          counters(26, 30, 0, 26, 0, 26, 0) + "Device: dev4\n" + warning2 + error3 +
                          "    UMAC *INCOMPATIBLE* version " + kUmacText +
                          "\n    LMAC *INCOMPATIBLE* version " + kLmacText + "\n\n" +
                          counters(2, 0, 0, 0, 3, 2, 0));
  EXPECT_EQ(r.err, warning26 + warning2 + error3);
}

TEST_F(KivReportTest, DevicesComeInByteOrderOfTheirIdsEmptyIdFirst) {
  load();
  addDevice("dev2", false, false, false, 1).versionUnknown = 2;
  addDevice("", false, false, false, 2).versionUnknown = 3;
  addDevice("dev10", false, false, false, 3).versionUnknown = 10;
  const std::string unversioned = "    UMAC    LMAC\n";
  const Report r = report(true);
  EXPECT_EQ(r.stream,
            kImages + "Device: \n" + kWarning3 + unversioned + counters(2, 0, 0, 0, 0, 3, 0) +
                "Device: dev10\n*** WARNING: 10 lines processed with unknown ELF version\n" +
                unversioned + counters(3, 0, 0, 0, 0, 10, 0) +
                "Device: dev2\n*** WARNING: 2 lines processed with unknown ELF version\n" +
                unversioned + counters(1, 0, 0, 0, 0, 2, 0));
  EXPECT_EQ(r.err, kWarning3 + "*** WARNING: 10 lines processed with unknown ELF version\n" +
                       "*** WARNING: 2 lines processed with unknown ELF version\n");
}

TEST_F(KivReportTest, StrictDeviceSkippingMismatchedLinesGetsNoErrorLine) {
  load();
  KivDeviceDesc& device =
      addDevice("dev5", true, false, true, 4, umacVersion(), otherLmacVersion());
  device.lineEnd = 9;
  device.skipped = 5;
  device.versionMismatch = 5;
  const Report full = report(true);
  EXPECT_EQ(full.stream, kImages + "Device: dev5\n    UMAC *INCOMPATIBLE* version " + kUmacText +
                             "\n    LMAC *INCOMPATIBLE* version LMAC-FW-7.2.015.4.3.0.2150 Mar "
                             "20 2026 14:03:40 release g7c1e9a0 prod\n\n" +
                             counters(4, 9, 5, 0, 5, 0, 0));
  EXPECT_EQ(full.err, "");
  const Report brief = report(false);
  EXPECT_EQ(brief.stream, "");
  EXPECT_EQ(brief.err, "");
}

TEST_F(KivReportTest, WithoutFullReportOnlyWarningLinesAppearAndOnlyOnStandardError) {
  load();
  addDevice("", true, true, false, 1).processed = 7;
  addDevice("a", false, false, false, 2).errors = 1;
  addDevice("b", true, false, true, 3).versionMismatch = 4;
  EXPECT_EQ(report(false).stream + report(false).err, "");

  addDevice("c", false, false, false, 4).versionUnknown = 3;
  addDevice("d", true, false, false, 5).versionMismatch = 4;
  const Report r = report(false);
  EXPECT_EQ(r.stream, "");
  EXPECT_EQ(r.err, kWarning3 + "*** ERROR: 4 lines processed with mismatched ELF version\n");
}

TEST_F(KivReportTest, ImageValuesPrintInBareLowercaseHexadecimal) {
  KivImageBuilder image;
  image.mac(kLmacSignature, 0x5, 0xF, 0x200).version(lmacVersion());
  image.mac(kUmacSignature, 0x1000, 0x20000000, 0x20000400).version(umacVersion());
  load(image);
  const Report r = report(true);
  EXPECT_EQ(r.stream,
            "[UMAC]\n"
            "    Data Offset=1000 Base Address=20000000 Version Address=20000400\n"
            "    VERSION " +
                kUmacText +
                "\n"
                "[LMAC]\n"
                "    Data Offset=5 Base Address=f Version Address=200\n"
                "    VERSION " +
                kLmacText + "\n\n");
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "processor/KivLogProcessor.h"
#include "records/KivDeviceDesc.h"
#include "support/KivCapture.h"
#include "support/KivLoadedImages.h"
#include "support/KivSampleOutput.h"

namespace {

using namespace kivsample;

struct Report {
  std::string stream;
  std::string err;
};

class KivReportTest : public KivAtLevel<kLogError> {
 protected:
  void load() {
    images_.emplace();
    processor.setUmacMetadata(&images_->umac);
    processor.setLmacMetadata(&images_->lmac);
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
    return **processor.devices.insert(std::move(device)).first;
  }

  // The report as the text output writes it, after its "Using:" block.
  Report report(bool full) {
    std::ostringstream stream;
    std::string err;
    KivCapture out(std::cout);
    KivRunSetup setup;
    setup.combinedPath = "kiv_log.elf";
    KivRunReport(setup, processor, full).writeText(stream, [&err](std::string_view line) {
      err += std::string(line) + '\n';
    });
    EXPECT_EQ(out.text(), "");
    std::string written = stream.str();
    if (full) {
      const std::string block = usingBlock("stdin", "stdout");
      EXPECT_EQ(written.substr(0, block.size()), block);
      written.erase(0, block.size());
    }
    return {written, err};
  }

  std::optional<KivLoadedImages> images_;
  // Declared after the images it points at, so it goes first.
  KivLogProcessor processor;
};

TEST_F(KivReportTest, IncompatibleDeviceGetsAnErrorLineInTheReportAndOnStandardError) {
  load();
  KivTestVersion umac = umacVersion();
  umac.field3 = "0123456789abcdef0123456789ABCDEF";  // fills its field: no terminator
  KivDeviceDesc& device = addDevice("dev2", true, false, false, 3, umac, otherLmacVersion());
  device.lineEnd = 40;
  device.processed = 12;
  device.versionMismatch = 12;
  const Report r = report(true);
  EXPECT_EQ(r.stream, kImageReport + "Device: dev2\n" + mismatchError(12) +
                          "    UMAC *INCOMPATIBLE* version KIV-UMAC.4.3.1.2207 "
                          "0123456789abcdef0123456789ABCDEF release g7c1e9a0 prod\n"
                          "    LMAC *INCOMPATIBLE* version LMAC-FW-7.2.015.4.3.0.2150 Mar 20 "
                          "2026 14:03:40 release g7c1e9a0 prod\n\n" +
                          counters(3, 40, 0, 12, 12, 0, 0));
  EXPECT_EQ(r.err, mismatchError(12));
}

TEST_F(KivReportTest, DevicesComeInByteOrderOfTheirIdsEachWithItsWarningsThenItsVersions) {
  load();
  addDevice("dev2", false, false, false, 1).versionUnknown = 2;
  KivDeviceDesc& unknown = addDevice("", false, false, false, 26);
  unknown.lineEnd = 30;
  unknown.processed = 26;
  unknown.versionUnknown = 26;
  addDevice("dev10", false, false, false, 3).versionUnknown = 10;
  KivDeviceDesc& both = addDevice("dev4", true, false, false, 2);
  both.versionUnknown = 2;
  both.versionMismatch = 3;
  const Report r = report(true);
  EXPECT_EQ(r.stream, kImageReport + "Device: \n" + unknownWarning(26) + kUnversioned +
                          counters(26, 30, 0, 26, 0, 26, 0) + "Device: dev10\n" +
                          unknownWarning(10) + kUnversioned + counters(3, 0, 0, 0, 0, 10, 0) +
                          "Device: dev2\n" + unknownWarning(2) + kUnversioned +
                          counters(1, 0, 0, 0, 0, 2, 0) + "Device: dev4\n" + unknownWarning(2) +
                          mismatchError(3) + "    UMAC *INCOMPATIBLE* version " + kUmacText +
                          "\n    LMAC *INCOMPATIBLE* version " + kLmacText + "\n\n" +
                          counters(2, 0, 0, 0, 3, 2, 0));
  EXPECT_EQ(r.err, unknownWarning(26) + unknownWarning(10) + unknownWarning(2) + unknownWarning(2) +
                       mismatchError(3));
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
  EXPECT_EQ(r.err, unknownWarning(3) + mismatchError(4));
}

}  // namespace

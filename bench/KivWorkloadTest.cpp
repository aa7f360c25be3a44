#include "KivWorkload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>

#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "support/KivCapture.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

struct Decoded {
  std::size_t devices = 0;
  std::size_t compatible = 0;
  std::size_t processed = 0;
  std::size_t failed = 0;  // errors, unknown or mismatched versions, skipped lines
};

// Runs the input loop in-process over `log` against the image written by `builder`.
Decoded decode(const KivImageBuilder& builder, const std::string& log) {
  KivTempDir dir;
  builder.writeTo(dir.file("kiv_log.elf"));
  KivLogMetadata umac;
  KivLogMetadata lmac;
  EXPECT_TRUE(umac.load(dir.file("kiv_log.elf"), std::string(kivsample::kUmacSignature)));
  EXPECT_TRUE(lmac.load(dir.file("kiv_log.elf"), std::string(kivsample::kLmacSignature)));
  KivLogProcessor processor;
  processor.setUmacMetadata(&umac);
  processor.setLmacMetadata(&lmac);
  {
    KivCapture discard;
    processor.processFile(dir.write("raw.log", log));
  }
  Decoded out;
  for (const auto& device : processor.devices) {
    ++out.devices;
    out.compatible += device->compatible ? 1 : 0;
    out.processed += device->processed;
    out.failed +=
        device->errors + device->versionUnknown + device->versionMismatch + device->skipped;
  }
  return out;
}

std::size_t countDataLines(const std::string& log) {
  std::size_t count = 0;
  for (std::size_t at = log.find("[FW_LOG-R]"); at != std::string::npos;
       at = log.find("[FW_LOG-R]", at + 1)) {
    ++count;
  }
  return count;
}

const KivWorkload& workload() {
  static const KivWorkload instance;
  return instance;
}

// A benchmark over lines that fail to decode would measure the error path.
TEST(Workload, EveryDataLineOfEachMixDecodesOnItsDevice) {
  constexpr std::size_t kLines = 20000;
  for (const KivWorkloadMix mix :
       {KivWorkloadMix::kDataHeavy, KivWorkloadMix::kHostHeavy, KivWorkloadMix::kFolder}) {
    SCOPED_TRACE(std::string(KivWorkload::mixName(mix)));
    const std::string log = workload().log(mix, kLines);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), static_cast<long>(kLines));
    const std::size_t dataLines = countDataLines(log);
    EXPECT_NEAR(100.0 * static_cast<double>(dataLines) / kLines, KivWorkload::dataPercent(mix),
                1.5);

    const Decoded decoded = decode(workload().image(), log);
    EXPECT_EQ(decoded.devices, KivWorkload::deviceCount(mix));
    EXPECT_EQ(decoded.compatible, decoded.devices);
    EXPECT_EQ(decoded.processed, dataLines);
    EXPECT_EQ(decoded.failed, 0u);
  }
}

TEST(Workload, DataLinesUseThousandsOfStatementsAndHostLinesVaryInLength) {
  std::istringstream log(workload().log(KivWorkloadMix::kDataHeavy, 40000));
  std::set<std::string> addresses;
  std::set<std::size_t> hostLengths;
  for (std::string line; std::getline(log, line);) {
    const std::size_t marker = line.find("[FW_LOG-R]");
    if (marker != std::string::npos) {
      // The fourth token after the marker is the address: [ID:..][ts][type][addr].
      std::size_t at = marker;
      for (int i = 0; i < 4; ++i) {
        at = line.find('[', at + 1);
      }
      addresses.insert(line.substr(at, line.find(']', at) - at));
    } else if (line.find("[FW_ELF_VER]") == std::string::npos) {
      ASSERT_GE(line.size(), 40u) << line;
      ASSERT_LE(line.size(), 120u) << line;
      hostLengths.insert(line.size());
    }
  }
  EXPECT_GT(addresses.size(), 2000u);
  EXPECT_GT(hostLengths.size(), 40u);
}

TEST(Workload, StatementsLookLikeFirmwareLogCalls) {
  const auto& statements = workload().statements();
  ASSERT_GE(statements.size(), 3000u);
  std::set<std::string> files;
  std::size_t withNewline = 0;
  std::size_t lmac = 0;
  for (const KivWorkload::Statement& statement : statements) {
    std::string_view format = statement.format;
    if (format.ends_with('\n')) {
      ++withNewline;
      format.remove_suffix(1);
    }
    EXPECT_GE(format.size(), 20u) << format;
    EXPECT_LE(format.size(), 80u) << format;
    EXPECT_GE(statement.file.size(), 10u) << statement.file;
    EXPECT_LE(statement.file.size(), 40u) << statement.file;
    EXPECT_LE(statement.level, 7u);
    files.insert(statement.file);
    lmac += statement.logType >= 2 ? 1 : 0;
  }
  EXPECT_GT(withNewline, statements.size() * 8 / 10);
  EXPECT_LT(files.size(), statements.size() / 5) << "statements share their source files";
  EXPECT_GT(lmac, 1000u);
  EXPECT_GT(statements.size() - lmac, 1000u);
}

// run.sh reuses generated files for the same line count, so the output must not vary.
TEST(Workload, SameSeedGivesTheSameBytes) {
  const KivWorkload again;
  const KivWorkload other(KivWorkload::kDefaultSeed + 1);
  EXPECT_EQ(again.image().bytes(), workload().image().bytes());
  EXPECT_NE(other.image().bytes(), workload().image().bytes());
  EXPECT_EQ(again.log(KivWorkloadMix::kFolder, 3000),
            workload().log(KivWorkloadMix::kFolder, 3000));
}

TEST(Workload, BigImageHoldsTheStatementsNearTheEndOfItsSize) {
  const KivImageBuilder big = workload().bigImage();
  EXPECT_EQ(big.size(), KivWorkload::kBigImageSize);
  const std::string& bytes = big.bytes();
  const std::size_t umac = bytes.find(kivSignaturePattern(kivsample::kUmacSignature));
  EXPECT_GT(umac, KivWorkload::kBigImageSize - 1024 * 1024);
  EXPECT_LT(bytes.find(kivSignaturePattern(kivsample::kLmacSignature)), bytes.size());
  // Zero bytes recur throughout the filler, so no string read runs on for megabytes.
  std::size_t longestRun = 0;
  for (std::size_t at = 0, next; at < umac; at = next + 1) {
    next = std::min(bytes.find('\0', at), umac);
    longestRun = std::max(longestRun, next - at);
  }
  EXPECT_LT(longestRun, 16384u);

  const std::string log = workload().log(KivWorkloadMix::kDataHeavy, 2000);
  const Decoded decoded = decode(big, log);
  EXPECT_EQ(decoded.processed, countDataLines(log));
  EXPECT_EQ(decoded.failed, 0u);
}

}  // namespace

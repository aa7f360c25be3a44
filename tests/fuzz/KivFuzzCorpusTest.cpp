// The committed seed corpora of the fuzz targets are what their generator writes; the corpus
// folders may hold more (inputs that fuzzing found, kept as regression inputs).
#include <gtest/gtest.h>

#include <string>

#include "support/KivProcess.h"
#include "support/KivTempDir.h"

namespace {

const std::string kCorpus = std::string(KIVLOG_SOURCE_DIR) + "/fuzz/corpus";

TEST(FuzzCorpus, SeedsAreWhatTheGeneratorWrites) {
  KivTempDir dir;
  const KivRunResult run =
      runKivlog({.args = {dir.path()}, .binary = std::string(KIVLOG_MAKE_FUZZ_CORPUS)});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto targets = dir.list();
  EXPECT_EQ(targets.size(), 7u);
  for (const std::string& target : targets) {
    for (const std::string& seed : dir.list(target)) {
      const std::string name = target + "/" + seed;
      EXPECT_EQ(dir.read(name), kivReadFile(kCorpus + "/" + name)) << name;
    }
  }
}

}  // namespace

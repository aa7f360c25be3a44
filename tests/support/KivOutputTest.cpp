#include "support/KivOutput.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "support/KivTempDir.h"

namespace {

// Text that goes over an output's buffer: whatever reached the file so far is the text's start,
// whatever the buffer still holds follows at the next flush, nothing lost or doubled.
TEST(KivOutput, TextCrossingTheBufferReachesTheFileInOrder) {
  for (const auto size : {KivOutput::Size::kMain, KivOutput::Size::kSmall}) {
    KivTempDir dir;
    const std::string path = dir.file("out.log");
    auto output = KivOutput::create(path, size);
    ASSERT_NE(output, nullptr);
    std::string written;
    std::uintmax_t seenSize = 0;
    for (int i = 0; written.size() < 3 * KivOutput::kMainCapacity; ++i) {
      const std::string line = "line " + std::to_string(i) + std::string(i % 97, '.');
      output->writeLine(line);
      written += line + '\n';
      if (std::filesystem::file_size(path) != seenSize) {
        const std::string seen = dir.read("out.log");
        ASSERT_EQ(seen, written.substr(0, seen.size())) << "after line " << i;
        seenSize = seen.size();
      }
    }
    EXPECT_LT(dir.read("out.log").size(), written.size());
    EXPECT_TRUE(output->flush());
    EXPECT_EQ(dir.read("out.log"), written);
  }
}

unsigned hookCalls = 0;

TEST(KivOutput, AFailedWriteIsHeardOfOnceAndLaterTextIsDropped) {
  hookCalls = 0;
  KivOutput::setFailureHook([](const KivOutput&) { ++hookCalls; });
  const unsigned before = KivOutput::failureCount();
  {
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    auto output = std::make_unique<KivOutput>(fd, "/dev/full");
    for (int i = 0; i < 3; ++i) {
      output->write(std::string(KivOutput::kMainCapacity + 1, 'x'));
      EXPECT_FALSE(output->flush());
    }
    EXPECT_TRUE(output->failed());
    EXPECT_EQ(output->error(), ENOSPC);
    EXPECT_EQ(output->name(), "/dev/full");
    output.reset();
    ::close(fd);
  }
  KivOutput::setFailureHook(nullptr);
  EXPECT_EQ(hookCalls, 1u);
  EXPECT_EQ(KivOutput::failureCount(), before + 1);
}

}  // namespace

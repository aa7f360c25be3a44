#include "input/KivFollowSource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "input/KivInputSource.h"
#include "support/KivTempDir.h"

namespace {

void append(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// Reads exactly `size` bytes; the test has written them before, so no read waits.
std::string readExactly(KivByteSource& source, std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t done = 0; done < size;) {
    const ssize_t got = source.read(text.data() + done, size - done);
    if (got <= 0) {
      ADD_FAILURE() << "read returned " << got << " after " << done << " bytes";
      return text.substr(0, done);
    }
    done += static_cast<std::size_t>(got);
  }
  return text;
}

// Each change is made before the read that should see it, so the source never has to wait.
TEST(KivFollowSource, ReadsWhatIsAppendedAndStartsAgainAfterTruncationAndReplacement) {
  KivTempDir dir;
  const std::string path = dir.write("raw.log", "a\nb");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  {
    KivInputSource source(std::make_unique<KivFollowSource>(fd, path));
    EXPECT_EQ(readExactly(source, 3), "a\nb");
    append(path, "c\n");
    EXPECT_EQ(readExactly(source, 2), "c\n");
    // Emptied and rewritten shorter: read from its start.
    dir.write("raw.log", "x");
    EXPECT_EQ(readExactly(source, 1), "x");
    // Rotated: what the old file gets until the new one appears is read first, and its unended
    // last line is ended before the new file's first.
    ASSERT_EQ(std::rename(path.c_str(), dir.file("raw.log.1").c_str()), 0);
    append(dir.file("raw.log.1"), "y");
    EXPECT_EQ(readExactly(source, 1), "y");
    dir.write("raw.log", "z\n");
    EXPECT_EQ(readExactly(source, 3), "\nz\n");
    EXPECT_EQ(source.bytesConsumed(), 9u);
  }
  // The first descriptor stays the caller's.
  EXPECT_EQ(::close(fd), 0);
}

}  // namespace

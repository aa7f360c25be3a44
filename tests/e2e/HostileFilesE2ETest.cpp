// Files that are not what they claim to be, or that a run must not write: images that never end,
// sparse and huge files, and links, FIFOs, the input and another run's folder where the outputs
// go. Nothing hangs, nothing outside the folder is written, and every refusal is named.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivSampleFirmware.h"
#include "support/KivSampleOutput.h"
#include "support/KivTempDir.h"

namespace {

using namespace kivsample;

const std::string kDescriptor = descriptorLine("wlan0");
const std::string kData = dataLine("wlan0", 7, kUmacPercent, 3, 0);
const std::string kDecoded =
    "          7 FW_LOG [ID:wlan0] [UMAC   :WARNING] [fw/src/stats.c                :   77]: "
    "load 3%\n";
const std::string kLog = rawLog({kDescriptor, kData});
const std::string kDecodedLog = rawLog({kDescriptor}) + kDecoded;
const std::string kVictim = "a file outside the folder\n";

// A file of `size` bytes that holds `bytes` at `offset` and nothing but a hole elsewhere.
void writeSparse(const std::string& path, uint64_t size, uint64_t offset,
                 const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
  close(fd);
}

struct Case {
  const char* what;
  std::function<void(const KivTempDir&)> setUp;
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status;
  // Files whose content the run must leave as expected, by path in the test's folder.
  std::vector<std::pair<std::string, std::string>> files;
};

void runCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    KivTempDir dir;
    writeImage(dir.path());
    dir.write("victim", kVictim);
    if (c.setUp) {
      c.setUp(dir);
    }
    const KivRunResult result = runKivlog({.args = c.args,
                                           .input = kLog,
                                           .workingDirectory = dir.path(),
                                           .timeout = std::chrono::seconds(20)});
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    for (const auto& [name, content] : c.files) {
      EXPECT_EQ(dir.read(name), content) << name;
    }
  }
}

TEST(HostileFilesE2E, ImagesThatAreNotRegularFilesOrLieBeyond4GiBAreRefused) {
  runCases({
      {"an endless device",
       {},
       {"-f", "/dev/zero"},
       "[ERR] Failed opening strings file /dev/zero\n",
       "",
       1},
      {"a FIFO",
       [](const KivTempDir& d) { mkfifo(d.file("fifo").c_str(), 0644); },
       {"-f", "fifo"},
       "[ERR] Failed opening strings file fifo\n",
       "",
       1},
      {"a legacy image that is a device",
       {},
       {"-u", "/dev/urandom", "-l", "kiv_log.elf"},
       "[ERR] Failed opening strings file /dev/urandom\n",
       "",
       1},
      {"a block past 4 GiB",
       [](const KivTempDir& d) {
         writeSparse(d.file("big.elf"), (uint64_t{5} << 30) + 65536, uint64_t{5} << 30,
                     d.read("kiv_log.elf"));
       },
       {"-f", "big.elf"},
       "[ERR] Signature block of big.elf lies at offset 0x140000100, beyond the 4 GiB that image "
       "offsets reach\n",
       "",
       1},
  });
}

// A 20 GiB sparse file is indexed without reading its holes; a FIFO is skipped, not waited for.
TEST(HostileFilesE2E, ALibraryFolderSkipsSparseFilesAndFifosWithAWarning) {
  runCases({{"sparse file and FIFO",
             [](const KivTempDir& d) {
               d.makeDir("lib");
               writeSparse(d.file("lib/a-sparse.elf"), uint64_t{20} << 30, 4096, "no image");
               mkfifo(d.file("lib/b-fifo").c_str(), 0644);
               writeImage(d.file("lib"), "c-build.elf");
             },
             {"-v", "1", "-r", "-F", "lib"},
             kDecodedLog + "\n\nUsing:\n  KIV_LOG ELF kiv_log.elf\n" +
                 "[WRN] Skipping firmware build lib/a-sparse.elf: no UMAC signature\n"
                 "[WRN] Skipping firmware build lib/b-fifo: not a regular file\n"
                 "  Library  lib (1 builds)\n  Input    stdin\n  Output   stdout\n" +
                 kImageReport + "Device: wlan0\n" + kCompatible + counters(1, 2, 0, 1, 0, 0, 0),
             "",
             0}});
}

TEST(HostileFilesE2E, OutputFilesThatAreLinksFifosOrTheInputAreNotWritten) {
  auto folder = [](const KivTempDir& d) { d.makeDir("out"); };
  auto link = [folder](std::string name) {
    return [folder, name](const KivTempDir& d) {
      folder(d);
      ASSERT_EQ(symlink(d.file("victim").c_str(), d.file("out/" + name).c_str()), 0);
    };
  };
  runCases({
      {"personal log is a link",
       link("wlan0_personal.log"),
       {"-o", "out"},
       "[ERR] Unable to open personal log output stream out/wlan0_personal.log: it is a symbolic "
       "link\n",
       "",
       0,
       {{"victim", kVictim}, {"out/HostAndFirmware.log", kDecodedLog}}},
      {"personal log is a FIFO",
       [folder](const KivTempDir& d) {
         folder(d);
         mkfifo(d.file("out/wlan0_personal.log").c_str(), 0644);
       },
       {"-o", "out"},
       "[ERR] Unable to open personal log output stream out/wlan0_personal.log: it is not a "
       "regular file\n",
       "",
       0,
       {{"out/HostAndFirmware.log", kDecodedLog}}},
      {"main log is a link",
       link("HostAndFirmware.log"),
       {"-o", "out"},
       "[ERR] Unable to open main output stream out/HostAndFirmware.log: it is a symbolic link\n" +
           kDecodedLog,
       "",
       0,
       {{"victim", kVictim}}},
      {"main log is a FIFO",
       [folder](const KivTempDir& d) {
         folder(d);
         mkfifo(d.file("out/HostAndFirmware.log").c_str(), 0644);
       },
       {"-o", "out"},
       "[ERR] Unable to open main output stream out/HostAndFirmware.log: it is not a regular "
       "file\n" +
           kDecodedLog,
       "",
       0},
      {"input is a personal log",
       [folder](const KivTempDir& d) {
         folder(d);
         d.write("out/wlan0_personal.log", kLog);
       },
       {"-i", "out/wlan0_personal.log", "-o", "out"},
       "[ERR] Unable to open personal log output stream out/wlan0_personal.log: it is the input "
       "file\n",
       "",
       0,
       {{"out/wlan0_personal.log", kLog}, {"out/HostAndFirmware.log", kDecodedLog}}},
      {"input is the main log",
       [folder](const KivTempDir& d) {
         folder(d);
         d.write("out/HostAndFirmware.log", kLog);
       },
       {"-i", "out/HostAndFirmware.log", "-o", "out"},
       "",
       "kivlog: input file out/HostAndFirmware.log is also an output\n",
       1,
       {{"out/HostAndFirmware.log", kLog}}},
  });
}

TEST(HostileFilesE2E, InputThatIsStandardOutputIsNotReadWhileItGrows) {
  KivTempDir dir;
  writeImage(dir.path());
  dir.write("a.log", kLog);
  const KivRunResult result =
      runKivlog({.args = {"-c", "exec \"$0\" -i a.log >> a.log", kivlogBinary()},
                 .workingDirectory = dir.path(),
                 .binary = "/bin/sh"});
  EXPECT_EQ(result.err, "kivlog: input file a.log is also an output\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(dir.read("a.log"), kLog);
}

// A second run into a folder that a live run writes leaves the first run's files alone.
TEST(HostileFilesE2E, ASecondRunIntoAFolderInUseIsRefused) {
  KivTempDir dir;
  writeImage(dir.path());
  dir.makeDir("out");
  KivLiveRun first(dir.path(), {"-o", "out"}, dir.file("err"));
  first.send(rawLog({kDescriptor}));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((!dir.exists("out/HostAndFirmware.log") || dir.read("out/HostAndFirmware.log").empty()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const KivRunResult second = runKivlogIn(dir.path(), {"-o", "out"}, "second run\n");
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(second.err, "kivlog: output folder out is in use by another run\n");
  EXPECT_EQ(second.status, 1);
  first.send(rawLog({kData}));
  EXPECT_EQ(first.wait(), 0);
  EXPECT_EQ(dir.read("out/HostAndFirmware.log"), kDecodedLog);
  EXPECT_EQ(dir.read("out/wlan0_personal.log"), kDecodedLog);
}

}  // namespace

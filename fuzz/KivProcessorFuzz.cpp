// Feeds arbitrary raw logs, and arbitrary image contents behind two valid signature blocks, through
// the whole processor: nothing a log or an image holds may crash it or make it misbehave.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "KivFuzzSupport.h"
#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"
#include "output/KivJsonLinesWriter.h"
#include "output/KivTextWriter.h"
#include "output/KivWriterStack.h"
#include "processor/KivLogProcessor.h"
#include "processor/KivParallelDecoder.h"
#include "support/KivDebugLog.h"

namespace {

constexpr uint32_t kUmacBase = 0x1000;
constexpr uint32_t kLmacBase = 0x2000;
constexpr uint32_t kLmacBlockOffset = 0x100;
constexpr std::size_t kHeaderSize = 0x200;
// The UMAC block lies at file offset 0 with its version record 0x90 after its base address.
constexpr std::size_t kUmacVersionOffset = 0x90;

void putBlock(std::string& image, std::size_t at, const char* signature, uint32_t base,
              uint32_t versionAddress) {
  std::memcpy(&image[at], signature, 15);
  image[at + 15] = '\0';
  for (int i = 0; i < 4; ++i) {
    image[at + 16 + i] = static_cast<char>(base >> (8 * i));
    image[at + 20 + i] = static_cast<char>(versionAddress >> (8 * i));
  }
}

int memoryFile(const std::string& bytes) {
  const int fd = ::memfd_create("kivlog-fuzz", 0);
  if (fd >= 0 && ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    ::close(fd);
    return -1;
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

// A folder of firmware builds for runs with one: the image itself, and a copy whose UMAC version
// record starts with another byte, so that a device announcing it is bound to that build.
std::string libraryFolder(const std::string& image) {
  static const std::string folder = [] {
    char pattern[] = "/tmp/kivlog-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return std::string(made == nullptr ? "/nonexistent" : made);
  }();
  std::string other = image;
  other[kUmacVersionOffset] = static_cast<char>(other[kUmacVersionOffset] ^ 1);
  std::ofstream(folder + "/same.elf", std::ios::binary | std::ios::trunc) << image;
  std::ofstream(folder + "/other.elf", std::ios::binary | std::ios::trunc) << other;
  return folder;
}

// Decodes the log in `logFd` against the image at `path` as the flags in `settings` say, with
// `workers` decoding threads (1: the processor alone), and returns everything written.
std::string decode(uint8_t settings, const std::string& path, const std::string& image, int logFd,
                   std::size_t workers) {
  ::lseek(logFd, 0, SEEK_SET);
  std::ostringstream sink;
  std::streambuf* savedOut = std::cout.rdbuf(sink.rdbuf());
  std::streambuf* savedErr = std::cerr.rdbuf(sink.rdbuf());
  const bool json = (settings & 8) != 0;
  const auto warning = [&sink](std::string_view line) { sink << line << '\n'; };
  const auto makeWriter = [json, warning](std::ostream& console) -> std::unique_ptr<KivLogWriter> {
    if (json) {
      return std::make_unique<KivJsonLinesWriter>(console, warning);
    }
    return std::make_unique<KivTextWriter>(console, warning);
  };
  const std::unique_ptr<KivLogWriter> writer = makeWriter(sink);
  {
    const KivDiagnosticScope diagnostics(settings & 3, writer.get());
    KivLogMetadata umac;
    KivLogMetadata lmac;
    std::optional<KivFirmwareLibrary> library;
    KivLogProcessor processor;
    processor.sink = writer.get();
    processor.strict = (settings & 4) != 0;
    if ((settings & 16) != 0) {
      processor.library =
          &library.emplace(libraryFolder(image), "FAST_LOG_UMAC__", "FAST_LOG_LMAC__");
    }
    if (umac.load(path, "FAST_LOG_UMAC__") && lmac.load(path, "FAST_LOG_LMAC__")) {
      processor.setUmacMetadata(&umac);
      processor.setLmacMetadata(&lmac);
      if (workers > 1) {
        KivParallelDecoder::Setup parallel;
        parallel.run = &processor;
        parallel.workers = workers;
        parallel.makeWriters = [&makeWriter](std::ostream& console) {
          return KivWriterStack{makeWriter(console), nullptr};
        };
        parallel.debugLevel = settings & 3;
        parallel.console = sink.rdbuf();
        parallel.main = sink.rdbuf();
        KivParallelDecoder(parallel).run(logFd);
      } else {
        processor.processStream(logFd);
      }
      KivRunSetup setup;
      setup.library = processor.library;
      processor.report(setup, true);
    }
  }
  std::cout.rdbuf(savedOut);
  std::cerr.rdbuf(savedErr);
  return sink.str();
}

}  // namespace

// Byte 0: debug level (low two bits), strict flag (bit 2), JSON Lines (bit 3), a firmware
// library (bit 4), and a second decoding with 2 or 3 threads (bit 5, bit 6) that must write what
// the first wrote; byte 1: image body length in 16-byte units; then the image body, then the raw
// log.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::size_t bodySize = std::min<std::size_t>(data[1] * 16u, size - 2);
  std::string image(kHeaderSize, '\0');
  putBlock(image, 0, "FAST_LOG_UMAC__", kUmacBase, kUmacBase + 0x90);
  putBlock(image, kLmacBlockOffset, "FAST_LOG_LMAC__", kLmacBase, kLmacBase + 0x90);
  image.append(reinterpret_cast<const char*>(data + 2), bodySize);
  const std::string log(reinterpret_cast<const char*>(data + 2 + bodySize), size - 2 - bodySize);

  const int imageFd = memoryFile(image);
  const int logFd = memoryFile(log);
  if (imageFd >= 0 && logFd >= 0) {
    const std::string path = "/proc/self/fd/" + std::to_string(imageFd);
    const std::string alone = decode(data[0], path, image, logFd, 1);
    if ((data[0] & 32) != 0 &&
        decode(data[0], path, image, logFd, 2 + ((data[0] >> 6) & 1)) != alone) {
      kivFuzzFail("decoding with several threads wrote something else than one thread");
    }
  }
  if (imageFd >= 0) {
    ::close(imageFd);
  }
  if (logFd >= 0) {
    ::close(logFd);
  }
  return 0;
}

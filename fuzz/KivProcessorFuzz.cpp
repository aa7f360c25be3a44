// Feeds arbitrary raw logs, and arbitrary image contents behind two valid signature blocks, through
// the whole processor: nothing a log or an image holds may crash it or make it misbehave.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"
#include "output/KivJsonLinesWriter.h"
#include "output/KivTextWriter.h"
#include "processor/KivLogProcessor.h"
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

}  // namespace

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

// Byte 0: debug level (low two bits), strict flag (bit 2), JSON Lines (bit 3) and a firmware
// library (bit 4); byte 1: image body length in 16-byte units; then the image body, then the raw
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
    std::ostringstream sink;
    std::streambuf* savedOut = std::cout.rdbuf(sink.rdbuf());
    std::streambuf* savedErr = std::cerr.rdbuf(sink.rdbuf());
    const bool json = (data[0] & 8) != 0;
    const auto warning = [&sink](std::string_view line) { sink << line << '\n'; };
    KivTextWriter textWriter(sink, warning);
    KivJsonLinesWriter jsonWriter(sink, warning);
    KivLogWriter& writer = json ? static_cast<KivLogWriter&>(jsonWriter) : textWriter;
    const KivDiagnosticScope diagnostics(data[0] & 3, &writer);
    const std::string path = "/proc/self/fd/" + std::to_string(imageFd);
    {
      KivLogMetadata umac;
      KivLogMetadata lmac;
      std::optional<KivFirmwareLibrary> library;
      KivLogProcessor processor;
      processor.sink = &writer;
      processor.strict = (data[0] & 4) != 0;
      if ((data[0] & 16) != 0) {
        processor.library =
            &library.emplace(libraryFolder(image), "FAST_LOG_UMAC__", "FAST_LOG_LMAC__");
      }
      if (umac.load(path, "FAST_LOG_UMAC__") && lmac.load(path, "FAST_LOG_LMAC__")) {
        processor.setUmacMetadata(&umac);
        processor.setLmacMetadata(&lmac);
        processor.processStream(logFd);
        KivRunSetup setup;
        setup.library = processor.library;
        processor.report(setup, true);
      }
    }
    std::cout.rdbuf(savedOut);
    std::cerr.rdbuf(savedErr);
  }
  if (imageFd >= 0) {
    ::close(imageFd);
  }
  if (logFd >= 0) {
    ::close(logFd);
  }
  return 0;
}

// Loads arbitrary bytes as a firmware image file, with the two combined signatures and with the
// legacy one, and renders a fixed set of data lines against whatever loaded: descriptors and
// strings at every place of the file, addresses that wrap below the base, descriptors and strings
// cut by the end of the file, and log types beyond the two processors. Some inputs lie just below
// 4 GiB in a sparse file: the search skips the hole before them, a block that reaches past 4 GiB
// is refused, and the mapping of the others works at the top of the 32-bit offsets.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "KivFuzzSupport.h"
#include "metadata/KivLogMetadata.h"
#include "output/KivJsonLinesWriter.h"
#include "processor/KivLogProcessor.h"
#include "support/KivDebugLog.h"

namespace {

constexpr uint32_t kSpacing = 16;            // descriptors are 16 bytes
constexpr uint32_t kSpacedReach = 8192;      // bytes of the file covered at that spacing
constexpr uint32_t kTailReach = 24;          // last bytes of the file covered byte by byte
constexpr std::size_t kMaxOutput = 1 << 22;  // what the fixed lines can write, with room to spare
// Where an input placed below 4 GiB starts: a block in its first bytes is used, one further on is
// beyond reach.
constexpr uint64_t kHighPlace = (uint64_t{1} << 32) - kSpacedReach;
// Inputs whose length leaves this remainder divided by 5 lie there.
constexpr std::size_t kHighRemainder = 2;

std::string dataLine(std::string_view id, uint32_t logType, uint32_t address, uint32_t param0,
                     uint32_t param1) {
  char line[128];
  std::snprintf(line, sizeof line, "[%u.0] [FW_LOG-R][ID:%.*s][1000][%u][%x][%u][%u]", logType,
                static_cast<int>(id.size()), id.data(), logType, address, param0, param1);
  return line;
}

// The data lines for one image: `logType` selects it, `image` gives the address mapping; the
// input's `fileSize` bytes start at file offset `place`.
void addLines(std::string& log, const KivLogMetadata& image, uint32_t logType, uint32_t place,
              uint32_t fileSize) {
  // The address whose descriptor lies at the input's offset `offset`, wrapping as the tool does.
  const auto at = [&image, place](uint32_t offset) {
    return image.baseAddress() + place + offset - image.dataOffset();
  };
  std::vector<uint32_t> addresses;
  for (uint32_t offset = 0; offset < fileSize && offset < kSpacedReach; offset += kSpacing) {
    addresses.push_back(at(offset));
  }
  for (uint32_t back = 1; back <= kTailReach && back <= fileSize; ++back) {
    addresses.push_back(at(fileSize - back));
  }
  addresses.insert(addresses.end(),
                   {image.baseAddress() - 1, image.baseAddress() - kSpacing, 0u, 0xFFFFFFFFu,
                    0xFFFFFFF0u, image.versionAddress(), at(fileSize), at(fileSize + kSpacing)});
  uint32_t n = 0;
  for (const uint32_t address : addresses) {
    // The two log types of the processor (its even and odd one), each with values that feed
    // signed, unsigned and character conversions differently.
    log += dataLine("dev", logType + (n & 1), address, 0x80000000u + n, n * 0x01010101u) + '\n';
    ++n;
  }
  log += dataLine("other", 4, image.baseAddress(), 1, 2) + '\n';
  log += dataLine("other", 0xFFFFFFFFu, image.baseAddress(), 1, 2) + '\n';
}

// Decodes the fixed lines against the two images with the processor, output into memory.
void render(KivLogMetadata& umac, KivLogMetadata& lmac, uint32_t place, uint32_t fileSize,
            bool json) {
  std::string log =
      "[FW_ELF_VER][ID:dev][UMAC][a][b][c][d][e][f][LMAC][a][b][c][d][e][f]\n"
      "host line\n";
  addLines(log, umac, 0, place, fileSize);
  addLines(log, lmac, 2, place, fileSize);
  const int logFd = kivMemoryFile(log);
  if (logFd < 0) {
    return;
  }
  {
    KivFuzzCapture capture;
    {
      KivJsonLinesWriter jsonWriter(std::cout, [](std::string_view) {});
      KivLogProcessor processor;
      processor.setUmacMetadata(&umac);
      processor.setLmacMetadata(&lmac);
      if (json) {
        processor.sink = &jsonWriter;
      }
      processor.processStream(logFd);
      KivRunSetup setup;
      processor.report(setup, true);
    }
    std::cout.flush();
    if (capture.out().size() > kMaxOutput) {
      kivFuzzFail("the fixed lines wrote more than any line could");
    }
  }
  ::close(logFd);
}

// Whether the first block of `signature` in the input, placed at `place`, reaches past 4 GiB.
bool beyondReach(std::string_view bytes, const char* signature, uint64_t place) {
  const std::size_t at = bytes.find(KivLogMetadata::patternFor(signature));
  return at != std::string_view::npos &&
         place + at + KivLogMetadata::kSignatureBlockSize > (uint64_t{1} << 32);
}

void loadAndRender(const std::string& path, std::string_view bytes, const char* umacSignature,
                   const char* lmacSignature, uint64_t place, bool json) {
  KivLogMetadata umac;
  KivLogMetadata lmac;
  bool loaded = false;
  {
    KivFuzzCapture capture;
    loaded = umac.load(path, umacSignature) && lmac.load(path, lmacSignature);
  }
  if (loaded &&
      (beyondReach(bytes, umacSignature, place) || beyondReach(bytes, lmacSignature, place))) {
    kivFuzzFail("an image whose block lies beyond 4 GiB was loaded");
  }
  if (loaded) {
    render(umac, lmac, static_cast<uint32_t>(place), static_cast<uint32_t>(bytes.size()), json);
  }
}

}  // namespace

// The whole input is the image file. Inputs of odd length run with every diagnostic on; those whose
// length is a multiple of three write JSON Lines; those whose length leaves kHighRemainder
// divided by 5 lie at kHighPlace in a sparse file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const uint64_t place = size % 5 == kHighRemainder ? kHighPlace : 0;
  const int imageFd = kivMemoryFile(bytes, place);
  if (imageFd < 0) {
    return 0;
  }
  setDebugLevel(size % 2 == 1 ? kLogDebug : kLogError);
  const bool json = size % 3 == 0;
  const std::string path = "/proc/self/fd/" + std::to_string(imageFd);
  loadAndRender(path, bytes, "FAST_LOG_UMAC__", "FAST_LOG_LMAC__", place, json);
  loadAndRender(path, bytes, "FAST_LOG_START_", "FAST_LOG_START_", place, json);
  setDebugLevel(kLogError);
  ::close(imageFd);
  return 0;
}

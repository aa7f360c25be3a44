#include "metadata/KivLogMetadata.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "support/KivDebugLog.h"

namespace {

constexpr std::size_t kScanChunkSize = 64 * 1024;

// pread that retries interrupted calls; returns the bytes read, 0 at end of file, -1 on error.
ssize_t readFully(int fd, char* dest, std::size_t n, uint64_t offset) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd, dest + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

uint32_t littleEndian32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

std::string KivLogMetadata::patternFor(const std::string& signature) {
  std::string pattern(kPatternSize, '\0');
  std::copy_n(signature.data(), std::min(signature.size(), pattern.size()), pattern.begin());
  return pattern;
}

int KivLogMetadata::openImage(const std::string& path, bool& notRegular) {
  notRegular = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    notRegular = true;
    ::close(fd);
    return -1;
  }
  return fd;
}

std::vector<uint64_t> KivLogMetadata::findPatterns(int fd,
                                                   const std::vector<std::string>& patterns) {
  std::vector<uint64_t> found(patterns.size(), kNoPattern);
  std::size_t missing = patterns.size();
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return found;
  }
  const auto size = static_cast<uint64_t>(info.st_size);
  // Chunks overlap by the pattern's length minus one, so an occurrence spanning two chunks is seen.
  std::vector<char> window(kPatternSize - 1 + kScanChunkSize);
  std::size_t carried = 0;
  uint64_t chunkOffset = 0;
  while (missing > 0 && chunkOffset < size) {
    // A hole reads as zero bytes: a pattern can only end in its first bytes, so those stand for
    // all of it. A file system that cannot tell holes has none to skip.
    uint64_t holeEnd = chunkOffset;
    const off_t data = ::lseek(fd, static_cast<off_t>(chunkOffset), SEEK_DATA);
    if (data < 0 && errno == ENXIO) {
      holeEnd = size;
    } else if (data > static_cast<off_t>(chunkOffset)) {
      holeEnd = std::min(static_cast<uint64_t>(data), size);
    }
    std::size_t got = 0;
    uint64_t advance = 0;
    if (holeEnd > chunkOffset) {
      advance = holeEnd - chunkOffset;
      got = static_cast<std::size_t>(std::min<uint64_t>(advance, kPatternSize - 1));
      std::memset(window.data() + carried, 0, got);
    } else {
      const ssize_t read = readFully(fd, window.data() + carried, kScanChunkSize, chunkOffset);
      if (read <= 0) {
        break;
      }
      got = static_cast<std::size_t>(read);
      advance = got;
    }
    const std::size_t total = carried + got;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      if (found[i] != kNoPattern) {
        continue;
      }
      const std::size_t at = std::string_view(window.data(), total).find(patterns[i]);
      if (at != std::string_view::npos) {
        found[i] = chunkOffset - carried + at;
        --missing;
      }
    }
    const std::size_t keep = std::min(kPatternSize - 1, total);
    std::memmove(window.data(), window.data() + total - keep, keep);
    carried = keep;
    chunkOffset += advance;
  }
  return found;
}

bool KivLogMetadata::readLocation(int fd, uint64_t offset, Location& location) {
  std::array<unsigned char, kBlockTailSize> tail{};
  if (readFully(fd, reinterpret_cast<char*>(tail.data()), tail.size(), offset + kPatternSize) !=
      static_cast<ssize_t>(tail.size())) {
    return false;
  }
  location.baseAddress = littleEndian32(tail.data());
  location.versionAddress = littleEndian32(tail.data() + 4);
  location.dataOffset = static_cast<uint32_t>(offset);
  const uint32_t versionOffset =
      location.dataOffset + location.versionAddress - location.baseAddress;
  return readFully(fd, reinterpret_cast<char*>(&location.elfVersion), sizeof(FwElfVersion),
                   versionOffset) == static_cast<ssize_t>(sizeof(FwElfVersion));
}

bool KivLogMetadata::open(const std::string& path, const Location& location) {
  bool notRegular = false;
  file_ = openImage(path, notRegular);
  if (file_ < 0) {
    return false;
  }
  baseAddress_ = location.baseAddress;
  versionAddress_ = location.versionAddress;
  dataOffset_ = location.dataOffset;
  FwElfVersion version{};
  if (!readAt(offsetOf(versionAddress_), &version, sizeof version) ||
      !version.sameAs(location.elfVersion)) {
    return false;
  }
  elfVersion_ = version;
  return true;
}

KivLogMetadata::KivLogMetadata(std::size_t statementBudget)
    : pages_(std::make_unique<std::array<Page, kPageCount>>()), statements_(statementBudget) {}

void KivLogMetadata::shareFileOf(const KivLogMetadata& other) {
  file_ = other.file_;
  ownsFile_ = false;
  baseAddress_ = other.baseAddress_;
  versionAddress_ = other.versionAddress_;
  dataOffset_ = other.dataOffset_;
  elfVersion_ = other.elfVersion_;
}

KivLogMetadata::~KivLogMetadata() {
  if (file_ >= 0 && ownsFile_) {
    ::close(file_);
  }
}

bool KivLogMetadata::load(const std::string& path, const std::string& signature) {
  bool notRegular = false;
  file_ = openImage(path, notRegular);
  if (file_ < 0) {
    debugLog(kLogError, "Failed opening strings file %s", path.c_str());
    return false;
  }
  if (!findSignature(signature)) {
    if (beyondOffsetLimit_) {
      debugLog(kLogError,
               "Signature block of %s lies at offset 0x%llX, beyond the 4 GiB that image offsets "
               "reach",
               path.c_str(), static_cast<unsigned long long>(beyondOffsetLimit_));
    } else {
      debugLog(kLogError, "Failed to find signature in %s", path.c_str());
    }
    return false;
  }
  if (!readVersion()) {
    debugLog(kLogError, "Failed to find verion in file %s", path.c_str());
    return false;
  }
  return true;
}

bool KivLogMetadata::findSignature(const std::string& signature) {
  if (file_ < 0) {
    return false;
  }
  debugLog(kLogDebug, "Searching for signature \"%s\"", signature.c_str());
  const uint64_t found = findPatterns(file_, {patternFor(signature)})[0];
  if (found == kNoPattern) {
    return false;
  }
  if (!reachable(found)) {
    beyondOffsetLimit_ = found;
    return false;
  }

  const auto start = static_cast<uint32_t>(found);
  debugLog(kLogDebug, "Found signature at %X", start + static_cast<uint32_t>(kPatternSize));
  debugLog(kLogDebug, "Reading additional %d bytes of signature struct",
           static_cast<int>(kBlockTailSize));
  std::array<unsigned char, kSignatureBlockSize> block{};
  const ssize_t got = readFully(file_, reinterpret_cast<char*>(block.data()) + kPatternSize,
                                kBlockTailSize, found + kPatternSize);
  if (got != static_cast<ssize_t>(kBlockTailSize)) {
    return false;
  }
  debugHexDump(kLogDebug, "SIGNATURE:", block.data(), static_cast<uint32_t>(block.size()));
  baseAddress_ = littleEndian32(block.data() + 16);
  versionAddress_ = littleEndian32(block.data() + 20);
  dataOffset_ = start;
  debugLog(kLogDebug, "Got baseAddress %X versionAddress %X dataOffset %X pos %X", baseAddress_,
           versionAddress_, dataOffset_, start + static_cast<uint32_t>(kPatternSize - 1));
  return true;
}

bool KivLogMetadata::readVersion() {
  const uint32_t offset = offsetOf(versionAddress_);
  debugLog(kLogDebug, "Version read from offset %X", offset);
  FwElfVersion version{};
  if (!readAt(offset, &version, sizeof version)) {
    return false;
  }
  elfVersion_ = version;
  return true;
}

const KivLogMetadata::Page* KivLogMetadata::pageAt(uint64_t offset) {
  const uint64_t index = offset / kPageSize;
  Page& page = (*pages_)[index % kPageCount];
  if (page.index != index) {
    page.index = std::numeric_limits<uint64_t>::max();
    const ssize_t got = readFully(file_, page.bytes.data(), kPageSize, index * kPageSize);
    if (got < 0) {
      return nullptr;
    }
    page.size = static_cast<std::size_t>(got);
    page.index = index;
  }
  return &page;
}

bool KivLogMetadata::readAt(uint32_t offset, void* dest, std::size_t n) {
  auto* out = static_cast<char*>(dest);
  uint64_t position = offset;
  while (n > 0) {
    const Page* page = pageAt(position);
    const std::size_t inPage = static_cast<std::size_t>(position % kPageSize);
    if (page == nullptr || inPage >= page->size) {
      return false;
    }
    const std::size_t take = std::min(n, page->size - inPage);
    std::memcpy(out, page->bytes.data() + inPage, take);
    out += take;
    n -= take;
    position += take;
  }
  return true;
}

bool KivLogMetadata::readStringAt(uint32_t offset, std::string& out, std::size_t keepLimit) {
  out.clear();
  const uint64_t zero = findZero(offset);
  if (zero == kNoZero) {
    return false;
  }
  out.resize(static_cast<std::size_t>(std::min<uint64_t>(zero - offset, keepLimit)));
  return readAt(offset, out.data(), out.size());
}

uint64_t KivLogMetadata::findZero(uint64_t from) {
  const auto next = zeroRuns_.upper_bound(from);
  if (next != zeroRuns_.begin() && from <= std::prev(next)->second) {
    return std::prev(next)->second;
  }
  // Scan up to the next zero byte, the end of the file, or the start of a run already scanned.
  const uint64_t stop = next == zeroRuns_.end() ? kNoZero : next->first;
  uint64_t position = from;
  uint64_t zero = kNoZero;
  for (;;) {
    if (position >= stop) {
      zero = next->second;
      break;
    }
    const Page* page = pageAt(position);
    if (page == nullptr) {
      return kNoZero;  // a read error is not remembered: a later read may succeed
    }
    const auto inPage = static_cast<std::size_t>(position % kPageSize);
    if (inPage >= page->size) {
      break;  // end of file
    }
    const char* begin = page->bytes.data() + inPage;
    const auto available =
        static_cast<std::size_t>(std::min<uint64_t>(page->size - inPage, stop - position));
    const void* found = std::memchr(begin, 0, available);
    if (found != nullptr) {
      zero = position + static_cast<uint64_t>(static_cast<const char*>(found) - begin);
      break;
    }
    position += available;
  }
  if (zeroRuns_.size() >= kMaxZeroRuns) {
    zeroRuns_.clear();
  } else {
    zeroRuns_.erase(zeroRuns_.upper_bound(from),
                    zero == kNoZero ? zeroRuns_.end() : zeroRuns_.upper_bound(zero));
  }
  zeroRuns_.emplace(from, zero);
  return zero;
}

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "metadata/FwElfVersion.h"
#include "metadata/KivStatementCache.h"

// One firmware image, read as a flat array of bytes. A signature block found in the file gives the
// firmware address of the block itself and of the image's version record; with the block's file
// offset these map any firmware address of the image to a file offset.
class KivLogMetadata {
 public:
  static constexpr std::size_t kPatternSize = 16;
  static constexpr std::size_t kSignatureBlockSize = 143;
  static constexpr std::size_t kBlockTailSize = kSignatureBlockSize - kPatternSize;

  // `statementBudget` bounds the bytes the image keeps of the statements it has decoded.
  explicit KivLogMetadata(std::size_t statementBudget = KivStatementCache::kDefaultBudget);
  virtual ~KivLogMetadata();
  KivLogMetadata(const KivLogMetadata&) = delete;
  KivLogMetadata& operator=(const KivLogMetadata&) = delete;

  // Where an image's signature block lies in its file, and the version record it names.
  struct Location {
    uint32_t baseAddress = 0;
    uint32_t versionAddress = 0;
    uint32_t dataOffset = 0;
    FwElfVersion elfVersion{};
  };
  static constexpr uint64_t kNoPattern = std::numeric_limits<uint64_t>::max();
  // Image offsets are 32-bit: a block must lie wholly below 4 GiB.
  static constexpr uint64_t kOffsetLimit = uint64_t{1} << 32;

  // Opens an image file for reading; -1 when it cannot be opened or is not a regular file (a
  // device, a FIFO, a folder: nothing whose end a search could wait for), with `notRegular` set
  // in that case. A FIFO cannot block the open.
  static int openImage(const std::string& path, bool& notRegular);
  // Whether a block found at `offset` lies where 32-bit offsets reach it.
  static bool reachable(uint64_t offset) { return offset + kSignatureBlockSize <= kOffsetLimit; }

  // The 16 bytes searched for: the signature's first 16 bytes with its terminating zero; a shorter
  // signature is padded with zero bytes, as a 16-byte character field holding it would be.
  static std::string patternFor(const std::string& signature);
  // The first file offset of each 16-byte pattern, all found in one pass over the file;
  // kNoPattern for a pattern that does not occur. Holes of a sparse file are not read, and
  // nothing past the file's size is.
  static std::vector<uint64_t> findPatterns(int fd, const std::vector<std::string>& patterns);
  // The block whose pattern starts at `offset`, and the version record it names; false when
  // either is cut short by the end of the file. Writes no diagnostics.
  static bool readLocation(int fd, uint64_t offset, Location& location);

  // Opens the image and fills the block values and the version record; logs why on failure.
  bool load(const std::string& path, const std::string& signature);
  // Opens an image found before at `location`, without a search and without diagnostics; false
  // when the file cannot be opened or no longer holds that version record there.
  bool open(const std::string& path, const Location& location);
  bool findSignature(const std::string& signature);
  bool readVersion();
  // Reads the same image file as `other`, which must outlive it, with caches of its own: each
  // decoding thread has its own, and reads stand on their own (pread), so they share the file.
  void shareFileOf(const KivLogMetadata& other);

  // Each read stands on its own: a failed or short read never affects later ones.
  // Reads n bytes at `offset`; false when the file ends first (the bytes read are in dest).
  bool readAt(uint32_t offset, void* dest, std::size_t n);
  // Reads the zero-terminated text at `offset`; false when the file ends before a zero byte.
  // At most `keepLimit` bytes of the text are stored in `out`; the scan still runs to the zero.
  bool readStringAt(uint32_t offset, std::string& out,
                    std::size_t keepLimit = std::numeric_limits<std::size_t>::max());

  // File offset of firmware address A: dataOffset + A - baseAddress. The arithmetic wraps modulo
  // 2^32, so addresses below the block's base map to offsets far beyond the block.
  uint32_t offsetOf(uint32_t address) const { return dataOffset_ + address - baseAddress_; }

  uint32_t baseAddress() const { return baseAddress_; }
  uint32_t versionAddress() const { return versionAddress_; }
  uint32_t dataOffset() const { return dataOffset_; }
  const FwElfVersion& elfVersion() const { return elfVersion_; }

  // The log statements decoded from this image so far.
  KivStatementCache& statements() { return statements_; }

 private:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kPageCount = 16;

  // Recently read pages of the image, so that decoding a record costs no system call when its
  // descriptor and strings were read before.
  struct Page {
    uint64_t index = std::numeric_limits<uint64_t>::max();
    std::size_t size = 0;
    std::array<char, kPageSize> bytes;
  };

  // The page holding file offset `offset`, or null when it cannot be read; a page shorter than
  // kPageSize is the last one of the file.
  const Page* pageAt(uint64_t offset);

  static constexpr uint64_t kNoZero = std::numeric_limits<uint64_t>::max();
  static constexpr std::size_t kMaxZeroRuns = 4096;

  // Offset of the first zero byte at or after `from`, or kNoZero when the file ends first.
  uint64_t findZero(uint64_t from);

  int file_ = -1;
  bool ownsFile_ = true;
  uint32_t baseAddress_ = 0;
  uint32_t versionAddress_ = 0;
  uint32_t dataOffset_ = 0;
  FwElfVersion elfVersion_{};
  std::unique_ptr<std::array<Page, kPageCount>> pages_;
  // Runs already scanned for a string's end: start offset -> its first zero byte at or after it
  // (kNoZero: none before the end of the file). Every offset from a run's start to its zero shares
  // that zero, so a long text without a zero is scanned once, not once per record naming it.
  std::map<uint64_t, uint64_t> zeroRuns_;
  KivStatementCache statements_;
  // Where findSignature found a block it cannot use, past kOffsetLimit; 0 when it did not.
  uint64_t beyondOffsetLimit_ = 0;
};

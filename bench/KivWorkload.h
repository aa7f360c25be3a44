#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "support/KivImageBuilder.h"

// The raw-log mixes of the benchmark workload.
enum class KivWorkloadMix {
  kDataHeavy,  // 90 % data lines over 4 devices
  kHostHeavy,  // 90 % host lines; the data lines over 4 devices
  kFolder,     // 90 % data lines over 8 devices, for a run with an output folder
};

// A firmware-like workload for measuring kivlog: a combined image with thousands of log
// statements and raw logs of any length in three mixes. Everything follows from the seed through
// a generator of our own, so one seed gives the same bytes with every compiler and library.
class KivWorkload {
 public:
  static constexpr std::uint64_t kDefaultSeed = 0x6b69766c6f67;
  static constexpr std::size_t kUmacStatementCount = 1900;
  static constexpr std::size_t kLmacStatementCount = 1300;
  static constexpr std::size_t kBigImageSize = kKivMaxImageSize;

  // One log statement of the image.
  struct Statement {
    std::uint32_t address = 0;  // of its descriptor
    std::uint32_t logType = 0;  // 0 or 1 for UMAC statements, 2 or 3 for LMAC ones
    std::string format;
    std::string file;
    std::uint16_t line = 0;
    std::uint16_t level = 0;
    std::uint16_t module = 0;
    // What each of the record's two values feeds: 'n' an unsigned number, 's' a signed one,
    // 'c' a character, 'w' a field width, '-' nothing.
    std::array<char, 2> feeds{'-', '-'};
  };

  explicit KivWorkload(std::uint64_t seed = kDefaultSeed);

  const std::vector<Statement>& statements() const { return statements_; }
  const KivTestVersion& umacVersion() const { return umacVersion_; }
  const KivTestVersion& lmacVersion() const { return lmacVersion_; }

  // The combined image: UMAC block signed "FAST_LOG_UMAC__", LMAC block "FAST_LOG_LMAC__", each
  // with its version record, then every statement's strings and descriptors.
  const KivImageBuilder& image() const { return image_; }
  // A kBigImageSize file holding the same image in its last MiB, after random filler bytes that
  // contain zero bytes every few hundred bytes and no signature.
  KivImageBuilder bigImage() const;
  // Build `index` of a firmware library: a `size`-byte file holding the same statements in its
  // last MiB, after filler, under versions of its own (libraryVersion).
  KivImageBuilder libraryBuild(std::size_t index, std::size_t size) const;
  // The image's version with field2 "lib-<index>"; `mac` 0 UMAC, 1 LMAC.
  KivTestVersion libraryVersion(std::size_t index, int mac) const;

  // Writes a raw log of exactly `lines` lines: a few host lines, one descriptor line per device
  // announcing the image's versions, then host and data lines in the mix's proportion. Data
  // lines draw their statements with a Zipf-like popularity, so a few are hot and thousands are
  // in use. Each mix has its own sequence, the same for every call.
  void writeLog(KivWorkloadMix mix, std::uint64_t lines, std::ostream& out) const;
  std::string log(KivWorkloadMix mix, std::uint64_t lines) const;

  // "data-heavy", "host-heavy" or "folder".
  static std::string_view mixName(KivWorkloadMix mix);
  static std::size_t deviceCount(KivWorkloadMix mix);
  // Percentage of data lines after the descriptor lines.
  static unsigned dataPercent(KivWorkloadMix mix);

 private:
  std::uint64_t seed_;
  KivTestVersion umacVersion_;
  KivTestVersion lmacVersion_;
  std::vector<Statement> statements_;
  KivImageBuilder image_;
};

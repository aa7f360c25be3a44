#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "metadata/FwElfVersion.h"
#include "metadata/KivFirmwareLibrary.h"
#include "records/KivDecodedRecord.h"
#include "records/KivLogTokenized.h"
#include "support/KivOutput.h"

class KivEventSink;
class KivLogData;
class KivLogMetadata;

// One device of the raw log, named by its device id: the firmware versions its descriptor line
// announced, whether they match the loaded images, its report counters and its personal log.
class KivDeviceDesc : public KivLogTokenized {
 public:
  static constexpr uint32_t kTokenCount = 14;
  static constexpr uint32_t kTokensPerMac = 7;
  static constexpr std::size_t kMacCount = 2;

  KivDeviceDesc(std::string_view deviceId, uint32_t lineNumber, bool versioned, bool strict);
  KivDeviceDesc(const KivDeviceDesc&) = delete;
  KivDeviceDesc& operator=(const KivDeviceDesc&) = delete;
  ~KivDeviceDesc() override;

  bool handleToken(uint32_t index, std::string_view token) override;
  bool isTokenCountValid(uint32_t count) override;

  // A versioned device from the 14 descriptor tokens at `position`; null after an ERR message.
  static std::unique_ptr<KivDeviceDesc> createFromLine(std::string_view deviceId,
                                                       std::string_view line, std::size_t& position,
                                                       uint32_t lineNumber, bool strict);
  // A device known only from its data lines; it has no version until a descriptor line comes.
  static std::unique_ptr<KivDeviceDesc> createUnversioned(std::string_view deviceId,
                                                          uint32_t lineNumber);

  // Takes over the other descriptor's versions; counters, personal log and history stay.
  void updateVersion(const KivDeviceDesc& other);
  // Compares both version halves with the images' records; stores and returns the outcome.
  bool checkFirmware(KivLogMetadata* const* images, std::size_t count);

  // File name of a device's personal log: the id with '/' written "%2F" and '%' written "%25", so
  // the file stays in the output folder and different ids never share a file.
  static std::string personalLogName(std::string_view deviceId);
  // Opens the personal log in `folder`, unless it is the file `input`; an ERR line says why not.
  void openPersonalLog(const std::string& folder, const KivOutput::Identity* input = nullptr);
  void writeToPersonalLog(std::string_view line);
  void flushPersonalLog();

  // Decodes one data record against the image of its processor and hands the decoded record, or
  // the line passed through undecoded, to `sink`, counting the outcome. The decoded record's
  // line is put together in `scratch`.
  void renderDataLog(const KivLogData& record, uint64_t lineNumber, std::string_view prefix,
                     KivLogMetadata* const* images, int a_size, KivEventSink& sink,
                     KivDecodedRecord::Scratch& scratch);

  // The two version records, UMAC then LMAC, held only once a descriptor line has given them: a
  // device known only from data lines (a corrupted id field makes millions) costs little. Reading
  // a record that was never given finds it all zero.
  class Versions {
   public:
    Versions() = default;
    Versions(const Versions& other) { *this = other; }
    Versions& operator=(const Versions& other);
    FwElfVersion& operator[](std::size_t mac);
    const FwElfVersion& operator[](std::size_t mac) const;
    // Whether the records were given (or written to).
    bool given() const { return records_ != nullptr; }

   private:
    std::unique_ptr<std::array<FwElfVersion, kMacCount>> records_;
  };

  Versions versions;
  std::string deviceId;
  std::unique_ptr<KivOutput> personalLog;
  // The library build whose images decode the device, when its announced versions are not the
  // primary images' but a build's; null otherwise.
  const KivFirmwareLibrary::Build* firmware = nullptr;
  uint32_t macIndex = 0;
  uint32_t skipped = 0;
  uint32_t processed = 0;
  uint32_t errors = 0;
  uint32_t versionUnknown = 0;
  uint32_t versionMismatch = 0;
  uint32_t lineStart = 0;
  uint32_t lineEnd = 0;
  bool compatible = false;
  bool emptyId = true;
  bool versioned = false;
  bool strict = false;

  // When the log is decoded in pieces: in the run's device table, a number that changes whenever
  // the device changes in a way that decoding sees; in a piece's copy, that number as the piece
  // found it (0: the device was new to the piece).
  uint64_t stamp = 0;
  // In a piece's copy, the place its personal log has in the piece's recorded output; -1 when it
  // has none.
  int32_t recordSlot = -1;
};

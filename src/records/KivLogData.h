#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "records/KivLogTokenized.h"

// One firmware log call, as a data line carries it: five tokens after the marker and the device id,
// [timestamp][log_type][log_addr in hex][param0][param1].
class KivLogData : public KivLogTokenized {
 public:
  static constexpr uint32_t kTokenCount = 5;

  KivLogData(std::string_view deviceId, std::string_view line);
  KivLogData(const KivLogData&) = default;
  ~KivLogData() override = default;

  bool handleToken(uint32_t index, std::string_view token) override;
  bool isTokenCountValid(uint32_t count) override;

  // Parses the record's tokens from `position` on; null (after an ERR message) when the line does
  // not hold exactly five.
  static std::unique_ptr<KivLogData> createDataLog(std::string_view deviceId, std::string_view line,
                                                   std::size_t& position);
  // The same into an existing record, which keeps its strings' storage from line to line; false
  // (after the ERR message) where createDataLog gives null.
  static bool parseDataLog(KivLogData& record, std::string_view deviceId, std::string_view line,
                           std::size_t& position);

  std::string deviceId;
  std::string rawLine;
  uint32_t timestamp = 0;
  uint32_t log_type = 0;
  uint32_t log_addr = 0;
  uint32_t param0 = 0;
  uint32_t param1 = 0;
};

// Converts text as strtoul does, saturating at 2^32-1: leading white space, an optional sign (a
// minus negates modulo 2^32), an optional 0x/0X for base 16, digits up to the first non-digit; no
// digits give 0.
uint32_t parseUnsigned32(std::string_view text, int base);

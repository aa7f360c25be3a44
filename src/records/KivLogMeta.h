#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A log statement's static descriptor in the firmware image: 16 bytes, little-endian.
struct LogMeta {
  static constexpr std::size_t kSize = 16;

  uint32_t pFormattedString = 0;  // firmware address of the format string
  uint16_t module = 0;
  uint16_t line = 0;       // source line of the log statement
  uint32_t pFileName = 0;  // firmware address of the source file name
  uint16_t level = 0;      // index into logLevelNames

  // Decodes the descriptor's bytes; bytes a short read did not deliver are expected to be zero.
  static LogMeta fromBytes(const std::array<unsigned char, kSize>& bytes) {
    auto u16 = [&](std::size_t at) {
      return static_cast<uint16_t>(bytes[at] | static_cast<unsigned>(bytes[at + 1]) << 8);
    };
    auto u32 = [&](std::size_t at) {
      return static_cast<uint32_t>(u16(at)) | static_cast<uint32_t>(u16(at + 2)) << 16;
    };
    LogMeta meta;
    meta.pFormattedString = u32(0);
    meta.module = u16(4);
    meta.line = u16(6);
    meta.pFileName = u32(8);
    meta.level = u16(12);
    return meta;
  }
};

inline constexpr std::array<std::string_view, 2> macNames = {"UMAC", "LMAC"};
inline constexpr std::array<std::string_view, 5> logTypeNames = {"UMAC", "UMAC_CR", "LMAC",
                                                                 "LMAC_CR", "UNKNOWN"};
inline constexpr std::array<std::string_view, 8> logLevelNames = {
    "CRITICAL", "ERROR", "WARNING", "INFO1", "INFO2", "TRACE", "DUMP", "ALWAYS"};

// Where a record's log type and a statement's level are named: values past the known ones take
// the last name, "UNKNOWN" and "ALWAYS".
constexpr std::size_t logTypeIndex(uint32_t type) {
  return std::min<std::size_t>(type, logTypeNames.size() - 1);
}
constexpr std::string_view logLevelName(uint16_t level) {
  return logLevelNames[std::min<std::size_t>(level, logLevelNames.size() - 1)];
}

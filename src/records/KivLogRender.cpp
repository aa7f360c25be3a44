#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "support/KivDebugLog.h"
#include "metadata/KivLogMetadata.h"
#include "records/KivDeviceDesc.h"
#include "records/KivFormatter.h"
#include "records/KivLogData.h"
#include "records/KivLogMeta.h"

namespace {

// A decoded line, header and expansion together, holds at most this many characters.
constexpr std::size_t kMaxLineLength = 4095;
constexpr std::size_t kTypeNameWidth = 7;
constexpr std::size_t kFileNameWidth = 30;

void appendPadded(std::string& out, std::string_view text, std::size_t width) {
  out += text;
  if (text.size() < width) {
    out.append(width - text.size(), ' ');
  }
}

template <typename Number>
void appendRightAligned(std::string& out, Number value, std::size_t width) {
  std::array<char, 16> digits;
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  const auto length = static_cast<std::size_t>(end - digits.data());
  if (length < width) {
    out.append(width - length, ' ');
  }
  out.append(digits.data(), length);
}

// The fixed part of a decoded line, taken literally:
// "<prefix> <timestamp> FW_LOG [ID:<id>] [<type>:<level>] [<file name>:<line>]: "
void composeHeader(std::string& out, std::string_view prefix, const KivLogData& record,
                   const KivDeviceDesc& device, const LogMeta& meta, std::string_view fileName) {
  out.assign(prefix);
  out += ' ';
  appendRightAligned(out, record.timestamp, 10);
  out += " FW_LOG ";
  if (!device.emptyId) {
    out += "[ID:";
    out += device.deviceId;
    out += "] ";
  }
  out += '[';
  appendPadded(out, logTypeNames[std::min<uint32_t>(record.log_type, logTypeNames.size() - 1)],
               kTypeNameWidth);
  out += ':';
  appendPadded(out, logLevelNames[std::min<std::size_t>(meta.level, logLevelNames.size() - 1)],
               kTypeNameWidth);
  out += "] [";
  appendPadded(out, fileName.substr(0, kFileNameWidth), kFileNameWidth);
  out += ':';
  appendRightAligned(out, static_cast<int>(meta.line), 5);
  out += "]: ";
}

}  // namespace

void KivDeviceDesc::writeDecoded(std::ostream& mainOutput, std::string_view text) {
  mainOutput.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (personalLog) {
    personalLog->write(text.data(), static_cast<std::streamsize>(text.size()));
  }
}

void KivDeviceDesc::passThrough(std::ostream& mainOutput, std::string_view rawLine) {
  mainOutput.write(rawLine.data(), static_cast<std::streamsize>(rawLine.size()));
  mainOutput.put('\n');
  writeToPersonalLog(rawLine);
}

void KivDeviceDesc::renderDataLog(const KivLogData& record, uint32_t lineNumber,
                                  std::string_view prefix, KivLogMetadata* const* images,
                                  int a_size, std::ostream& mainOutput) {
  lineEnd = lineNumber;
  if (!versioned) {
    ++versionUnknown;
  } else if (!compatible) {
    ++versionMismatch;
    if (strict) {
      passThrough(mainOutput, record.rawLine);
      ++skipped;
      return;
    }
  }

  const uint32_t macNumber = record.log_type >> 1;
  if (macNumber > 1 || static_cast<int>(macNumber) >= a_size) {
    ++errors;
    debugLog(kLogError, "Log type %d not supported (macNumber %d a_size %d)",
             static_cast<int>(record.log_type), static_cast<int>(macNumber), a_size);
    return;
  }
  KivLogMetadata& image = *images[macNumber];

  const uint32_t metaOffset = image.offsetOf(record.log_addr);
  debugLog(kLogDebug, "MAC: %s DataOffset 0x%X LogAddr 0x%X BaseAddress 0x%X -> metaOffset 0x%X",
           macNames[macNumber].data(), image.dataOffset(), record.log_addr, image.baseAddress(),
           metaOffset);
  std::array<unsigned char, LogMeta::kSize> metaBytes{};
  const bool metaRead = image.readAt(metaOffset, metaBytes.data(), metaBytes.size());
  const LogMeta meta = LogMeta::fromBytes(metaBytes);
  debugLog(kLogDebug, "    Log: pFormattedString 0x%X pFileName 0x%X module %hu line %hu level %hu",
           meta.pFormattedString, meta.pFileName, meta.module, meta.line, meta.level);
  auto readFailed = [this](const char* what, uint32_t offset) {
    ++errors;
    debugLog(kLogError, "Seeking %s failed at offset 0x%x", what, offset);
  };
  if (!metaRead) {
    readFailed("metadata", metaOffset);
    return;
  }

  // Only the first kMaxLineLength bytes of either text can reach the output.
  static std::string fileName;
  static std::string format;
  const uint32_t filenameOffset = image.offsetOf(meta.pFileName);
  debugLog(kLogDebug, "         filenameOffset: 0x%X", filenameOffset);
  if (!image.readStringAt(filenameOffset, fileName, kMaxLineLength)) {
    readFailed("filename", filenameOffset);
    return;
  }
  const uint32_t formatStrOffset = image.offsetOf(meta.pFormattedString);
  debugLog(kLogDebug, "         formatStrOffset: 0x%X", formatStrOffset);
  if (!image.readStringAt(formatStrOffset, format, kMaxLineLength)) {
    readFailed("format", formatStrOffset);
    return;
  }

  if (debugEnabled(kLogDebug)) {
    debugLog(kLogDebug, "LOG DATA: timestamp %u log_type %d log_addr %X param0 %u param1 %u",
             record.timestamp, static_cast<int>(record.log_type), record.log_addr, record.param0,
             record.param1);
    debugLog(kLogDebug, "    Offsets: meta %X, filename %X formatstr %X", metaOffset,
             filenameOffset, formatStrOffset);
    debugLog(kLogDebug, "    Filename: %s Format:\"%s\"", fileName.c_str(), format.c_str());
    debugLog(kLogDebug,
             "    Log Meta: pFormattedString %u module %hu line %hu pFileName %u level %hu\n",
             meta.pFormattedString, meta.module, meta.line, meta.pFileName, meta.level);
  }

  // The header goes in literally; only the firmware's format string is expanded, with the
  // record's two values. Header and format together are cut to one line's length first.
  static std::string line;
  composeHeader(line, prefix, record, *this, meta, fileName);
  if (line.size() > kMaxLineLength) {
    line.resize(kMaxLineLength);
  }
  const std::string_view formatPart =
      std::string_view(format).substr(0, kMaxLineLength - line.size());
  KivFormatter::expand(formatPart, record.param0, record.param1, line, kMaxLineLength);
  const std::size_t end = line.find('\0');
  writeDecoded(mainOutput, std::string_view(line).substr(0, end));
  ++processed;
}

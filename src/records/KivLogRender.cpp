#include <array>

#include "metadata/KivLogMetadata.h"
#include "output/KivEventSink.h"
#include "records/KivDecodedRecord.h"
#include "records/KivDeviceDesc.h"
#include "records/KivLogData.h"
#include "records/KivLogMeta.h"
#include "support/KivDebugLog.h"

void KivDeviceDesc::renderDataLog(const KivLogData& record, uint64_t lineNumber,
                                  std::string_view prefix, KivLogMetadata* const* images,
                                  int a_size, KivEventSink& sink,
                                  KivDecodedRecord::Scratch& scratch) {
  // The text report keeps its 32-bit line numbers.
  lineEnd = static_cast<uint32_t>(lineNumber);
  if (!versioned) {
    ++versionUnknown;
  } else if (!compatible) {
    ++versionMismatch;
    if (strict) {
      sink.undecoded({lineNumber, deviceId, this, KivUndecodedReason::kVersionMismatch,
                      record.rawLine, record.log_type});
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
  const bool tracing = debugEnabled(kLogDebug);

  // A statement decoded before comes from the image's cache; any other is read from the image,
  // and kept only when all three reads succeed. The traces are the same either way.
  const KivStatementCache::Statement* statement = image.statements().find(record.log_addr);
  const uint32_t metaOffset = image.offsetOf(record.log_addr);
  if (tracing) {
    debugLog(kLogDebug, "MAC: %s DataOffset 0x%X LogAddr 0x%X BaseAddress 0x%X -> metaOffset 0x%X",
             macNames[macNumber].data(), image.dataOffset(), record.log_addr, image.baseAddress(),
             metaOffset);
  }
  std::array<unsigned char, LogMeta::kSize> metaBytes{};
  bool metaRead = true;
  if (statement != nullptr) {
    metaBytes = statement->descriptor;
  } else {
    metaRead = image.readAt(metaOffset, metaBytes.data(), metaBytes.size());
  }
  const LogMeta meta = LogMeta::fromBytes(metaBytes);
  if (tracing) {
    debugLog(kLogDebug,
             "    Log: pFormattedString 0x%X pFileName 0x%X module %hu line %hu level %hu",
             meta.pFormattedString, meta.pFileName, meta.module, meta.line, meta.level);
  }
  auto readFailed = [this](const char* what, uint32_t offset) {
    ++errors;
    debugLog(kLogError, "Seeking %s failed at offset 0x%x", what, offset);
  };
  if (!metaRead) {
    readFailed("metadata", metaOffset);
    return;
  }

  const uint32_t filenameOffset = image.offsetOf(meta.pFileName);
  const uint32_t formatStrOffset = image.offsetOf(meta.pFormattedString);
  if (statement == nullptr) {
    // Only the first kMaxLineLength bytes of either text can reach the output.
    constexpr std::size_t kKept = KivDecodedRecord::kMaxLineLength;
    thread_local std::string fileName;
    thread_local std::string format;
    debugLog(kLogDebug, "         filenameOffset: 0x%X", filenameOffset);
    if (!image.readStringAt(filenameOffset, fileName, kKept)) {
      readFailed("filename", filenameOffset);
      return;
    }
    debugLog(kLogDebug, "         formatStrOffset: 0x%X", formatStrOffset);
    if (!image.readStringAt(formatStrOffset, format, kKept)) {
      readFailed("format", formatStrOffset);
      return;
    }
    statement = &image.statements().insert(record.log_addr, metaBytes, fileName, format,
                                           KivDecodedRecord::headerTail(meta, fileName));
  } else if (tracing) {
    debugLog(kLogDebug, "         filenameOffset: 0x%X", filenameOffset);
    debugLog(kLogDebug, "         formatStrOffset: 0x%X", formatStrOffset);
  }

  if (tracing) {
    const std::string& fileName = statement->text->fileName;
    const std::string& format = statement->text->format;
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
  sink.decoded(KivDecodedRecord(lineNumber, prefix, record, *this, *statement, scratch));
  ++processed;
}

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "metadata/KivLogMetadata.h"
#include "records/KivDeviceDesc.h"
#include "records/KivJsonLines.h"
#include "records/KivLogData.h"
#include "records/KivLogMeta.h"
#include "support/KivCopy.h"
#include "support/KivDebugLog.h"
#include "support/KivFormatter.h"
#include "support/KivJson.h"

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

// "<level>] [<file name>:<line>]: ", the part of a decoded line's header that depends only on the
// log statement.
std::string headerTail(const LogMeta& meta, std::string_view fileName) {
  std::string out;
  appendPadded(out, logLevelName(meta.level), kTypeNameWidth);
  out += "] [";
  appendPadded(out, fileName.substr(0, kFileNameWidth), kFileNameWidth);
  out += ':';
  appendRightAligned(out, static_cast<int>(meta.line), 5);
  out += "]: ";
  return out;
}

// "[<type>:", the log type name padded to its column.
constexpr std::array<std::string_view, 5> kTypeColumns = {
    "[UMAC   :", "[UMAC_CR:", "[LMAC   :", "[LMAC_CR:", "[UNKNOWN:"};
static_assert(kTypeColumns.size() == logTypeNames.size());

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// A decoded line being put together. It holds one character more than a line keeps, so that a
// line that goes on beyond kMaxLineLength characters can be told from one that ends there.
class LineBuffer {
 public:
  static constexpr std::size_t kCapacity = kMaxLineLength + 1;

  void append(std::string_view text) {
    const std::size_t n = std::min(text.size(), kCapacity - size_);
    kivCopy(data_ + size_, text.data(), n);
    size_ += n;
  }
  // `value` right-aligned in 10 columns, as "%10u" writes it.
  void appendTimestamp(uint32_t value) {
    char digits[10];
    std::memset(digits, ' ', sizeof digits);
    char* first = digits + sizeof digits;
    while (value >= 100) {
      first -= 2;
      std::memcpy(first, kDigitPairs + 2 * (value % 100), 2);
      value /= 100;
    }
    if (value >= 10) {
      first -= 2;
      std::memcpy(first, kDigitPairs + 2 * value, 2);
    } else {
      *--first = static_cast<char>('0' + value);
    }
    append(std::string_view(digits, sizeof digits));
  }

  char* data() { return data_; }
  std::size_t size() const { return size_; }
  void resize(std::size_t size) { size_ = size; }

 private:
  char data_[kCapacity];
  std::size_t size_ = 0;
};

constexpr std::string_view kLogWord = " FW_LOG ";
constexpr std::string_view kLogWordAndId = " FW_LOG [ID:";
constexpr std::string_view kIdEnd = "] ";
constexpr std::size_t kTimestampWidth = 10;

// The fixed part of a decoded line up to its statement's part, taken literally:
// "<prefix> <timestamp> FW_LOG [ID:<id>] [<type>:". The header tail follows.
void composeHeader(LineBuffer& out, std::string_view prefix, const KivLogData& record,
                   const KivDeviceDesc& device) {
  out.resize(0);
  out.append(prefix);
  out.append(" ");
  out.appendTimestamp(record.timestamp);
  if (device.emptyId) {
    out.append(kLogWord);
  } else {
    out.append(kLogWordAndId);
    out.append(device.deviceId);
    out.append(kIdEnd);
  }
  out.append(kTypeColumns[logTypeIndex(record.log_type)]);
}

// The length composeHeader gives before the cut to a line's length.
std::size_t headerLength(std::string_view prefix, const KivDeviceDesc& device) {
  return prefix.size() + 1 + kTimestampWidth +
         (device.emptyId ? kLogWord.size()
                         : kLogWordAndId.size() + device.deviceId.size() + kIdEnd.size()) +
         kTypeColumns[0].size();
}

}  // namespace

void KivDeviceDesc::writeDecoded(std::ostream& mainOutput, std::string_view text) {
  mainOutput.rdbuf()->sputn(text.data(), static_cast<std::streamsize>(text.size()));
  if (personalLog) {
    personalLog->write(text);
  }
}

void KivDeviceDesc::passThrough(std::ostream& mainOutput, std::string_view rawLine,
                                uint64_t lineNumber) {
  const std::string_view shown =
      jsonOutput ? kivjson::undecodedLine(lineNumber, deviceId, kivjson::kVersionMismatch, rawLine)
                 : rawLine;
  std::streambuf& main = *mainOutput.rdbuf();
  main.sputn(shown.data(), static_cast<std::streamsize>(shown.size()));
  main.sputc('\n');
  writeToPersonalLog(shown);
}

void KivDeviceDesc::renderDataLog(const KivLogData& record, uint64_t lineNumber,
                                  std::string_view prefix, KivLogMetadata* const* images,
                                  int a_size, std::ostream& mainOutput) {
  // The text report keeps its 32-bit line numbers.
  lineEnd = static_cast<uint32_t>(lineNumber);
  if (!versioned) {
    ++versionUnknown;
  } else if (!compatible) {
    ++versionMismatch;
    if (strict) {
      passThrough(mainOutput, record.rawLine, lineNumber);
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
    static std::string fileName;
    static std::string format;
    debugLog(kLogDebug, "         filenameOffset: 0x%X", filenameOffset);
    if (!image.readStringAt(filenameOffset, fileName, kMaxLineLength)) {
      readFailed("filename", filenameOffset);
      return;
    }
    debugLog(kLogDebug, "         formatStrOffset: 0x%X", formatStrOffset);
    if (!image.readStringAt(formatStrOffset, format, kMaxLineLength)) {
      readFailed("format", formatStrOffset);
      return;
    }
    statement = &image.statements().insert(
        record.log_addr, metaBytes, fileName, format, headerTail(meta, fileName),
        jsonOutput ? kivjson::statementMembers(logLevelName(meta.level), meta.module, fileName,
                                               meta.line, format)
                   : std::string());
  } else if (tracing) {
    debugLog(kLogDebug, "         filenameOffset: 0x%X", filenameOffset);
    debugLog(kLogDebug, "         formatStrOffset: 0x%X", formatStrOffset);
  }
  const std::string& fileName = statement->text->fileName;
  const std::string& format = statement->text->format;

  if (tracing) {
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
  // record's two values. Header and format together are cut to one line's length first. The
  // statement's own parse, header tail and format as one, serves whenever nothing is cut.
  static LineBuffer line;
  const KivFormat& statementLine = statement->line;
  const std::size_t header = headerLength(prefix, *this);
  const std::size_t tail = statement->lineSize - format.size();
  bool mayHoldZero = statementLine.writesZero();
  constexpr std::size_t kCapacity = LineBuffer::kCapacity;
  // The decoded line; with -j only its message, the expansion after the header. Each is first
  // put together up to one character beyond a line's length, then cut to it.
  std::string_view text;
  bool cutShort = false;
  // `headerOutside`: the header's length when the buffer holds only what follows it.
  auto cutToLineLength = [&cutShort](std::size_t headerOutside) {
    cutShort = headerOutside + line.size() > kMaxLineLength;
    if (cutShort) {
      line.resize(kMaxLineLength - headerOutside);
    }
  };
  if (header + statement->lineSize <= kMaxLineLength) {
    if (jsonOutput) {
      line.resize(
          statementLine.expand(record.param0, record.param1, line.data(), 0, kCapacity - header));
      cutToLineLength(header);
      text = std::string_view(line.data(), line.size()).substr(tail);
    } else {
      composeHeader(line, prefix, record, *this);
      line.resize(
          statementLine.expand(record.param0, record.param1, line.data(), line.size(), kCapacity));
      cutToLineLength(0);
      text = std::string_view(line.data(), line.size());
    }
  } else {
    // Header and format together are longer than a line: the format is cut before it is
    // expanded, and the line is cut short.
    composeHeader(line, prefix, record, *this);
    line.append(headerTail(meta, fileName));
    line.resize(std::min(line.size(), kMaxLineLength));
    const KivFormat cut(std::string_view(format).substr(0, kMaxLineLength - line.size()));
    line.resize(cut.expand(record.param0, record.param1, line.data(), line.size(), kCapacity));
    cutToLineLength(0);
    cutShort = true;
    mayHoldZero = cut.writesZero();
    text = std::string_view(line.data(), line.size());
    if (jsonOutput) {
      text = text.substr(std::min(header + tail, text.size()));
    }
  }
  if (mayHoldZero && text.find('\0') != std::string_view::npos) {
    // The zero byte ends the line before any cut.
    text = text.substr(0, text.find('\0'));
    cutShort = false;
  }
  if (jsonOutput) {
    writeDecoded(mainOutput, kivjson::decodedLine({lineNumber, prefix, deviceId, record.timestamp,
                                                   logTypeNames[logTypeIndex(record.log_type)],
                                                   statement->text->jsonMembers, record.param0,
                                                   record.param1, text}));
  } else {
    writeDecoded(mainOutput, text);
    if (cutShort) {
      // A cut line keeps its own line, so the next line is not glued onto it.
      writeDecoded(mainOutput, "\n");
    }
  }
  ++processed;
}

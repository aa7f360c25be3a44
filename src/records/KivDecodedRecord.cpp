#include "records/KivDecodedRecord.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "records/KivDeviceDesc.h"
#include "records/KivLogData.h"
#include "support/KivCopy.h"
#include "support/KivFormatter.h"

namespace {

constexpr std::size_t kMaxLineLength = KivDecodedRecord::kMaxLineLength;
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

// "[<type>:", the log type name padded to its column.
constexpr std::array<std::string_view, 5> kTypeColumns = {
    "[UMAC   :", "[UMAC_CR:", "[LMAC   :", "[LMAC_CR:", "[UNKNOWN:"};
static_assert(kTypeColumns.size() == logTypeNames.size());

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// A decoded line being put together. It holds one character more than a line keeps, so that a
// line that goes on beyond kMaxLineLength characters can be told from one that ends there, and
// so that a line cut to kMaxLineLength characters has room for its own line end.
class LineBuffer {
 public:
  static constexpr std::size_t kCapacity = kMaxLineLength + 1;

  void append(std::string_view text) {
    const std::size_t n = std::min(text.size(), kCapacity - size_);
    kivCopy(data_ + size_, text.data(), n);
    size_ += n;
  }
  // `value` right-aligned in 10 columns, as "%10u" writes it. The pairs of digits are moved with
  // the compiler's built-in copy: each stays within `digits`, which the loop bounds.
  void appendTimestamp(uint32_t value) {
    char digits[10];
    std::memset(digits, ' ', sizeof digits);
    char* first = digits + sizeof digits;
    while (value >= 100) {
      first -= 2;
      __builtin_memcpy(first, kDigitPairs + 2 * (value % 100), 2);
      value /= 100;
    }
    if (value >= 10) {
      first -= 2;
      __builtin_memcpy(first, kDigitPairs + 2 * value, 2);
    } else {
      *--first = static_cast<char>('0' + value);
    }
    append(std::string_view(digits, sizeof digits));
  }

  char* data() { return data_; }
  std::size_t size() const { return size_; }
  void resize(std::size_t size) { size_ = size; }
  std::string_view view() const { return {data_, size_}; }

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

}  // namespace

class KivDecodedRecord::Scratch {
 public:
  LineBuffer text;
  LineBuffer message;
};

void KivDecodedRecord::ScratchDeleter::operator()(Scratch* scratch) const {
  delete scratch;
}

KivDecodedRecord::ScratchPtr KivDecodedRecord::makeScratch() {
  return ScratchPtr(new Scratch);
}

KivDecodedRecord::KivDecodedRecord(uint64_t lineNumber, std::string_view prefix,
                                   const KivLogData& record, const KivDeviceDesc& device,
                                   const KivStatementCache::Statement& statement, Scratch& scratch)
    : lineNumber_(lineNumber),
      prefix_(prefix),
      record_(record),
      device_(device),
      statement_(statement),
      scratch_(scratch) {}

std::string KivDecodedRecord::headerTail(const LogMeta& meta, std::string_view fileName) {
  std::string out;
  appendPadded(out, logLevelName(meta.level), kTypeNameWidth);
  out += "] [";
  appendPadded(out, fileName.substr(0, kFileNameWidth), kFileNameWidth);
  out += ':';
  appendRightAligned(out, static_cast<int>(meta.line), 5);
  out += "]: ";
  return out;
}

std::size_t KivDecodedRecord::headerLength() const {
  return prefix_.size() + 1 + kTimestampWidth +
         (device_.emptyId ? kLogWord.size()
                          : kLogWordAndId.size() + device_.deviceId.size() + kIdEnd.size()) +
         kTypeColumns[0].size();
}

std::size_t KivDecodedRecord::levelColumn() const {
  return headerLength();
}

// The header goes in literally; only the firmware's format string is expanded, with the record's
// two values. Header and format together are cut to one line's length first. The statement's own
// parse, header tail and format as one, serves whenever nothing is cut.
std::string_view KivDecodedRecord::text() const {
  if (textMade_) {
    return text_;
  }
  LineBuffer& line = scratch_.text;
  const KivFormat& statementLine = statement_.line;
  constexpr std::size_t kCapacity = LineBuffer::kCapacity;
  bool cutShort = false;
  bool mayHoldZero = statementLine.writesZero();
  composeHeader(line, prefix_, record_, device_);
  if (headerLength() + statement_.lineSize <= kMaxLineLength) {
    line.resize(
        statementLine.expand(record_.param0, record_.param1, line.data(), line.size(), kCapacity));
  } else {
    // Header and format together are longer than a line: the format is cut before it is
    // expanded, and the line is cut short.
    line.append(headerTail(meta(), fileName()));
    line.resize(std::min(line.size(), kMaxLineLength));
    const KivFormat cut(format().substr(0, kMaxLineLength - line.size()));
    line.resize(cut.expand(record_.param0, record_.param1, line.data(), line.size(), kCapacity));
    cutShort = true;
    mayHoldZero = cut.writesZero();
  }
  if (line.size() > kMaxLineLength) {
    line.resize(kMaxLineLength);
    cutShort = true;
  }
  std::string_view text = line.view();
  if (mayHoldZero && text.find('\0') != std::string_view::npos) {
    // The zero byte ends the line before any cut.
    text = text.substr(0, text.find('\0'));
  } else if (cutShort) {
    // A cut line keeps its own line, so the next line is not glued onto it.
    line.append("\n");
    text = line.view();
  }
  text_ = text;
  textMade_ = true;
  return text_;
}

std::string_view KivDecodedRecord::message() const {
  if (messageMade_) {
    return message_;
  }
  const std::size_t header = headerLength();
  const std::size_t tail = statement_.lineSize - format().size();
  std::string_view message;
  bool mayHoldZero = statement_.line.writesZero();
  if (header + statement_.lineSize <= kMaxLineLength) {
    // Only the part after the header is put together, with the room the header leaves.
    LineBuffer& line = scratch_.message;
    line.resize(statement_.line.expand(record_.param0, record_.param1, line.data(), 0,
                                       LineBuffer::kCapacity - header));
    line.resize(std::min(line.size(), kMaxLineLength - header));
    message = line.view().substr(tail);
  } else {
    std::string_view whole = text();
    if (whole.size() == kMaxLineLength + 1) {
      whole.remove_suffix(1);  // the line end of the cut
    }
    message = whole.substr(std::min(header + tail, whole.size()));
    mayHoldZero = false;  // text() ended it at its zero byte already
  }
  if (mayHoldZero && message.find('\0') != std::string_view::npos) {
    message = message.substr(0, message.find('\0'));
  }
  message_ = message;
  messageMade_ = true;
  return message_;
}

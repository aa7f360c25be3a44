#include "records/KivLogData.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "records/KivDetokenizer.h"
#include "support/KivDebugLog.h"

namespace {

constexpr int digitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'Z') {
    return c - 'A' + 10;
  }
  return 99;
}

// The value of each byte as a digit of base 16 or below, 0xFF for a byte that is none.
constexpr std::array<uint8_t, 256> kDigitValues = [] {
  std::array<uint8_t, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c) {
    const int value = digitValue(static_cast<char>(c));
    table[c] = value < 16 ? static_cast<uint8_t>(value) : 0xFF;
  }
  return table;
}();

bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads the digits of `Base` at `p` into `value` (value * Base + digit for each).
template <unsigned Base>
void readDigits(const char*& p, const char* end, uint64_t& value) {
  for (uint8_t digit; p != end && (digit = kDigitValues[static_cast<unsigned char>(*p)]) < Base;
       ++p) {
    value = value * Base + digit;
  }
}

// The common form of a record's tokens: five plain numbers in brackets, "[1000][2][1a2b][7][8]",
// decimal but for the hex address, followed by nothing that could be another token. Gives the
// five values, or false for a line in any other form, which then takes the general path (with
// the same result for every line this one accepts).
bool parsePlainTokens(std::string_view line, std::size_t position, uint32_t (&values)[5]) {
  // Up to this many digits the value cannot overflow 64 bits; it saturates at 32.
  constexpr long kMaxDecimalDigits = 19;
  constexpr long kMaxHexDigits = 16;
  const char* p = line.data() + position;
  const char* const end = line.data() + line.size();
  for (int index = 0; index < 5; ++index) {
    while (p != end && *p != '[') {
      ++p;
    }
    if (p == end) {
      return false;
    }
    const char* const digits = ++p;
    uint64_t value = 0;
    if (index == 2) {
      readDigits<16>(p, end, value);
      if (p - digits > kMaxHexDigits) {
        return false;
      }
    } else {
      readDigits<10>(p, end, value);
      if (p - digits > kMaxDecimalDigits) {
        return false;
      }
    }
    if (p == end || *p != ']' || p == digits) {
      return false;
    }
    ++p;
    values[index] = static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
  }
  return p == end || std::memchr(p, '[', static_cast<std::size_t>(end - p)) == nullptr;
}

}  // namespace

uint32_t parseUnsigned32(std::string_view text, int base) {
  std::size_t i = 0;
  while (i < text.size() && isSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // A "0x" counts as a prefix only when a hex digit follows; otherwise the "0" is the number.
  if (base == 16 && i + 2 < text.size() && text[i] == '0' &&
      (text[i + 1] == 'x' || text[i + 1] == 'X') && digitValue(text[i + 2]) < 16) {
    i += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    const int digit = digitValue(text[i]);
    if (digit >= base) {
      break;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) {
      overflow = true;
      value = UINT32_MAX;
    }
  }
  if (overflow) {
    return UINT32_MAX;
  }
  const auto result = static_cast<uint32_t>(value);
  return negative ? 0u - result : result;
}

KivLogData::KivLogData(std::string_view id, std::string_view line) : deviceId(id), rawLine(line) {}

bool KivLogData::handleToken(uint32_t index, std::string_view token) {
  switch (index) {
    case 0:
      timestamp = parseUnsigned32(token, 10);
      return true;
    case 1:
      log_type = parseUnsigned32(token, 10);
      return true;
    case 2:
      log_addr = parseUnsigned32(token, 16);
      return true;
    case 3:
      param0 = parseUnsigned32(token, 10);
      return true;
    case 4:
      param1 = parseUnsigned32(token, 10);
      return true;
    default:
      debugLog(kLogDebug, "Unknown device version token number %d", static_cast<int>(index));
      return false;
  }
}

bool KivLogData::isTokenCountValid(uint32_t count) {
  return count == kTokenCount;
}

std::unique_ptr<KivLogData> KivLogData::createDataLog(std::string_view deviceId,
                                                      std::string_view line,
                                                      std::size_t& position) {
  auto record = std::make_unique<KivLogData>(deviceId, line);
  if (!parseDataLog(*record, deviceId, line, position)) {
    return nullptr;
  }
  return record;
}

bool KivLogData::parseDataLog(KivLogData& record, std::string_view deviceId, std::string_view line,
                              std::size_t& position) {
  record.deviceId.assign(deviceId);
  record.rawLine.assign(line);
  uint32_t values[kTokenCount];
  if (parsePlainTokens(line, position, values)) {
    record.timestamp = values[0];
    record.log_type = values[1];
    record.log_addr = values[2];
    record.param0 = values[3];
    record.param1 = values[4];
    position = line.size();
    return true;
  }
  record.timestamp = record.log_type = record.log_addr = record.param0 = record.param1 = 0;
  KivDetokenizer detokenizer;
  if (!detokenizer.detokenize(line, position, record)) {
    debugLog(kLogError, "Failed to detokenize data log line %s", record.rawLine.c_str());
    return false;
  }
  return true;
}

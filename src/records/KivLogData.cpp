#include "records/KivLogData.h"

#include "support/KivDebugLog.h"
#include "records/KivDetokenizer.h"

namespace {

int digitValue(char c) {
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

bool isSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
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

bool KivLogData::handleToken(uint32_t index, const std::string& token) {
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
  KivDetokenizer detokenizer;
  if (!detokenizer.detokenize(line, position, *record)) {
    debugLog(kLogError, "Failed to detokenize data log line %s", std::string(line).c_str());
    return nullptr;
  }
  return record;
}

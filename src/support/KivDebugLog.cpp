#include "support/KivDebugLog.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <string>

int debugLevel = 0;

namespace {

constexpr std::size_t kMessageBufferSize = 1024;
constexpr uint32_t kDumpBytesPerLine = 16;

const char* levelPrefix(int level) {
  switch (level) {
    case kLogError:
      return "ERR";
    case kLogWarning:
      return "WRN";
    case kLogInfo:
      return "INF";
    default:
      return "DBG";
  }
}

}  // namespace

void setDebugLevel(int level) {
  debugLevel = level;
}

void debugLog(int level, const char* format, ...) {
  if (!debugEnabled(level)) {
    return;
  }
  char message[kMessageBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  std::cout << '[' << levelPrefix(level) << "] " << message << '\n';
}

void debugHexDump(int level, const char* title, const void* data, uint32_t size) {
  if (!debugEnabled(level)) {
    return;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::cout << '[' << levelPrefix(level) << "] " << title << '(' << size << " bytes)\n";
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string line;
  for (uint32_t start = 0; start < size; start += kDumpBytesPerLine) {
    const uint32_t count = std::min(kDumpBytesPerLine, size - start);
    line.assign("    ");
    for (uint32_t i = 0; i < count; ++i) {
      const unsigned char b = bytes[start + i];
      line += kHex[b >> 4];
      line += kHex[b & 0xF];
      line += ' ';
    }
    line.append(3 * (kDumpBytesPerLine - count), ' ');
    line.append("    ");
    for (uint32_t i = 0; i < count; ++i) {
      const unsigned char b = bytes[start + i];
      line += (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
    }
    line += '\n';
    std::cout << line;
  }
}

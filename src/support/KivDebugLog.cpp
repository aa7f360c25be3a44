#include "support/KivDebugLog.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "support/KivJson.h"

int debugLevel = 0;

namespace {

constexpr std::size_t kMessageBufferSize = 1024;
constexpr uint32_t kDumpBytesPerLine = 16;

const char* levelPrefix(int level);

// "[PFX] text", or with -j {"diag":"PFX","text":"text"}.
void writeLine(int level, std::string_view text) {
  if (jsonOutput) {
    std::string line;
    KivJsonObject(line).text("diag", levelPrefix(level)).text("text", text).end();
    line += '\n';
    std::cout << line;
  } else {
    std::cout << '[' << levelPrefix(level) << "] " << text << '\n';
  }
}

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
  writeLine(level, message);
}

void debugHexDump(int level, const char* title, const void* data, uint32_t size) {
  if (!debugEnabled(level)) {
    return;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  writeLine(level, std::string(title) + '(' + std::to_string(size) + " bytes)");
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
    // The dump's lines carry no prefix of their own in text.
    if (jsonOutput) {
      writeLine(level, line);
    } else {
      std::cout << line << '\n';
    }
  }
}

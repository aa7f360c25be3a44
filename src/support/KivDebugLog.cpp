#include "support/KivDebugLog.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "output/KivEventSink.h"

thread_local int debugLevel [[gnu::tls_model("initial-exec")]] = 0;

namespace {

constexpr std::size_t kMessageBufferSize = 1024;
constexpr uint32_t kDumpBytesPerLine = 16;

thread_local KivEventSink* sink [[gnu::tls_model("initial-exec")]] = nullptr;

void write(const KivDiagnosticEvent& event) {
  if (sink != nullptr) {
    sink->diagnostic(event);
  } else if (event.dumpRow) {
    std::cout << event.text << '\n';
  } else {
    std::cout << '[' << debugLevelPrefix(event.level) << "] " << event.text << '\n';
  }
}

}  // namespace

void setDebugLevel(int level) {
  debugLevel = level;
}

void setDiagnosticSink(KivEventSink* output) {
  sink = output;
}

KivEventSink* diagnosticSink() {
  return sink;
}

KivDiagnosticScope::KivDiagnosticScope(int level, KivEventSink* output)
    : savedLevel_(debugLevel), savedSink_(sink) {
  debugLevel = level;
  sink = output;
}

KivDiagnosticScope::~KivDiagnosticScope() {
  debugLevel = savedLevel_;
  sink = savedSink_;
}

const char* debugLevelPrefix(int level) {
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

void debugLog(int level, const char* format, ...) {
  if (!debugEnabled(level)) {
    return;
  }
  char message[kMessageBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  write({level, message});
}

void debugHexDump(int level, const char* title, const void* data, uint32_t size) {
  if (!debugEnabled(level)) {
    return;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string header = std::string(title) + '(' + std::to_string(size) + " bytes)";
  write({level, header});
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
    write({level, line, true});
  }
}

#pragma once

#include <cstddef>
#include <cstdint>

// Leveled diagnostics on standard output: 0 "ERR", 1 "WRN", 2 "INF", 3 "DBG". A message is written
// when its level is at most the program-wide debug level; a negative level silences everything.
enum KivLogLevel : int { kLogError = 0, kLogWarning = 1, kLogInfo = 2, kLogDebug = 3 };

extern int debugLevel;

void setDebugLevel(int level);

inline bool debugEnabled(int level) {
  return level <= debugLevel;
}

// Formats into a 1024-byte buffer (longer messages are cut at 1023 characters) and writes
// "[PFX] message\n". The format is always one of the tool's own literals.
void debugLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes "[PFX] title(size bytes)" and then 16 bytes a line in hex and as characters.
void debugHexDump(int level, const char* title, const void* data, uint32_t size);

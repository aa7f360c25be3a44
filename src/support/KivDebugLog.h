#pragma once

#include <cstddef>
#include <cstdint>

class KivEventSink;

// Leveled diagnostics: 0 "ERR", 1 "WRN", 2 "INF", 3 "DBG". A message is written when its level is
// at most the debug level; a negative level silences everything.
//
// The debug level and the output that diagnostics go to belong to the thread that writes them, so
// that decoders on several threads each keep their own. Without an output a thread's diagnostics
// are written as text to standard output.
enum KivLogLevel : int { kLogError = 0, kLogWarning = 1, kLogInfo = 2, kLogDebug = 3 };

extern thread_local int debugLevel [[gnu::tls_model("initial-exec")]];

void setDebugLevel(int level);

inline bool debugEnabled(int level) {
  return level <= debugLevel;
}

// The output of the calling thread's diagnostics; null for standard output.
void setDiagnosticSink(KivEventSink* sink);
KivEventSink* diagnosticSink();

// Sets the calling thread's debug level and diagnostic output while it lives, then puts back what
// was there before.
class KivDiagnosticScope {
 public:
  KivDiagnosticScope(int level, KivEventSink* sink);
  ~KivDiagnosticScope();
  KivDiagnosticScope(const KivDiagnosticScope&) = delete;
  KivDiagnosticScope& operator=(const KivDiagnosticScope&) = delete;

 private:
  int savedLevel_;
  KivEventSink* savedSink_;
};

// The prefix of a level: "ERR", "WRN", "INF" or "DBG".
const char* debugLevelPrefix(int level);

// Formats into a 1024-byte buffer (longer messages are cut at 1023 characters) and writes one
// message. The format is always one of the tool's own literals.
void debugLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes the title "title(size bytes)" and then 16 bytes a row in hex and as characters.
void debugHexDump(int level, const char* title, const void* data, uint32_t size);

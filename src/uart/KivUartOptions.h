#pragma once

// The command line of kivlog-uart:
//   kivlog-uart [SOURCE] [-b SPEED] [--id ID] [-t monotonic|realtime|none]
#include <optional>
#include <string>
#include <vector>

#include "uart/KivUartLines.h"

struct KivUartOptions {
  std::string source = "-";  // a serial device, a file, or "-" for standard input
  unsigned speed = 0;        // bits per second for a serial device; 0 leaves its setting alone
  std::string deviceId;
  KivUartClock clock = KivUartClock::kMonotonic;
  bool help = false;

  // The options of `args` (without the program name), or nothing with the reason in `error`.
  static std::optional<KivUartOptions> parse(const std::vector<std::string>& args,
                                             std::string& error);
  static const char* usage();
};

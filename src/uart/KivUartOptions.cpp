#include "uart/KivUartOptions.h"

#include <cstdlib>

const char* KivUartOptions::usage() {
  return "Usage: kivlog-uart [SOURCE] [-b SPEED] [--id ID] [-t monotonic|realtime|none]\n"
         "Reads kivlog frames from a serial device, a file or standard input (SOURCE \"-\", the\n"
         "default) and writes the host log lines kivlog decodes, one flushed line per frame:\n"
         "  kivlog-uart /dev/ttyACM0 -b 115200 --id wlan0 | kivlog -f fw.elf\n"
         "  -b SPEED   set the serial device to SPEED bits per second, raw 8N1\n"
         "  --id ID    the device id the lines carry (none: lines without an id)\n"
         "  -t CLOCK   the host time stamp in front of each line: monotonic (seconds since boot,\n"
         "             the default), realtime (local date and time) or none\n"
         "Damaged frames are dropped; \"[kivlog-uart] dropped N frames\" says where.\n";
}

std::optional<KivUartOptions> KivUartOptions::parse(const std::vector<std::string>& args,
                                                    std::string& error) {
  KivUartOptions options;
  bool sourceGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool takesValue = arg == "-b" || arg == "--id" || arg == "-t";
    if (takesValue && i + 1 == args.size()) {
      error = "option " + arg + " needs a value";
      return std::nullopt;
    }
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "-b") {
      const std::string& value = args[++i];
      char* end = nullptr;
      const unsigned long speed = std::strtoul(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || speed == 0 || speed > 4000000) {
        error = "bad speed: " + value;
        return std::nullopt;
      }
      options.speed = static_cast<unsigned>(speed);
    } else if (arg == "--id") {
      options.deviceId = args[++i];
      if (!KivUartLines::validId(options.deviceId)) {
        error = "a device id cannot hold '[' or ']': " + options.deviceId;
        return std::nullopt;
      }
    } else if (arg == "-t") {
      const std::string& value = args[++i];
      if (value == "monotonic") {
        options.clock = KivUartClock::kMonotonic;
      } else if (value == "realtime") {
        options.clock = KivUartClock::kRealtime;
      } else if (value == "none") {
        options.clock = KivUartClock::kNone;
      } else {
        error = "bad clock: " + value;
        return std::nullopt;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option: " + arg;
      return std::nullopt;
    } else if (sourceGiven) {
      error = "more than one source: " + arg;
      return std::nullopt;
    } else {
      options.source = arg;
      sourceGiven = true;
    }
  }
  return options;
}

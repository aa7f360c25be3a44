// kivlog-uart: reads the kivlog wire format from a serial device, a file or standard input and
// writes the host log lines kivlog decodes.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "uart/KivUartLines.h"
#include "uart/KivUartOptions.h"
#include "uart/KivUartSource.h"
#include "uart/KivWireDecoder.h"

namespace {

// Writes all of `text`; false when standard output is gone.
bool writeAll(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options =
      KivUartOptions::parse(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "kivlog-uart: %s\n%s", error.c_str(), KivUartOptions::usage());
    return 1;
  }
  if (options->help) {
    std::fputs(KivUartOptions::usage(), stdout);
    return 0;
  }
  KivUartSource source;
  if (!source.open(options->source, options->speed, error)) {
    std::fprintf(stderr, "kivlog-uart: %s\n", error.c_str());
    return 1;
  }
  KivWireDecoder decoder;
  KivUartLines lines(options->deviceId, options->clock);
  std::vector<KivWireEvent> events;
  std::vector<unsigned char> buffer(4096);
  std::string out;
  for (;;) {
    const ssize_t n = ::read(source.fd(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    events.clear();
    if (n <= 0) {
      decoder.finish(events);
    } else {
      decoder.feed({buffer.data(), static_cast<size_t>(n)}, events);
    }
    if (!events.empty()) {
      const std::string prefix = lines.prefixNow();
      for (const KivWireEvent& event : events) {
        out.clear();
        lines.lineOf(event, prefix, out);
        if (!out.empty() && !writeAll(out)) {
          return 0;
        }
      }
    }
    if (n < 0) {
      std::fprintf(stderr, "kivlog-uart: read failed: %s\n", std::strerror(errno));
      return 1;
    }
    if (n == 0) {
      return 0;
    }
  }
}

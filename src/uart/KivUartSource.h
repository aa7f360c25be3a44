#pragma once

// The byte source of kivlog-uart: standard input, a file, or a serial device, which it sets to
// raw 8N1 input at the asked speed (termios).
#include <string>

class KivUartSource {
 public:
  KivUartSource() = default;
  ~KivUartSource();
  KivUartSource(const KivUartSource&) = delete;
  KivUartSource& operator=(const KivUartSource&) = delete;

  // Opens `path` ("-" for standard input); `speed` 0 leaves a serial device's speed as it is.
  // Returns false with the reason in `error`.
  bool open(const std::string& path, unsigned speed, std::string& error);
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool owned_ = false;
};

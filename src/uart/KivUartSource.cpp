#include "uart/KivUartSource.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool speedConstant(unsigned speed, speed_t& out) {
  struct Speed {
    unsigned bits;
    speed_t constant;
  };
  static const Speed speeds[] = {
      {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
      {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
      {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
      {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
      {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
      {4000000, B4000000},
  };
  for (const Speed& s : speeds) {
    if (s.bits == speed) {
      out = s.constant;
      return true;
    }
  }
  return false;
}

}  // namespace

KivUartSource::~KivUartSource() {
  if (owned_ && fd_ >= 0) {
    ::close(fd_);
  }
}

bool KivUartSource::open(const std::string& path, unsigned speed, std::string& error) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
  } else {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
      error = "cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    owned_ = true;
  }
  if (!isatty(fd_)) {
    if (speed != 0) {
      error = "-b needs a serial device: " + path;
      return false;
    }
    return true;
  }
  termios tty{};
  if (tcgetattr(fd_, &tty) != 0) {
    error = "cannot read the settings of " + path + ": " + std::strerror(errno);
    return false;
  }
  cfmakeraw(&tty);
  tty.c_cflag |= CLOCAL | CREAD;
  tty.c_cc[VMIN] = 1;
  tty.c_cc[VTIME] = 0;
  if (speed != 0) {
    speed_t constant{};
    if (!speedConstant(speed, constant)) {
      error = "speed not supported: " + std::to_string(speed);
      return false;
    }
    cfsetispeed(&tty, constant);
    cfsetospeed(&tty, constant);
  }
  if (tcsetattr(fd_, TCSANOW, &tty) != 0) {
    error = "cannot set up " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

#include "support/KivPseudoTerminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

KivPseudoTerminal::KivPseudoTerminal() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  slavePath_ = ptsname(master_);
  // Held open, so that what the child wrote stays readable after it has gone.
  slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios mode{};
  tcgetattr(slave_, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave_, TCSANOW, &mode);
}

KivPseudoTerminal::~KivPseudoTerminal() {
  close(slave_);
  close(master_);
}

std::string KivPseudoTerminal::drain() const {
  fcntl(master_, F_SETFL, O_NONBLOCK);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(master_, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

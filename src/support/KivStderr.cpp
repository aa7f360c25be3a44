#include "support/KivStderr.h"

#include <iostream>

namespace {

void (*stderrPrelude)() = nullptr;

}  // namespace

void setStderrPrelude(void (*prelude)()) {
  stderrPrelude = prelude;
}

void writeToStderr(std::string_view text) {
  if (stderrPrelude != nullptr) {
    stderrPrelude();
  }
  std::cerr.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cerr.flush();
}

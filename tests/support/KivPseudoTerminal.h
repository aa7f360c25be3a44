#pragma once

#include <string>

// A pseudo-terminal in raw mode: what a child writes to its slave side is read back unchanged.
// Throws std::runtime_error when the system has none to give.
class KivPseudoTerminal {
 public:
  KivPseudoTerminal();
  ~KivPseudoTerminal();
  KivPseudoTerminal(const KivPseudoTerminal&) = delete;
  KivPseudoTerminal& operator=(const KivPseudoTerminal&) = delete;

  // The path a child opens as its terminal.
  const std::string& slavePath() const { return slavePath_; }
  // Everything written to the terminal so far and not yet read.
  std::string drain() const;

 private:
  int master_;
  int slave_ = -1;
  std::string slavePath_;
};

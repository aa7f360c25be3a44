#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "support/KivDebugLog.h"

// Sends everything written to `stream` (by default std::cout, where diagnostics go) into a string
// while it lives.
class KivCapture {
 public:
  explicit KivCapture(std::ostream& stream = std::cout);
  ~KivCapture();
  KivCapture(const KivCapture&) = delete;
  KivCapture& operator=(const KivCapture&) = delete;

  std::string text() const { return buffer_.str(); }

 private:
  std::ostream& stream_;
  std::ostringstream buffer_;
  std::streambuf* saved_;
};

// The debug level is program-wide: a test on this fixture starts at `Level` and leaves the level
// as it found it.
template <int Level>
class KivAtLevel : public ::testing::Test {
 protected:
  KivAtLevel() { setDebugLevel(Level); }
  ~KivAtLevel() override { setDebugLevel(saved_); }

 private:
  int saved_ = debugLevel;
};

#pragma once

#include <cstdint>
#include <string_view>

// A record filled from the bracketed tokens of a firmware line. Each kind decides what a token
// means and how many tokens a complete line has.
class KivLogTokenized {
 public:
  KivLogTokenized() = default;
  virtual ~KivLogTokenized() = default;

  // Takes token `index` (0-based, in line order); false refuses it and ends the line. The text is
  // valid only during the call.
  virtual bool handleToken(uint32_t index, std::string_view token) = 0;
  // Whether `count` accepted tokens make a complete line.
  virtual bool isTokenCountValid(uint32_t count) = 0;

 protected:
  KivLogTokenized(const KivLogTokenized&) = default;
  KivLogTokenized& operator=(const KivLogTokenized&) = default;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/KivLogTokenized.h"

// Reads bracketed tokens from a firmware line. A token is the text between '[' and the next ']';
// text outside tokens (a stray ']' included) is skipped, a '[' inside a token is dropped, and a
// token still open at the end of the line is incomplete and never used.
class KivDetokenizer {
 public:
  // Reads one token from `position` on. With a non-empty key the token is a name:value pair and
  // `token` receives the text after its first ':'; a complete token without ':' yields an empty
  // value and puts `position` back, so the next reader sees the same token again. Returns true when
  // the token's ']' was found.
  bool nextToken(std::string_view line, std::size_t& position, std::string_view key,
                 std::string& token);
  // The same, with `token` a view into `line`, or into `scratch` when the token held a '['.
  bool nextToken(std::string_view line, std::size_t& position, std::string_view key,
                 std::string_view& token, std::string& scratch);

  // Hands every complete token from `position` to the end of the line to `record`, then asks it
  // whether the count was right. False when the record refused a token or the count.
  bool detokenize(std::string_view line, std::size_t& position, KivLogTokenized& record);

  uint32_t tokenIndex = 0;

 private:
  // Reads the next token into `token` (a view into `line`, or into `scratch` when a '[' had to be
  // dropped from it); true when it was complete.
  static bool readToken(std::string_view line, std::size_t& position, std::string_view& token,
                        std::string& scratch);
};

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// JSON Lines output (-j): every written line is one JSON object. Program-wide, like the debug
// level: set once from the command line before anything is written.
extern bool jsonOutput;

// Appends `text` as a JSON string: quoted, '"' and '\\' and control characters escaped, and every
// byte that is not part of valid UTF-8 written as \u00XX of its value, so any bytes give valid
// JSON.
void appendJsonString(std::string& out, std::string_view text);

// Appends one object's members to a string: `{"a":1,"b":"x"}`.
class KivJsonObject {
 public:
  explicit KivJsonObject(std::string& out) : out_(out) { out_ += '{'; }

  KivJsonObject& text(std::string_view name, std::string_view value);
  KivJsonObject& number(std::string_view name, uint64_t value);
  KivJsonObject& boolean(std::string_view name, bool value);
  // A member whose value is JSON already written by the caller, e.g. an array or an object.
  KivJsonObject& json(std::string_view name, std::string_view value);
  // Closes the object; nothing may be added after.
  void end() { out_ += '}'; }

 private:
  void name(std::string_view name);

  std::string& out_;
  bool first_ = true;
};

#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

// Writes `text` as a JSON string: quoted, '"' and '\\' and control characters escaped, and every
// byte that is not part of valid UTF-8 written as \u00XX of its value, so any bytes give valid
// JSON. `out` must have room for jsonStringRoom(text.size()) bytes; returns the end written.
char* writeJsonString(char* out, std::string_view text);
constexpr std::size_t jsonStringRoom(std::size_t size) {
  return 6 * size + 2 + 16;
}
// The same, appended to a string.
void appendJsonString(std::string& out, std::string_view text);

// Writes objects of JSON Lines into a buffer of its own, reused from line to line: for the lines
// written by the million, each member costs a few stores rather than a library call.
class KivJsonWriter {
 public:
  // Starts a line: "{".
  void begin() {
    end_ = buffer_.get();
    *room(1) = '{';
    ++end_;
    first_ = true;
  }
  template <std::size_t N>
  void text(const char (&name)[N], std::string_view value) {
    key(name, jsonStringRoom(value.size()));
    end_ = writeJsonString(end_, value);
  }
  // A string member whose value needs no escaping: one of the tool's own words.
  template <std::size_t N>
  void word(const char (&name)[N], std::string_view value) {
    key(name, value.size() + 2);
    *end_++ = '"';
    std::copy_n(value.data(), value.size(), end_);
    end_ += value.size();
    *end_++ = '"';
  }
  template <std::size_t N>
  void number(const char (&name)[N], uint64_t value) {
    key(name, 20);
    end_ = std::to_chars(end_, end_ + 20, value).ptr;
  }
  // Members written as JSON already, `"a":1,"b":2`.
  void members(std::string_view text) {
    char* out = room(text.size() + 1);
    *out = ',';
    out += first_ ? 0 : 1;
    first_ = false;
    std::copy_n(text.data(), text.size(), out);
    end_ = out + text.size();
  }
  // A member whose value is JSON already.
  template <std::size_t N>
  void json(const char (&name)[N], std::string_view value) {
    key(name, value.size());
    std::copy_n(value.data(), value.size(), end_);
    end_ += value.size();
  }
  // Ends the object: "}"; the view is valid until the next begin().
  std::string_view end() { return close("}"); }
  // Ends the object and the line: "}\n".
  std::string_view endLine() { return close("}\n"); }

 private:
  template <std::size_t N>
  std::string_view close(const char (&tail)[N]) {
    std::memcpy(room(N - 1), tail, N - 1);
    end_ += N - 1;
    return {buffer_.get(), static_cast<std::size_t>(end_ - buffer_.get())};
  }
  // Writes `,"name":` (no comma before the first member) with room for `value` more bytes after.
  template <std::size_t N>
  void key(const char (&name)[N], std::size_t value) {
    char* out = room(N + 3 + value);
    *out = ',';
    out += first_ ? 0 : 1;
    first_ = false;
    *out++ = '"';
    std::memcpy(out, name, N - 1);
    out += N - 1;
    *out++ = '"';
    *out++ = ':';
    end_ = out;
  }
  // The end of what is written, with room for `bytes` more.
  char* room(std::size_t bytes) {
    if (static_cast<std::size_t>(end_ - buffer_.get()) + bytes > capacity_) {
      grow(bytes);
    }
    return end_;
  }
  void grow(std::size_t bytes);

  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(4096);
  std::size_t capacity_ = 4096;
  char* end_ = buffer_.get();
  bool first_ = true;
};

// Appends one object's members to a string: `{"a":1,"b":"x"}`. Member names are the tool's own
// short words, written as they are.
class KivJsonObject {
 public:
  static constexpr std::size_t kMaxName = 32;

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
  // `,"name":` (no comma before the first member) into `out`; returns its length.
  std::size_t key(std::string_view name, char* out);

  std::string& out_;
  bool first_ = true;
};

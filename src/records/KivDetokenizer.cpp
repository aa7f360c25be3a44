#include "records/KivDetokenizer.h"

#include "support/KivDebugLog.h"

bool KivDetokenizer::readToken(std::string_view line, std::size_t& position,
                               std::string_view& token, std::string& scratch) {
  token = {};
  if (position >= line.size()) {
    return false;
  }
  const char* const end = line.data() + line.size();
  const char* p = line.data() + position;
  while (p != end && *p != '[') {
    ++p;
  }
  if (p == end) {
    position = line.size();
    return false;
  }
  const char* const begin = ++p;
  bool bracketInside = false;
  while (p != end && *p != ']') {
    bracketInside = bracketInside || *p == '[';
    ++p;
  }
  token = std::string_view(begin, static_cast<std::size_t>(p - begin));
  if (bracketInside) {
    scratch.clear();
    for (const char c : token) {
      if (c != '[') {
        scratch += c;
      }
    }
    token = scratch;
  }
  position = p == end ? line.size() : static_cast<std::size_t>(p + 1 - line.data());
  return p != end;
}

bool KivDetokenizer::nextToken(std::string_view line, std::size_t& position, std::string_view key,
                               std::string_view& token, std::string& scratch) {
  const std::size_t start = position;
  const bool complete = readToken(line, position, token, scratch);
  if (!token.empty() && !key.empty()) {
    // Tokens are short: a plain loop beats a library search here.
    std::size_t colon = 0;
    while (colon < token.size() && token[colon] != ':') {
      ++colon;
    }
    if (colon == token.size()) {
      token = {};
      position = start;
    } else {
      token.remove_prefix(colon + 1);
    }
  }
  return complete;
}

bool KivDetokenizer::nextToken(std::string_view line, std::size_t& position, std::string_view key,
                               std::string& token) {
  std::string scratch;
  std::string_view view;
  const bool complete = nextToken(line, position, key, view, scratch);
  token.assign(view);
  return complete;
}

bool KivDetokenizer::detokenize(std::string_view line, std::size_t& position,
                                KivLogTokenized& record) {
  tokenIndex = 0;
  std::string scratch;
  std::string_view token;
  while (readToken(line, position, token, scratch)) {
    if (!record.handleToken(tokenIndex, token)) {
      debugLog(kLogDebug, "Bad token %u %s", tokenIndex, std::string(token).c_str());
      return false;
    }
    ++tokenIndex;
  }
  return record.isTokenCountValid(tokenIndex);
}

#include "records/KivDetokenizer.h"

#include "support/KivDebugLog.h"

bool KivDetokenizer::readToken(std::string_view line, std::size_t& position, std::string& token) {
  token.clear();
  bool inToken = false;
  while (position < line.size()) {
    const char c = line[position++];
    if (c == '[') {
      inToken = true;
    } else if (!inToken) {
      continue;
    } else if (c == ']') {
      return true;
    } else {
      token += c;
    }
  }
  return false;
}

bool KivDetokenizer::nextToken(std::string_view line, std::size_t& position, std::string_view key,
                               std::string& token) {
  const std::size_t start = position;
  const bool complete = readToken(line, position, token);
  if (!token.empty() && !key.empty()) {
    const std::size_t colon = token.find(':');
    if (colon == std::string::npos) {
      token.clear();
      position = start;
    } else {
      token.erase(0, colon + 1);
    }
  }
  return complete;
}

bool KivDetokenizer::detokenize(std::string_view line, std::size_t& position,
                                KivLogTokenized& record) {
  tokenIndex = 0;
  std::string token;
  while (readToken(line, position, token)) {
    if (!record.handleToken(tokenIndex, token)) {
      debugLog(kLogDebug, "Bad token %u %s", tokenIndex, token.c_str());
      return false;
    }
    ++tokenIndex;
  }
  return record.isTokenCountValid(tokenIndex);
}

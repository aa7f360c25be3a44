#include "processor/KivPiece.h"

#include "processor/KivLineReader.h"

void KivPiece::append(std::string_view span, bool readBefore, bool cut) {
  if (readBefore) {
    flushes.push_back(static_cast<uint32_t>(text.size()));
  }
  text.append(span);
  endsCut = cut;
}

void KivPiece::splitLines() {
  if (!lines.empty() || text.empty()) {
    return;
  }
  auto flush = flushes.begin();
  KivLineReader::splitLines(
      text, endsCut, [this, &flush](std::size_t offset, std::size_t size, bool cut) {
        const bool flushBefore = flush != flushes.end() && *flush == offset;
        if (flushBefore) {
          ++flush;
        }
        lines.push_back(
            {static_cast<uint32_t>(offset), static_cast<uint32_t>(size), cut, flushBefore});
      });
}

void KivPiece::reset() {
  text.clear();
  flushes.clear();
  endsCut = false;
  flushAtEnd = false;
  lines.clear();
  clearResult();
}

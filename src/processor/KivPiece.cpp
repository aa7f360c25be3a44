#include "processor/KivPiece.h"

#include "processor/KivLineReader.h"

void KivPiece::append(std::string_view span, bool readBefore, bool cut) {
  if (readBefore) {
    flushes.push_back(static_cast<uint32_t>(text.size()));
  }
  own.append(span);
  text = own;
  endsCut = cut;
}

void KivPiece::refer(std::string_view span, std::shared_ptr<const char[]> buffer, bool readBefore,
                     bool cut) {
  if (readBefore) {
    flushes.push_back(0);
  }
  text = span;
  kept = std::move(buffer);
  endsCut = cut;
}

void KivPiece::splitLines() {
  if (!lines.empty()) {
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
  text = {};
  kept.reset();
  own.clear();
  flushes.clear();
  endsCut = false;
  flushAtEnd = false;
  lines.clear();
  clearResult();
}

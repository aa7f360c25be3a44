#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "output/KivPieceOutput.h"
#include "records/KivDeviceDesc.h"

// A run of lines of the raw log, decoded on its own, and what its decoding left.
struct KivPiece {
  struct Line {
    uint32_t offset;  // in text
    uint32_t size;
    bool cut;          // a piece of a longer line
    bool flushBefore;  // the input was read before this line: every output was flushed
  };

  uint64_t firstLine = 1;
  // Bytes as the line reader's readSpan() handed them out, newlines and all: in the reader's
  // buffer, kept for the piece, or copied into the piece's own storage.
  std::string_view text;
  std::shared_ptr<const char[]> kept;
  std::string own;
  // Where in text a line starts that the input was read before.
  std::vector<uint32_t> flushes;
  // text ends within a line, after a piece of a long line.
  bool endsCut = false;
  // The input was read after the last line (and found to end).
  bool flushAtEnd = false;
  // text taken apart, by splitLines().
  std::vector<Line> lines;

  // Adds bytes readSpan() handed out (or their first lines), copied, to a piece whose bytes are
  // its own; `readBefore` tells that the input was read before them, `cut` that they end within a
  // line.
  void append(std::string_view span, bool readBefore, bool cut);
  // The same for an empty piece, whose bytes are then those in `buffer`, kept.
  void refer(std::string_view span, std::shared_ptr<const char[]> buffer, bool readBefore,
             bool cut);
  // Fills lines from text (once).
  void splitLines();
  // Empty, keeping the room its texts took.
  void reset();

  // What decoding left: the recorded output, the devices the piece found in the run with the
  // stamp they had (0: the run had no such device), its devices as it left them, the ids of the
  // devices whose personal logs it writes (by recordSlot), and whether it wrote the library's
  // indexing diagnostics.
  KivPieceOutput output;
  std::vector<std::pair<std::string, uint64_t>> seen;
  std::vector<std::unique_ptr<KivDeviceDesc>> devices;
  std::vector<std::string> slotIds;
  bool announcedLibrary = false;

  void clearResult() {
    output.clear();
    seen.clear();
    devices.clear();
    slotIds.clear();
    announcedLibrary = false;
  }
};

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
  std::string text;
  std::vector<Line> lines;
  // The input was read after the last line (and found to end).
  bool flushAtEnd = false;

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

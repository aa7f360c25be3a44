#pragma once

#include "output/KivTextWriter.h"

// The text output for a terminal: the bytes of KivTextWriter, with colour escapes around the level
// name of each decoded line written to standard output and around the [ERR] and [WRN] tags of
// diagnostics. Lines written to files, the main log and personal logs of a folder, stay plain.
class KivColourTextWriter : public KivTextWriter {
 public:
  using KivTextWriter::KivTextWriter;

  void decoded(const KivDecodedRecord& record) override;
  void diagnostic(const KivDiagnosticEvent& event) override;

  // Off, it writes what KivTextWriter writes.
  void setColour(bool on) { colour_ = on; }
  bool colour() const { return colour_; }

 private:
  bool colour_ = true;
};

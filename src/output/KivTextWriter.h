#pragma once

#include "output/KivLogWriter.h"

// The log as text: host and descriptor lines as they stand, decoded lines as rendering writes
// them, diagnostics as "[ERR] message", and the text report.
class KivTextWriter : public KivLogWriter {
 public:
  using KivLogWriter::KivLogWriter;

  void host(const KivHostEvent& event) override;
  void descriptor(const KivDescriptorEvent& event) override;
  void decoded(const KivDecodedRecord& record) override;
  void undecoded(const KivUndecodedEvent& event) override;
  void diagnostic(const KivDiagnosticEvent& event) override;
  void report(const KivRunReport& report) override;
};

#include "output/KivTextWriter.h"

#include "records/KivDecodedRecord.h"
#include "records/KivDeviceDesc.h"
#include "support/KivDebugLog.h"

void KivTextWriter::host(const KivHostEvent& event) {
  writeLine(event.line, event.personalLogs);
}

void KivTextWriter::descriptor(const KivDescriptorEvent& event) {
  writeLine(event.line, &event.device);
}

void KivTextWriter::decoded(const KivDecodedRecord& record) {
  writeDeviceText(&record.device(), record.text());
}

void KivTextWriter::undecoded(const KivUndecodedEvent& event) {
  writeLine(event.line, event.device);
}

void KivTextWriter::diagnostic(const KivDiagnosticEvent& event) {
  if (!event.dumpRow) {
    console() << '[' << debugLevelPrefix(event.level) << "] ";
  }
  console() << event.text << '\n';
}

void KivTextWriter::report(const KivRunReport& report) {
  report.writeText(console(), warning());
}

#include "output/KivJsonLinesWriter.h"

#include "records/KivDecodedRecord.h"
#include "records/KivDeviceDesc.h"
#include "records/KivJsonLines.h"
#include "records/KivLogData.h"
#include "support/KivDebugLog.h"

namespace {

std::string_view reasonName(KivUndecodedReason reason) {
  return reason == KivUndecodedReason::kVersionMismatch ? kivjson::kVersionMismatch
                                                        : kivjson::kUnannouncedDevice;
}

}  // namespace

void KivJsonLinesWriter::host(const KivHostEvent& event) {
  writeLine(kivjson::hostLine(json_, event.lineNumber, event.line), event.personalLogs);
}

void KivJsonLinesWriter::descriptor(const KivDescriptorEvent& event) {
  const KivDeviceDesc& device = event.device;
  std::optional<std::string_view> firmware;
  if (device.firmware != nullptr) {
    firmware = device.firmware->path;
  }
  const std::string umac = device.versions[0].text();
  const std::string lmac = device.versions[1].text();
  writeLine(kivjson::descriptorLine({event.lineNumber, device.deviceId, umac, lmac,
                                     device.compatible, firmware, event.line}),
            &device);
}

std::string_view KivJsonLinesWriter::makeStatementMembers(const KivDecodedRecord& record) {
  std::string& members = record.statement().text->jsonMembers;
  const LogMeta meta = record.meta();
  members = kivjson::statementMembers(record.levelName(), meta.module, record.fileName(), meta.line,
                                      record.format());
  return members;
}

void KivJsonLinesWriter::decoded(const KivDecodedRecord& record) {
  const KivLogData& data = record.record();
  writeDeviceText(
      &record.device(),
      kivjson::decodedLine(json_, {record.lineNumber(), record.prefix(), record.device().deviceId,
                                   data.timestamp, record.typeName(), statementMembers(record),
                                   data.param0, data.param1, record.message()}));
}

void KivJsonLinesWriter::undecoded(const KivUndecodedEvent& event) {
  writeLine(kivjson::undecodedLine(event.lineNumber, event.deviceId, reasonName(event.reason),
                                   event.line),
            event.device);
}

void KivJsonLinesWriter::diagnostic(const KivDiagnosticEvent& event) {
  const std::string_view line = kivjson::diagnosticLine(debugLevelPrefix(event.level), event.text);
  console().write(line.data(), static_cast<std::streamsize>(line.size()));
  console() << '\n';
}

void KivJsonLinesWriter::report(const KivRunReport& report) {
  report.writeJson(console(), warning());
}

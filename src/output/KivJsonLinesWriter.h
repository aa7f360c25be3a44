#pragma once

#include "output/KivLogWriter.h"
#include "records/KivDecodedRecord.h"
#include "support/KivJson.h"

// The log as JSON Lines: one JSON object a line for every line the text output writes, the
// diagnostics and, with the report flag, the report.
class KivJsonLinesWriter : public KivLogWriter {
 public:
  using KivLogWriter::KivLogWriter;

  void host(const KivHostEvent& event) override;
  void descriptor(const KivDescriptorEvent& event) override;
  void decoded(const KivDecodedRecord& record) override;
  void undecoded(const KivUndecodedEvent& event) override;
  void diagnostic(const KivDiagnosticEvent& event) override;
  void report(const KivRunReport& report) override;

  // The statement's members of a decoded record's object, made once per statement.
  static std::string_view statementMembers(const KivDecodedRecord& record) {
    const std::string& members = record.statement().text->jsonMembers;
    return members.empty() ? makeStatementMembers(record) : std::string_view(members);
  }

 private:
  static std::string_view makeStatementMembers(const KivDecodedRecord& record);

  KivJsonWriter json_;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "metadata/KivStatementCache.h"
#include "records/KivLogData.h"
#include "records/KivLogMeta.h"

class KivDeviceDesc;

// A data record decoded against its log statement, as an output sees it: the record's fields, the
// statement's, and the readable line. The line is put together only when an output asks for it,
// in the form that output needs: text() for the text outputs, message() for JSON Lines.
//
// It refers to the record, the device, the statement and the line's prefix, and puts its texts
// together in the scratch buffers it was given: it lives only while the event that hands it out.
class KivDecodedRecord {
 public:
  // A decoded line, header and expansion together, holds at most this many characters.
  static constexpr std::size_t kMaxLineLength = 4095;

  // Where lines are put together, one per decoding thread.
  class Scratch;
  struct ScratchDeleter {
    void operator()(Scratch* scratch) const;
  };
  using ScratchPtr = std::unique_ptr<Scratch, ScratchDeleter>;
  static ScratchPtr makeScratch();

  KivDecodedRecord(uint64_t lineNumber, std::string_view prefix, const KivLogData& record,
                   const KivDeviceDesc& device, const KivStatementCache::Statement& statement,
                   Scratch& scratch);

  uint64_t lineNumber() const { return lineNumber_; }
  std::string_view prefix() const { return prefix_; }
  const KivLogData& record() const { return record_; }
  const KivDeviceDesc& device() const { return device_; }
  const KivStatementCache::Statement& statement() const { return statement_; }
  LogMeta meta() const { return LogMeta::fromBytes(statement_.descriptor); }
  std::string_view typeName() const { return logTypeNames[logTypeIndex(record_.log_type)]; }
  std::string_view levelName() const { return logLevelName(meta().level); }
  std::string_view fileName() const { return statement_.text->fileName; }
  std::string_view format() const { return statement_.text->format; }

  // The decoded line: "<prefix> <timestamp> FW_LOG [ID:<id>] [<type>:<level>] [<file>:<line>]: "
  // and the format expanded with the record's values, cut to kMaxLineLength characters. It ends
  // where the format's own line end puts it, or at a zero byte the expansion wrote; a line the
  // cut shortened gets a line end of its own.
  std::string_view text() const;
  // Where the level name starts in text(); text().size() or more when the line ends before it.
  std::size_t levelColumn() const;
  // The expansion alone, as text() holds it after its header: cut where the line is cut, without
  // the line end a cut adds.
  std::string_view message() const;

  // "<level>] [<file name>:<line>]: ", the part of a decoded line's header that depends only on
  // the log statement.
  static std::string headerTail(const LogMeta& meta, std::string_view fileName);

 private:
  std::size_t headerLength() const;

  uint64_t lineNumber_;
  std::string_view prefix_;
  const KivLogData& record_;
  const KivDeviceDesc& device_;
  const KivStatementCache::Statement& statement_;
  Scratch& scratch_;
  mutable std::string_view text_;
  mutable std::string_view message_;
  mutable bool textMade_ = false;
  mutable bool messageMade_ = false;
};

#include "output/KivColourTextWriter.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "records/KivDecodedRecord.h"
#include "records/KivDeviceDesc.h"
#include "records/KivLogMeta.h"
#include "support/KivDebugLog.h"

namespace {

constexpr std::string_view kReset = "\x1b[0m";
constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kYellow = "\x1b[33m";

// By level: CRITICAL and ERROR red, CRITICAL bold; WARNING yellow; INFO1 and INFO2 as the
// terminal writes; TRACE and DUMP dim; ALWAYS bold.
constexpr std::array<std::string_view, logLevelNames.size()> kLevelColours = {
    "\x1b[1;31m", kRed, kYellow, "", "", "\x1b[2m", "\x1b[2m", "\x1b[1m"};

void put(std::streambuf& out, std::string_view text) {
  out.sputn(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

void KivColourTextWriter::decoded(const KivDecodedRecord& record) {
  const std::string_view colour =
      kLevelColours[std::min<std::size_t>(record.meta().level, kLevelColours.size() - 1)];
  if (!colour_ || colour.empty() || !mainIsConsole()) {
    KivTextWriter::decoded(record);
    return;
  }
  const std::string_view text = record.text();
  // A line cut before the level name shows none of it, one cut within it the part that is left;
  // the line end a cut adds stays outside the colour.
  const std::size_t start = record.levelColumn();
  const std::size_t end =
      std::min({start + record.levelName().size(), text.size(), KivDecodedRecord::kMaxLineLength});
  if (start >= end) {
    KivTextWriter::decoded(record);
    return;
  }
  std::streambuf& out = mainOutput();
  put(out, text.substr(0, start));
  put(out, colour);
  put(out, text.substr(start, end - start));
  put(out, kReset);
  put(out, text.substr(end));
  if (record.device().personalLog) {
    record.device().personalLog->write(text);
  }
}

void KivColourTextWriter::diagnostic(const KivDiagnosticEvent& event) {
  const std::string_view colour = event.level == kLogError     ? kRed
                                  : event.level == kLogWarning ? kYellow
                                                               : std::string_view();
  if (!colour_ || event.dumpRow || colour.empty()) {
    KivTextWriter::diagnostic(event);
    return;
  }
  console() << colour << '[' << debugLevelPrefix(event.level) << ']' << kReset << ' ' << event.text
            << '\n';
}

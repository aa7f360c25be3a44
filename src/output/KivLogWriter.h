#pragma once

#include <ostream>
#include <streambuf>
#include <string_view>

#include "output/KivEventSink.h"
#include "output/KivPieceOutput.h"
#include "records/KivDeviceDesc.h"
#include "report/KivRunReport.h"

// What the two written forms of the log share: where each line goes. The decoded log goes to the
// main output (standard output, or the main log of an output folder) and a device's lines also to
// its personal log; diagnostics and the report go to the console (standard output); the report's
// warning lines to the warning output (standard error).
class KivLogWriter : public KivEventSink {
 public:
  // `console` also serves as the main output until setMainOutput() names another.
  KivLogWriter(std::ostream& console, KivRunReport::Warning warning);

  void setMainOutput(std::streambuf& main) { main_ = &main; }
  // While a piece of the log is decoded on its own: host lines and what goes to personal logs
  // (devices' recordSlot) are recorded into `piece`, to be written when the piece's turn comes;
  // the console and main output are then recording buffers of the same piece.
  void setRecorder(KivPieceOutput* piece) { recorder_ = piece; }

 protected:
  std::ostream& console() { return console_; }
  // Whether the decoded log goes to the console, standard output, rather than to a file.
  bool mainIsConsole() const { return main_ == console_.rdbuf(); }
  std::streambuf& mainOutput() { return *main_; }
  const KivRunReport::Warning& warning() const { return warning_; }

  // `text` as it stands to the main output and the device's personal log, if it has one.
  void writeDeviceText(const KivDeviceDesc* device, std::string_view text) {
    main_->sputn(text.data(), static_cast<std::streamsize>(text.size()));
    if (device == nullptr) {
      return;
    }
    if (device->personalLog) {
      device->personalLog->write(text);
    } else if (recorder_ != nullptr && device->recordSlot >= 0) {
      recorder_->personalOfLast(static_cast<uint32_t>(device->recordSlot), text);
    }
  }
  // `line` and a line end to the main output and to the personal log of each of `devices`.
  void writeLine(std::string_view line, const KivDeviceDesc* device);
  void writeLine(std::string_view line, std::span<KivDeviceDesc* const> devices);

 private:
  std::ostream& console_;
  std::streambuf* main_;
  KivRunReport::Warning warning_;
  KivPieceOutput* recorder_ = nullptr;
};

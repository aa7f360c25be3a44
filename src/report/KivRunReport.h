#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "kivlog/Events.h"

class KivDeviceDesc;
class KivFirmwareLibrary;
class KivLogProcessor;

// What a run decoded with and where its input and output were: the "Using:" block's content.
struct KivRunSetup {
  bool legacy = false;
  std::string combinedPath;
  std::string umacPath;
  std::string lmacPath;
  // Not owned. Asking it for its number of builds indexes the folder if no device needed it, and
  // the diagnostics of the indexing come at that point.
  KivFirmwareLibrary* library = nullptr;
  std::string input = "stdin";
  std::string output = "stdout";
};

// The end-of-run processing report: the images' values and, per device, its versions and
// counters, with the warning lines for devices that logged with an unknown or mismatched version.
// `full` is the report flag (-r); without it only the warning lines are written.
class KivRunReport {
 public:
  using Warning = std::function<void(std::string_view line)>;

  KivRunReport(const KivRunSetup& setup, KivLogProcessor& processor, bool full)
      : setup_(setup), processor_(processor), full_(full) {}

  const KivRunSetup& setup() const { return setup_; }
  const KivLogProcessor& processor() const { return processor_; }
  bool full() const { return full_; }

  // The text form: with the report flag the "Using:" block, the images and each device; each
  // warning line goes to `stream` too then, and to `warning` always (without its newline).
  void writeText(std::ostream& stream, const Warning& warning) const;
  // The JSON Lines form: with the report flag one
  // {"report":{"using":..,"images":..,"devices":[..]}} line; then the warning lines, to `warning`
  // only.
  void writeJson(std::ostream& stream, const Warning& warning) const;
  // The report as the decoder library gives it. Its setup asks the library for its size.
  kivlog::Report toPublic() const;
  kivlog::Report::Setup publicSetup() const;
  static kivlog::Report::Device publicDevice(const KivDeviceDesc& device);

 private:
  void writeUsingBlock(std::ostream& stream) const;
  void writeWarnings(std::ostream& stream, bool intoStream, const Warning& warning) const;

  const KivRunSetup& setup_;
  // Not const: asking for the library's number of builds may index it.
  KivLogProcessor& processor_;
  bool full_;
};

#pragma once

#include <cstdint>
#include <span>
#include <string_view>

class KivDecodedRecord;
class KivDeviceDesc;
class KivRunReport;

// What the processor makes of the raw log, one event per line (and the diagnostics and the report
// around them), handed to one output interface. The text output, JSON Lines, the decoder library's
// callers and any filter in front of them are implementations of it; none of them changes what the
// processor decides, only what is written and where.
//
// Every view in an event is valid only while the call that hands it out runs.

// A line that is not the firmware's: written as it stands to the main output and to every personal
// log open at that moment.
struct KivHostEvent {
  uint64_t lineNumber;
  std::string_view line;
  // The devices that have a personal log, in key order.
  std::span<KivDeviceDesc* const> personalLogs;
};

// A "[FW_ELF_VER]" line that created or updated its device.
struct KivDescriptorEvent {
  uint64_t lineNumber;
  const KivDeviceDesc& device;
  std::string_view line;
};

// Why a data line was written through as it stands.
enum class KivUndecodedReason {
  kVersionMismatch,    // strict matching, and the device announced other versions
  kUnannouncedDevice,  // strict matching, and no descriptor line has named the device
};

// A data line that strict matching passes through undecoded.
struct KivUndecodedEvent {
  uint64_t lineNumber;
  std::string_view deviceId;
  // Null for a device that strict matching keeps out of the table: it has no personal log.
  const KivDeviceDesc* device;
  KivUndecodedReason reason;
  std::string_view line;
  uint32_t logType;
};

// A diagnostic message of level 0 (ERR) to 3 (DBG). A hex dump's rows follow their title as
// messages of their own, marked `dumpRow`: the text output writes them without a prefix.
struct KivDiagnosticEvent {
  int level;
  std::string_view text;
  bool dumpRow = false;
};

class KivEventSink {
 public:
  virtual ~KivEventSink() = default;

  virtual void host(const KivHostEvent& event) = 0;
  virtual void descriptor(const KivDescriptorEvent& event) = 0;
  virtual void decoded(const KivDecodedRecord& record) = 0;
  virtual void undecoded(const KivUndecodedEvent& event) = 0;
  virtual void diagnostic(const KivDiagnosticEvent& event) = 0;
  // The end of a run: the images, the devices and their counters.
  virtual void report(const KivRunReport& report) = 0;
};

#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "output/KivEventSink.h"

// Leaves lines out of the log, in front of the output that writes it: the lines it drops reach
// no output at all (standard output, main log, personal logs, JSON Lines). Diagnostics and the
// report always pass, and the device counters the report shows are kept before any filter, so
// they describe the whole input.
//
// Each rule leaves alone the kinds of line it does not speak of; a line must pass every rule.
class KivEventFilter : public KivEventSink {
 public:
  struct Rules {
    // Decoded lines of this level or a more severe one (a lower number) pass; ALWAYS, and levels
    // past the name table, always pass. Undecoded lines, whose level nobody knows, do not.
    std::optional<uint16_t> level;
    // Only these devices' descriptor, decoded and undecoded lines pass, and host lines go to their
    // personal logs only; empty: every device.
    std::vector<std::string> devices;
    // Only the data lines of this processor (0 UMAC, 1 LMAC, as the log type's upper bits give
    // it) pass, decoded or undecoded; descriptor lines, which name both, pass.
    std::optional<uint32_t> mac;
    // Host lines are left out.
    bool noHost = false;

    bool any() const { return level || !devices.empty() || mac || noHost; }
  };

  KivEventFilter(const Rules& rules, KivEventSink& next);

  void host(const KivHostEvent& event) override;
  void descriptor(const KivDescriptorEvent& event) override;
  void decoded(const KivDecodedRecord& record) override;
  void undecoded(const KivUndecodedEvent& event) override;
  void diagnostic(const KivDiagnosticEvent& event) override;
  void report(const KivRunReport& report) override;

  // Whether the device's lines pass the --device rule; a host line goes to its personal log then.
  bool deviceShown(std::string_view deviceId) const;

 private:
  bool macShown(uint32_t logType) const;

  std::optional<uint16_t> level_;
  std::set<std::string, std::less<>> devices_;
  std::optional<uint32_t> mac_;
  bool noHost_;
  KivEventSink& next_;
  // The personal logs a host line goes to, when only some devices are shown.
  std::vector<KivDeviceDesc*> shownLogs_;
};

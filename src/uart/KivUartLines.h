#pragma once

// Turns the wire format's events into the host log lines kivlog reads, as a driver writes them:
//   [FW_ELF_VER][ID:wlan0][UMAC][f1]...[f6][LMAC][f1]...[f6]   once every core has announced
//   [FW_LOG-R][ID:wlan0][1000][0][f00001a4][1][0]                 per record
//   [kivlog-uart] dropped 2 frames                                where damage was
// each behind a host time stamp prefix (none, seconds since boot, or the wall clock).
#include <array>
#include <cstdint>
#include <string>

#include "uart/KivWireDecoder.h"

enum class KivUartClock { kNone, kMonotonic, kRealtime };

class KivUartLines {
 public:
  KivUartLines(std::string deviceId, KivUartClock clock);

  // Appends the line of `event`, newline included, to `out` (an announcement that leaves a core
  // unannounced adds nothing). `prefix` is the host time stamp text, see prefixNow().
  void lineOf(const KivWireEvent& event, const std::string& prefix, std::string& out);

  // The prefix for the present moment of the chosen clock: "[    12.400041] " style for the
  // monotonic clock, "2026-12-09 02:47:54.123456 " for the wall clock, empty for none.
  std::string prefixNow() const;

  // A device id a token can carry: no '[' or ']'.
  static bool validId(const std::string& id);

 private:
  void appendVersion(const char* mac, const std::array<unsigned char, 111>* version,
                     std::string& out) const;

  std::string deviceId_;
  KivUartClock clock_;
  std::array<std::array<unsigned char, 111>, 2> versions_{};
  unsigned announced_ = 0;
};

// Writes the shipped sample into the folder named by argv[1]: kiv_log.elf, a combined firmware
// image with a handful of UMAC and LMAC log statements, and sample.log, a raw host log in which two
// devices announce their firmware and log through both MACs. wlan0 runs the image's firmware;
// wlan1 announces a different LMAC version. The output is the same on every run.

#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "support/KivImageBuilder.h"
#include "support/KivSampleFirmware.h"

namespace {

const KivTestVersion kUmacVersion{"KIV-UMAC", "4.3.1.2207", "Mar 20 2026 14:02:11",
                                  "release",  "g7c1e9a0",   "wlan"};
const KivTestVersion kLmacVersion{"KIV-LMAC", "4.3.1.2207", "Mar 20 2026 14:03:40",
                                  "release",  "g7c1e9a0",   "wlan"};
const KivTestVersion kOlderLmacVersion{"KIV-LMAC", "4.3.0.2150", "Feb 02 2026 09:12:55",
                                       "release",  "g51d02bb",   "wlan"};

enum Level : std::uint16_t {
  kCritical = 0,
  kError = 1,
  kWarning = 2,
  kInfo1 = 3,
  kInfo2 = 4,
  kTrace = 5
};
enum Module : std::uint16_t { kScan = 3, kAssoc = 4, kConnMon = 6, kRx = 10, kTx = 11, kPhy = 12 };

struct Addresses {
  std::uint32_t scanStarted, scanDone, assocState, beaconMiss;
  std::uint32_t rxFrame, txDone, rxOverflow, channelSwitch;
};

Addresses buildImage(KivImageBuilder& image) {
  Addresses a{};
  auto umac = image.mac("FAST_LOG_UMAC__", 0x400, 0x00880000, 0x00880100);
  umac.version(kUmacVersion);
  a.scanStarted =
      umac.placeLogStatement("scan started on channel %u\n", "umac/src/scan.c", 214, kInfo1, kScan);
  a.scanDone = umac.placeLogStatement("scan complete, %u results in %u ms\n", "umac/src/scan.c",
                                      388, kInfo1, kScan);
  a.assocState =
      umac.placeLogStatement("assoc state %u -> %u\n", "umac/src/assoc.c", 97, kInfo2, kAssoc);
  a.beaconMiss = umac.placeLogStatement("beacon miss count %u\n", "umac/src/conn_monitor.c", 152,
                                        kWarning, kConnMon);

  auto lmac = image.mac("FAST_LOG_LMAC__", 0x4000, 0x00C00000, 0x00C00100);
  lmac.version(kLmacVersion);
  a.rxFrame =
      lmac.placeLogStatement("rx frame len=%u rssi=%d\n", "lmac/src/rx.c", 503, kTrace, kRx);
  a.txDone = lmac.placeLogStatement("tx done, status 0x%08x\n", "lmac/src/tx.c", 277, kInfo1, kTx);
  a.rxOverflow = lmac.placeLogStatement("rx queue overflow, dropped %u frames\n", "lmac/src/rx.c",
                                        611, kError, kRx);
  a.channelSwitch = lmac.placeLogStatement("channel switch to %u took %u us\n",
                                           "lmac/src/phy/channel_switch.c", 120, kCritical, kPhy);
  return a;
}

// A host line with a kernel-style time stamp, "[   12.345678] ".
std::string at(std::uint32_t micros, const std::string& text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%5u.%06u] ", static_cast<unsigned>(micros / 1000000),
                static_cast<unsigned>(micros % 1000000));
  return stamp + text;
}

std::uint32_t negative(std::int32_t value) {
  return static_cast<std::uint32_t>(value);
}

std::string buildLog(const Addresses& a) {
  using kivsample::dataLine;
  using kivsample::descriptorLine;
  const std::string lines[] = {
      at(0, "Booting Linux on physical CPU 0x0"),
      at(1204331, "pci 0000:01:00.0: [1d6a:0b21] type 00 class 0x028000"),
      at(3214502, "wlan: loading firmware kiv_log.elf"),
      at(12345678, "wlan: probe of 0000:01:00.0 succeeded"),
      at(12351022, "wlan: wlan0: firmware ready"),
      at(12351030, descriptorLine("wlan0", kUmacVersion, kLmacVersion)),
      at(12400001, dataLine("wlan0", 1000, 0, a.scanStarted, 1, 0)),
      at(12400187, dataLine("wlan0", 1012, 2, a.rxFrame, 1514, negative(-42))),
      at(12400350, dataLine("wlan0", 1019, 2, a.rxFrame, 312, negative(-67))),
      at(12401330, "wlan: wlan0: scan in progress"),
      at(12452010, dataLine("wlan0", 1090, 0, a.scanDone, 14, 52)),
      at(12460002, "wlan: wlan0: connecting to \"HomeNet\" (bssid 3c:84:6a:11:22:33)"),
      at(12460120, dataLine("wlan0", 1101, 1, a.assocState, 1, 2)),
      at(12461873, dataLine("wlan0", 1105, 3, a.txDone, 0, 0)),
      at(12470530, dataLine("wlan0", 1120, 0, a.assocState, 2, 4)),
      at(12470611, "wlan: wlan0: associated"),
      at(13001200, "wlan: probe of 0000:02:00.0 succeeded"),
      at(13001210, "wlan: wlan1: firmware ready"),
      at(13001215, descriptorLine("wlan1", kUmacVersion, kOlderLmacVersion)),
      at(13100020, dataLine("wlan1", 220, 2, a.txDone, 0x00000102, 0)),
      at(13100410, dataLine("wlan1", 231, 0, a.scanStarted, 11, 0)),
      at(13150007, dataLine("wlan0", 1790, 2, a.rxFrame, 60, negative(-71))),
      at(13200100, "wlan: wlan1: scan aborted by host"),
      at(13240999, dataLine("wlan1", 305, 3, a.channelSwitch, 36, 1250)),
      at(14002003, dataLine("wlan0", 2500, 0, a.beaconMiss, 3, 0)),
      at(14002210, dataLine("wlan1", 911, 2, a.rxOverflow, 17, 0)),
      at(14100000, "wlan: wlan0: link quality low, roaming"),
      at(14100050, dataLine("wlan0", 2610, 0, a.beaconMiss, 7, 0)),
      at(14200480, dataLine("wlan1", 1022, 1, a.assocState, 4, 0)),
      at(15000000, "wlan: wlan1: disconnected (reason 3)"),
  };
  std::string log;
  for (const std::string& line : lines) {
    log += line + "\n";
  }
  return log;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << (argc > 0 ? argv[0] : "make_sample") << " <output folder>\n";
    return 2;
  }
  try {
    const std::string folder = argv[1];
    KivImageBuilder image;
    Addresses addresses = buildImage(image);
    image.writeTo(folder + "/kiv_log.elf");

    std::ofstream log(folder + "/sample.log", std::ios::binary | std::ios::trunc);
    log << buildLog(addresses);
    log.close();
    if (!log) {
      std::cerr << "cannot write " << folder << "/sample.log\n";
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}

// kivlog-uart's lines are the ones kivlog reads, and its command line.
#include "uart/KivUartLines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/KivProcess.h"
#include "support/KivTempDir.h"
#include "uart/KivUartOptions.h"

namespace {

using Kind = KivWireEvent::Kind;

KivWireEvent announce(uint32_t core, uint32_t cores, const char* field1, const char* field6) {
  KivWireEvent event{.kind = Kind::kAnnounce, .core = core, .cores = cores};
  std::memcpy(event.version.data(), field1, std::strlen(field1));
  std::memcpy(event.version.data() + 95, field6, std::strlen(field6));  // fills its 16 bytes
  return event;
}

TEST(UartLines, EachEventGivesTheLineKivlogReads) {
  struct Row {
    std::string id;
    std::vector<KivWireEvent> events;
    std::string lines;
  };
  const KivWireEvent record{.kind = Kind::kRecord,
                            .timestamp = 4294967295u,
                            .log_type = 3,
                            .log_addr = 0xF0000214u,
                            .param0 = 7,
                            .param1 = 0};
  const Row rows[] = {
      {"wlan0", {record}, "P [FW_LOG-R][ID:wlan0][4294967295][3][f0000214][7][0]\n"},
      {"", {record}, "P [FW_LOG-R][4294967295][3][f0000214][7][0]\n"},
      {"", {{.kind = Kind::kDropped, .dropped = 3}}, "P [kivlog-uart] dropped 3 frames\n"},
      // Two cores: the line comes once both have announced, and again on every later one.
      {"wlan0",
       {announce(0, 2, "KIV-UMAC", "u"), announce(1, 2, "KIV-LMAC", "sixteen-chars-16"),
        announce(0, 2, "KIV-UMAC2", "u")},
       "P [FW_ELF_VER][ID:wlan0][UMAC][KIV-UMAC][][][][][u][LMAC][KIV-LMAC][][][][]"
       "[sixteen-chars-16]\n"
       "P [FW_ELF_VER][ID:wlan0][UMAC][KIV-UMAC2][][][][][u][LMAC][KIV-LMAC][][][][]"
       "[sixteen-chars-16]\n"},
      // One core: at once, with the empty LMAC group its image's empty record matches.
      {"sta0",
       {announce(0, 1, "KIV-ONE", "x")},
       "P [FW_ELF_VER][ID:sta0][UMAC][KIV-ONE][][][][][x][LMAC][][][][][][]\n"},
      // A bracket, which a token cannot carry, is written as '?'.
      {"",
       {announce(0, 1, "a[b]", "")},
       "P [FW_ELF_VER][UMAC][a?b?][][][][][][LMAC][][][][][][]\n"},
  };
  for (const Row& row : rows) {
    KivUartLines lines(row.id, KivUartClock::kNone);
    std::string out;
    for (const KivWireEvent& event : row.events) {
      lines.lineOf(event, "P ", out);
    }
    EXPECT_EQ(out, row.lines);
  }
}

TEST(UartLines, PrefixIsTheChosenClock) {
  EXPECT_EQ(KivUartLines("", KivUartClock::kNone).prefixNow(), "");
  const std::string monotonic = KivUartLines("", KivUartClock::kMonotonic).prefixNow();
  EXPECT_TRUE(monotonic.size() >= 15 && monotonic.front() == '[' && monotonic.ends_with("] ") &&
              monotonic[monotonic.size() - 9] == '.')
      << monotonic;
  const std::string realtime = KivUartLines("", KivUartClock::kRealtime).prefixNow();
  EXPECT_EQ(realtime.size(), std::string("2026-12-09 02:47:54.123456 ").size()) << realtime;
}

TEST(UartOptions, CommandLines) {
  struct Row {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
    std::string source = "-";
    unsigned speed = 0;
    std::string id;
    KivUartClock clock = KivUartClock::kMonotonic;
  };
  const Row rows[] = {
      {{}, ""},
      {{"/dev/ttyACM0", "-b", "115200", "--id", "wlan0"}, "", "/dev/ttyACM0", 115200, "wlan0"},
      {{"-t", "none", "capture.bin"}, "", "capture.bin", 0, "", KivUartClock::kNone},
      {{"-t", "realtime"}, "", "-", 0, "", KivUartClock::kRealtime},
      {{"-b"}, "option -b needs a value"},
      {{"-b", "fast"}, "bad speed: fast"},
      {{"-b", "0"}, "bad speed: 0"},
      {{"--id", "a]b"}, "a device id cannot hold '[' or ']': a]b"},
      {{"-t", "utc"}, "bad clock: utc"},
      {{"-x"}, "unknown option: -x"},
      {{"a", "b"}, "more than one source: b"},
  };
  for (const Row& row : rows) {
    std::string error;
    const auto options = KivUartOptions::parse(row.args, error);
    EXPECT_EQ(error, row.error);
    if (row.error.empty()) {
      ASSERT_TRUE(options.has_value());
      EXPECT_EQ(options->source, row.source);
      EXPECT_EQ(options->speed, row.speed);
      EXPECT_EQ(options->deviceId, row.id);
      EXPECT_EQ(options->clock, row.clock);
    } else {
      EXPECT_FALSE(options.has_value());
    }
  }
}

// The program on the sample's capture: a version line and 90 data lines; with one byte of a record
// deleted, that record is gone and a host line says so where it was; kivlog decodes the rest.
TEST(UartProgram, TurnsTheSampleCaptureIntoTheHostLog) {
  const std::string capture = std::string(KIVLOG_SOURCE_DIR) + "/examples/firmware/capture.bin";
  const KivRunResult clean =
      runKivlog({.args = {"-t", "none", "--id", "wlan0", capture}, .binary = KIVLOG_UART_BINARY});
  ASSERT_EQ(clean.status, 0) << clean.err;
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = clean.out.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(clean.out.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 91u);
  EXPECT_EQ(lines[61].rfind("[FW_ELF_VER][ID:wlan0][UMAC][KIV-UMAC][4.4.0.0031]", 0), 0u)
      << lines[61];
  EXPECT_EQ(lines[0].rfind("[FW_LOG-R][ID:wlan0][0][0][f", 0), 0u) << lines[0];

  KivTempDir dir;
  std::ifstream in(capture, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const size_t third = bytes.find('\0', bytes.find('\0', 200) + 1) + 5;  // inside a record
  bytes.erase(third, 1);
  const std::string damaged = dir.write("damaged.bin", bytes);
  const KivRunResult run =
      runKivlog({.args = {"-t", "none", "--id", "wlan0", damaged}, .binary = KIVLOG_UART_BINARY});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\n[kivlog-uart] dropped 1 frames\n"), std::string::npos) << run.out;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 91);

  const KivRunResult decoded =
      runKivlog({.args = {"-f", std::string(KIVLOG_SOURCE_DIR) + "/examples/firmware/kiv_log.elf"},
                 .input = run.out});
  EXPECT_EQ(decoded.status, 0);
  EXPECT_NE(decoded.out.find("\n[kivlog-uart] dropped 1 frames\n"), std::string::npos);
  EXPECT_EQ(decoded.out.find("[ERR]"), std::string::npos) << decoded.out;
}

}  // namespace

#define KIVLOG_MODULE 2
#include "kivlog/kivlog.h"
#include "sample.h"
#include "umac.h"

uint32_t umac_scan(uint32_t channel) {
  uint32_t results = 0;
  uint32_t i;
  KIVLOG(KIVLOG_INFO1, "scan started on channel %u\n", channel);
  for (i = 0; i < 3; ++i) {
    const uint32_t r = sample_random();
    const int32_t rssi = -30 - (int32_t)(r % 60u);
    sample_wait(310 + r % 97u);
    KIVLOG(KIVLOG_TRACE, "probe response from ..:%02x:%02X\n", r & 0xFFu, (r >> 8) & 0xFFu);
    KIVLOG(KIVLOG_INFO2, "rssi %+d dBm, snr % d dB\n", rssi, rssi + 95);
    if (rssi > -70) {
      ++results;
    }
  }
  KIVLOG(KIVLOG_INFO1, "scan complete, %d results in %u ms\n", results * 3u, channel * 7u);
  return results * 3u;
}

void umac_associate(uint32_t aid) {
  uint32_t state;
  for (state = 1; state < 4; ++state) {
    sample_wait(45);
    KIVLOG_CR(KIVLOG_INFO2, "assoc state %i -> %i\n", state, state + 1u);
  }
  KIVLOG(KIVLOG_DUMP, "capabilities %#x (%#o octal)\n", 0x1431u, 0x1431u);
  KIVLOG(KIVLOG_INFO1, "aid %-6u|rate %6u kbps|\n", aid, 866700u);
  KIVLOG(KIVLOG_TRACE, "seq %.5u, frag %.0u|\n", 317u, 0u);
  KIVLOG(KIVLOG_TRACE, "key %08X %-8o|\n", 0xBEEFu, 0xBEEFu);
  KIVLOG(KIVLOG_INFO2, "flags %#010x mode %#.3o\n", 0x2Au, 5u);
  KIVLOG(KIVLOG_INFO1, "rate index %5.3d|%-+5d|\n", 7, 7);
}

void umac_report_link(uint32_t round) {
  const uint32_t r = sample_random();
  KIVLOG(KIVLOG_ERROR, "beacon miss count %hu (raw %#hx)\n", 0x10000u + round, 0x10000u + round);
  KIVLOG(KIVLOG_INFO1, "tid %hhu ac %hhd\n", 0x1F8u + round, 0xF0u + round);
  KIVLOG(KIVLOG_TRACE, "tsf low %lu high %lx\n", r * 977u, round);
  if (round == 2) {
    KIVLOG(KIVLOG_CRITICAL, "watchdog fed late by %ld us\n", -120 - (int32_t)round);
  }
  KIVLOG(KIVLOG_INFO1, "link state: %c%c", 'U', round == 3 ? 'P' : 'p');
  KIVLOG(KIVLOG_INFO1, " [%3c|%-3c]\n", 'a' + round, 'z' - round);
}

#define KIVLOG_MODULE 12
#include "kivlog/kivlog.h"
#include "lmac.h"
#include "sample.h"

void lmac_receive(uint32_t frames) {
  uint32_t i;
  uint32_t dropped = 0;
  for (i = 0; i < frames; ++i) {
    const uint32_t r = sample_random();
    sample_wait(150 + r % 700u);
    KIVLOG(KIVLOG_TRACE, "rx frame len=%u rssi=%d\n", 60u + r % 1455u, -40 - (int32_t)(r % 45u));
    if (r % 3u == 0) {
      ++dropped;
    }
  }
  if (dropped > 0) {
    KIVLOG(KIVLOG_ERROR, "rx queue overflow, dropped %lu frames (%lX)\n", dropped, dropped * 255u);
  }
}

void lmac_transmit(uint32_t frames) {
  uint32_t i;
  for (i = 0; i < frames; ++i) {
    sample_wait(220);
    KIVLOG_CR(KIVLOG_INFO1, "tx done, status 0x%08x, retries %o\n", i * 0x101u, i + 7u);
  }
  KIVLOG(KIVLOG_DUMP, "tx ring head %-4X|tail %4x|\n", 0xABCu, 0x1u);
}

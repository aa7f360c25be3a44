#define KIVLOG_MODULE 13
#include "kivlog/kivlog.h"
#include "lmac.h"
#include "sample.h"

void lmac_calibrate(uint32_t chains) {
  uint32_t chain;
  uint32_t step;
  for (chain = 0; chain < chains; ++chain) {
    KIVLOG(KIVLOG_INFO1, "calibrating chain %u of %u\n", chain + 1u, chains);
    for (step = 0; step < 3; ++step) {
      sample_wait(75);
      KIVLOG(KIVLOG_INFO2, "gain step %2u -> %+3d dB\n", step, (int32_t)(step * 6u) - 4);
    }
  }
  KIVLOG_CR(KIVLOG_CRITICAL, "calibration drift on chain %u, code %#06hx\n", chains, 0xFFFF0042u);
  KIVLOG_CR(KIVLOG_INFO2, "offsets % i/% i\n", -3, 12);
}

#define KIVLOG_MODULE 3
#include "kivlog/kivlog.h"
#include "sample.h"
#include "umac.h"

void umac_roam(uint32_t candidates) {
  uint32_t i;
  KIVLOG(KIVLOG_WARNING, "link quality low, scoring %u candidates\n", candidates);
  for (i = 0; i < candidates; ++i) {
    const int32_t score = (int32_t)(sample_random() % 200u) - 100;
    sample_wait(600);
    KIVLOG(KIVLOG_INFO2, "candidate score [%*d]\n", 8, score);
    KIVLOG(KIVLOG_INFO2, "candidate bssid tail [%*x]\n", -6, 0xA0u + i);
    KIVLOG(KIVLOG_TRACE, "load %.*u%%\n", 3, 17u * (i + 1u));
  }
  KIVLOG_CR(KIVLOG_WARNING, "roam to candidate %u", candidates - 1u);
  KIVLOG_CR(KIVLOG_INFO1, ", done\n");
}

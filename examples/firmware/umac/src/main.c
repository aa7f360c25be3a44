/* The sample's UMAC firmware: scans, associates, watches the link and roams. */
#define KIVLOG_MODULE 1
#include "kivlog/kivlog.h"
#include "sample.h"
#include "umac.h"

void sample_main(void) {
  uint32_t round;
  uint32_t found;
  KIVLOG(KIVLOG_ALWAYS, "umac up, firmware %u.%u\n", 4, 4);
  KIVLOG(KIVLOG_INFO1, "no values in this line\n");
  sample_wait(120);
  found = umac_scan(1);
  found += umac_scan(6);
  umac_associate(found > 8 ? 7 : 3);
  for (round = 0; round < 4; ++round) {
    sample_wait(2000);
    umac_report_link(round);
  }
  umac_roam(3);
  KIVLOG(KIVLOG_ALWAYS, "umac done after %u us, %u%% of budget\n", sample_now, 42);
}

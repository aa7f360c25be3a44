/* The sample's LMAC firmware: calibrates its radio chains, then receives and transmits. */
#define KIVLOG_MODULE 11
#include "kivlog/kivlog.h"
#include "lmac.h"
#include "sample.h"

void sample_main(void) {
  KIVLOG(KIVLOG_ALWAYS, "lmac up, %u queues\n", 4);
  sample_wait(90);
  lmac_calibrate(2);
  lmac_receive(5);
  lmac_transmit(3);
  KIVLOG(KIVLOG_WARNING, "phy temperature %hhd C", -5);
  KIVLOG(KIVLOG_WARNING, ", throttling at %%%u%% duty\n", 50);
  lmac_receive(4);
  KIVLOG(KIVLOG_ALWAYS, "lmac idle at %u us\n", sample_now);
}

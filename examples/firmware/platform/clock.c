#include "kivlog/kivlog.h"
#include "sample.h"

uint32_t sample_now;
static uint32_t seed = 12345u;

void sample_wait(uint32_t microseconds) {
  sample_idle();
  sample_now += microseconds;
}

uint32_t sample_random(void) {
  seed = seed * 1103515245u + 12345u;
  return seed >> 8;
}

uint32_t kivlog_timestamp(void) {
  return sample_now;
}

/* The sample programs built for the host with KIVLOG_PRINTF: every statement prints the line
 * kivlog makes of its record (for a device without id, no host prefix), the message through the
 * C library's printf. This is the reference kivlog's decoding of the QEMU capture is checked
 * against. Built with -m32, so that printf sees 32-bit values as the target does. */
#include <stdio.h>

#include "kivlog/kivlog.h"
#include "sample.h"

void kivlog_printf_prefix(uint32_t log_type, unsigned level, const char* file, unsigned line) {
  static const char* const types[] = {"UMAC", "UMAC_CR", "LMAC", "LMAC_CR"};
  static const char* const levels[] = {"CRITICAL", "ERROR", "WARNING", "INFO1",
                                       "INFO2",    "TRACE", "DUMP",    "ALWAYS"};
  printf(" %10u FW_LOG [%-7s:%-7s] [%-30.30s:%5u]: ", (unsigned)kivlog_timestamp(),
         types[log_type & 3u], levels[level < 7u ? level : 7u], file, line);
}

void sample_idle(void) {}

int main(void) {
  sample_main();
  return 0;
}

/*
 * Composes the sample's raw host log of two devices from what kivlog-uart made of the cores'
 * QEMU captures, the way a driver's log interleaves them with its own lines.
 *
 *   make_raw_log LINES      LINES: kivlog-uart -t none of both captures, one after the other
 *
 * LINES holds the version line both cores' announcements gave and every record's data line. In
 * the raw log, device wlan0 runs exactly the captured images: its descriptor line announces the
 * versions the cores reported, and its data lines carry every record of both cores in time order.
 * Device wlan1 announces a different LMAC version; its descriptor line arrives after its first
 * two data lines. Host lines stand between.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kivlog_host.h"

#define MAX_RECORDS 1024
#define MAX_EVENTS 4096

struct capture {
  kivlog_version_t version;
  kivlog_record_t records[MAX_RECORDS];
  size_t count;
};

struct event {
  uint64_t host_us;
  size_t order;
  char text[512];
};

static struct event events[MAX_EVENTS];
static size_t event_count;

static void fail(const char* what, const char* path) {
  fprintf(stderr, "make_raw_log: %s: %s\n", path, what);
  exit(1);
}

/* The text of the bracketed tokens of `line`, in order, into tokens[]; returns their number. */
static size_t tokens_of(char* line, char** tokens, size_t max) {
  size_t n = 0;
  char* p = line;
  while (n < max && (p = strchr(p, '[')) != NULL) {
    char* end = strchr(p, ']');
    if (end == NULL) {
      break;
    }
    *end = '\0';
    tokens[n++] = p + 1;
    p = end + 1;
  }
  return n;
}

static void set_version(kivlog_version_t* v, char** fields) {
  char* const targets[6] = {v->field1, v->field2, v->field3, v->field4, v->field5, v->field6};
  const size_t widths[6] = {sizeof v->field1, sizeof v->field2, sizeof v->field3,
                            sizeof v->field4, sizeof v->field5, sizeof v->field6};
  size_t i;
  memset(v, 0, sizeof *v);
  for (i = 0; i < 6; ++i) {
    const size_t n = strlen(fields[i]);
    memcpy(targets[i], fields[i], n < widths[i] ? n : widths[i]);
  }
}

/* Reads kivlog-uart's lines: the version line fills both captures' versions, each data line
 * goes to the capture of its core. */
static void read_lines(const char* path, struct capture* umac, struct capture* lmac) {
  FILE* f = fopen(path, "r");
  char line[1024];
  char* tokens[16];
  int versions = 0;
  if (f == NULL) {
    fail("cannot open", path);
  }
  umac->count = 0;
  lmac->count = 0;
  while (fgets(line, sizeof line, f) != NULL) {
    const size_t n = tokens_of(line, tokens, 16);
    if (n == 15 && strcmp(tokens[0], "FW_ELF_VER") == 0) {
      set_version(&umac->version, tokens + 2);
      set_version(&lmac->version, tokens + 9);
      versions = 1;
    } else if (n == 6 && strcmp(tokens[0], "FW_LOG-R") == 0) {
      const uint32_t type = (uint32_t)strtoul(tokens[2], NULL, 10);
      struct capture* c = type >> 1 ? lmac : umac;
      kivlog_record_t* r = &c->records[c->count];
      if (c->count == MAX_RECORDS) {
        fail("too many records", path);
      }
      r->timestamp = (uint32_t)strtoul(tokens[1], NULL, 10);
      r->log_type = type;
      r->log_addr = (uint32_t)strtoul(tokens[3], NULL, 16);
      r->param0 = (uint32_t)strtoul(tokens[4], NULL, 10);
      r->param1 = (uint32_t)strtoul(tokens[5], NULL, 10);
      ++c->count;
    } else {
      fail("a line that is neither a version line nor a data line", path);
    }
  }
  fclose(f);
  if (!versions) {
    fail("no version line", path);
  }
}

static void add(uint64_t host_us, const char* text) {
  struct event* e = &events[event_count];
  if (event_count == MAX_EVENTS) {
    fail("too many lines", "raw log");
  }
  e->host_us = host_us;
  e->order = event_count++;
  snprintf(e->text, sizeof e->text, "[%5lu.%06lu] %s", (unsigned long)(host_us / 1000000u),
           (unsigned long)(host_us % 1000000u), text);
}

static void add_record(uint64_t host_us, const char* device, const kivlog_record_t* r) {
  char line[256];
  if (kivlog_host_data_line(line, sizeof line, device, r) < 0) {
    fail("record cannot be written", device);
  }
  add(host_us, line);
}

static void add_version(uint64_t host_us, const char* device, const kivlog_version_t* umac,
                        const kivlog_version_t* lmac) {
  char line[512];
  if (kivlog_host_version_line(line, sizeof line, device, umac, lmac) < 0) {
    fail("version cannot be written", device);
  }
  add(host_us, line);
}

/* Adds the records of both cores from index `first` below `end`, in time order, the host
 * receiving each a fixed latency after the firmware's time stamp; returns the host time of the
 * last one. */
static uint64_t add_device_records(const char* device, uint64_t base_us, const struct capture* umac,
                                   const struct capture* lmac, size_t first, size_t end) {
  size_t u = first;
  size_t l = first;
  uint64_t last = base_us;
  while ((u < end && u < umac->count) || (l < end && l < lmac->count)) {
    const int take_umac =
        l >= end || l >= lmac->count ||
        (u < end && u < umac->count && umac->records[u].timestamp <= lmac->records[l].timestamp);
    const kivlog_record_t* r = take_umac ? &umac->records[u++] : &lmac->records[l++];
    last = base_us + r->timestamp + (take_umac ? 41u : 57u);
    add_record(last, device, r);
  }
  return last;
}

static int by_time(const void* a, const void* b) {
  const struct event* x = (const struct event*)a;
  const struct event* y = (const struct event*)b;
  if (x->host_us != y->host_us) {
    return x->host_us < y->host_us ? -1 : 1;
  }
  return x->order < y->order ? -1 : x->order > y->order;
}

static void write_raw_log(const struct capture* umac, const struct capture* lmac) {
  const uint64_t a = 12400000u;
  const uint64_t b = 12406000u;
  kivlog_version_t other_lmac = lmac->version;
  uint64_t end;
  size_t i;

  add(0u, "Booting Linux on physical CPU 0x0");
  add(1204331u, "pci 0000:01:00.0: [1d6a:0b21] type 00 class 0x028000");
  add(3214502u, "wlan: loading firmware kiv_log.elf");
  add(12345678u, "wlan: probe of 0000:01:00.0 succeeded");
  add(12351022u, "wlan: wlan0: firmware ready");
  add_version(12351030u, "wlan0", &umac->version, &lmac->version);
  end = add_device_records("wlan0", a, umac, lmac, 0, MAX_RECORDS);
  add(a + 1500u, "wlan: wlan0: scan in progress");
  add(a + 4400u, "wlan: wlan0: connecting to \"KivNet\" (bssid 3c:84:6a:11:22:33)");
  add(a + 5100u, "wlan: wlan0: associated");
  add(a + 12000u, "wlan: wlan0: link quality low, roaming");
  add(end + 900u, "wlan: wlan0: roamed to 3c:84:6a:11:22:35");

  /* wlan1: its first two data lines come before its descriptor line. */
  add(b - 900u, "wlan: probe of 0000:02:00.0 succeeded");
  add(b - 800u, "wlan: wlan1: firmware ready");
  memset(other_lmac.field2, 0, sizeof other_lmac.field2);
  memcpy(other_lmac.field2, "4.3.9.0007", 10);
  end = add_device_records("wlan1", b, umac, lmac, 0, 1);
  add_version(end + 15u, "wlan1", &umac->version, &other_lmac);
  end = add_device_records("wlan1", b, umac, lmac, 1, 8);
  add(end + 700u, "wlan: wlan1: disconnected (reason 3)");

  qsort(events, event_count, sizeof events[0], by_time);
  for (i = 0; i < event_count; ++i) {
    printf("%s\n", events[i].text);
  }
}

static struct capture umac_capture;
static struct capture lmac_capture;

int main(int argc, char** argv) {
  if (argc == 2) {
    read_lines(argv[1], &umac_capture, &lmac_capture);
    write_raw_log(&umac_capture, &lmac_capture);
    return 0;
  }
  fprintf(stderr, "usage: make_raw_log LINES\n");
  return 2;
}

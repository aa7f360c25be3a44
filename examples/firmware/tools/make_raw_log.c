/*
 * Turns the sample's QEMU captures into host logs, the way a driver writes them.
 *
 *   make_raw_log raw UMAC.cap LMAC.cap      the raw host log of two devices (standard output)
 *   make_raw_log records CORE.cap           one core's data lines alone, for the printf check
 *
 * A capture is what a core sent through its UART: 'V' and its 111-byte version record, then 'R'
 * and a 20-byte little-endian record per log call. In the raw log, device wlan0 runs exactly the
 * captured images: its descriptor line announces the versions the cores reported, and its data
 * lines carry every record of both cores in time order. Device wlan1 announces a different LMAC
 * version; its descriptor line arrives after its first two data lines. Host lines stand between.
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

static uint32_t little_endian(const unsigned char* b) {
  return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

static void read_capture(const char* path, struct capture* c) {
  FILE* f = fopen(path, "rb");
  int tag;
  unsigned char bytes[20];
  if (f == NULL) {
    fail("cannot open", path);
  }
  if (fgetc(f) != 'V' || fread(&c->version, 1, sizeof c->version, f) != sizeof c->version) {
    fail("no version record at the start", path);
  }
  c->count = 0;
  while ((tag = fgetc(f)) != EOF) {
    kivlog_record_t* r = &c->records[c->count];
    if (tag != 'R' || fread(bytes, 1, sizeof bytes, f) != sizeof bytes) {
      fail("broken record frame", path);
    }
    if (c->count == MAX_RECORDS) {
      fail("too many records", path);
    }
    r->timestamp = little_endian(bytes);
    r->log_type = little_endian(bytes + 4);
    r->log_addr = little_endian(bytes + 8);
    r->param0 = little_endian(bytes + 12);
    r->param1 = little_endian(bytes + 16);
    ++c->count;
  }
  fclose(f);
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

static void write_records(const struct capture* c) {
  size_t i;
  char line[256];
  for (i = 0; i < c->count; ++i) {
    kivlog_host_data_line(line, sizeof line, NULL, &c->records[i]);
    printf("%s\n", line);
  }
}

static struct capture umac_capture;
static struct capture lmac_capture;

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "raw") == 0) {
    read_capture(argv[2], &umac_capture);
    read_capture(argv[3], &lmac_capture);
    write_raw_log(&umac_capture, &lmac_capture);
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "records") == 0) {
    read_capture(argv[2], &umac_capture);
    write_records(&umac_capture);
    return 0;
  }
  fprintf(stderr, "usage: make_raw_log raw UMAC.cap LMAC.cap | make_raw_log records CORE.cap\n");
  return 2;
}

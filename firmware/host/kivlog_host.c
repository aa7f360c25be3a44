#include "kivlog_host.h"

#include <stdio.h>
#include <string.h>

/* Collects a line into a caller's buffer the way snprintf does: counts every byte, stores what
 * fits, and keeps the buffer zero-terminated. */
struct kivlog_line {
  char* out;
  size_t size;
  size_t length;
};

static void put(struct kivlog_line* line, const char* text, size_t n) {
  size_t i;
  for (i = 0; i < n; ++i, ++line->length) {
    if (line->length + 1 < line->size) {
      line->out[line->length] = text[i];
    }
  }
  if (line->size > 0) {
    line->out[line->length < line->size ? line->length : line->size - 1] = '\0';
  }
}

/* Appends "[text]"; false when the text cannot stand in a token. */
static int put_token(struct kivlog_line* line, const char* prefix, const char* text, size_t n) {
  if (memchr(text, '[', n) != NULL || memchr(text, ']', n) != NULL) {
    return 0;
  }
  put(line, "[", 1);
  put(line, prefix, strlen(prefix));
  put(line, text, n);
  put(line, "]", 1);
  return 1;
}

static int put_id(struct kivlog_line* line, const char* device_id) {
  if (device_id == NULL || device_id[0] == '\0') {
    return 1;
  }
  return put_token(line, "ID:", device_id, strlen(device_id));
}

static size_t field_length(const char* field, size_t width) {
  const char* end = (const char*)memchr(field, '\0', width);
  return end != NULL ? (size_t)(end - field) : width;
}

static int put_version(struct kivlog_line* line, const char* mac, const kivlog_version_t* given) {
  static const kivlog_version_t empty;
  const kivlog_version_t* v = given != NULL ? given : &empty;
  const char* fields[6];
  const size_t widths[6] = {sizeof v->field1, sizeof v->field2, sizeof v->field3,
                            sizeof v->field4, sizeof v->field5, sizeof v->field6};
  int i;
  fields[0] = v->field1;
  fields[1] = v->field2;
  fields[2] = v->field3;
  fields[3] = v->field4;
  fields[4] = v->field5;
  fields[5] = v->field6;
  put_token(line, "", mac, strlen(mac));
  for (i = 0; i < 6; ++i) {
    if (!put_token(line, "", fields[i], field_length(fields[i], widths[i]))) {
      return 0;
    }
  }
  return 1;
}

static int finish(struct kivlog_line* line, int ok) {
  if (!ok) {
    if (line->size > 0) {
      line->out[0] = '\0';
    }
    return -1;
  }
  return (int)line->length;
}

int kivlog_host_data_line(char* out, size_t size, const char* device_id,
                          const kivlog_record_t* record) {
  struct kivlog_line line = {out, size, 0};
  char numbers[64];
  int n;
  put(&line, "[FW_LOG-R]", 10);
  if (!put_id(&line, device_id)) {
    return finish(&line, 0);
  }
  n = snprintf(numbers, sizeof numbers, "[%lu][%lu][%lx][%lu][%lu]",
               (unsigned long)record->timestamp, (unsigned long)record->log_type,
               (unsigned long)record->log_addr, (unsigned long)record->param0,
               (unsigned long)record->param1);
  put(&line, numbers, (size_t)n);
  return finish(&line, 1);
}

int kivlog_host_version_line(char* out, size_t size, const char* device_id,
                             const kivlog_version_t* umac, const kivlog_version_t* lmac) {
  struct kivlog_line line = {out, size, 0};
  put(&line, "[FW_ELF_VER]", 12);
  return finish(&line, put_id(&line, device_id) && put_version(&line, "UMAC", umac) &&
                           put_version(&line, "LMAC", lmac));
}

/* The kit's wire format: frame encoding. See kivlog_wire.h. */
#include "kivlog_wire.h"

uint32_t kivlog_wire_crc32(const uint8_t* bytes, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  size_t i;
  int bit;
  for (i = 0; i < n; ++i) {
    crc ^= bytes[i];
    for (bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return ~crc;
}

static void put32(uint8_t* out, uint32_t value) {
  out[0] = (uint8_t)value;
  out[1] = (uint8_t)(value >> 8);
  out[2] = (uint8_t)(value >> 16);
  out[3] = (uint8_t)(value >> 24);
}

/* Appends the CRC to the body of n bytes, COBS-encodes it into out and ends it with the
 * delimiter; returns the encoded length. Bodies are shorter than 254 bytes, so one code byte
 * leads each run of non-zero bytes. */
static size_t frame(uint8_t* out, uint8_t* body, size_t n) {
  size_t code_at = 0;
  size_t length = 1;
  size_t i;
  put32(body + n, kivlog_wire_crc32(body, n));
  n += 4;
  for (i = 0; i < n; ++i) {
    if (body[i] == 0) {
      out[code_at] = (uint8_t)(length - code_at);
      code_at = length++;
    } else {
      out[length++] = body[i];
    }
  }
  out[code_at] = (uint8_t)(length - code_at);
  out[length++] = 0;
  return length;
}

size_t kivlog_wire_record(uint8_t* out, const kivlog_record_t* record) {
  uint8_t body[KIVLOG_WIRE_RECORD_BODY];
  body[0] = KIVLOG_WIRE_VERSION;
  body[1] = KIVLOG_WIRE_RECORD;
  put32(body + 2, record->timestamp);
  put32(body + 6, record->log_type);
  put32(body + 10, record->log_addr);
  put32(body + 14, record->param0);
  put32(body + 18, record->param1);
  return frame(out, body, KIVLOG_WIRE_RECORD_BODY - 4u);
}

size_t kivlog_wire_announce(uint8_t* out, uint32_t core, uint32_t cores,
                            const kivlog_version_t* version) {
  uint8_t body[KIVLOG_WIRE_ANNOUNCE_BODY];
  const uint8_t* v = (const uint8_t*)version;
  size_t i;
  body[0] = KIVLOG_WIRE_VERSION;
  body[1] = KIVLOG_WIRE_ANNOUNCE;
  body[2] = (uint8_t)core;
  body[3] = (uint8_t)cores;
  for (i = 0; i < sizeof *version; ++i) {
    body[4 + i] = v[i];
  }
  out[0] = 0;
  return 1u + frame(out + 1, body, KIVLOG_WIRE_ANNOUNCE_BODY - 4u);
}

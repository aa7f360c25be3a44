/*
 * kivlog_wire.h: the kit's wire format, how a firmware sends its records and its version
 * announcement to the host over a byte stream (a UART), so that a reader can join a running
 * stream and resynchronise after lost, inserted or corrupted bytes. kivlog-uart reads it and
 * writes the host log lines kivlog decodes. C99, freestanding (no C library).
 *
 * A frame is a body encoded with COBS (consistent overhead byte stuffing: no zero byte inside)
 * and followed by one zero byte, the delimiter. The body, all numbers little-endian:
 *
 *   offset 0  1 byte   wire format version, KIVLOG_WIRE_VERSION (1)
 *   offset 1  1 byte   frame type: 'R' a record, 'V' a version announcement
 *   offset 2           the payload:
 *                        'R': timestamp, log_type, log_addr, param0, param1, 4 bytes each (20)
 *                        'V': the core announced (0 UMAC, 1 LMAC), the image's number of cores
 *                             (1 or 2), and that core's 111-byte version record (113)
 *   then      4 bytes  CRC-32 (the IEEE polynomial, reflected, as zlib computes it) of the
 *                      version, type and payload bytes
 *
 * A record frame is 28 bytes on the wire, an announcement 122 (it starts with a delimiter of
 * its own, so that a reader that joined mid-frame is in step again at the announcement). A
 * reader drops a frame whose length, CRC, version or type is wrong and counts it. A firmware
 * sends its announcement at start and may repeat it at any time (say, when the host opens the
 * port); the host writes its version line once every core of the image has announced itself.
 */
#ifndef KIVLOG_WIRE_H
#define KIVLOG_WIRE_H

#include <stddef.h>
#include <stdint.h>

#include "kivlog/kivlog.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KIVLOG_WIRE_VERSION 1u
#define KIVLOG_WIRE_RECORD 'R'
#define KIVLOG_WIRE_ANNOUNCE 'V'

/* Body sizes, CRC included, and the room an encoded frame needs (delimiters included). */
#define KIVLOG_WIRE_RECORD_BODY (2u + 20u + 4u)
#define KIVLOG_WIRE_ANNOUNCE_BODY (2u + 2u + 111u + 4u)
#define KIVLOG_WIRE_RECORD_FRAME (KIVLOG_WIRE_RECORD_BODY + 2u)
#define KIVLOG_WIRE_ANNOUNCE_FRAME (KIVLOG_WIRE_ANNOUNCE_BODY + 3u)

/* Writes the frame of one record into out (room for KIVLOG_WIRE_RECORD_FRAME bytes); returns
 * its length. Reentrant: it touches nothing but its arguments. */
size_t kivlog_wire_record(uint8_t* out, const kivlog_record_t* record);

/* Writes the announcement of one core's version (core 0 UMAC or 1 LMAC; cores, the image's
 * number of cores, 1 for a one-core image) into out (room for KIVLOG_WIRE_ANNOUNCE_FRAME bytes);
 * returns its length. */
size_t kivlog_wire_announce(uint8_t* out, uint32_t core, uint32_t cores,
                            const kivlog_version_t* version);

/* CRC-32 of n bytes, as the frames carry it. */
uint32_t kivlog_wire_crc32(const uint8_t* bytes, size_t n);

#ifdef __cplusplus
}
#endif

#endif /* KIVLOG_WIRE_H */

/*
 * kivlog_ring.h: a lock-free ring of records between kivlog_transport and the UART. Statements
 * may run in any context, threads and interrupt handlers alike, at once: kivlog_ring_put never
 * blocks, never takes a lock and never waits for the UART; one consumer (the UART's transmit
 * interrupt, or an idle task) takes the records out in order and sends their frames.
 *
 *   static kivlog_ring_cell_t cells[64];
 *   static kivlog_ring_t ring;
 *   kivlog_ring_init(&ring, cells, 64);                       once, before the first statement
 *   void kivlog_transport(const kivlog_record_t* r) { kivlog_ring_put(&ring, r); }
 *   ... in the consumer: while (kivlog_ring_take(&ring, &r)) { send kivlog_wire_record(...) }
 *
 * A full ring drops the record and counts it in `dropped` (the host then sees a gap in the time
 * stamps, not a stall in the firmware). The producers are lock-free through compare-and-swap
 * (GCC's and Clang's __atomic built-ins: exclusive loads and stores on a Cortex-M3 or later; a
 * core without them, such as a Cortex-M0, needs the built-ins' library or a put inside a short
 * interrupt-disabled section). C99.
 */
#ifndef KIVLOG_RING_H
#define KIVLOG_RING_H

#include <stdint.h>

#include "kivlog/kivlog.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct kivlog_ring_cell {
  uint32_t sequence;
  kivlog_record_t record;
} kivlog_ring_cell_t;

typedef struct kivlog_ring {
  kivlog_ring_cell_t* cells;
  uint32_t mask;
  uint32_t head;    /* next cell a producer claims */
  uint32_t tail;    /* next cell the consumer takes */
  uint32_t dropped; /* records a full ring refused */
} kivlog_ring_t;

/* count: a power of two, at least 2. */
void kivlog_ring_init(kivlog_ring_t* ring, kivlog_ring_cell_t* cells, uint32_t count);

/* Any context. Returns 1, or 0 when the ring was full (the record is dropped and counted). */
int kivlog_ring_put(kivlog_ring_t* ring, const kivlog_record_t* record);

/* The one consumer. Returns 1 with the oldest record in *out, or 0 when there is none yet (a
 * producer interrupted between claiming its cell and filling it holds back the records after
 * it until it resumes). */
int kivlog_ring_take(kivlog_ring_t* ring, kivlog_record_t* out);

#ifdef __cplusplus
}
#endif

#endif /* KIVLOG_RING_H */

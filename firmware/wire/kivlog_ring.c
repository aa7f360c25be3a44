/* The lock-free record ring: a bounded queue in which each cell's sequence number tells whose
 * turn it is. A producer claims cell `head` by compare-and-swap when its sequence equals head,
 * fills it and publishes it with sequence head + 1; the consumer takes cell `tail` when its
 * sequence is tail + 1 and hands it back to the producers with sequence tail + count. */
#include "kivlog_ring.h"

void kivlog_ring_init(kivlog_ring_t* ring, kivlog_ring_cell_t* cells, uint32_t count) {
  uint32_t i;
  for (i = 0; i < count; ++i) {
    cells[i].sequence = i;
  }
  ring->cells = cells;
  ring->mask = count - 1u;
  ring->head = 0;
  ring->tail = 0;
  ring->dropped = 0;
}

int kivlog_ring_put(kivlog_ring_t* ring, const kivlog_record_t* record) {
  uint32_t head = __atomic_load_n(&ring->head, __ATOMIC_RELAXED);
  for (;;) {
    kivlog_ring_cell_t* cell = &ring->cells[head & ring->mask];
    const int32_t turn = (int32_t)(__atomic_load_n(&cell->sequence, __ATOMIC_ACQUIRE) - head);
    if (turn == 0) {
      if (__atomic_compare_exchange_n(&ring->head, &head, head + 1u, 1, __ATOMIC_RELAXED,
                                      __ATOMIC_RELAXED)) {
        cell->record = *record;
        __atomic_store_n(&cell->sequence, head + 1u, __ATOMIC_RELEASE);
        return 1;
      }
    } else if (turn < 0) {
      __atomic_fetch_add(&ring->dropped, 1u, __ATOMIC_RELAXED);
      return 0;
    } else {
      head = __atomic_load_n(&ring->head, __ATOMIC_RELAXED);
    }
  }
}

int kivlog_ring_take(kivlog_ring_t* ring, kivlog_record_t* out) {
  const uint32_t tail = ring->tail;
  kivlog_ring_cell_t* cell = &ring->cells[tail & ring->mask];
  if (__atomic_load_n(&cell->sequence, __ATOMIC_ACQUIRE) != tail + 1u) {
    return 0;
  }
  *out = cell->record;
  ring->tail = tail + 1u;
  __atomic_store_n(&cell->sequence, tail + ring->mask + 1u, __ATOMIC_RELEASE);
  return 1;
}

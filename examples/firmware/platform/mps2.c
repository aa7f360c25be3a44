/* Start-up and record transport of the sample on QEMU's MPS2-AN385 board (Cortex-M3). The
 * records leave through the CMSDK UART at 0x40004000 in the kit's wire format: the core's
 * version announcement at boot, then a frame per record. Statements put their records in the
 * kit's lock-free ring; the UART drains it whenever the program waits (sample_idle) and at the
 * end. The program ends through semihosting, so that QEMU exits. */
#include <stddef.h>
#include <stdint.h>

#include "kivlog/kivlog.h"
#include "kivlog_ring.h"
#include "kivlog_wire.h"
#include "sample.h"

#define UART_DATA (*(volatile uint32_t*)0x40004000u)
#define UART_STATE (*(volatile uint32_t*)0x40004004u)
#define UART_CTRL (*(volatile uint32_t*)0x40004008u)
#define UART_BAUDDIV (*(volatile uint32_t*)0x40004010u)
#define UART_STATE_TX_FULL 1u
#define UART_CTRL_TX_ENABLE 1u

#define SEMIHOSTING_SYS_EXIT 0x18u
#define SEMIHOSTING_APPLICATION_EXIT 0x20026u
#define SEMIHOSTING_RUNTIME_ERROR 0x20023u

extern uint32_t __data_load[], __data_start[], __data_end[], __bss_start[], __bss_end[];
extern uint32_t __stack_top[];

void* memcpy(void* dest, const void* src, size_t n);
void* memset(void* dest, int c, size_t n);

void* memcpy(void* dest, const void* src, size_t n) {
  unsigned char* d = (unsigned char*)dest;
  const unsigned char* s = (const unsigned char*)src;
  while (n-- > 0) {
    *d++ = *s++;
  }
  return dest;
}

void* memset(void* dest, int c, size_t n) {
  unsigned char* d = (unsigned char*)dest;
  while (n-- > 0) {
    *d++ = (unsigned char)c;
  }
  return dest;
}

static void uart_write(const void* bytes, size_t n) {
  const unsigned char* b = (const unsigned char*)bytes;
  while (n-- > 0) {
    while ((UART_STATE & UART_STATE_TX_FULL) != 0) {
    }
    UART_DATA = *b++;
  }
}

#define RING_CELLS 32u
static kivlog_ring_cell_t ring_cells[RING_CELLS];
static kivlog_ring_t ring;

void kivlog_transport(const kivlog_record_t* record) {
  kivlog_ring_put(&ring, record);
}

void sample_idle(void) {
  kivlog_record_t record;
  uint8_t frame[KIVLOG_WIRE_RECORD_FRAME];
  while (kivlog_ring_take(&ring, &record)) {
    uart_write(frame, kivlog_wire_record(frame, &record));
  }
}

static void semihosting_exit(uint32_t reason) {
  register uint32_t operation __asm__("r0") = SEMIHOSTING_SYS_EXIT;
  register uint32_t argument __asm__("r1") = reason;
  __asm__ volatile("bkpt 0xab" : : "r"(operation), "r"(argument) : "memory");
  for (;;) {
  }
}

static void reset_handler(void) {
  uint32_t* d = __data_start;
  const uint32_t* s = __data_load;
  while (d < __data_end) {
    *d++ = *s++;
  }
  for (d = __bss_start; d < __bss_end; ++d) {
    *d = 0;
  }
  UART_BAUDDIV = 16;
  UART_CTRL = UART_CTRL_TX_ENABLE;
  kivlog_ring_init(&ring, ring_cells, RING_CELLS);
  {
    uint8_t frame[KIVLOG_WIRE_ANNOUNCE_FRAME];
    uart_write(frame,
               kivlog_wire_announce(frame, KIVLOG_CORE, kivlog_image_cores, &kivlog_version));
  }
  sample_main();
  sample_idle();
  semihosting_exit(ring.dropped == 0 ? SEMIHOSTING_APPLICATION_EXIT : SEMIHOSTING_RUNTIME_ERROR);
}

static void fault_handler(void) {
  semihosting_exit(SEMIHOSTING_RUNTIME_ERROR);
}

typedef union {
  void (*handler)(void);
  const void* stack;
} vector_t;

__attribute__((section(".vectors"), used)) const vector_t sample_vectors[16] = {
    {.stack = __stack_top},
    {.handler = reset_handler},
    {.handler = fault_handler},
    {.handler = fault_handler},
    {.handler = fault_handler},
    {.handler = fault_handler},
    {.handler = fault_handler},
    {.handler = 0},
    {.handler = 0},
    {.handler = 0},
    {.handler = 0},
    {.handler = fault_handler},
    {.handler = fault_handler},
    {.handler = 0},
    {.handler = fault_handler},
    {.handler = fault_handler},
};

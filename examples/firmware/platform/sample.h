/* What the sample programs share: a virtual clock that makes every run log the same records,
 * and a pseudo-random source for values. */
#ifndef SAMPLE_H
#define SAMPLE_H

#include <stdint.h>

/* Microseconds since boot; only sample_wait moves it. Waiting is when the platform does its
 * background work (sample_idle): on the target, the UART sends the records logged so far. */
extern uint32_t sample_now;
void sample_wait(uint32_t microseconds);
void sample_idle(void);
/* A fixed sequence of pseudo-random numbers. */
uint32_t sample_random(void);

/* The program: the UMAC or the LMAC firmware's work, run once from boot. */
void sample_main(void);

#endif

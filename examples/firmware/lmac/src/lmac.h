#ifndef LMAC_H
#define LMAC_H

#include <stdint.h>

void lmac_receive(uint32_t frames);
void lmac_transmit(uint32_t frames);
void lmac_calibrate(uint32_t chains);

#endif

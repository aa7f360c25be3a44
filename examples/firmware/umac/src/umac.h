#ifndef UMAC_H
#define UMAC_H

#include <stdint.h>

uint32_t umac_scan(uint32_t channel);
void umac_associate(uint32_t aid);
void umac_roam(uint32_t candidates);
void umac_report_link(uint32_t round);

#endif

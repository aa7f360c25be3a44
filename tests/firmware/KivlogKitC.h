#pragma once

// The C side of the kit's tests: KivlogKitC.c builds the kit's header as C99 and defines an
// image and a statement with it.
#include <cstddef>

#include "kivlog/kivlog.h"

extern "C" {
// Sizes and offsets of the kit's records as the C compiler lays them out, in the order of
// kivlogKitLayoutNames in the test.
extern const size_t kivlogKitCLayout[];
extern const size_t kivlogKitCLayoutCount;

// The last record handed to the transport, and the time stamp the next one gets.
extern kivlog_record_t kivlogKitLastRecord;
extern uint32_t kivlogKitNow;

// Runs one KIVLOG_CR statement with the two values, as the UMAC.
void kivlogKitLogFromC(uint32_t param0, uint32_t param1);
}

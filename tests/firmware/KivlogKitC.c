/* The kit's header built as C99: layout facts, an image and a statement. */
#include <stddef.h>

#define KIVLOG_CORE 0
#include "kivlog/kivlog.h"

KIVLOG_DEFINE_IMAGE(KIVLOG_SIGNATURE_UMAC, "KIV-UMAC", "4.4.0.0031", "sample build", "release",
                    "full16charsfield", "x");

const size_t kivlogKitCLayout[] = {
    sizeof(kivlog_desc_t),
    offsetof(kivlog_desc_t, pFormattedString),
    offsetof(kivlog_desc_t, module),
    offsetof(kivlog_desc_t, line),
    offsetof(kivlog_desc_t, pFileName),
    offsetof(kivlog_desc_t, level),
    offsetof(kivlog_desc_t, reserved),
    sizeof(kivlog_signature_t),
    offsetof(kivlog_signature_t, baseAddress),
    offsetof(kivlog_signature_t, versionAddress),
    sizeof(kivlog_version_t),
    offsetof(kivlog_version_t, field2),
    offsetof(kivlog_version_t, field3),
    offsetof(kivlog_version_t, field4),
    offsetof(kivlog_version_t, field5),
    offsetof(kivlog_version_t, field6),
    sizeof(kivlog_record_t),
};
const size_t kivlogKitCLayoutCount = sizeof kivlogKitCLayout / sizeof kivlogKitCLayout[0];

kivlog_record_t kivlogKitLastRecord;
uint32_t kivlogKitNow;

uint32_t kivlog_timestamp(void) {
  return kivlogKitNow;
}

void kivlog_transport(const kivlog_record_t* record) {
  kivlogKitLastRecord = *record;
}

void kivlogKitLogFromC(uint32_t param0, uint32_t param1) {
  KIVLOG_CR(KIVLOG_WARNING, "value %u, then %x\n", param0, param1);
}

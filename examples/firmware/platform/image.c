/* The image's signature block, version record and record function. The build gives the core's
 * version.h folder and the signature: one per core for the combined file, the single one for
 * a file per core. */
#include "kivlog/kivlog.h"
#include "version.h"

/* Expands SAMPLE_VERSION into its six fields before KIVLOG_DEFINE_IMAGE counts its arguments. */
#define SAMPLE_DEFINE_IMAGE(...) KIVLOG_DEFINE_IMAGE(__VA_ARGS__)

SAMPLE_DEFINE_IMAGE(SAMPLE_SIGNATURE, SAMPLE_VERSION);

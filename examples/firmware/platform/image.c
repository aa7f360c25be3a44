/* The image's signature block, version record and record function. The build gives the core's
 * version.h folder and the signature: one per core for the combined file, the single one for
 * a file per core; SAMPLE_ONE_CORE makes the one-core image of the UMAC program. */
#include "kivlog/kivlog.h"
#include "version.h"

/* Expands SAMPLE_VERSION into its six fields before the kit's macro counts its arguments. */
#define SAMPLE_DEFINE_IMAGE(...) KIVLOG_DEFINE_IMAGE(__VA_ARGS__)
#define SAMPLE_DEFINE_ONE_CORE_IMAGE(...) KIVLOG_DEFINE_ONE_CORE_IMAGE(__VA_ARGS__)

#ifdef SAMPLE_ONE_CORE
SAMPLE_DEFINE_ONE_CORE_IMAGE(SAMPLE_VERSION);
#else
SAMPLE_DEFINE_IMAGE(SAMPLE_SIGNATURE, SAMPLE_VERSION);
#endif

/* The UMAC image's version fields, as a release build would set them. */
#define SAMPLE_VERSION "KIV-UMAC", "4.4.0.0031", "sample build", "release", "g0kivlog", "mps2-an385"

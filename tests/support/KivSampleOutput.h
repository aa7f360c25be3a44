#pragma once

#include <string>
#include <string_view>

#include "support/KivSampleFirmware.h"

// What the tool prints about the standard test firmware of KivSampleFirmware.h, shared by the
// tests that expect it byte for byte.
namespace kivsample {

// The -v 3 trace of loading the two images; the legacy files give the same trace under their own
// signature.
std::string loadTrace(std::string_view umacSignature = kUmacSignature,
                      std::string_view lmacSignature = kLmacSignature);

// The version texts of the two images' records.
inline const std::string kUmacText =
    "KIV-UMAC.4.3.1.2207 Mar 20 2026 14:02:11 release g7c1e9a0 prod";
inline const std::string kLmacText =
    "LMAC-FW-7.2.015.4.3.1.2207 Mar 20 2026 14:03:40 release g7c1e9a0 prod";
// The images' part of the processing report, ending in its empty line.
inline const std::string kImageReport =
    "[UMAC]\n"
    "    Data Offset=100 Base Address=20000000 Version Address=20000200\n"
    "    VERSION " +
    kUmacText +
    "\n"
    "[LMAC]\n"
    "    Data Offset=1000 Base Address=400000 Version Address=400300\n"
    "    VERSION " +
    kLmacText + "\n\n";
// A device's version lines when it announced the images' versions, or otherLmacVersion().
inline const std::string kCompatible = "    UMAC COMPATIBLE version " + kUmacText +
                                       "\n    LMAC COMPATIBLE version " + kLmacText + "\n\n";
inline const std::string kIncompatible =
    "    UMAC *INCOMPATIBLE* version " + kUmacText +
    "\n    LMAC *INCOMPATIBLE* version LMAC-FW-7.2.015.4.3.0.2150 Mar 20 2026 14:03:40 release "
    "g7c1e9a0 prod\n\n";
// A device's version line when it announced no version.
inline const std::string kUnversioned = "    UMAC    LMAC\n";

std::string usingBlock(std::string_view input, std::string_view output,
                       std::string_view images = "  KIV_LOG ELF kiv_log.elf\n");
// The seven counter lines of one device, in report order.
std::string counters(unsigned lineStart, unsigned lineEnd, unsigned skipped, unsigned processed,
                     unsigned mismatch, unsigned unknown, unsigned errors);
std::string unknownWarning(unsigned lines);
std::string mismatchError(unsigned lines);

}  // namespace kivsample

#include "support/KivSampleOutput.h"

namespace kivsample {
namespace {

const std::string kZeroRow =
    "    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00     ................\n";

std::string signatureTrace(std::string_view signature, const std::string& found,
                           const std::string& addressRow, const std::string& addresses,
                           const std::string& versionOffset) {
  std::string trace = "[DBG] Searching for signature \"" + std::string(signature) +
                      "\"\n[DBG] Found signature at " + found +
                      "\n[DBG] Reading additional 127 bytes of signature struct\n"
                      "[DBG] SIGNATURE:(143 bytes)\n" +
                      kZeroRow + addressRow;
  for (int i = 0; i < 6; ++i) {
    trace += kZeroRow;
  }
  return trace +
         "    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00        ...............\n"
         "[DBG] Got " +
         addresses + "\n[DBG] Version read from offset " + versionOffset + "\n";
}

}  // namespace

std::string loadTrace(std::string_view umacSignature, std::string_view lmacSignature) {
  return signatureTrace(
             umacSignature, "110",
             "    00 00 00 20 00 02 00 20 00 00 00 00 00 00 00 00     ... ... ........\n",
             "baseAddress 20000000 versionAddress 20000200 dataOffset 100 pos 10F", "300") +
         signatureTrace(
             lmacSignature, "1010",
             "    00 00 40 00 00 03 40 00 00 00 00 00 00 00 00 00     ..@...@.........\n",
             "baseAddress 400000 versionAddress 400300 dataOffset 1000 pos 100F", "1300");
}

std::string usingBlock(std::string_view input, std::string_view output, std::string_view images) {
  return "\n\nUsing:\n" + std::string(images) + "  Input    " + std::string(input) +
         "\n  Output   " + std::string(output) + "\n";
}

std::string counters(unsigned lineStart, unsigned lineEnd, unsigned skipped, unsigned processed,
                     unsigned mismatch, unsigned unknown, unsigned errors) {
  auto row = [](const char* label, unsigned value) {
    return "    " + std::string(label) + std::to_string(value) + "\n";
  };
  return row("Line Start:       ", lineStart) + row("Line End:         ", lineEnd) +
         row("Skipped:          ", skipped) + row("Processed:        ", processed) +
         row("Version mismatch: ", mismatch) + row("Version Unknown:  ", unknown) +
         row("Errors:           ", errors);
}

std::string unknownWarning(unsigned lines) {
  return "*** WARNING: " + std::to_string(lines) + " lines processed with unknown ELF version\n";
}

std::string mismatchError(unsigned lines) {
  return "*** ERROR: " + std::to_string(lines) + " lines processed with mismatched ELF version\n";
}

}  // namespace kivsample

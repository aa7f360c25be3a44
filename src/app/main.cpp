// kivlog: decodes the firmware log records of a raw host log against the firmware images.
#include <unistd.h>

#include <iostream>
#include <string>

#include "app/KivCommandLine.h"
#include "app/KivUsage.h"
#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "support/KivDebugLog.h"
#include "support/KivOutput.h"

namespace {

void printUsingBlock(const KivOptions& options) {
  std::cout << "\n\nUsing:\n";
  if (options.legacyMode) {
    std::cout << "  LMAC ELF " << options.lmacPath << '\n'
              << "  UMAC ELF " << options.umacPath << '\n';
  } else {
    std::cout << "  KIV_LOG ELF " << options.combinedPath << '\n';
  }
  std::cout << "  Input    " << options.inputFile.value_or("stdin") << '\n'
            << "  Output   " << options.outputFolder.value_or("stdout") << '\n';
}

int run(int argc, char** argv) {
  KivLogMetadata umac;
  KivLogMetadata lmac;
  KivLogProcessor processor;

  KivFrontEnd frontEnd;
  if (const std::optional<int> status = readFrontEnd(argc, argv, std::cout, std::cerr, frontEnd)) {
    return *status;
  }
  const KivOptions& options = frontEnd.commandLine.options;

  setDebugLevel(options.debugLevel);
  debugLog(kLogDebug, "Debug level is set %d", options.debugLevel);
  processor.strict = options.strict;

  // Nothing can be decoded without both images; scripts see that in the exit status.
  if (!umac.load(frontEnd.umacPath, options.umacSignature) ||
      !lmac.load(frontEnd.lmacPath, options.lmacSignature)) {
    return 1;
  }
  processor.setUmacMetadata(&umac);
  processor.setLmacMetadata(&lmac);

  if (options.outputFolder && !processor.openOutputFolder(*options.outputFolder)) {
    debugLog(kLogInfo, "Directory %s is not available. Output is sent to stdout by default",
             options.outputFolder->c_str());
  }
  const bool processed =
      options.inputFile ? processor.processFile(*options.inputFile) : processor.processStdin();
  if (options.report) {
    printUsingBlock(options);
  }
  processor.printReport(std::cout, options.report);
  return processed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // Standard output goes through the tool's own buffer: the decoded log, the diagnostics and the
  // report share it, in the order they are written.
  KivOutput standardOutput(STDOUT_FILENO, "standard output");
  std::streambuf* const original = std::cout.rdbuf(&standardOutput);
  const int status = run(argc, argv);
  std::cout.flush();
  std::cout.rdbuf(original);
  return status;
}

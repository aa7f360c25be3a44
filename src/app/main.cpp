// kivlog: decodes the firmware log records of a raw host log against the firmware images.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "app/KivCommandLine.h"
#include "app/KivUsage.h"
#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "support/KivDebugLog.h"
#include "support/KivInterrupt.h"
#include "support/KivJson.h"
#include "support/KivOutput.h"
#include "support/KivProgress.h"
#include "support/KivStderr.h"

namespace {

void printUsingBlock(const KivOptions& options, KivFirmwareLibrary* library) {
  std::cout << "\n\nUsing:\n";
  if (options.legacyMode) {
    std::cout << "  LMAC ELF " << options.lmacPath << '\n'
              << "  UMAC ELF " << options.umacPath << '\n';
  } else {
    std::cout << "  KIV_LOG ELF " << options.combinedPath << '\n';
  }
  if (library != nullptr) {
    const std::size_t builds = library->size();
    std::cout << "  Library  " << library->folder() << " (" << builds << " builds)\n";
  }
  std::cout << "  Input    " << options.inputFile.value_or("stdin") << '\n'
            << "  Output   " << options.outputFolder.value_or("stdout") << '\n';
}

// The "Using:" block's content as the JSON report's "using" object.
std::string usingObject(const KivOptions& options, KivFirmwareLibrary* library) {
  std::string text;
  KivJsonObject object(text);
  if (options.legacyMode) {
    object.text("mode", "legacy")
        .text("lmac_elf", options.lmacPath)
        .text("umac_elf", options.umacPath);
  } else {
    object.text("mode", "combined").text("kiv_log_elf", options.combinedPath);
  }
  if (library != nullptr) {
    std::string folder;
    KivJsonObject(folder).text("folder", library->folder()).number("builds", library->size()).end();
    object.json("library", folder);
  }
  object.text("input", options.inputFile.value_or("stdin"))
      .text("output", options.outputFolder.value_or("stdout"))
      .end();
  return text;
}

// The program name, for messages written while outputs are being flushed.
std::string programName;
// The progress line, erased before anything else goes to standard error.
KivProgress* shownProgress = nullptr;

// Standard output, while it carries the decoded log.
const KivOutput* decodedLogOutput = nullptr;

// A write that failed is said once per output; the run goes on and ends with status 1. A reader
// of the decoded log that has gone ends the run as the end of the input would: nobody reads what
// would follow.
void reportFailedWrite(const KivOutput& output) {
  writeToStderr(programName + ": cannot write " + output.name() + ": " +
                std::strerror(output.error()) + '\n');
  if (&output == decodedLogOutput && output.error() == EPIPE) {
    KivInterrupt::request(0);
  }
}

// The identity of the regular file at `path`. Looked up by name: opening a FIFO here would wake
// and then leave a writer waiting for its reader.
bool regularFileIdentity(const std::string& path, KivOutput::Identity& identity) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  identity = {info.st_dev, info.st_ino};
  return true;
}

// A descriptor 0, 1 or 2 that the caller left closed would be taken by the first file opened,
// and an image would be read as the raw log, or the main log written to as standard output.
void openMissingStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int opened = ::open("/dev/null", O_RDWR);
      if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
      }
    }
  }
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

  // An input that is also an output would be truncated, or read while it grows without end.
  KivOutput::Identity input;
  const bool inputIsFile = options.inputFile ? regularFileIdentity(*options.inputFile, input)
                                             : KivOutput::regularFileIdentity(STDIN_FILENO, input);
  const std::string inputName = options.inputFile.value_or("standard input");
  KivOutput::Identity output;
  if (inputIsFile && KivOutput::regularFileIdentity(STDOUT_FILENO, output) && output == input) {
    writeToStderr(programName + ": input file " + inputName + " is also an output\n");
    return 1;
  }
  if (inputIsFile) {
    processor.inputIdentity = input;
  }

  jsonOutput = options.json;
  setDebugLevel(options.debugLevel);
  debugLog(kLogDebug, "Debug level is set %d", options.debugLevel);
  processor.strict = options.strict;
  processor.follow = options.follow;

  // Nothing can be decoded without both images; scripts see that in the exit status.
  if (!umac.load(frontEnd.umacPath, options.umacSignature) ||
      !lmac.load(frontEnd.lmacPath, options.lmacSignature)) {
    return 1;
  }
  processor.setUmacMetadata(&umac);
  processor.setLmacMetadata(&lmac);
  std::optional<KivFirmwareLibrary> library;
  if (options.libraryFolder) {
    library.emplace(*options.libraryFolder, options.libraryUmacSignature,
                    options.libraryLmacSignature);
    processor.library = &*library;
  }

  KivProgress progress(frontEnd.program);
  processor.progress = &progress;
  shownProgress = &progress;
  if (options.outputFolder && !processor.openOutputFolder(*options.outputFolder)) {
    if (const auto refusal = processor.outputRefusal()) {
      writeToStderr(programName + (*refusal == KivOutput::Refusal::kIsInput
                                       ? ": input file " + inputName + " is also an output\n"
                                       : ": output folder " + *options.outputFolder +
                                             " is in use by another run\n"));
      return 1;
    }
    debugLog(kLogInfo, "Directory %s is not available. Output is sent to stdout by default",
             options.outputFolder->c_str());
  }
  if (processor.mainIsStdout) {
    decodedLogOutput = dynamic_cast<const KivOutput*>(std::cout.rdbuf());
  }
  bool processed =
      options.inputFile ? processor.processFile(*options.inputFile) : processor.processStdin();
  shownProgress = nullptr;
  if (const std::string& reason = processor.readError(); !reason.empty()) {
    writeToStderr(programName + ": cannot read " + inputName + ": " + reason + '\n');
    processed = false;
  }
  KivFirmwareLibrary* const usedLibrary = library ? &*library : nullptr;
  if (options.json) {
    if (options.report) {
      processor.printJsonReport(std::cout, usingObject(options, usedLibrary));
    }
    processor.printReport(std::cout, false);
  } else {
    if (options.report) {
      printUsingBlock(options, usedLibrary);
    }
    processor.printReport(std::cout, options.report);
  }
  return processed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  openMissingStandardStreams();
  // A file-size limit makes the failing write fail with EFBIG, reported like any other.
  std::signal(SIGXFSZ, SIG_IGN);
  KivInterrupt::install();
  std::ios::sync_with_stdio(false);
  programName = programNameFrom(argc > 0 ? argv[0] : "kivlog");
  // Standard output goes through the tool's own buffer: the decoded log, the diagnostics and the
  // report share it, in the order they are written.
  KivOutput standardOutput(STDOUT_FILENO, "standard output");
  std::streambuf* const original = std::cout.rdbuf(&standardOutput);
  KivOutput::setFailureHook(reportFailedWrite);
  setStderrPrelude([] {
    std::cout.flush();
    if (shownProgress != nullptr) {
      shownProgress->erase();
    }
  });
  int status = run(argc, argv);
  std::cout.flush();
  if (KivOutput::failureCount() > 0) {
    status = 1;
  }
  if (KivInterrupt::signal() != 0) {
    status = 128 + KivInterrupt::signal();
  }
  setStderrPrelude(nullptr);
  KivOutput::setFailureHook(nullptr);
  std::cout.rdbuf(original);
  return status;
}

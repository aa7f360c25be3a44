#include "app/KivMain.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "app/KivCommandLine.h"
#include "app/KivUsage.h"
#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"
#include "output/KivColourTextWriter.h"
#include "output/KivEventFilter.h"
#include "output/KivJsonLinesWriter.h"
#include "output/KivTextWriter.h"
#include "output/KivWriterStack.h"
#include "processor/KivLogProcessor.h"
#include "processor/KivParallelDecoder.h"
#include "support/KivDebugLog.h"
#include "support/KivInterrupt.h"
#include "support/KivOutput.h"
#include "support/KivProgress.h"
#include "support/KivStderr.h"

namespace {

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

constexpr std::size_t kMaxWorkers = 256;

// The cores this process may run on.
std::size_t availableCores() {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  if (::sched_getaffinity(0, sizeof cores, &cores) != 0) {
    return 1;
  }
  return static_cast<std::size_t>(std::max(1, CPU_COUNT(&cores)));
}

// Whether --color asks for colour. Left to itself, colour is for a terminal on standard output that
// is known to understand it: TERM names one, not "dumb", and NO_COLOR is not set at all.
bool colourWanted(KivColourMode mode) {
  if (mode != KivColourMode::kAuto) {
    return mode == KivColourMode::kAlways;
  }
  const char* term = std::getenv("TERM");
  return ::isatty(STDOUT_FILENO) == 1 && term != nullptr && *term != '\0' &&
         std::strcmp(term, "dumb") != 0 && std::getenv("NO_COLOR") == nullptr;
}

// The writer of the form the options ask for, writing to `console`, with colour when `colour`
// says so, and the filters in front of it when there are any.
KivWriterStack makeWriters(const KivOptions& options, std::ostream& console,
                           KivRunReport::Warning warning, bool colour) {
  KivWriterStack stack;
  if (options.json) {
    stack.writer = std::make_unique<KivJsonLinesWriter>(console, std::move(warning));
  } else if (colour) {
    stack.writer = std::make_unique<KivColourTextWriter>(console, std::move(warning));
  } else {
    stack.writer = std::make_unique<KivTextWriter>(console, std::move(warning));
  }
  if (options.filters.any()) {
    stack.front = std::make_unique<KivEventFilter>(options.filters, *stack.writer);
  }
  return stack;
}

int run(int argc, char** argv) {
  KivFrontEnd frontEnd;
  if (const std::optional<int> status = readFrontEnd(argc, argv, std::cout, std::cerr, frontEnd)) {
    return *status;
  }
  const KivOptions& options = frontEnd.commandLine.options;

  // Everything the run writes goes through one writer, in the form the options ask for; the
  // report's warning lines go to standard error.
  auto warning = [](std::string_view line) { writeToStderr(std::string(line) + '\n'); };
  const bool colour = !options.json && colourWanted(options.colour);
  const KivWriterStack writers = makeWriters(options, std::cout, warning, colour);
  KivLogWriter* const writer = writers.writer.get();
  auto* const colourWriter = colour ? static_cast<KivColourTextWriter*>(writer) : nullptr;
  // Left to itself, colour waits until standard output is known to carry the decoded log.
  if (colourWriter != nullptr && options.colour == KivColourMode::kAuto && options.outputFolder) {
    colourWriter->setColour(false);
  }
  const KivDiagnosticScope diagnostics(options.debugLevel, writer);
  KivLogMetadata umac;
  KivLogMetadata lmac;
  KivLogProcessor processor;
  // The filters stand between the processor and the writer, only when there are any.
  processor.sink = &writers.sink();

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
    if (colourWriter != nullptr) {
      colourWriter->setColour(true);
    }
  } else {
    writer->setMainOutput(*processor.mainLog());
  }
  // A regular file is decoded by one worker per core, unless -P says how many; anything else (a
  // pipe, a terminal) is read as it comes, by one, so that a live capture is decoded live, and
  // so is a file that is followed as it grows.
  std::size_t workers = 1;
  if (inputIsFile && !options.follow) {
    workers = options.workers > 0 ? static_cast<std::size_t>(options.workers) : availableCores();
  }
  workers = std::min(workers, kMaxWorkers);
  bool processed = true;
  if (workers > 1) {
    const int fd = options.inputFile ? processor.openInput(*options.inputFile) : STDIN_FILENO;
    processed = fd >= 0;
    if (processed) {
      KivParallelDecoder::Setup parallel;
      parallel.run = &processor;
      parallel.workers = workers;
      const bool workerColour = colourWriter != nullptr && colourWriter->colour();
      parallel.makeWriters = [&options, workerColour](std::ostream& console) {
        return makeWriters(
            options, console, [](std::string_view) {}, workerColour);
      };
      if (options.filters.any()) {
        parallel.hostShownTo = [filter = static_cast<const KivEventFilter*>(writers.front.get())](
                                   const KivDeviceDesc& device) {
          return filter->deviceShown(device.deviceId);
        };
      }
      parallel.debugLevel = options.debugLevel;
      parallel.console = std::cout.rdbuf();
      parallel.main = processor.mainIsStdout ? std::cout.rdbuf() : processor.mainLog();
      parallel.folder = !processor.mainIsStdout;
      parallel.expectedGrowth = options.debugLevel >= kLogDebug ? 40 : options.json ? 6 : 3;
      KivParallelDecoder(parallel).run(fd);
    }
  } else {
    processed =
        options.inputFile ? processor.processFile(*options.inputFile) : processor.processStdin();
  }
  shownProgress = nullptr;
  if (const std::string& reason = processor.readError(); !reason.empty()) {
    writeToStderr(programName + ": cannot read " + inputName + ": " + reason + '\n');
    processed = false;
  }
  KivRunSetup setup;
  setup.legacy = options.legacyMode;
  setup.combinedPath = options.combinedPath;
  setup.umacPath = options.umacPath;
  setup.lmacPath = options.lmacPath;
  setup.library = library ? &*library : nullptr;
  setup.input = options.inputFile.value_or("stdin");
  setup.output = options.outputFolder.value_or("stdout");
  processor.report(setup, options.report);
  return processed ? 0 : 1;
}

}  // namespace

int kivlogMain(int argc, char** argv) {
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

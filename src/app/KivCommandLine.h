#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "output/KivEventFilter.h"

// When the text output on standard output is coloured (--color).
enum class KivColourMode { kAuto, kAlways, kNever };

// The settings of one run, as the command line gives them.
struct KivOptions {
  bool report = false;
  bool strict = false;
  std::optional<std::string> inputFile;
  std::string lmacPath = "lmac.elf";
  std::string umacPath = "umac.elf";
  std::optional<std::string> outputFolder;
  std::optional<std::string> verbosity;
  std::string combinedPath = "kiv_log.elf";
  std::string umacSignature = "FAST_LOG_UMAC__";
  std::string lmacSignature = "FAST_LOG_LMAC__";
  // A folder of firmware builds, each searched as a combined file: with the signatures given on
  // the command line, else the combined defaults, also in legacy mode.
  std::optional<std::string> libraryFolder;
  std::string libraryUmacSignature = "FAST_LOG_UMAC__";
  std::string libraryLmacSignature = "FAST_LOG_LMAC__";
  bool json = false;
  // -P as given; `workers` is its value, 0 when not given or not a number above 0 (one per core
  // for a file).
  std::optional<std::string> parallel;
  int workers = 0;
  KivEventFilter::Rules filters;
  KivColourMode colour = KivColourMode::kAuto;
  // --follow: a raw log file is followed as it grows.
  bool follow = false;
  bool legacyMode = false;
  bool combinedGiven = false;
  int debugLevel = 0;
};

enum class KivParseOutcome {
  kRun,         // command line accepted
  kUsage,       // an unrecognised argument: print the usage text, exit 0
  kValueError,  // an option without a proper value: message, usage, exit 1
  kConflict,    // -f together with -u/-l: message, usage, exit 1
  kBadValue,    // a value a long option does not take: message, usage, exit 1
};

struct KivCommandLine {
  KivParseOutcome outcome = KivParseOutcome::kRun;
  KivOptions options;
  std::string errorOption;  // the option a value error or a bad value names
  std::string errorValue;   // the bad value
};

// Parses the arguments after the program name.
KivCommandLine parseCommandLine(const std::vector<std::string>& args);

// argv[0] after its last '/', or if it has none after its last '\\', or all of it.
std::string programNameFrom(std::string_view argv0);

// The texts of the command-line errors, without the trailing newline.
std::string valueErrorText(std::string_view program, std::string_view option);
std::string conflictErrorText(std::string_view program);
std::string badValueText(std::string_view program, std::string_view option, std::string_view value);

// A command line read up to the point where a run starts: the program name, the parsed options
// and the file each image is loaded from (the combined file for both, or in legacy mode its own).
struct KivFrontEnd {
  std::string program;
  KivCommandLine commandLine;
  std::string umacPath;
  std::string lmacPath;
};

// Reads the argument vector into `frontEnd`. When the command line starts no run, writes what it
// calls for (a command-line error to `err`, the usage text to `out`) and returns the exit status;
// otherwise returns std::nullopt and writes nothing.
std::optional<int> readFrontEnd(int argc, const char* const* argv, std::ostream& out,
                                std::ostream& err, KivFrontEnd& frontEnd);

#include "app/KivCommandLine.h"

#include <climits>
#include <cstdlib>

#include "app/KivUsage.h"
#include "metadata/KivFirmwareLibrary.h"

namespace {

constexpr const char* kLegacySignature = "FAST_LOG_START_";

int levelFromText(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) {
    return INT_MAX;
  }
  if (value < INT_MIN) {
    return INT_MIN;
  }
  return static_cast<int>(value);
}

int commandLineError(const std::string& message, const std::string& program, std::ostream& out,
                     std::ostream& err) {
  err << message << '\n';
  err.flush();
  printUsage(out, program);
  out.flush();
  return 1;
}

}  // namespace

KivCommandLine parseCommandLine(const std::vector<std::string>& args) {
  KivCommandLine result;
  KivOptions& o = result.options;
  bool umacSigGiven = false;
  bool lmacSigGiven = false;
  bool unrecognised = false;
  std::string* pendingValue = nullptr;
  std::string pendingOption;
  std::optional<std::string>* pendingOptional = nullptr;
  std::string firstBadValueOption;

  for (const std::string& arg : args) {
    if (pendingValue != nullptr || pendingOptional != nullptr) {
      if (pendingValue != nullptr) {
        *pendingValue = arg;
      } else {
        *pendingOptional = arg;
      }
      if (!arg.empty() && arg[0] == '-' && firstBadValueOption.empty()) {
        firstBadValueOption = pendingOption;
      }
      pendingValue = nullptr;
      pendingOptional = nullptr;
      continue;
    }
    pendingOption = arg;
    if (arg == "-r") {
      o.report = true;
    } else if (arg == "-s") {
      o.strict = true;
    } else if (arg == "-i") {
      pendingOptional = &o.inputFile;
    } else if (arg == "-l") {
      o.legacyMode = true;
      pendingValue = &o.lmacPath;
    } else if (arg == "-u") {
      o.legacyMode = true;
      pendingValue = &o.umacPath;
    } else if (arg == "-o") {
      pendingOptional = &o.outputFolder;
    } else if (arg == "-v") {
      pendingOptional = &o.verbosity;
    } else if (arg == "-f") {
      o.combinedGiven = true;
      pendingValue = &o.combinedPath;
    } else if (arg == "-sig_umac") {
      umacSigGiven = true;
      pendingValue = &o.umacSignature;
    } else if (arg == "-sig_lmac") {
      lmacSigGiven = true;
      pendingValue = &o.lmacSignature;
    } else if (arg == "-F") {
      pendingOptional = &o.libraryFolder;
    } else if (arg == "-j") {
      o.json = true;
    } else if (arg == "--follow") {
      o.follow = true;
    } else {
      unrecognised = true;
      break;
    }
  }

  if (o.verbosity) {
    o.debugLevel = levelFromText(*o.verbosity);
  }
  if (!firstBadValueOption.empty()) {
    result.outcome = KivParseOutcome::kValueError;
    result.errorOption = firstBadValueOption;
    return result;
  }
  if (pendingValue != nullptr || pendingOptional != nullptr) {
    result.outcome = KivParseOutcome::kValueError;
    result.errorOption = pendingOption;
    return result;
  }
  if (o.combinedGiven && o.legacyMode) {
    result.outcome = KivParseOutcome::kConflict;
    return result;
  }
  o.libraryUmacSignature = o.umacSignature;
  o.libraryLmacSignature = o.lmacSignature;
  if (o.legacyMode) {
    if (!umacSigGiven) {
      o.umacSignature = kLegacySignature;
    }
    if (!lmacSigGiven) {
      o.lmacSignature = kLegacySignature;
    }
  }
  if (unrecognised) {
    result.outcome = KivParseOutcome::kUsage;
  }
  return result;
}

std::string programNameFrom(std::string_view argv0) {
  std::size_t cut = argv0.rfind('/');
  if (cut == std::string_view::npos) {
    cut = argv0.rfind('\\');
  }
  return std::string(cut == std::string_view::npos ? argv0 : argv0.substr(cut + 1));
}

std::string valueErrorText(std::string_view program, std::string_view option) {
  std::string text(program);
  text.append(": option ").append(option).append(" requires a filename argument");
  return text;
}

std::string conflictErrorText(std::string_view program) {
  std::string text(program);
  text.append(": cannot use -f with -u/-l (legacy mode)");
  return text;
}

std::optional<int> readFrontEnd(int argc, const char* const* argv, std::ostream& out,
                                std::ostream& err, KivFrontEnd& frontEnd) {
  frontEnd.program = programNameFrom(argc > 0 ? argv[0] : "kivlog");
  frontEnd.commandLine =
      parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  const std::string& program = frontEnd.program;
  switch (frontEnd.commandLine.outcome) {
    case KivParseOutcome::kValueError:
      return commandLineError(valueErrorText(program, frontEnd.commandLine.errorOption), program,
                              out, err);
    case KivParseOutcome::kConflict:
      return commandLineError(conflictErrorText(program), program, out, err);
    case KivParseOutcome::kUsage:
    case KivParseOutcome::kRun:
      break;
  }
  const KivOptions& options = frontEnd.commandLine.options;
  // A firmware folder that cannot be read is an option error like the others, also when the
  // scan ended at an unknown argument.
  std::string reason;
  if (options.libraryFolder && !KivFirmwareLibrary::readable(*options.libraryFolder, reason)) {
    return commandLineError(
        program + ": cannot read firmware folder " + *options.libraryFolder + ": " + reason,
        program, out, err);
  }
  if (frontEnd.commandLine.outcome == KivParseOutcome::kUsage) {
    printUsage(out, program);
    return 0;
  }
  frontEnd.umacPath = options.legacyMode ? options.umacPath : options.combinedPath;
  frontEnd.lmacPath = options.legacyMode ? options.lmacPath : options.combinedPath;
  return std::nullopt;
}

#include "app/KivCommandLine.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "app/KivUsage.h"
#include "metadata/KivFirmwareLibrary.h"
#include "records/KivLogMeta.h"

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

// The long options. One that takes a value takes it as "--name=value" or as the next argument, as
// the short options do.
enum class LongOption { kColour, kLevel, kDevice, kMac, kNoHost, kFollow };

struct LongOptionInfo {
  std::string_view name;
  LongOption option;
  bool takesValue;
};

constexpr LongOptionInfo kLongOptions[] = {
    {"--color", LongOption::kColour, true},    {"--level", LongOption::kLevel, true},
    {"--device", LongOption::kDevice, true},   {"--mac", LongOption::kMac, true},
    {"--no-host", LongOption::kNoHost, false}, {"--follow", LongOption::kFollow, false},
};

const LongOptionInfo* longOptionNamed(std::string_view name) {
  for (const LongOptionInfo& info : kLongOptions) {
    if (info.name == name) {
      return &info;
    }
  }
  return nullptr;
}

// Equality of two texts, ASCII letters compared without case.
bool sameLetters(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

// A level name in any case, or its number 0 to 7.
std::optional<uint16_t> levelNamed(std::string_view text) {
  if (text.size() == 1 && text[0] >= '0' &&
      text[0] < static_cast<char>('0' + logLevelNames.size())) {
    return static_cast<uint16_t>(text[0] - '0');
  }
  for (std::size_t level = 0; level < logLevelNames.size(); ++level) {
    if (sameLetters(text, logLevelNames[level])) {
      return static_cast<uint16_t>(level);
    }
  }
  return std::nullopt;
}

// Sets what a long option without a value stands for.
void applyLongFlag(LongOption option, KivOptions& o) {
  if (option == LongOption::kNoHost) {
    o.filters.noHost = true;
  } else if (option == LongOption::kFollow) {
    o.follow = true;
  }
}

// Sets what the option's value says; false when the option does not take this value.
bool applyLongValue(LongOption option, const std::string& value, KivOptions& o) {
  switch (option) {
    case LongOption::kColour:
      if (value == "auto") {
        o.colour = KivColourMode::kAuto;
      } else if (value == "always") {
        o.colour = KivColourMode::kAlways;
      } else if (value == "never") {
        o.colour = KivColourMode::kNever;
      } else {
        return false;
      }
      return true;
    case LongOption::kLevel:
      o.filters.level = levelNamed(value);
      return o.filters.level.has_value();
    case LongOption::kDevice:
      o.filters.devices.push_back(value);
      return true;
    case LongOption::kMac:
      for (uint32_t mac = 0; mac < macNames.size(); ++mac) {
        if (sameLetters(value, macNames[mac])) {
          o.filters.mac = mac;
          return true;
        }
      }
      return false;
    case LongOption::kNoHost:
    case LongOption::kFollow:
      break;
  }
  return false;
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
  const LongOptionInfo* pendingLong = nullptr;
  std::string firstBadValueOption;
  // The first value a long option does not take, and that option.
  std::string badValueOption;
  std::string badValue;
  auto takeLongValue = [&](const LongOptionInfo& info, const std::string& value) {
    if (!applyLongValue(info.option, value, o) && badValueOption.empty()) {
      badValueOption = info.name;
      badValue = value;
    }
  };

  for (const std::string& arg : args) {
    if (pendingLong != nullptr) {
      if (!arg.empty() && arg[0] == '-') {
        if (firstBadValueOption.empty()) {
          firstBadValueOption = pendingOption;
        }
      } else {
        takeLongValue(*pendingLong, arg);
      }
      pendingLong = nullptr;
      continue;
    }
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
    } else if (arg == "-P") {
      pendingOptional = &o.parallel;
    } else if (arg.starts_with("--")) {
      const std::size_t equals = arg.find('=');
      const LongOptionInfo* info = longOptionNamed(std::string_view(arg).substr(0, equals));
      if (info == nullptr || (!info->takesValue && equals != std::string::npos)) {
        unrecognised = true;
        break;
      }
      pendingOption = info->name;
      if (!info->takesValue) {
        applyLongFlag(info->option, o);
      } else if (equals == std::string::npos) {
        pendingLong = info;
      } else {
        takeLongValue(*info, arg.substr(equals + 1));
      }
    } else {
      unrecognised = true;
      break;
    }
  }

  if (o.verbosity) {
    o.debugLevel = levelFromText(*o.verbosity);
  }
  if (o.parallel) {
    o.workers = std::max(0, levelFromText(*o.parallel));
  }
  if (!firstBadValueOption.empty()) {
    result.outcome = KivParseOutcome::kValueError;
    result.errorOption = firstBadValueOption;
    return result;
  }
  if (pendingValue != nullptr || pendingOptional != nullptr || pendingLong != nullptr) {
    result.outcome = KivParseOutcome::kValueError;
    result.errorOption = pendingOption;
    return result;
  }
  if (!badValueOption.empty()) {
    result.outcome = KivParseOutcome::kBadValue;
    result.errorOption = badValueOption;
    result.errorValue = badValue;
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
  text.append(": option ").append(option);
  text.append(option.starts_with("--") ? " requires an argument" : " requires a filename argument");
  return text;
}

std::string conflictErrorText(std::string_view program) {
  std::string text(program);
  text.append(": cannot use -f with -u/-l (legacy mode)");
  return text;
}

std::string badValueText(std::string_view program, std::string_view option,
                         std::string_view value) {
  const LongOptionInfo* info = longOptionNamed(option);
  std::string_view what = "processor";
  std::string choices = "UMAC or LMAC";
  if (info != nullptr && info->option == LongOption::kLevel) {
    what = "level";
    choices.clear();
    for (const std::string_view name : logLevelNames) {
      choices.append(name).append(", ");
    }
    choices.append("or 0 to 7");
  } else if (info != nullptr && info->option == LongOption::kColour) {
    what = "mode";
    choices = "auto, always or never";
  }
  std::string text(program);
  text.append(": option ").append(option).append(": unknown ").append(what);
  text.append(" \"").append(value).append("\" (").append(choices).append(")");
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
    case KivParseOutcome::kBadValue:
      return commandLineError(
          badValueText(program, frontEnd.commandLine.errorOption, frontEnd.commandLine.errorValue),
          program, out, err);
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

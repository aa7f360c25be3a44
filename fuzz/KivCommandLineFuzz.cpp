// Runs arbitrary argument vectors through the front end up to the point where a run would start,
// and checks what it decided against a plain reading of the options: the outcome, the texts on
// standard output and standard error, the exit status, the files and signatures of each image,
// the debug level, the filters and the colour mode. Nothing is opened but a firmware folder named
// with -F, and nothing exits.
#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "KivFuzzSupport.h"
#include "app/KivCommandLine.h"
#include "app/KivUsage.h"

namespace {

constexpr std::size_t kMaxArguments = 64;

struct OptionInfo {
  std::string_view name;
  bool takesValue;
};

constexpr OptionInfo kOptions[] = {
    {"-r", false}, {"-s", false}, {"-i", true}, {"-l", true},        {"-u", true},
    {"-o", true},  {"-v", true},  {"-f", true}, {"-sig_umac", true}, {"-sig_lmac", true},
    {"-F", true},  {"-j", false}, {"-P", true},
};
constexpr std::size_t kLibrary = 10;
constexpr std::size_t kJson = 11;
constexpr std::size_t kWorkers = 12;

// Long options: the value as "--name=value" or as the next argument.
constexpr OptionInfo kLongOptions[] = {
    {"--color", true}, {"--level", true},    {"--device", true},
    {"--mac", true},   {"--no-host", false}, {"--follow", false},
};
constexpr std::string_view kLevelNames[] = {"CRITICAL", "ERROR", "WARNING", "INFO1",
                                            "INFO2",    "TRACE", "DUMP",    "ALWAYS"};

const OptionInfo* optionNamed(std::string_view arg) {
  for (const OptionInfo& option : kOptions) {
    if (option.name == arg) {
      return &option;
    }
  }
  for (const OptionInfo& option : kLongOptions) {
    if (option.name == arg) {
      return &option;
    }
  }
  return nullptr;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

// What the front end should decide, read straight from the arguments.
struct Expected {
  KivParseOutcome outcome = KivParseOutcome::kRun;
  std::vector<std::string> badValueOptions;  // options that took a value beginning with '-'
  std::string missingValueOption;            // a value option at the very end
  bool legacy = false;
  bool combined = false;
  std::optional<std::string> value[std::size(kOptions)];  // each option's last value, by index
  bool json = false;
  KivEventFilter::Rules filters;
  KivColourMode colour = KivColourMode::kAuto;
  // The first value a long option does not take, and that option.
  std::string badValueOption;
  std::string badValue;
  bool follow = false;
  // Why the firmware folder cannot be read, when it was given and cannot be.
  std::optional<std::string> folderError;
  std::string umacPath = "kiv_log.elf";
  std::string lmacPath = "kiv_log.elf";
  std::string umacSignature = "FAST_LOG_UMAC__";
  std::string lmacSignature = "FAST_LOG_LMAC__";
  int debugLevel = 0;
  int workers = 0;
};

// Takes a long option's value; false when the option does not take it.
bool takeLongValue(std::string_view option, const std::string& value, Expected& e) {
  if (option == "--device") {
    e.filters.devices.push_back(value);
    return true;
  }
  if (option == "--color") {
    const bool known = value == "auto" || value == "always" || value == "never";
    if (known) {
      e.colour = value == "auto"     ? KivColourMode::kAuto
                 : value == "always" ? KivColourMode::kAlways
                                     : KivColourMode::kNever;
    }
    return known;
  }
  const std::string name = upper(value);
  if (option == "--mac") {
    if (name == "UMAC" || name == "LMAC") {
      e.filters.mac = name == "UMAC" ? 0 : 1;
      return true;
    }
    return false;
  }
  for (uint16_t level = 0; level < std::size(kLevelNames); ++level) {
    if (name == kLevelNames[level] || value == std::to_string(level)) {
      e.filters.level = level;
      return true;
    }
  }
  return false;
}

Expected expectedFor(const std::vector<std::string>& args) {
  Expected e;
  bool unrecognised = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].starts_with("--")) {
      const std::size_t equals = args[i].find('=');
      const std::string name = args[i].substr(0, equals);
      const OptionInfo* option = optionNamed(name);
      if (option == nullptr || (!option->takesValue && equals != std::string::npos)) {
        unrecognised = true;
        break;
      }
      if (!option->takesValue) {
        (name == "--follow" ? e.follow : e.filters.noHost) = true;
        continue;
      }
      std::string value;
      if (equals != std::string::npos) {
        value = args[i].substr(equals + 1);
      } else if (i + 1 == args.size()) {
        e.missingValueOption = name;
        break;
      } else {
        value = args[++i];
        if (value.starts_with('-')) {
          e.badValueOptions.push_back(name);
          continue;
        }
      }
      if (!takeLongValue(name, value, e) && e.badValueOption.empty()) {
        e.badValueOption = name;
        e.badValue = value;
      }
      continue;
    }
    const OptionInfo* option = optionNamed(args[i]);
    if (option == nullptr) {
      unrecognised = true;
      break;
    }
    const auto index = static_cast<std::size_t>(option - kOptions);
    e.legacy = e.legacy || option->name == "-u" || option->name == "-l";
    e.combined = e.combined || option->name == "-f";
    e.json = e.json || index == kJson;
    if (!option->takesValue) {
      continue;
    }
    if (i + 1 == args.size()) {
      e.missingValueOption = args[i];
      break;
    }
    e.value[index] = args[++i];
    if (args[i].starts_with('-')) {
      e.badValueOptions.push_back(args[i - 1]);
    }
  }
  if (!e.badValueOptions.empty() || !e.missingValueOption.empty()) {
    e.outcome = KivParseOutcome::kValueError;
  } else if (!e.badValueOption.empty()) {
    e.outcome = KivParseOutcome::kBadValue;
  } else if (e.legacy && e.combined) {
    e.outcome = KivParseOutcome::kConflict;
  } else if (unrecognised) {
    e.outcome = KivParseOutcome::kUsage;
  }
  if (e.value[kLibrary] &&
      (e.outcome == KivParseOutcome::kRun || e.outcome == KivParseOutcome::kUsage)) {
    if (DIR* folder = ::opendir(e.value[kLibrary]->c_str())) {
      ::closedir(folder);
    } else {
      e.folderError = std::strerror(errno);
    }
  }
  const std::string legacySignature = "FAST_LOG_START_";
  if (e.legacy) {
    e.umacPath = e.value[4].value_or("umac.elf");
    e.lmacPath = e.value[3].value_or("lmac.elf");
    e.umacSignature = e.value[8].value_or(legacySignature);
    e.lmacSignature = e.value[9].value_or(legacySignature);
  } else {
    e.umacPath = e.lmacPath = e.value[7].value_or("kiv_log.elf");
    e.umacSignature = e.value[8].value_or(e.umacSignature);
    e.lmacSignature = e.value[9].value_or(e.lmacSignature);
  }
  auto number = [](const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
  };
  if (e.value[6]) {
    e.debugLevel = number(*e.value[6]);
  }
  if (e.value[kWorkers]) {
    e.workers = std::max(0, number(*e.value[kWorkers]));
  }
  return e;
}

std::string usageFor(const std::string& program) {
  std::ostringstream usage;
  printUsage(usage, program);
  return usage.str();
}

void check(bool ok, std::string_view what) {
  if (!ok) {
    kivFuzzFail(what);
  }
}

}  // namespace

// The input split at its zero bytes is the argument vector, program name first; an empty input
// gives an empty vector.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> argv;
  for (std::size_t from = 0; from < input.size() && argv.size() < kMaxArguments;) {
    const std::size_t end = std::min(input.find('\0', from), input.size());
    argv.emplace_back(input.substr(from, end - from));
    from = end + 1;
  }
  std::vector<const char*> pointers;
  for (const std::string& arg : argv) {
    pointers.push_back(arg.c_str());
  }
  pointers.push_back(nullptr);

  std::ostringstream out;
  std::ostringstream err;
  KivFrontEnd frontEnd;
  const std::optional<int> status =
      readFrontEnd(static_cast<int>(argv.size()), pointers.data(), out, err, frontEnd);

  const std::string program = argv.empty() ? "kivlog" : frontEnd.program;
  check(program.find('/') == std::string::npos, "the program name holds a '/'");
  check(argv.empty() || std::string_view(argv[0]).ends_with(program),
        "the program name is not the end of argv[0]");

  const std::vector<std::string> args(argv.begin() + (argv.empty() ? 0 : 1), argv.end());
  const Expected e = expectedFor(args);
  const KivCommandLine& c = frontEnd.commandLine;
  check(c.outcome == e.outcome, "outcome");
  check(c.options.debugLevel == e.debugLevel, "debug level");
  check(c.options.json == e.json, "JSON Lines");
  check(c.options.workers == e.workers, "workers");
  check(c.options.follow == e.follow, "follow");
  if (e.folderError) {
    check(status == 1, "unreadable firmware folder status");
    check(err.str() == program + ": cannot read firmware folder " + *e.value[kLibrary] + ": " +
                           *e.folderError + "\n",
          "unreadable firmware folder text");
    check(out.str() == usageFor(program), "usage text after an unreadable firmware folder");
    return 0;
  }
  switch (e.outcome) {
    case KivParseOutcome::kRun:
      check(!status.has_value(), "a run was not started");
      check(out.str().empty() && err.str().empty(), "a run wrote before it started");
      check(c.options.legacyMode == e.legacy, "legacy mode");
      check(frontEnd.umacPath == e.umacPath && frontEnd.lmacPath == e.lmacPath, "image files");
      check(c.options.umacSignature == e.umacSignature, "UMAC signature");
      check(c.options.lmacSignature == e.lmacSignature, "LMAC signature");
      check(c.options.inputFile == e.value[2] && c.options.outputFolder == e.value[5],
            "input file or output folder");
      check(c.options.filters.level == e.filters.level && c.options.filters.mac == e.filters.mac &&
                c.options.filters.devices == e.filters.devices &&
                c.options.filters.noHost == e.filters.noHost,
            "filters");
      check(c.options.colour == e.colour, "colour mode");
      break;
    case KivParseOutcome::kUsage:
      check(status == 0, "usage status");
      check(err.str().empty(), "usage wrote to standard error");
      check(out.str() == usageFor(program), "usage text");
      break;
    case KivParseOutcome::kValueError: {
      check(status == 1, "value error status");
      const OptionInfo* named = optionNamed(c.errorOption);
      check(named != nullptr && named->takesValue, "a value error names a flag or no option");
      const bool listed = e.badValueOptions.empty()
                              ? c.errorOption == e.missingValueOption
                              : std::find(e.badValueOptions.begin(), e.badValueOptions.end(),
                                          c.errorOption) != e.badValueOptions.end();
      check(listed, "a value error names an option whose value was fine");
      check(err.str() == program + ": option " + c.errorOption +
                             (c.errorOption.starts_with("--") ? " requires an argument\n"
                                                              : " requires a filename argument\n"),
            "value error text");
      check(out.str() == usageFor(program), "usage text after a value error");
      break;
    }
    case KivParseOutcome::kBadValue:
      check(status == 1, "bad value status");
      check(c.errorOption == e.badValueOption && c.errorValue == e.badValue,
            "a bad value names another option or value");
      check(err.str().starts_with(program + ": option " + e.badValueOption + ": unknown ") &&
                err.str().find(" \"" + e.badValue + "\" (") != std::string::npos &&
                err.str().ends_with(")\n"),
            "bad value text");
      check(out.str() == usageFor(program), "usage text after a bad value");
      break;
    case KivParseOutcome::kConflict:
      check(status == 1, "conflict status");
      check(err.str() == program + ": cannot use -f with -u/-l (legacy mode)\n", "conflict text");
      check(out.str() == usageFor(program), "usage text after a conflict");
      break;
  }
  return 0;
}

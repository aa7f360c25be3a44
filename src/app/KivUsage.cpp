#include "app/KivUsage.h"

// The build's account, and its date and time when the build fixes them (SOURCE_DATE_EPOCH).
#include "KivBuildStamp.h"

#ifndef KIVLOG_BUILD_USER
#define KIVLOG_BUILD_USER "unknown"
#endif
#ifndef KIVLOG_BUILD_DATE
#define KIVLOG_BUILD_DATE __DATE__
#define KIVLOG_BUILD_TIME __TIME__
#endif

namespace {

constexpr const char* kToolVersion = "4.3.4194980";

constexpr const char* kUsageBody =
    "                [[-l <lmac.elf>] [-u <umac.elf>] | [-f <kiv_log.elf>]]\n"
    "                [-sig_umac <umac sig string>] [-sig-lmac <lmac sig string>]\n"
    "\n"
    "\n"
    "    Processes input logs and reconstitutes firmware logs from the selected\n"
    "    ELF files. The output is passed to stdout by default.\n"
    "\n"
    "    -i: Read raw log input from the specified file.\n"
    "    -o: Processed log output folder.\n"
    "    -l: The path to lower MAC elf file. Defaults to ./lmac.elf\n"
    "    -u: The path to upper MAC elf file. Defaults to ./umac.elf\n"
    "    -f: The path to the kiv_log elf file. Defaults to ./kiv_log.elf\n"
    "    -v: Verbose logging level. Default 0 (Error)\n"
    "    -r: Print processing report\n"
    "    -s: Enforce strict matching of firmware version versus loaded ELF version\n"
    "    -F: Folder of firmware builds; each device is decoded with the build it announced\n"
    "    -j: Write JSON Lines instead of text\n"
    "    -P: Number of parallel decode workers. Default one per core for a file\n"
    "    --color=<when>: Colour level names on a terminal: auto (default), always or never\n"
    "    --level <level>: Only decoded lines of this level or a more severe one\n"
    "                     (CRITICAL ERROR WARNING INFO1 INFO2 TRACE DUMP ALWAYS, or 0 to 7)\n"
    "    --device <id>: Only this device's firmware lines; may be repeated\n"
    "    --mac <UMAC|LMAC>: Only the firmware lines of this processor\n"
    "    --no-host: Leave host lines out\n"
    "    --follow: Keep reading the input file as it grows, until interrupted\n"
    "\n"
    "    Input to the tool is taken from stdin by default unless -i option is used. Output goes "
    "to\n"
    "    stdout unless -o option is used. With -o option, the specified folder is populated with a "
    "main \n"
    "    log file containing all logs decoded, and a separate log file for each device detected.\n"
    "    The output folder, if specified, is expected to exist already.\n"
    "\n"
    "    The tool matches the ELF version detected from loaded ELF file(s) vs the logged\n"
    "    firmware version number (FW_ELF_VER). Under strict (-s) processing, if the versions do \n"
    "    not match, no firmware log processing will be done.\n"
    "    By default unknown FW_ELF_VER will be treated with warning, and mismtatch with error.\n"
    "\n"
    "    The in the default mode, the tool works with the kiv_log ELF file (-f or default file).\n"
    "    In case the kiv_log.elf is not available, the separated UMAC and LMAC ELF files may be \n"
    "    specified by providing -u and -l options.\n"
    "    Given no -l, -u or -f the program will prefer kiv_log.elf, if it is found.\n"
    "\n"
    "    The default signature strings may be overridden with the -sig_umac and -sig_lmac options\n"
    "\n"
    "\n";

}  // namespace

std::string versionBanner() {
  std::string banner("Version: ");
  banner.append(kToolVersion).append(" ").append(KIVLOG_BUILD_DATE);
  banner.append(" ").append(KIVLOG_BUILD_TIME);
  banner.append(" ").append(KIVLOG_BUILD_USER);
  return banner;
}

void printUsage(std::ostream& out, std::string_view programName) {
  out << versionBanner() << '\n'
      << "Usage: " << programName
      << " [-r] [-s] [-i <input file>] [-v <level>] [-o <output file>]\n"
      << kUsageBody;
}

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kivlog/Export.h"

// What kivlog makes of a raw log: one event for each input line, diagnostics among them, and a
// report at the end. Each event carries what its JSON Lines object (kivlog -j) holds, member for
// member; toJsonLine() gives that object. Texts hold the bytes of the log and the images as they
// are, which need not be UTF-8.
namespace kivlog {

// A line of the host, passed through.
struct HostLine {
  uint64_t n = 0;  // the input line number, from 1
  std::string line;
};

// A "[FW_ELF_VER]" line: a device announced its firmware versions.
struct DescriptorLine {
  uint64_t n = 0;
  std::string device;  // empty for the device of lines without an id
  std::string umac;    // the announced versions, as text
  std::string lmac;
  bool compatible = false;              // whether the images given (or a library build) carry them
  std::optional<std::string> firmware;  // the library build the device is decoded with
  std::string line;
};

// A "[FW_LOG-R]" record, decoded.
struct DecodedRecord {
  uint64_t n = 0;
  std::string prefix;  // the text before the marker
  std::string device;
  uint32_t timestamp = 0;
  std::string type;   // "UMAC", "UMAC_CR", "LMAC", "LMAC_CR" or "UNKNOWN"
  std::string level;  // "CRITICAL", "ERROR", "WARNING", "INFO1", "INFO2", "TRACE", "DUMP", "ALWAYS"
  uint16_t module = 0;
  std::string file;  // the statement's source file
  uint16_t sourceLine = 0;
  std::string format;  // the statement's format string
  std::array<uint32_t, 2> values{};
  std::string message;  // the format expanded with the values, without its final line end
};

// A record passed through undecoded (strict matching).
struct UndecodedLine {
  uint64_t n = 0;
  std::string device;
  std::string reason;  // "version-mismatch" or "unannounced-device"
  std::string line;
};

// A diagnostic at the decoder's verbosity.
struct Diagnostic {
  std::string level;  // "ERR", "WRN", "INF" or "DBG"
  std::string text;
};

using Event = std::variant<HostLine, DescriptorLine, DecodedRecord, UndecodedLine, Diagnostic>;

// The end-of-run report, as kivlog -j -r writes it.
struct Report {
  // What the run decoded with: the "using" object.
  struct Setup {
    std::string mode;       // "combined" or "legacy"
    std::string kivLogElf;  // combined mode
    std::string lmacElf;    // legacy mode
    std::string umacElf;
    std::optional<std::string> libraryFolder;
    std::size_t libraryBuilds = 0;
    std::string input;
    std::string output;
  };
  struct Image {
    uint32_t dataOffset = 0;
    uint32_t baseAddress = 0;
    uint32_t versionAddress = 0;
    std::string version;
  };
  struct Device {
    std::string id;
    bool versioned = false;
    bool compatible = false;  // with umac and lmac, only for a versioned device
    std::string umac;
    std::string lmac;
    std::optional<std::string> firmware;
    bool strict = false;
    uint32_t lineStart = 0;
    uint32_t lineEnd = 0;
    uint32_t skipped = 0;
    uint32_t processed = 0;
    uint32_t versionMismatch = 0;
    uint32_t versionUnknown = 0;
    uint32_t errors = 0;
  };
  Setup setup;
  Image umac;
  Image lmac;
  std::vector<Device> devices;  // in byte-wise order of their ids
};

// The JSON Lines object kivlog -j writes for the event, or for the report, with its line end.
KIVLOG_API std::string toJsonLine(const Event& event);
KIVLOG_API std::string toJsonLine(const Report& report);

}  // namespace kivlog

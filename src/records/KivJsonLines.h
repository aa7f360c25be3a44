#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kivlog/Events.h"
#include "support/KivJson.h"

// The JSON Lines form (-j) of each kind of line the tool writes: one object, written where the
// plain form of the line would go. Each returns a view of a buffer that the next call reuses: the
// writer's given for the kinds written by the million, else one of the calling thread.
namespace kivjson {

// {"n":12,"host":"<line>"}
std::string_view hostLine(KivJsonWriter& writer, uint64_t lineNumber, std::string_view line);

// A descriptor line's device, as its object shows it.
struct Descriptor {
  uint64_t lineNumber;
  std::string_view deviceId;
  std::string_view umac;  // the version records as text
  std::string_view lmac;
  bool compatible;
  // The library build the device is bound to, if it is.
  std::optional<std::string_view> firmware;
  std::string_view line;
};
// {"n":6,"device":"wlan1","umac":"<version>","lmac":"<version>","compatible":false,"line":"..."}
// with "firmware" after "compatible" when the device is bound to a library build.
std::string_view descriptorLine(const Descriptor& descriptor);

// {"n":9,"device":"wlan1","undecoded":"<reason>","line":"<line>"}
std::string_view undecodedLine(uint64_t lineNumber, std::string_view deviceId,
                               std::string_view reason, std::string_view line);

// Why a record was written through undecoded.
inline constexpr std::string_view kVersionMismatch = "version-mismatch";
inline constexpr std::string_view kUnannouncedDevice = "unannounced-device";

// {"diag":"ERR","text":"<message>"}
std::string_view diagnosticLine(std::string_view prefix, std::string_view text);

// The members of a decoded record that depend only on its log statement, made once per statement:
// "level":"INFO1","module":3,"file":"...","source_line":214,"format":"..."
std::string statementMembers(std::string_view level, uint16_t module, std::string_view file,
                             uint16_t sourceLine, std::string_view format);

// A decoded record's fields, as rendering found them.
struct Decoded {
  uint64_t lineNumber;
  std::string_view prefix;
  std::string_view deviceId;
  uint32_t timestamp;
  std::string_view type;  // the tool's own name, written as it is
  std::string_view statementMembers;
  uint32_t param0;
  uint32_t param1;
  std::string_view message;  // the expansion, its final line end included
  // False when `message` comes without its final line end already.
  bool withLineEnd = true;
};
// Unlike the other kinds, ends with its newline, as a decoded line does.
std::string_view decodedLine(KivJsonWriter& writer, const Decoded& decoded);

// The report object, written in three parts so that its devices can be written one by one:
// {"report":{"using":{..},"images":{"UMAC":{..},"LMAC":{..}},"devices":[
// then each device's object, separated by commas, then the tail.
std::string reportHead(const kivlog::Report::Setup& setup, const kivlog::Report::Image* umac,
                       const kivlog::Report::Image* lmac);
std::string reportDevice(const kivlog::Report::Device& device);
inline constexpr std::string_view kReportTail = "]}}\n";

}  // namespace kivjson

// The JSON Lines objects of the decoder library's events: the same functions write them as kivlog
// -j.
#include <string>

#include "kivlog/Events.h"
#include "records/KivJsonLines.h"

namespace kivlog {
namespace {

std::string withLineEnd(std::string_view object) {
  std::string line(object);
  line += '\n';
  return line;
}

struct JsonLineOf {
  std::string operator()(const HostLine& e) const {
    KivJsonWriter writer;
    return withLineEnd(kivjson::hostLine(writer, e.n, e.line));
  }
  std::string operator()(const DescriptorLine& e) const {
    std::optional<std::string_view> firmware;
    if (e.firmware) {
      firmware = *e.firmware;
    }
    return withLineEnd(
        kivjson::descriptorLine({e.n, e.device, e.umac, e.lmac, e.compatible, firmware, e.line}));
  }
  std::string operator()(const DecodedRecord& e) const {
    const std::string members =
        kivjson::statementMembers(e.level, e.module, e.file, e.sourceLine, e.format);
    KivJsonWriter writer;
    return std::string(
        kivjson::decodedLine(writer, {e.n, e.prefix, e.device, e.timestamp, e.type, members,
                                      e.values[0], e.values[1], e.message, false}));
  }
  std::string operator()(const UndecodedLine& e) const {
    return withLineEnd(kivjson::undecodedLine(e.n, e.device, e.reason, e.line));
  }
  std::string operator()(const Diagnostic& e) const {
    return withLineEnd(kivjson::diagnosticLine(e.level, e.text));
  }
};

}  // namespace

std::string toJsonLine(const Event& event) {
  return std::visit(JsonLineOf{}, event);
}

std::string toJsonLine(const Report& report) {
  std::string line = kivjson::reportHead(report.setup, &report.umac, &report.lmac);
  bool first = true;
  for (const Report::Device& device : report.devices) {
    if (!first) {
      line += ',';
    }
    first = false;
    line += kivjson::reportDevice(device);
  }
  line += kivjson::kReportTail;
  return line;
}

}  // namespace kivlog

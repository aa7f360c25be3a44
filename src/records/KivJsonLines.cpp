#include "records/KivJsonLines.h"

#include <charconv>

namespace kivjson {
namespace {

// The rarer kinds are made as an object over a string.
std::string& buffer() {
  thread_local std::string text;
  text.clear();
  return text;
}

std::string_view finish(KivJsonObject& object, std::string& text) {
  object.end();
  return text;
}

// The device member is left out for the device of lines without an id.
void device(KivJsonObject& object, std::string_view deviceId) {
  if (!deviceId.empty()) {
    object.text("device", deviceId);
  }
}

}  // namespace

std::string_view hostLine(KivJsonWriter& object, uint64_t lineNumber, std::string_view line) {
  object.begin();
  object.number("n", lineNumber);
  object.text("host", line);
  return object.end();
}

std::string_view descriptorLine(const Descriptor& descriptor) {
  std::string& text = buffer();
  KivJsonObject object(text);
  object.number("n", descriptor.lineNumber);
  device(object, descriptor.deviceId);
  object.text("umac", descriptor.umac)
      .text("lmac", descriptor.lmac)
      .boolean("compatible", descriptor.compatible);
  if (descriptor.firmware) {
    object.text("firmware", *descriptor.firmware);
  }
  object.text("line", descriptor.line);
  return finish(object, text);
}

std::string_view undecodedLine(uint64_t lineNumber, std::string_view deviceId,
                               std::string_view reason, std::string_view line) {
  std::string& text = buffer();
  KivJsonObject object(text);
  object.number("n", lineNumber);
  device(object, deviceId);
  object.text("undecoded", reason).text("line", line);
  return finish(object, text);
}

std::string_view diagnosticLine(std::string_view prefix, std::string_view text) {
  std::string& line = buffer();
  KivJsonObject object(line);
  object.text("diag", prefix).text("text", text);
  return finish(object, line);
}

std::string statementMembers(std::string_view level, uint16_t module, std::string_view file,
                             uint16_t sourceLine, std::string_view format) {
  std::string members;
  KivJsonObject(members)
      .text("level", level)
      .number("module", module)
      .text("file", file)
      .number("source_line", sourceLine)
      .text("format", format);
  return members.substr(1);  // without the object's "{"
}

std::string_view decodedLine(KivJsonWriter& object, const Decoded& decoded) {
  std::string_view message = decoded.message;
  if (decoded.withLineEnd && message.ends_with('\n')) {
    message.remove_suffix(message.ends_with("\r\n") ? 2 : 1);
  }
  // "[4294967295,4294967295]" at the longest.
  char values[32] = "[";
  char* end = std::to_chars(values + 1, values + 12, decoded.param0).ptr;
  *end++ = ',';
  end = std::to_chars(end, end + 11, decoded.param1).ptr;
  *end++ = ']';
  object.begin();
  object.number("n", decoded.lineNumber);
  object.text("prefix", decoded.prefix);
  if (!decoded.deviceId.empty()) {
    object.text("device", decoded.deviceId);
  }
  object.number("timestamp", decoded.timestamp);
  object.word("type", decoded.type);
  object.members(decoded.statementMembers);
  object.json("values", std::string_view(values, static_cast<std::size_t>(end - values)));
  object.text("message", message);
  return object.endLine();
}

std::string reportHead(const kivlog::Report::Setup& setup, const kivlog::Report::Image* umac,
                       const kivlog::Report::Image* lmac) {
  std::string usingText;
  KivJsonObject used(usingText);
  used.text("mode", setup.mode);
  if (setup.mode == "legacy") {
    used.text("lmac_elf", setup.lmacElf).text("umac_elf", setup.umacElf);
  } else {
    used.text("kiv_log_elf", setup.kivLogElf);
  }
  if (setup.libraryFolder) {
    std::string folder;
    KivJsonObject(folder)
        .text("folder", *setup.libraryFolder)
        .number("builds", setup.libraryBuilds)
        .end();
    used.json("library", folder);
  }
  used.text("input", setup.input).text("output", setup.output).end();

  std::string images;
  KivJsonObject imageObject(images);
  const kivlog::Report::Image* both[] = {umac, lmac};
  const char* names[] = {"UMAC", "LMAC"};
  for (std::size_t mac = 0; mac < 2; ++mac) {
    if (const kivlog::Report::Image* image = both[mac]) {
      std::string values;
      KivJsonObject(values)
          .number("data_offset", image->dataOffset)
          .number("base_address", image->baseAddress)
          .number("version_address", image->versionAddress)
          .text("version", image->version)
          .end();
      imageObject.json(names[mac], values);
    }
  }
  imageObject.end();

  std::string text = "{\"report\":";
  KivJsonObject report(text);
  report.json("using", usingText).json("images", images).json("devices", "[");
  return text;
}

std::string reportDevice(const kivlog::Report::Device& device) {
  std::string text;
  KivJsonObject object(text);
  object.text("id", device.id).boolean("versioned", device.versioned);
  if (device.versioned) {
    object.boolean("compatible", device.compatible)
        .text("umac", device.umac)
        .text("lmac", device.lmac);
  }
  if (device.firmware) {
    object.text("firmware", *device.firmware);
  }
  object.boolean("strict", device.strict)
      .number("line_start", device.lineStart)
      .number("line_end", device.lineEnd)
      .number("skipped", device.skipped)
      .number("processed", device.processed)
      .number("version_mismatch", device.versionMismatch)
      .number("version_unknown", device.versionUnknown)
      .number("errors", device.errors)
      .end();
  return text;
}

}  // namespace kivjson

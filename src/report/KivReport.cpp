// The end-of-run processing report: the images' values and, per device, its versions and counters.
#include <string>

#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "records/KivDeviceDesc.h"
#include "records/KivLogMeta.h"
#include "report/KivRunReport.h"
#include "support/KivJson.h"

namespace {

// Warning lines go to the report stream (with -r) and always to the warning output. Everything
// written so far is pushed out first, so that a terminal shows both in order.
void warn(std::ostream& stream, bool intoStream, const std::string& text,
          const KivRunReport::Warning& warning) {
  if (intoStream) {
    stream << text << '\n';
  }
  stream.flush();
  warning(text);
}

void deviceWarnings(const KivDeviceDesc& device, std::ostream& stream, bool intoStream,
                    const KivRunReport::Warning& warning) {
  if (device.versionUnknown != 0) {
    warn(stream, intoStream,
         "*** WARNING: " + std::to_string(device.versionUnknown) +
             " lines processed with unknown ELF version",
         warning);
  }
  if (device.versionMismatch != 0 && !device.strict) {
    warn(stream, intoStream,
         "*** ERROR: " + std::to_string(device.versionMismatch) +
             " lines processed with mismatched ELF version",
         warning);
  }
}

}  // namespace

void KivRunReport::writeUsingBlock(std::ostream& stream) const {
  stream << "\n\nUsing:\n";
  if (setup_.legacy) {
    stream << "  LMAC ELF " << setup_.lmacPath << '\n' << "  UMAC ELF " << setup_.umacPath << '\n';
  } else {
    stream << "  KIV_LOG ELF " << setup_.combinedPath << '\n';
  }
  if (setup_.library != nullptr) {
    const std::size_t builds = setup_.library->size();
    stream << "  Library  " << setup_.library->folder() << " (" << builds << " builds)\n";
  }
  stream << "  Input    " << setup_.input << '\n' << "  Output   " << setup_.output << '\n';
}

void KivRunReport::writeText(std::ostream& stream, const Warning& warning) const {
  if (!full_) {
    writeWarnings(stream, false, warning);
    return;
  }
  writeUsingBlock(stream);
  const auto& images = processor_.macMetadata;
  for (std::size_t mac = 0; mac < images.size(); ++mac) {
    const KivLogMetadata* image = images[mac];
    stream << '[' << macNames[mac] << "]\n";
    if (image == nullptr) {
      continue;
    }
    stream << std::hex << "    Data Offset=" << image->dataOffset()
           << " Base Address=" << image->baseAddress()
           << " Version Address=" << image->versionAddress() << '\n';
    stream << "    VERSION " << image->elfVersion().text() << '\n';
  }
  stream << '\n';
  for (const auto& entry : processor_.devices) {
    const KivDeviceDesc& device = *entry;
    stream << "Device: " << device.deviceId << '\n';
    deviceWarnings(device, stream, true, warning);
    for (std::size_t mac = 0; mac < KivDeviceDesc::kMacCount; ++mac) {
      stream << "    " << macNames[mac];
      if (device.versioned) {
        stream << (device.compatible ? " COMPATIBLE " : " *INCOMPATIBLE* ") << "version "
               << device.versions[mac].text() << '\n';
      }
    }
    if (device.firmware != nullptr) {
      stream << "    Firmware " << device.firmware->path << '\n';
    }
    stream << std::dec << '\n';
    stream << "    Line Start:       " << device.lineStart << '\n'
           << "    Line End:         " << device.lineEnd << '\n'
           << "    Skipped:          " << device.skipped << '\n'
           << "    Processed:        " << device.processed << '\n'
           << "    Version mismatch: " << device.versionMismatch << '\n'
           << "    Version Unknown:  " << device.versionUnknown << '\n'
           << "    Errors:           " << device.errors << '\n';
  }
  stream.flush();
}

void KivRunReport::writeWarnings(std::ostream& stream, bool intoStream,
                                 const Warning& warning) const {
  for (const auto& device : processor_.devices) {
    deviceWarnings(*device, stream, intoStream, warning);
  }
  stream.flush();
}

std::string KivRunReport::usingObject() const {
  std::string text;
  KivJsonObject object(text);
  if (setup_.legacy) {
    object.text("mode", "legacy")
        .text("lmac_elf", setup_.lmacPath)
        .text("umac_elf", setup_.umacPath);
  } else {
    object.text("mode", "combined").text("kiv_log_elf", setup_.combinedPath);
  }
  if (setup_.library != nullptr) {
    std::string folder;
    const std::size_t builds = setup_.library->size();
    KivJsonObject(folder).text("folder", setup_.library->folder()).number("builds", builds).end();
    object.json("library", folder);
  }
  object.text("input", setup_.input).text("output", setup_.output).end();
  return text;
}

void KivRunReport::writeJson(std::ostream& stream, const Warning& warning) const {
  if (!full_) {
    writeWarnings(stream, false, warning);
    return;
  }
  const std::string usingText = usingObject();
  std::string text;
  text += "{\"report\":";
  KivJsonObject report(text);
  report.json("using", usingText);
  std::string images;
  KivJsonObject imageObject(images);
  for (std::size_t mac = 0; mac < processor_.macMetadata.size(); ++mac) {
    if (const KivLogMetadata* image = processor_.macMetadata[mac]) {
      std::string values;
      KivJsonObject(values)
          .number("data_offset", image->dataOffset())
          .number("base_address", image->baseAddress())
          .number("version_address", image->versionAddress())
          .text("version", image->elfVersion().text())
          .end();
      imageObject.json(macNames[mac], values);
    }
  }
  imageObject.end();
  report.json("images", images);
  // The devices are written one by one as they come: a log may name millions of them.
  report.json("devices", "[");
  stream << text;
  bool first = true;
  std::string entryText;
  for (const auto& entry : processor_.devices) {
    const KivDeviceDesc& device = *entry;
    entryText.clear();
    if (!first) {
      entryText += ',';
    }
    first = false;
    KivJsonObject object(entryText);
    object.text("id", device.deviceId).boolean("versioned", device.versioned);
    if (device.versioned) {
      object.boolean("compatible", device.compatible)
          .text("umac", device.versions[0].text())
          .text("lmac", device.versions[1].text());
    }
    if (device.firmware != nullptr) {
      object.text("firmware", device.firmware->path);
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
    stream << entryText;
  }
  stream << "]}}\n";
  writeWarnings(stream, false, warning);
}

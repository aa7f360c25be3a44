// The end-of-run processing report: the images' values and, per device, its versions and counters.
#include <iostream>
#include <string>

#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "records/KivDeviceDesc.h"
#include "records/KivLogMeta.h"
#include "support/KivJson.h"
#include "support/KivStderr.h"

namespace {

// Warning lines go to the report stream (with -r) and always to standard error. Everything written
// so far is pushed out first, so the terminal shows both streams in order.
void warn(std::ostream& stream, bool full, const std::string& text) {
  if (full) {
    stream << text << '\n';
  }
  stream.flush();
  std::cout.flush();
  writeToStderr(text + '\n');
}

}  // namespace

void KivLogProcessor::printReport(std::ostream& stream, bool full) const {
  if (full) {
    for (std::size_t mac = 0; mac < macMetadata.size(); ++mac) {
      const KivLogMetadata* image = macMetadata[mac];
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
  }
  for (const auto& device : devices) {
    if (full) {
      stream << "Device: " << device->deviceId << '\n';
    }
    device->printDeviceReport(stream, full);
  }
  stream.flush();
}

void KivDeviceDesc::printDeviceReport(std::ostream& stream, bool full) const {
  if (versionUnknown != 0) {
    warn(stream, full,
         "*** WARNING: " + std::to_string(versionUnknown) +
             " lines processed with unknown ELF version");
  }
  if (versionMismatch != 0 && !strict) {
    warn(stream, full,
         "*** ERROR: " + std::to_string(versionMismatch) +
             " lines processed with mismatched ELF version");
  }
  if (!full) {
    return;
  }
  for (std::size_t mac = 0; mac < kMacCount; ++mac) {
    stream << "    " << macNames[mac];
    if (versioned) {
      stream << (compatible ? " COMPATIBLE " : " *INCOMPATIBLE* ") << "version "
             << versions[mac].text() << '\n';
    }
  }
  if (firmware != nullptr) {
    stream << "    Firmware " << firmware->path << '\n';
  }
  stream << std::dec << '\n';
  stream << "    Line Start:       " << lineStart << '\n'
         << "    Line End:         " << lineEnd << '\n'
         << "    Skipped:          " << skipped << '\n'
         << "    Processed:        " << processed << '\n'
         << "    Version mismatch: " << versionMismatch << '\n'
         << "    Version Unknown:  " << versionUnknown << '\n'
         << "    Errors:           " << errors << '\n';
}

void KivLogProcessor::printJsonReport(std::ostream& stream, std::string_view usingObject) const {
  std::string text;
  text += "{\"report\":";
  KivJsonObject report(text);
  report.json("using", usingObject);
  std::string images;
  KivJsonObject imageObject(images);
  for (std::size_t mac = 0; mac < macMetadata.size(); ++mac) {
    if (const KivLogMetadata* image = macMetadata[mac]) {
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
  for (const auto& device : devices) {
    entryText.clear();
    if (!first) {
      entryText += ',';
    }
    first = false;
    KivJsonObject entry(entryText);
    entry.text("id", device->deviceId).boolean("versioned", device->versioned);
    if (device->versioned) {
      entry.boolean("compatible", device->compatible)
          .text("umac", device->versions[0].text())
          .text("lmac", device->versions[1].text());
    }
    if (device->firmware != nullptr) {
      entry.text("firmware", device->firmware->path);
    }
    entry.boolean("strict", device->strict)
        .number("line_start", device->lineStart)
        .number("line_end", device->lineEnd)
        .number("skipped", device->skipped)
        .number("processed", device->processed)
        .number("version_mismatch", device->versionMismatch)
        .number("version_unknown", device->versionUnknown)
        .number("errors", device->errors)
        .end();
    stream << entryText;
  }
  stream << "]}}\n";
  stream.flush();
}

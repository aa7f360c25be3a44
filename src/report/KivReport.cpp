// The end-of-run processing report: the images' values and, per device, its versions and counters.
#include <optional>
#include <string>

#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "records/KivDeviceDesc.h"
#include "records/KivJsonLines.h"
#include "records/KivLogMeta.h"
#include "report/KivRunReport.h"

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
    const std::size_t builds = processor_.libraryBuilds();
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

kivlog::Report::Setup KivRunReport::publicSetup() const {
  kivlog::Report::Setup setup;
  setup.mode = setup_.legacy ? "legacy" : "combined";
  if (setup_.legacy) {
    setup.lmacElf = setup_.lmacPath;
    setup.umacElf = setup_.umacPath;
  } else {
    setup.kivLogElf = setup_.combinedPath;
  }
  if (setup_.library != nullptr) {
    setup.libraryBuilds = processor_.libraryBuilds();
    setup.libraryFolder = setup_.library->folder();
  }
  setup.input = setup_.input;
  setup.output = setup_.output;
  return setup;
}

kivlog::Report::Device KivRunReport::publicDevice(const KivDeviceDesc& device) {
  kivlog::Report::Device out;
  out.id = device.deviceId;
  out.versioned = device.versioned;
  if (device.versioned) {
    out.compatible = device.compatible;
    out.umac = device.versions[0].text();
    out.lmac = device.versions[1].text();
  }
  if (device.firmware != nullptr) {
    out.firmware = device.firmware->path;
  }
  out.strict = device.strict;
  out.lineStart = device.lineStart;
  out.lineEnd = device.lineEnd;
  out.skipped = device.skipped;
  out.processed = device.processed;
  out.versionMismatch = device.versionMismatch;
  out.versionUnknown = device.versionUnknown;
  out.errors = device.errors;
  return out;
}

namespace {

kivlog::Report::Image publicImage(const KivLogMetadata& image) {
  return {image.dataOffset(), image.baseAddress(), image.versionAddress(),
          image.elfVersion().text()};
}

}  // namespace

kivlog::Report KivRunReport::toPublic() const {
  kivlog::Report report;
  report.setup = publicSetup();
  if (const KivLogMetadata* umac = processor_.macMetadata[0]) {
    report.umac = publicImage(*umac);
  }
  if (const KivLogMetadata* lmac = processor_.macMetadata[1]) {
    report.lmac = publicImage(*lmac);
  }
  for (const auto& device : processor_.devices) {
    report.devices.push_back(publicDevice(*device));
  }
  return report;
}

void KivRunReport::writeJson(std::ostream& stream, const Warning& warning) const {
  if (!full_) {
    writeWarnings(stream, false, warning);
    return;
  }
  const kivlog::Report::Setup setup = publicSetup();
  std::optional<kivlog::Report::Image> images[2];
  for (std::size_t mac = 0; mac < 2; ++mac) {
    if (const KivLogMetadata* image = processor_.macMetadata[mac]) {
      images[mac] = publicImage(*image);
    }
  }
  stream << kivjson::reportHead(setup, images[0] ? &*images[0] : nullptr,
                                images[1] ? &*images[1] : nullptr);
  // The devices are written one by one as they come: a log may name millions of them.
  bool first = true;
  for (const auto& device : processor_.devices) {
    if (!first) {
      stream << ',';
    }
    first = false;
    stream << kivjson::reportDevice(publicDevice(*device));
  }
  stream << kivjson::kReportTail;
  writeWarnings(stream, false, warning);
}

#include "records/KivDeviceDesc.h"

#include "metadata/KivLogMetadata.h"
#include "records/KivDetokenizer.h"
#include "records/KivLogMeta.h"
#include "support/KivDebugLog.h"

namespace {

constexpr const char* kPersonalLogSuffix = "_personal.log";
constexpr uint32_t kLmacIndex = 1;

}  // namespace

KivDeviceDesc::KivDeviceDesc(std::string_view id, uint32_t lineNumber, bool isVersioned,
                             bool isStrict)
    : deviceId(id),
      lineStart(lineNumber),
      emptyId(id.empty()),
      versioned(isVersioned),
      strict(isStrict) {}

KivDeviceDesc::~KivDeviceDesc() = default;

KivDeviceDesc::Versions& KivDeviceDesc::Versions::operator=(const Versions& other) {
  if (this != &other) {
    records_ = other.records_
                   ? std::make_unique<std::array<FwElfVersion, kMacCount>>(*other.records_)
                   : nullptr;
  }
  return *this;
}

FwElfVersion& KivDeviceDesc::Versions::operator[](std::size_t mac) {
  if (!records_) {
    records_ = std::make_unique<std::array<FwElfVersion, kMacCount>>();
  }
  return (*records_)[mac];
}

const FwElfVersion& KivDeviceDesc::Versions::operator[](std::size_t mac) const {
  static const FwElfVersion kNotGiven{};
  return records_ ? (*records_)[mac] : kNotGiven;
}

bool KivDeviceDesc::handleToken(uint32_t index, std::string_view token) {
  const uint32_t field = index % kTokensPerMac;
  if (field == 0) {
    macIndex = token == macNames[kLmacIndex] ? kLmacIndex : 0;
  } else {
    versions[macIndex].setField(field - 1, token);
  }
  return true;
}

bool KivDeviceDesc::isTokenCountValid(uint32_t count) {
  return count == kTokenCount;
}

std::unique_ptr<KivDeviceDesc> KivDeviceDesc::createFromLine(std::string_view id,
                                                             std::string_view line,
                                                             std::size_t& position,
                                                             uint32_t lineNumber, bool isStrict) {
  auto device = std::make_unique<KivDeviceDesc>(id, lineNumber, true, isStrict);
  KivDetokenizer detokenizer;
  if (!detokenizer.detokenize(line, position, *device)) {
    debugLog(kLogError, "Failed to detokenize device descriptor line %s",
             std::string(line).c_str());
    return nullptr;
  }
  return device;
}

std::unique_ptr<KivDeviceDesc> KivDeviceDesc::createUnversioned(std::string_view id,
                                                                uint32_t lineNumber) {
  return std::make_unique<KivDeviceDesc>(id, lineNumber, false, false);
}

void KivDeviceDesc::updateVersion(const KivDeviceDesc& other) {
  versions = other.versions;
  versioned = true;
}

bool KivDeviceDesc::checkFirmware(KivLogMetadata* const* images, std::size_t count) {
  compatible = true;
  std::size_t mac = 0;
  for (; mac < kMacCount && mac < count; ++mac) {
    if (!versions[mac].sameAs(images[mac]->elfVersion())) {
      compatible = false;
      return false;
    }
    debugLog(kLogDebug, "Device description to FW check %s compatible", macNames[mac].data());
  }
  if (mac < kMacCount) {
    compatible = false;
  }
  return compatible;
}

std::string KivDeviceDesc::personalLogName(std::string_view id) {
  std::string name;
  name.reserve(id.size() + 16);
  for (const char c : id) {
    if (c == '/') {
      name += "%2F";
    } else if (c == '%') {
      name += "%25";
    } else {
      name += c;
    }
  }
  name += kPersonalLogSuffix;
  return name;
}

void KivDeviceDesc::openPersonalLog(const std::string& folder, const KivOutput::Identity* input) {
  if (emptyId) {
    return;
  }
  const std::string path = folder + "/" + personalLogName(deviceId);
  KivOutput::Refusal refusal{};
  personalLog = KivOutput::create(path, KivOutput::Size::kSmall, {input, false}, refusal);
  if (personalLog) {
    debugLog(kLogDebug, "Using personal log %s", path.c_str());
  } else if (refusal == KivOutput::Refusal::kCannotOpen) {
    debugLog(kLogError, "Unable to open personal log output stream %s", path.c_str());
  } else {
    debugLog(kLogError, "Unable to open personal log output stream %s: %s", path.c_str(),
             KivOutput::refusalText(refusal).c_str());
  }
}

void KivDeviceDesc::writeToPersonalLog(std::string_view line) {
  if (personalLog) {
    personalLog->writeLine(line);
  }
}

void KivDeviceDesc::flushPersonalLog() {
  if (personalLog) {
    personalLog->flush();
  }
}

#include "output/KivEventFilter.h"

#include "records/KivDecodedRecord.h"
#include "records/KivDeviceDesc.h"
#include "records/KivLogMeta.h"

namespace {

constexpr uint16_t kAlways = logLevelNames.size() - 1;

}  // namespace

KivEventFilter::KivEventFilter(const Rules& rules, KivEventSink& next)
    : level_(rules.level),
      devices_(rules.devices.begin(), rules.devices.end()),
      mac_(rules.mac),
      noHost_(rules.noHost),
      next_(next) {}

bool KivEventFilter::deviceShown(std::string_view deviceId) const {
  return devices_.empty() || devices_.contains(deviceId);
}

bool KivEventFilter::macShown(uint32_t logType) const {
  return !mac_ || logType >> 1 == *mac_;
}

void KivEventFilter::host(const KivHostEvent& event) {
  if (noHost_) {
    return;
  }
  if (devices_.empty()) {
    next_.host(event);
    return;
  }
  shownLogs_.clear();
  for (KivDeviceDesc* device : event.personalLogs) {
    if (deviceShown(device->deviceId)) {
      shownLogs_.push_back(device);
    }
  }
  next_.host({event.lineNumber, event.line, shownLogs_});
}

void KivEventFilter::descriptor(const KivDescriptorEvent& event) {
  if (deviceShown(event.device.deviceId)) {
    next_.descriptor(event);
  }
}

void KivEventFilter::decoded(const KivDecodedRecord& record) {
  const uint16_t level = record.meta().level;
  if ((!level_ || level <= *level_ || level >= kAlways) && macShown(record.record().log_type) &&
      deviceShown(record.device().deviceId)) {
    next_.decoded(record);
  }
}

void KivEventFilter::undecoded(const KivUndecodedEvent& event) {
  if (!level_ && macShown(event.logType) && deviceShown(event.deviceId)) {
    next_.undecoded(event);
  }
}

void KivEventFilter::diagnostic(const KivDiagnosticEvent& event) {
  next_.diagnostic(event);
}

void KivEventFilter::report(const KivRunReport& report) {
  next_.report(report);
}

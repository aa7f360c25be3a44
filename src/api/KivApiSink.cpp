#include "api/KivApiSink.h"

#include "metadata/KivFirmwareLibrary.h"
#include "records/KivDecodedRecord.h"
#include "records/KivDeviceDesc.h"
#include "records/KivJsonLines.h"
#include "records/KivLogData.h"
#include "report/KivRunReport.h"
#include "support/KivDebugLog.h"

namespace {

template <typename T, typename Variant, std::size_t I = 0>
constexpr std::size_t indexOf() {
  if constexpr (std::is_same_v<std::variant_alternative_t<I, Variant>, T>) {
    return I;
  } else {
    return indexOf<T, Variant, I + 1>();
  }
}

void setFirmware(std::optional<std::string>& firmware, const KivDeviceDesc& device) {
  if (device.firmware != nullptr) {
    firmware = device.firmware->path;
  } else {
    firmware.reset();
  }
}

}  // namespace

void KivApiSink::setHandler(const Handler* handler) {
  handler_ = handler;
  deliverWaiting();
}

void KivApiSink::setTarget(std::vector<kivlog::Event>* events, std::size_t used) {
  target_ = events;
  targetUsed_ = used;
  deliverWaiting();
}

void KivApiSink::deliverWaiting() {
  if ((handler_ != nullptr || target_ != nullptr) && !waiting_.empty()) {
    std::vector<kivlog::Event> waiting;
    waiting.swap(waiting_);
    for (kivlog::Event& event : waiting) {
      deliver(event);
    }
  }
}

template <typename T>
T& KivApiSink::slot() {
  if (target_ != nullptr) {
    if (targetUsed_ == target_->size()) {
      target_->emplace_back(T{});
    }
    kivlog::Event& event = (*target_)[targetUsed_];
    if (!std::holds_alternative<T>(event)) {
      event.emplace<T>();
    }
    return std::get<T>(event);
  }
  return std::get<T>(own_[indexOf<T, kivlog::Event>()]);
}

template <typename T>
void KivApiSink::deliver(T& filled) {
  if (target_ != nullptr) {
    ++targetUsed_;
  } else if (handler_ != nullptr) {
    (*handler_)(own_[indexOf<T, kivlog::Event>()]);
  } else {
    waiting_.emplace_back(filled);
  }
}

void KivApiSink::deliver(kivlog::Event& event) {
  std::visit(
      [this](auto& filled) {
        using T = std::decay_t<decltype(filled)>;
        slot<T>() = filled;
        deliver(slot<T>());
      },
      event);
}

void KivApiSink::host(const KivHostEvent& event) {
  kivlog::HostLine& out = slot<kivlog::HostLine>();
  out.n = event.lineNumber;
  out.line.assign(event.line);
  deliver(out);
}

void KivApiSink::descriptor(const KivDescriptorEvent& event) {
  kivlog::DescriptorLine& out = slot<kivlog::DescriptorLine>();
  const KivDeviceDesc& device = event.device;
  out.n = event.lineNumber;
  out.device = device.deviceId;
  out.umac = device.versions[0].text();
  out.lmac = device.versions[1].text();
  out.compatible = device.compatible;
  setFirmware(out.firmware, device);
  out.line.assign(event.line);
  deliver(out);
}

void KivApiSink::decoded(const KivDecodedRecord& record) {
  kivlog::DecodedRecord& out = slot<kivlog::DecodedRecord>();
  const KivLogData& data = record.record();
  const LogMeta meta = record.meta();
  out.n = record.lineNumber();
  out.prefix.assign(record.prefix());
  out.device = record.device().deviceId;
  out.timestamp = data.timestamp;
  out.type.assign(record.typeName());
  out.level.assign(record.levelName());
  out.module = meta.module;
  out.file.assign(record.fileName());
  out.sourceLine = meta.line;
  out.format.assign(record.format());
  out.values = {data.param0, data.param1};
  std::string_view message = record.message();
  if (message.ends_with('\n')) {
    message.remove_suffix(message.ends_with("\r\n") ? 2 : 1);
  }
  out.message.assign(message);
  deliver(out);
}

void KivApiSink::undecoded(const KivUndecodedEvent& event) {
  kivlog::UndecodedLine& out = slot<kivlog::UndecodedLine>();
  out.n = event.lineNumber;
  out.device.assign(event.deviceId);
  out.reason.assign(event.reason == KivUndecodedReason::kVersionMismatch
                        ? kivjson::kVersionMismatch
                        : kivjson::kUnannouncedDevice);
  out.line.assign(event.line);
  deliver(out);
}

void KivApiSink::diagnostic(const KivDiagnosticEvent& event) {
  kivlog::Diagnostic& out = slot<kivlog::Diagnostic>();
  out.level = debugLevelPrefix(event.level);
  out.text.assign(event.text);
  deliver(out);
}

void KivApiSink::report(const KivRunReport& report) {
  report_ = report.toPublic();
}

#pragma once

#include <array>
#include <functional>
#include <vector>

#include "kivlog/Events.h"
#include "output/KivEventSink.h"

// Turns the processor's events into the decoder library's events and hands each to the handler
// of the call that is running. Events that come while no call runs (diagnostics of the images'
// loading) wait for the next call.
class KivApiSink : public KivEventSink {
 public:
  using Handler = std::function<void(const kivlog::Event& event)>;

  // The handler of the call that runs; null between calls.
  void setHandler(const Handler* handler);
  // Events into `events` from `used` on, each reusing the storage of the element it lands in;
  // null between calls.
  void setTarget(std::vector<kivlog::Event>* events, std::size_t used);
  // How many events the target holds now.
  std::size_t targetUsed() const { return targetUsed_; }

  void host(const KivHostEvent& event) override;
  void descriptor(const KivDescriptorEvent& event) override;
  void decoded(const KivDecodedRecord& record) override;
  void undecoded(const KivUndecodedEvent& event) override;
  void diagnostic(const KivDiagnosticEvent& event) override;
  void report(const KivRunReport& report) override;

  // The report the last report event gave.
  kivlog::Report takeReport() { return std::move(report_); }

 private:
  // The event of kind T to fill: an element of the target, or the sink's own of that kind.
  template <typename T>
  T& slot();
  void deliver(kivlog::Event& event);
  // Hands the events that came between calls to the call that now runs.
  void deliverWaiting();
  template <typename T>
  void deliver(T& filled);

  const Handler* handler_ = nullptr;
  std::vector<kivlog::Event>* target_ = nullptr;
  std::size_t targetUsed_ = 0;
  // One event of each kind, filled again for each event of its kind so its storage is reused.
  std::array<kivlog::Event, std::variant_size_v<kivlog::Event>> own_{
      kivlog::HostLine{}, kivlog::DescriptorLine{}, kivlog::DecodedRecord{},
      kivlog::UndecodedLine{}, kivlog::Diagnostic{}};
  std::vector<kivlog::Event> waiting_;
  kivlog::Report report_;
};

// kivlog::Decoder: the processor of the command line, with its events handed to the caller.
#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "api/KivApiSink.h"
#include "kivlog/Decoder.h"
#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "report/KivRunReport.h"
#include "support/KivDebugLog.h"

namespace kivlog {
namespace {

constexpr const char* kCombinedUmacSignature = "FAST_LOG_UMAC__";
constexpr const char* kCombinedLmacSignature = "FAST_LOG_LMAC__";
constexpr const char* kLegacySignature = "FAST_LOG_START_";

// Passes on the diagnostics of the decoder's verbosity, and keeps the text of the last error
// whatever the verbosity, for the exception that reports it.
class ErrorKeeper : public KivEventSink {
 public:
  ErrorKeeper(KivEventSink& next, int verbosity) : next_(next), verbosity_(verbosity) {}

  void host(const KivHostEvent& event) override { next_.host(event); }
  void descriptor(const KivDescriptorEvent& event) override { next_.descriptor(event); }
  void decoded(const KivDecodedRecord& record) override { next_.decoded(record); }
  void undecoded(const KivUndecodedEvent& event) override { next_.undecoded(event); }
  void report(const KivRunReport& report) override { next_.report(report); }
  void diagnostic(const KivDiagnosticEvent& event) override {
    if (event.level == kLogError && !event.dumpRow) {
      lastError_.assign(event.text);
    }
    if (event.level <= verbosity_) {
      next_.diagnostic(event);
    }
  }

  const std::string& lastError() const { return lastError_; }

 private:
  KivEventSink& next_;
  int verbosity_;
  std::string lastError_;
};

}  // namespace

class __attribute__((visibility("hidden"))) Decoder::Impl {
 public:
  explicit Impl(const Options& options);
  ~Impl();

  // While a call runs: the decoder's diagnostics go to its sink, at its verbosity.
  class Call {
   public:
    Call(Impl& impl, const Handler* handler) : impl_(impl), scope_(impl.verbosity_, &impl.sink_) {
      impl_.sink_.setHandler(handler);
    }
    ~Call() { impl_.sink_.setHandler(nullptr); }

   private:
    Impl& impl_;
    KivDiagnosticScope scope_;
  };

  void decodeFile(const std::string& path);
  // `passErrorOn`: whether the ERR line of a file that cannot be opened is an event too.
  void open(const std::string& path, bool passErrorOn);
  bool read(std::vector<Event>& events, std::size_t count);
  void decode(std::string_view text) { processor_.processText(text); }
  Report finish();

 private:
  // Ends the file being read; throws InputError after a read error.
  void endFile();

  int verbosity_;
  KivRunSetup setup_;
  KivApiSink sink_;
  KivLogMetadata umac_;
  KivLogMetadata lmac_;
  std::optional<KivFirmwareLibrary> library_;
  KivLogProcessor processor_;
  bool reading_ = false;
  std::string readPath_;
};

Decoder::Impl::Impl(const Options& options) : verbosity_(options.verbosity) {
  const bool legacy = !options.umac.empty() || !options.lmac.empty();
  setup_.legacy = legacy;
  setup_.combinedPath = options.elf;
  setup_.umacPath = options.umac.empty() ? "umac.elf" : options.umac;
  setup_.lmacPath = options.lmac.empty() ? "lmac.elf" : options.lmac;
  const std::string umacSignature = !options.sigUmac.empty() ? options.sigUmac
                                    : legacy                 ? kLegacySignature
                                                             : kCombinedUmacSignature;
  const std::string lmacSignature = !options.sigLmac.empty() ? options.sigLmac
                                    : legacy                 ? kLegacySignature
                                                             : kCombinedLmacSignature;

  if (!options.library.empty()) {
    std::string reason;
    if (!KivFirmwareLibrary::readable(options.library, reason)) {
      throw LibraryError("cannot read firmware folder " + options.library + ": " + reason);
    }
    library_.emplace(options.library,
                     options.sigUmac.empty() ? kCombinedUmacSignature : options.sigUmac,
                     options.sigLmac.empty() ? kCombinedLmacSignature : options.sigLmac);
    setup_.library = &*library_;
    processor_.library = &*library_;
  }
  processor_.sink = &sink_;
  processor_.strict = options.strict;
  processor_.flushesStandardOutput = false;

  // Errors are kept whatever the verbosity, and passed on only at the decoder's.
  ErrorKeeper keeper(sink_, verbosity_);
  const KivDiagnosticScope scope(std::max(verbosity_, static_cast<int>(kLogError)), &keeper);
  debugLog(kLogDebug, "Debug level is set %d", verbosity_);
  if (!umac_.load(legacy ? setup_.umacPath : setup_.combinedPath, umacSignature) ||
      !lmac_.load(legacy ? setup_.lmacPath : setup_.combinedPath, lmacSignature)) {
    throw ImageError(keeper.lastError());
  }
  processor_.setUmacMetadata(&umac_);
  processor_.setLmacMetadata(&lmac_);
}

Decoder::Impl::~Impl() {
  // The devices' farewell traces have nobody to go to.
  const KivDiagnosticScope quiet(-1, &sink_);
  processor_.closeInput();
}

void Decoder::Impl::open(const std::string& path, bool passErrorOn) {
  if (reading_) {
    endFile();
  }
  // Without a handler to take it, the error is only the exception's.
  ErrorKeeper keeper(sink_, passErrorOn ? verbosity_ : kLogError - 1);
  const KivDiagnosticScope scope(std::max(verbosity_, static_cast<int>(kLogError)), &keeper);
  if (!processor_.openFile(path)) {
    throw InputError(keeper.lastError());
  }
  reading_ = true;
  readPath_ = path;
  setup_.input = path;
}

void Decoder::Impl::endFile() {
  reading_ = false;
  processor_.endStream();
  processor_.closeInput();
  if (const std::string& reason = processor_.readError(); !reason.empty()) {
    throw InputError("cannot read " + readPath_ + ": " + reason);
  }
}

bool Decoder::Impl::read(std::vector<Event>& events, std::size_t count) {
  sink_.setTarget(&events, 0);
  struct Untarget {
    KivApiSink& sink;
    ~Untarget() { sink.setTarget(nullptr, 0); }
  } untarget{sink_};
  bool more = reading_;
  while (more && sink_.targetUsed() < count) {
    more = processor_.processLines(count - sink_.targetUsed());
  }
  if (reading_ && !more) {
    endFile();
  }
  events.resize(sink_.targetUsed());
  return !events.empty();
}

void Decoder::Impl::decodeFile(const std::string& path) {
  open(path, true);
  while (processor_.processLines(std::numeric_limits<std::size_t>::max())) {
  }
  endFile();
}

Report Decoder::Impl::finish() {
  processor_.report(setup_, true);
  return sink_.takeReport();
}

Decoder::Decoder(const Options& options) : impl_(std::make_unique<Impl>(options)) {}
Decoder::~Decoder() = default;
Decoder::Decoder(Decoder&&) noexcept = default;
Decoder& Decoder::operator=(Decoder&&) noexcept = default;

void Decoder::decode(std::string_view line, const Handler& handler) {
  const Impl::Call call(*impl_, &handler);
  impl_->decode(line);
}

std::vector<Event> Decoder::decode(std::string_view line) {
  std::vector<Event> events;
  const Handler collect = [&events](const Event& event) { events.push_back(event); };
  decode(line, collect);
  return events;
}

void Decoder::decodeFile(const std::string& path, const Handler& handler) {
  const Impl::Call call(*impl_, &handler);
  impl_->decodeFile(path);
}

void Decoder::open(const std::string& path) {
  const Impl::Call call(*impl_, nullptr);
  impl_->open(path, false);
}

bool Decoder::read(std::vector<Event>& events, std::size_t count) {
  const Impl::Call call(*impl_, nullptr);
  return impl_->read(events, count);
}

Report Decoder::finish(const Handler& handler) {
  const Impl::Call call(*impl_, handler ? &handler : nullptr);
  return impl_->finish();
}

}  // namespace kivlog

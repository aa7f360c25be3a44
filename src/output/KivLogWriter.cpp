#include "output/KivLogWriter.h"

#include "records/KivDeviceDesc.h"

KivLogWriter::KivLogWriter(std::ostream& console, KivRunReport::Warning warning)
    : console_(console), main_(console.rdbuf()), warning_(std::move(warning)) {}

void KivLogWriter::writeLine(std::string_view line, const KivDeviceDesc* device) {
  main_->sputn(line.data(), static_cast<std::streamsize>(line.size()));
  main_->sputc('\n');
  if (device == nullptr) {
    return;
  }
  if (device->personalLog) {
    device->personalLog->writeLine(line);
  } else if (recorder_ != nullptr && device->recordSlot >= 0) {
    recorder_->personal(KivPieceOutput::Kind::kPersonalLine,
                        static_cast<uint32_t>(device->recordSlot), line);
  }
}

void KivLogWriter::writeLine(std::string_view line, std::span<KivDeviceDesc* const> devices) {
  if (recorder_ != nullptr) {
    // Which personal logs are open when the piece's turn comes is known only then.
    recorder_->host(line);
    return;
  }
  main_->sputn(line.data(), static_cast<std::streamsize>(line.size()));
  main_->sputc('\n');
  for (const KivDeviceDesc* device : devices) {
    device->personalLog->writeLine(line);
  }
}

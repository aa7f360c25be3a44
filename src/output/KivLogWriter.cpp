#include "output/KivLogWriter.h"

#include "records/KivDeviceDesc.h"

KivLogWriter::KivLogWriter(std::ostream& console, KivRunReport::Warning warning)
    : console_(console), main_(console.rdbuf()), warning_(std::move(warning)) {}

void KivLogWriter::writeLine(std::string_view line, const KivDeviceDesc* device) {
  main_->sputn(line.data(), static_cast<std::streamsize>(line.size()));
  main_->sputc('\n');
  if (device != nullptr && device->personalLog) {
    device->personalLog->writeLine(line);
  }
}

void KivLogWriter::writeLine(std::string_view line, std::span<KivDeviceDesc* const> devices) {
  main_->sputn(line.data(), static_cast<std::streamsize>(line.size()));
  main_->sputc('\n');
  for (const KivDeviceDesc* device : devices) {
    device->personalLog->writeLine(line);
  }
}

#include "processor/KivLogProcessor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "support/KivDebugLog.h"
#include "metadata/KivLogMetadata.h"
#include "processor/KivLineReader.h"
#include "records/KivDetokenizer.h"

// Built once at start-up, before any input is read.
const std::string kMainLogName = "HostAndFirmware.log";

namespace {

constexpr std::string_view kVersionMarker = "[FW_ELF_VER]";
constexpr std::string_view kDataMarker = "[FW_LOG-R]";
constexpr std::string_view kIdKey = "ID";

void writeLine(std::ostream& out, std::string_view line) {
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
  out.put('\n');
}

}  // namespace

KivLogProcessor::KivLogProcessor() : mainOutput(&std::cout) {}

KivLogProcessor::~KivLogProcessor() {
  loggingDevices_.clear();
  for (auto& [id, device] : devices) {
    debugLog(kLogDebug, "Deleting device \"%s\"", id.c_str());
    device.reset();
  }
  rawInput.reset();
  if (rawInputFd_ >= 0) {
    ::close(rawInputFd_);
    rawInputFd_ = -1;
  }
  if (!mainIsStdout && mainLog_) {
    mainLog_->close();
    mainLog_.reset();
    mainOutput = &std::cout;
  }
}

bool KivLogProcessor::openOutputFolder(const std::string& folder) {
  debugLog(kLogDebug, "Output to folder is desired");
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    mainOutput = &std::cout;
    return false;
  }
  debugLog(kLogDebug, "Directory %s exists.", folder.c_str());
  const std::string path = folder + "/" + kMainLogName;
  auto log =
      std::make_unique<std::ofstream>(path, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!log->is_open()) {
    debugLog(kLogError, "Unable to open main output stream %s", path.c_str());
    return false;
  }
  debugLog(kLogDebug, "Using main log %s", path.c_str());
  outputFolder = folder;
  mainLog_ = std::move(log);
  mainOutput = mainLog_.get();
  mainIsStdout = false;
  return true;
}

bool KivLogProcessor::processFile(const std::string& path) {
  rawInputFd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (rawInputFd_ >= 0 && (::fstat(rawInputFd_, &info) != 0 || S_ISDIR(info.st_mode))) {
    ::close(rawInputFd_);
    rawInputFd_ = -1;
  }
  if (rawInputFd_ < 0) {
    debugLog(kLogError, "Unable to open raw log file %s", path.c_str());
    return false;
  }
  return processStream(rawInputFd_);
}

bool KivLogProcessor::processStdin() {
  return processStream(STDIN_FILENO);
}

bool KivLogProcessor::processStream(int fd) {
  rawInput = std::make_unique<KivLineReader>(fd, [this] { flushOutputs(); });
  KivLineReader& reader = *rawInput;
  lineNumber = 1;
  std::string_view text;
  bool cut = false;
  while (reader.good() && reader.readLine(text, cut)) {
    if (cut) {
      debugLog(kLogWarning,
               "Line %u is longer than %zu characters; the rest is read as the next line",
               lineNumber, KivLineReader::kMaxLineLength);
    }
    dispatchLine(text);
    ++lineNumber;
  }
  debugLog(kLogDebug, "good() %d bad() %d eof() %d fail() %d", reader.good(), reader.bad(),
           reader.eof(), reader.fail());
  flushOutputs();
  return true;
}

void KivLogProcessor::dispatchLine(std::string_view line) {
  if (KivDeviceDesc* device = processVersionLine(line)) {
    writeDeviceLine(line, *device);
    return;
  }
  prefix_.clear();
  const std::unique_ptr<KivLogData> record = processDataLine(line, prefix_);
  if (!record) {
    writeHostLine(line);
    return;
  }
  const auto entry = devices.find(record->deviceId);
  if (entry == devices.end()) {
    // A device that strict matching keeps out of the table: its line still reaches the output.
    writeLine(*mainOutput, line);
    return;
  }
  entry->second->renderDataLog(*record, lineNumber, prefix_, macMetadata.data(),
                               static_cast<int>(macMetadata.size()), *mainOutput);
}

KivDeviceDesc* KivLogProcessor::processVersionLine(std::string_view line) {
  const std::size_t marker = line.find(kVersionMarker);
  if (marker == std::string_view::npos) {
    return nullptr;
  }
  debugLog(kLogDebug, "Found version delimiter at line %d", static_cast<int>(lineNumber));
  const std::string text(line);
  std::size_t position = marker + kVersionMarker.size();
  std::string deviceId;
  KivDetokenizer detokenizer;
  if (!detokenizer.nextToken(line, position, kIdKey, deviceId)) {
    debugLog(kLogError, "Failed to get expected device id from line %s", text.c_str());
    return nullptr;
  }
  debugLog(kLogDebug, "Got new or existing device %s",
           deviceId.empty() ? "EMPTY-BACKWARDS-COMPATIBILITY" : deviceId.c_str());
  std::unique_ptr<KivDeviceDesc> parsed =
      KivDeviceDesc::createFromLine(deviceId, line, position, lineNumber, strict);
  if (!parsed) {
    debugLog(kLogError, "Failed create device from log line %s", text.c_str());
    return nullptr;
  }
  KivDeviceDesc* device = nullptr;
  const auto entry = devices.find(deviceId);
  if (entry == devices.end()) {
    debugLog(kLogDebug, "Inserting entirely new device %s", deviceId.c_str());
    device = parsed.get();
    devices.emplace(deviceId, std::move(parsed));
    openPersonalLog(*device);
  } else {
    debugLog(kLogDebug, "%s already exists. Update existing", deviceId.c_str());
    device = entry->second.get();
    device->updateVersion(*parsed);
  }
  device->checkFirmware(macMetadata.data(), macMetadata.size());
  return device;
}

std::unique_ptr<KivLogData> KivLogProcessor::processDataLine(std::string_view line,
                                                             std::string& prefix) {
  const std::size_t marker = line.find(kDataMarker);
  if (marker == std::string_view::npos) {
    return nullptr;
  }
  prefix.assign(line.substr(0, marker));
  std::size_t position = marker + kDataMarker.size();
  std::string deviceId;
  KivDetokenizer detokenizer;
  if (!detokenizer.nextToken(line, position, kIdKey, deviceId)) {
    debugLog(kLogError, "Failed to get expected device id from %s", std::string(line).c_str());
    return nullptr;
  }
  if (!strict) {
    createUnversionedDevice(deviceId);
  }
  std::unique_ptr<KivLogData> record = KivLogData::createDataLog(deviceId, line, position);
  if (!record) {
    return nullptr;
  }
  debugLog(kLogDebug, "Created data log from %s", record->rawLine.c_str());
  return record;
}

void KivLogProcessor::createUnversionedDevice(const std::string& deviceId) {
  if (devices.find(deviceId) != devices.end()) {
    return;
  }
  debugLog(kLogDebug, "Create unversioned device %s", deviceId.c_str());
  std::unique_ptr<KivDeviceDesc> device = KivDeviceDesc::createUnversioned(deviceId, lineNumber);
  if (!device) {
    debugLog(kLogError, "Failed to create non-versioned device %s", deviceId.c_str());
    return;
  }
  KivDeviceDesc& added = *devices.emplace(deviceId, std::move(device)).first->second;
  openPersonalLog(added);
}

void KivLogProcessor::openPersonalLog(KivDeviceDesc& device) {
  if (mainIsStdout) {
    return;
  }
  device.openPersonalLog(outputFolder);
  if (device.personalLog) {
    const auto at = std::lower_bound(
        loggingDevices_.begin(), loggingDevices_.end(), device.deviceId,
        [](const KivDeviceDesc* d, const std::string& id) { return d->deviceId < id; });
    loggingDevices_.insert(at, &device);
  }
}

void KivLogProcessor::writeHostLine(std::string_view line) {
  writeLine(*mainOutput, line);
  for (KivDeviceDesc* device : loggingDevices_) {
    device->writeToPersonalLog(line);
  }
}

void KivLogProcessor::writeDeviceLine(std::string_view line, KivDeviceDesc& device) {
  writeLine(*mainOutput, line);
  device.writeToPersonalLog(line);
}

void KivLogProcessor::flushOutputs() {
  std::cout.flush();
  if (mainOutput != &std::cout) {
    mainOutput->flush();
  }
  for (KivDeviceDesc* device : loggingDevices_) {
    device->flushPersonalLog();
  }
}

#include "processor/KivLogProcessor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <limits>

#include "input/KivInputSource.h"
#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"
#include "output/KivPieceOutput.h"
#include "output/KivTextWriter.h"
#include "processor/KivLineReader.h"
#include "records/KivDetokenizer.h"
#include "support/KivDebugLog.h"
#include "support/KivProgress.h"
#include "support/KivStderr.h"

// Built once at start-up, before any input is read.
const std::string kMainLogName = "HostAndFirmware.log";

namespace {

constexpr char kVersionMarkerText[] = "[FW_ELF_VER]";
constexpr char kDataMarkerText[] = "[FW_LOG-R]";
constexpr std::string_view kVersionMarker = kVersionMarkerText;
constexpr std::string_view kDataMarker = kDataMarkerText;
constexpr std::string_view kIdKey = "ID";

// Where the markers of a line are: the first "[FW_ELF_VER]" and the first "[FW_LOG-R]". Both hold
// exactly one 'W', at their third byte, and most lines hold few others, so the search goes from
// 'W' to 'W' rather than through every '['.
struct Markers {
  std::size_t version = std::string_view::npos;
  std::size_t data = std::string_view::npos;
};

template <std::size_t N>
bool startsWith(std::string_view text, const char (&marker)[N]) {
  return text.size() >= N - 1 && std::memcmp(text.data(), marker, N - 1) == 0;
}

// Equality of two short texts without a library call.
bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

// The common form of a device id token right after a marker, "[ID:wlan0]": a token that starts
// at once and holds a ':' and no '['. Reads it as the general token reader would and moves
// `position` past it; false leaves everything to that reader.
bool readPlainId(std::string_view line, std::size_t& position, std::string_view& id) {
  if (position >= line.size() || line[position] != '[') {
    return false;
  }
  std::size_t colon = std::string_view::npos;
  for (std::size_t i = position + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ']') {
      if (colon == std::string_view::npos) {
        return false;
      }
      id = line.substr(colon + 1, i - colon - 1);
      position = i + 1;
      return true;
    }
    if (c == '[') {
      return false;
    }
    if (c == ':' && colon == std::string_view::npos) {
      colon = i;
    }
  }
  return false;
}

Markers findMarkers(std::string_view line) {
  constexpr std::size_t kW = 2;  // the offset of the 'W' in both markers
  static_assert(kVersionMarker[kW] == 'W' && kDataMarker[kW] == 'W');
  Markers found;
  const char* const begin = line.data();
  const char* const end = begin + line.size();
  const char* w = begin + std::min(kW, line.size());
  while (found.version == std::string_view::npos || found.data == std::string_view::npos) {
    w = static_cast<const char*>(std::memchr(w, 'W', static_cast<std::size_t>(end - w)));
    if (w == nullptr) {
      break;
    }
    const auto at = static_cast<std::size_t>(w - begin) - kW;
    const std::string_view rest = line.substr(at);
    if (found.version == std::string_view::npos && startsWith(rest, kVersionMarkerText)) {
      found.version = at;
    } else if (found.data == std::string_view::npos && startsWith(rest, kDataMarkerText)) {
      found.data = at;
    }
    ++w;
  }
  return found;
}

}  // namespace

KivLogProcessor::KivLogProcessor()
    : defaultSink_(std::make_unique<KivTextWriter>(
          std::cout, [](std::string_view line) { writeToStderr(std::string(line) + '\n'); })) {
  sink = defaultSink_.get();
}

KivLogProcessor::~KivLogProcessor() {
  loggingDevices_.clear();
  for (auto entry = devices.begin(); entry != devices.end();) {
    debugLog(kLogDebug, "Deleting device \"%s\"", (*entry)->deviceId.c_str());
    entry = devices.erase(entry);
  }
  closeInput();
  if (mainLog_) {
    mainLog_->close();
    mainLog_.reset();
  }
}

bool KivLogProcessor::openOutputFolder(const std::string& folder) {
  debugLog(kLogDebug, "Output to folder is desired");
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return false;
  }
  debugLog(kLogDebug, "Directory %s exists.", folder.c_str());
  const std::string path = folder + "/" + kMainLogName;
  KivOutput::Refusal refusal{};
  const KivOutput::CreateRules rules{inputIdentity ? &*inputIdentity : nullptr, true};
  std::unique_ptr<KivOutput> log = KivOutput::create(path, KivOutput::Size::kMain, rules, refusal);
  if (!log) {
    if (refusal == KivOutput::Refusal::kIsInput || refusal == KivOutput::Refusal::kLocked) {
      outputRefusal_ = refusal;
    } else if (refusal == KivOutput::Refusal::kCannotOpen) {
      debugLog(kLogError, "Unable to open main output stream %s", path.c_str());
    } else {
      debugLog(kLogError, "Unable to open main output stream %s: %s", path.c_str(),
               KivOutput::refusalText(refusal).c_str());
    }
    return false;
  }
  debugLog(kLogDebug, "Using main log %s", path.c_str());
  outputFolder = folder;
  mainLog_ = std::move(log);
  mainIsStdout = false;
  return true;
}

int KivLogProcessor::openInput(const std::string& path) {
  closeInput();
  rawInputFd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (rawInputFd_ >= 0 && (::fstat(rawInputFd_, &info) != 0 || S_ISDIR(info.st_mode))) {
    ::close(rawInputFd_);
    rawInputFd_ = -1;
  }
  if (rawInputFd_ < 0) {
    debugLog(kLogError, "Unable to open raw log file %s", path.c_str());
  }
  return rawInputFd_;
}

bool KivLogProcessor::openFile(const std::string& path) {
  if (openInput(path) < 0) {
    return false;
  }
  beginStream(rawInputFd_, {}, path);
  return true;
}

bool KivLogProcessor::processFile(const std::string& path) {
  if (!openFile(path)) {
    return false;
  }
  while (processLines(std::numeric_limits<std::size_t>::max())) {
  }
  endStream();
  return true;
}

bool KivLogProcessor::processStdin() {
  return processStream(STDIN_FILENO);
}

bool KivLogProcessor::processStream(int fd, const std::string& path) {
  beginStream(fd, {}, path);
  while (processLines(std::numeric_limits<std::size_t>::max())) {
  }
  endStream();
  return true;
}

void KivLogProcessor::beginStream(int fd, std::function<void()> beforeRead,
                                  const std::string& path) {
  // A followed file has no end for the progress line to count towards.
  if (progress != nullptr && !follow) {
    progress->begin(fd);
  }
  if (!beforeRead) {
    beforeRead = [this] {
      flushOutputs();
      if (progress != nullptr) {
        progress->update(rawInput->bytesRead(), lineNumber);
      }
    };
  }
  rawInput = std::make_unique<KivLineReader>(KivInputSource::open(fd, path, follow),
                                             std::move(beforeRead));
}

bool KivLogProcessor::processLines(std::size_t count) {
  KivLineReader& reader = *rawInput;
  std::string_view text;
  bool cut = false;
  for (std::size_t done = 0; done < count; ++done) {
    if (!reader.good() || !reader.readLine(text, cut)) {
      return false;
    }
    processLine(text, cut);
  }
  return true;
}

void KivLogProcessor::processLine(std::string_view text, bool cut) {
  if (cut) {
    debugLog(kLogWarning,
             "Line %u is longer than %zu characters; the rest is read as the next line",
             static_cast<uint32_t>(lineNumber), KivLineReader::kMaxLineLength);
  }
  dispatchLine(text);
  ++lineNumber;
}

void KivLogProcessor::endStream() {
  KivLineReader& reader = *rawInput;
  debugLog(kLogDebug, "good() %d bad() %d eof() %d fail() %d", reader.good(), reader.bad(),
           reader.eof(), reader.fail());
  readError_ = reader.error();
  flushOutputs();
  if (progress != nullptr) {
    progress->erase();
  }
}

void KivLogProcessor::closeInput() {
  rawInput.reset();
  if (rawInputFd_ >= 0) {
    ::close(rawInputFd_);
    rawInputFd_ = -1;
  }
}

void KivLogProcessor::processText(std::string_view text) {
  constexpr std::size_t kMax = KivLineReader::kMaxLineLength;
  for (;;) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    for (;;) {
      const bool cut = line.size() > kMax;
      std::string_view piece = line.substr(0, kMax);
      piece = piece.substr(0, std::min(piece.find('\0'), piece.size()));
      processLine(piece, cut);
      if (!cut) {
        break;
      }
      line.remove_prefix(kMax);
    }
    if (end == text.size()) {
      return;
    }
    text.remove_prefix(end + 1);
    if (text.empty()) {
      return;
    }
  }
}

void KivLogProcessor::dispatchLine(std::string_view line) {
  const Markers markers = findMarkers(line);
  if (markers.version != std::string_view::npos) {
    if (KivDeviceDesc* device = processVersionLine(line)) {
      sink->descriptor({lineNumber, *device, line});
      return;
    }
  }
  if (markers.data == std::string_view::npos) {
    writeHostLine(line);
    return;
  }
  std::string_view prefix;
  KivDeviceDesc* device = nullptr;
  const KivLogData* record = readDataLine(line, markers.data, prefix, device);
  if (record == nullptr) {
    writeHostLine(line);
  } else if (device == nullptr) {
    // A device that strict matching keeps out of the table: its line still reaches the output.
    sink->undecoded({lineNumber, record->deviceId, nullptr, KivUndecodedReason::kUnannouncedDevice,
                     line, record->log_type});
  } else {
    device->renderDataLog(*record, lineNumber, prefix, imagesFor(*device),
                          static_cast<int>(macMetadata.size()), *sink, *scratch_);
  }
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
  std::unique_ptr<KivDeviceDesc> parsed = KivDeviceDesc::createFromLine(
      deviceId, line, position, static_cast<uint32_t>(lineNumber), strict);
  if (!parsed) {
    debugLog(kLogError, "Failed create device from log line %s", text.c_str());
    return nullptr;
  }
  KivDeviceDesc* device = tableDevice(deviceId);
  if (device == nullptr) {
    debugLog(kLogDebug, "Inserting entirely new device %s", deviceId.c_str());
    device = parsed.get();
    devices.insert(std::move(parsed));
    openPersonalLog(*device);
  } else {
    debugLog(kLogDebug, "%s already exists. Update existing", deviceId.c_str());
    device->updateVersion(*parsed);
  }
  device->checkFirmware(macMetadata.data(), macMetadata.size());
  bindFirmware(*device);
  return device;
}

void KivLogProcessor::bindFirmware(KivDeviceDesc& device) {
  device.firmware = nullptr;
  if (library == nullptr || device.compatible) {
    return;
  }
  const KivFirmwareLibrary::Build* build = findBuild(device.versions[0], device.versions[1]);
  if (build == nullptr || openBuilds_.images(*build) == nullptr) {
    return;
  }
  device.firmware = build;
  device.compatible = true;
  debugLog(kLogInfo, "Device %s uses firmware %s", device.deviceId.c_str(), build->path.c_str());
}

const KivFirmwareLibrary::Build* KivLogProcessor::findBuild(const FwElfVersion& umac,
                                                            const FwElfVersion& lmac) {
  const KivFirmwareLibrary::Build* build = library->find(umac, lmac);
  announceLibrary();
  return build;
}

std::size_t KivLogProcessor::libraryBuilds() {
  announceLibrary();
  return library->size();
}

void KivLogProcessor::announceLibrary() {
  if (!libraryAnnounced) {
    libraryAnnounced = true;
    for (const KivFirmwareLibrary::Diagnostic& diagnostic : library->indexDiagnostics()) {
      debugLog(diagnostic.level, "%s", diagnostic.text.c_str());
    }
  }
}

KivLogMetadata* const* KivLogProcessor::imagesFor(KivDeviceDesc& device) {
  if (device.firmware != nullptr) {
    if (KivLogMetadata* const* images = openBuilds_.images(*device.firmware)) {
      return images;
    }
    // The build could be opened when the device was bound and cannot be now: the device is
    // decoded as if the library had no build for it.
    device.firmware = nullptr;
    device.compatible = false;
  }
  return macMetadata.data();
}

KivLogData* KivLogProcessor::processDataLine(std::string_view line, std::string_view& prefix,
                                             KivDeviceDesc*& device) {
  const std::size_t marker = line.find(kDataMarker);
  if (marker == std::string_view::npos) {
    return nullptr;
  }
  return readDataLine(line, marker, prefix, device);
}

KivLogData* KivLogProcessor::readDataLine(std::string_view line, std::size_t marker,
                                          std::string_view& prefix, KivDeviceDesc*& device) {
  prefix = line.substr(0, marker);
  std::size_t position = marker + kDataMarker.size();
  std::string_view deviceId;
  if (!readPlainId(line, position, deviceId)) {
    KivDetokenizer detokenizer;
    if (!detokenizer.nextToken(line, position, kIdKey, deviceId, idScratch_)) {
      debugLog(kLogError, "Failed to get expected device id from %s", std::string(line).c_str());
      return nullptr;
    }
  }
  device = strict ? findDevice(deviceId) : createUnversionedDevice(deviceId);
  if (!KivLogData::parseDataLog(record_, deviceId, line, position)) {
    return nullptr;
  }
  if (debugEnabled(kLogDebug)) {
    debugLog(kLogDebug, "Created data log from %s", record_.rawLine.c_str());
  }
  return &record_;
}

KivDeviceDesc* KivLogProcessor::findDevice(std::string_view deviceId) {
  // Ids of one log mostly differ in length or in their last byte, so those pick the slot.
  const std::size_t slot =
      (deviceId.size() * 7 + (deviceId.empty() ? 0 : static_cast<unsigned char>(deviceId.back()))) %
      recentDevices_.size();
  KivDeviceDesc* recent = recentDevices_[slot];
  if (recent != nullptr && sameText(recent->deviceId, deviceId)) {
    return recent;
  }
  KivDeviceDesc* found = tableDevice(deviceId);
  if (found != nullptr) {
    recentDevices_[slot] = found;
  }
  return found;
}

KivDeviceDesc* KivLogProcessor::tableDevice(std::string_view deviceId) {
  const auto entry = devices.find(deviceId);
  if (entry != devices.end()) {
    return entry->get();
  }
  if (upstream != nullptr) {
    if (std::unique_ptr<KivDeviceDesc> adopted = upstream->adopt(deviceId)) {
      return devices.insert(std::move(adopted)).first->get();
    }
  }
  return nullptr;
}

void KivLogProcessor::writeRecorded(const KivPieceOutput& output,
                                    const std::vector<std::string>& slotIds,
                                    std::streambuf& console, std::streambuf& main, std::mutex& lock,
                                    const std::function<bool(const KivDeviceDesc&)>& hostShownTo,
                                    KivOutput* direct) {
  // Below this size a text is copied into the output's buffer as the writers copy it.
  constexpr std::size_t kDirect = 16 * 1024;
  std::vector<KivDeviceDesc*> slots(slotIds.size(), nullptr);
  auto device = [&](uint32_t slot) -> KivDeviceDesc& {
    if (slots[slot] == nullptr) {
      slots[slot] = devices.find(slotIds[slot])->get();
    }
    return *slots[slot];
  };
  for (const KivPieceOutput::Op& op : output.ops()) {
    const std::string_view text = output.text(op);
    switch (op.kind) {
      case KivPieceOutput::Kind::kConsole:
        if (direct != nullptr && text.size() >= kDirect) {
          direct->writeThrough(text);
        } else {
          console.sputn(text.data(), static_cast<std::streamsize>(text.size()));
        }
        break;
      case KivPieceOutput::Kind::kMain:
        main.sputn(text.data(), static_cast<std::streamsize>(text.size()));
        break;
      case KivPieceOutput::Kind::kPersonal:
        if (KivOutput* log = device(op.slot).personalLog.get()) {
          log->write(text);
        }
        break;
      case KivPieceOutput::Kind::kPersonalLine:
        if (KivOutput* log = device(op.slot).personalLog.get()) {
          log->writeLine(text);
        }
        break;
      case KivPieceOutput::Kind::kHost:
        main.sputn(text.data(), static_cast<std::streamsize>(text.size()));
        main.sputc('\n');
        for (KivDeviceDesc* logging : loggingDevices_) {
          if (!hostShownTo || hostShownTo(*logging)) {
            logging->personalLog->writeLine(text);
          }
        }
        break;
      case KivPieceOutput::Kind::kOpen: {
        const std::lock_guard<std::mutex> guard(lock);
        KivDeviceDesc& opening = device(op.slot);
        openPersonalLog(opening);
        opening.stamp = ++lastStamp;
        break;
      }
      case KivPieceOutput::Kind::kFlush:
        flushOutputs();
        break;
    }
  }
}

void KivLogProcessor::clearDevices() {
  loggingDevices_.clear();
  recentDevices_.fill(nullptr);
  devices.clear();
}

KivDeviceDesc* KivLogProcessor::createUnversionedDevice(std::string_view deviceId) {
  if (KivDeviceDesc* existing = findDevice(deviceId)) {
    return existing;
  }
  const std::string id(deviceId);
  debugLog(kLogDebug, "Create unversioned device %s", id.c_str());
  std::unique_ptr<KivDeviceDesc> device =
      KivDeviceDesc::createUnversioned(id, static_cast<uint32_t>(lineNumber));
  if (!device) {
    debugLog(kLogError, "Failed to create non-versioned device %s", id.c_str());
    return nullptr;
  }
  KivDeviceDesc& added = **devices.insert(std::move(device)).first;
  openPersonalLog(added);
  return &added;
}

void KivLogProcessor::openPersonalLog(KivDeviceDesc& device) {
  if (upstream != nullptr) {
    upstream->opensPersonalLog(device);
    return;
  }
  if (mainIsStdout) {
    return;
  }
  device.openPersonalLog(outputFolder, inputIdentity ? &*inputIdentity : nullptr);
  if (device.personalLog) {
    const auto at = std::lower_bound(
        loggingDevices_.begin(), loggingDevices_.end(), device.deviceId,
        [](const KivDeviceDesc* d, const std::string& id) { return d->deviceId < id; });
    loggingDevices_.insert(at, &device);
  }
}

void KivLogProcessor::writeHostLine(std::string_view line) {
  sink->host({lineNumber, line, loggingDevices_});
}

void KivLogProcessor::report(const KivRunSetup& setup, bool full) {
  sink->report(KivRunReport(setup, *this, full));
}

void KivLogProcessor::flushOutputs() {
  if (flushesStandardOutput) {
    std::cout.flush();
  }
  if (mainLog_) {
    mainLog_->flush();
  }
  for (KivDeviceDesc* device : loggingDevices_) {
    device->flushPersonalLog();
  }
}

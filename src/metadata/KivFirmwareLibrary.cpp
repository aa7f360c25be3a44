#include "metadata/KivFirmwareLibrary.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "support/KivDebugLog.h"

namespace {

std::string versionKey(const FwElfVersion& umac, const FwElfVersion& lmac) {
  std::string key(reinterpret_cast<const char*>(&umac), sizeof umac);
  key.append(reinterpret_cast<const char*>(&lmac), sizeof lmac);
  return key;
}

// Closes a descriptor when it goes.
struct FileCloser {
  int fd;
  ~FileCloser() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

}  // namespace

KivFirmwareLibrary::KivFirmwareLibrary(std::string folder, std::string umacSignature,
                                       std::string lmacSignature)
    : folder_(std::move(folder)),
      patterns_{KivLogMetadata::patternFor(umacSignature),
                KivLogMetadata::patternFor(lmacSignature)} {}

KivFirmwareLibrary::~KivFirmwareLibrary() = default;

bool KivFirmwareLibrary::readable(const std::string& folder, std::string& reason) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    reason = std::strerror(errno);
    return false;
  }
  ::closedir(dir);
  return true;
}

std::size_t KivFirmwareLibrary::size() {
  index();
  return builds_.size();
}

const std::vector<KivFirmwareLibrary::Diagnostic>& KivFirmwareLibrary::indexDiagnostics() {
  index();
  return diagnostics_;
}

void KivFirmwareLibrary::note(int level, const char* format, ...) {
  // Formatted as a diagnostic line is, so that writing it later gives the same text.
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  diagnostics_.push_back({level, message});
}

const KivFirmwareLibrary::Build* KivFirmwareLibrary::find(const FwElfVersion& umac,
                                                          const FwElfVersion& lmac) {
  index();
  const auto found = byVersions_.find(versionKey(umac, lmac));
  return found == byVersions_.end() ? nullptr : found->second;
}

void KivFirmwareLibrary::index() {
  if (indexed_.load(std::memory_order_acquire)) {
    return;
  }
  const std::lock_guard<std::mutex> lock(indexing_);
  if (indexed_.load(std::memory_order_relaxed)) {
    return;
  }
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder_.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
  } else {
    note(kLogWarning, "Cannot read firmware folder %s: %s", folder_.c_str(), std::strerror(errno));
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder_ + "/" + name;
    struct stat info {};
    // Folders are passed over; anything else that is not a regular file is named and skipped.
    if (name != "." && name != ".." && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
      add(path);
    }
  }
  note(kLogDebug, "Firmware folder %s holds %zu builds", folder_.c_str(), builds_.size());
  indexed_.store(true, std::memory_order_release);
}

void KivFirmwareLibrary::add(const std::string& path) {
  bool notRegular = false;
  const FileCloser file{KivLogMetadata::openImage(path, notRegular)};
  if (file.fd < 0) {
    note(kLogWarning, "Skipping firmware build %s: %s", path.c_str(),
         notRegular ? "not a regular file" : std::strerror(errno));
    return;
  }
  const std::vector<uint64_t> found = KivLogMetadata::findPatterns(file.fd, patterns_);
  auto build = std::make_unique<Build>();
  build->path = path;
  KivLogMetadata::Location* locations[2] = {&build->umac, &build->lmac};
  for (std::size_t mac = 0; mac < 2; ++mac) {
    const char* macName = mac == 0 ? "UMAC" : "LMAC";
    if (found[mac] == KivLogMetadata::kNoPattern) {
      note(kLogWarning, "Skipping firmware build %s: no %s signature", path.c_str(), macName);
      return;
    }
    if (!KivLogMetadata::reachable(found[mac])) {
      note(kLogWarning, "Skipping firmware build %s: its %s signature block lies beyond 4 GiB",
           path.c_str(), macName);
      return;
    }
    if (!KivLogMetadata::readLocation(file.fd, found[mac], *locations[mac])) {
      note(kLogWarning, "Skipping firmware build %s: no %s version record", path.c_str(), macName);
      return;
    }
  }
  const auto [entry, added] =
      byVersions_.emplace(versionKey(build->umac.elfVersion, build->lmac.elfVersion), build.get());
  if (!added) {
    note(kLogWarning, "Skipping firmware build %s: its versions are those of %s", path.c_str(),
         entry->second->path.c_str());
    return;
  }
  builds_.push_back(std::move(build));
}

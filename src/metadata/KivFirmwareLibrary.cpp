#include "metadata/KivFirmwareLibrary.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

const KivFirmwareLibrary::Build* KivFirmwareLibrary::find(const FwElfVersion& umac,
                                                          const FwElfVersion& lmac) {
  index();
  const auto found = byVersions_.find(versionKey(umac, lmac));
  return found == byVersions_.end() ? nullptr : found->second;
}

void KivFirmwareLibrary::index() {
  if (indexed_) {
    return;
  }
  indexed_ = true;
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder_.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
  } else {
    debugLog(kLogWarning, "Cannot read firmware folder %s: %s", folder_.c_str(),
             std::strerror(errno));
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
  debugLog(kLogDebug, "Firmware folder %s holds %zu builds", folder_.c_str(), builds_.size());
}

void KivFirmwareLibrary::add(const std::string& path) {
  bool notRegular = false;
  const FileCloser file{KivLogMetadata::openImage(path, notRegular)};
  if (file.fd < 0) {
    debugLog(kLogWarning, "Skipping firmware build %s: %s", path.c_str(),
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
      debugLog(kLogWarning, "Skipping firmware build %s: no %s signature", path.c_str(), macName);
      return;
    }
    if (!KivLogMetadata::reachable(found[mac])) {
      debugLog(kLogWarning, "Skipping firmware build %s: its %s signature block lies beyond 4 GiB",
               path.c_str(), macName);
      return;
    }
    if (!KivLogMetadata::readLocation(file.fd, found[mac], *locations[mac])) {
      debugLog(kLogWarning, "Skipping firmware build %s: no %s version record", path.c_str(),
               macName);
      return;
    }
  }
  const auto [entry, added] =
      byVersions_.emplace(versionKey(build->umac.elfVersion, build->lmac.elfVersion), build.get());
  if (!added) {
    debugLog(kLogWarning, "Skipping firmware build %s: its versions are those of %s", path.c_str(),
             entry->second->path.c_str());
    return;
  }
  builds_.push_back(std::move(build));
}

KivLogMetadata* const* KivFirmwareLibrary::images(const Build& build) {
  ++uses_;
  for (OpenBuild& open : open_) {
    if (open.build == &build) {
      open.lastUse = uses_;
      return open.images.data();
    }
  }
  OpenBuild opened;
  opened.build = &build;
  opened.umac = std::make_unique<KivLogMetadata>(kStatementBudget);
  opened.lmac = std::make_unique<KivLogMetadata>(kStatementBudget);
  if (!opened.umac->open(build.path, build.umac) || !opened.lmac->open(build.path, build.lmac)) {
    debugLog(kLogWarning, "Firmware build %s cannot be opened again", build.path.c_str());
    return nullptr;
  }
  opened.images = {opened.umac.get(), opened.lmac.get()};
  opened.lastUse = uses_;
  if (open_.size() < kMaxOpenBuilds) {
    open_.reserve(kMaxOpenBuilds);
    open_.push_back(std::move(opened));
    return open_.back().images.data();
  }
  // The build used longest ago makes room, and is opened again when it is needed again.
  OpenBuild& oldest = *std::min_element(
      open_.begin(), open_.end(),
      [](const OpenBuild& a, const OpenBuild& b) { return a.lastUse < b.lastUse; });
  oldest = std::move(opened);
  return oldest.images.data();
}

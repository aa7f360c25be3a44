#include "metadata/KivOpenBuilds.h"

#include <algorithm>

#include "support/KivDebugLog.h"

KivLogMetadata* const* KivOpenBuilds::images(const KivFirmwareLibrary::Build& build) {
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
  if (open_.size() < maxOpen_) {
    open_.reserve(maxOpen_);
    open_.push_back(std::move(opened));
    return open_.back().images.data();
  }
  OpenBuild& oldest = *std::min_element(
      open_.begin(), open_.end(),
      [](const OpenBuild& a, const OpenBuild& b) { return a.lastUse < b.lastUse; });
  oldest = std::move(opened);
  return oldest.images.data();
}

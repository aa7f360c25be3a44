#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "metadata/KivFirmwareLibrary.h"
#include "metadata/KivLogMetadata.h"

// The firmware library builds one decoder has open: a build's images are opened when a device
// needs them, at most `maxOpen` builds at a time, the one used longest ago closed to make room.
class KivOpenBuilds {
 public:
  static constexpr std::size_t kMaxOpenBuilds = 8;
  // What each open image keeps of the statements it has decoded.
  static constexpr std::size_t kStatementBudget = 512 * 1024;

  explicit KivOpenBuilds(std::size_t maxOpen = kMaxOpenBuilds) : maxOpen_(maxOpen) {}

  // The build's images, UMAC then LMAC, opened if they are not; null (after a WRN line) when
  // they cannot be opened again. The array is valid until the next call.
  KivLogMetadata* const* images(const KivFirmwareLibrary::Build& build);

 private:
  struct OpenBuild {
    const KivFirmwareLibrary::Build* build = nullptr;
    std::unique_ptr<KivLogMetadata> umac;
    std::unique_ptr<KivLogMetadata> lmac;
    std::array<KivLogMetadata*, 2> images{};
    uint64_t lastUse = 0;
  };

  std::size_t maxOpen_;
  std::vector<OpenBuild> open_;
  uint64_t uses_ = 0;
};

#pragma once

#include <array>

#include "metadata/KivLogMetadata.h"
#include "support/KivImageBuilder.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

// The UMAC and LMAC images of a combined file (the standard one unless a builder is given),
// written to a fresh folder and loaded without a word on standard output. Throws when either
// image does not load.
class KivLoadedImages {
 public:
  explicit KivLoadedImages(const KivImageBuilder& builder = kivsample::imageBuilder());

  // The two images in the order the tool passes them: UMAC, then LMAC.
  KivLogMetadata* const* array() { return pointers_.data(); }

  KivTempDir dir;
  KivLogMetadata umac;
  KivLogMetadata lmac;

 private:
  std::array<KivLogMetadata*, 2> pointers_{&umac, &lmac};
};

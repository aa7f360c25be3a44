#include "support/KivLoadedImages.h"

#include <stdexcept>
#include <string>

#include "support/KivCapture.h"

KivLoadedImages::KivLoadedImages(const KivImageBuilder& builder) {
  const std::string path = dir.file(kivsample::kImageName);
  builder.writeTo(path);
  KivCapture quiet;
  if (!umac.load(path, std::string(kivsample::kUmacSignature)) ||
      !lmac.load(path, std::string(kivsample::kLmacSignature))) {
    throw std::runtime_error("test images do not load");
  }
}

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "metadata/KivLogMetadata.h"

// A folder of firmware builds, each a combined image file, known by the pair of version records
// its two images carry. A device that announces versions the primary images do not have is
// decoded with the build that carries them.
//
// The folder is indexed once, on the first question: every regular file directly in it, in
// byte-wise order of names, is searched for both signatures in one pass and its two version
// records are read; nothing else of it is read and it is closed again. A build's images are opened
// when a device needs them, and at most kMaxOpenBuilds builds are open at a time.
class KivFirmwareLibrary {
 public:
  static constexpr std::size_t kMaxOpenBuilds = 8;
  // What each open image keeps of the statements it has decoded.
  static constexpr std::size_t kStatementBudget = 512 * 1024;

  struct Build {
    std::string path;
    KivLogMetadata::Location umac;
    KivLogMetadata::Location lmac;
  };

  KivFirmwareLibrary(std::string folder, std::string umacSignature, std::string lmacSignature);
  ~KivFirmwareLibrary();
  KivFirmwareLibrary(const KivFirmwareLibrary&) = delete;
  KivFirmwareLibrary& operator=(const KivFirmwareLibrary&) = delete;

  // Whether the folder can be read; `reason` says why not.
  static bool readable(const std::string& folder, std::string& reason);

  // The build whose images carry these versions, UMAC and LMAC; null when none does.
  const Build* find(const FwElfVersion& umac, const FwElfVersion& lmac);
  // The build's images, UMAC then LMAC, opened if they are not; null (after a WRN line) when
  // they cannot be opened again. The array is valid until the next call.
  KivLogMetadata* const* images(const Build& build);

  const std::string& folder() const { return folder_; }
  // The number of builds, the folder indexed first if it has not been.
  std::size_t size();

 private:
  struct OpenBuild {
    const Build* build = nullptr;
    std::unique_ptr<KivLogMetadata> umac;
    std::unique_ptr<KivLogMetadata> lmac;
    std::array<KivLogMetadata*, 2> images{};
    uint64_t lastUse = 0;
  };

  void index();
  // Adds the file at `path` to the library, or says with a WRN line why it cannot be added.
  void add(const std::string& path);

  std::string folder_;
  std::vector<std::string> patterns_;
  bool indexed_ = false;
  std::vector<std::unique_ptr<Build>> builds_;
  // Both version records, 222 bytes, to the build that carries them.
  std::map<std::string, const Build*> byVersions_;
  std::vector<OpenBuild> open_;
  uint64_t uses_ = 0;
};

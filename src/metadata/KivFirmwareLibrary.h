#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "metadata/KivLogMetadata.h"

// A folder of firmware builds, each a combined image file, known by the pair of version records
// its two images carry. A device that announces versions the primary images do not have is
// decoded with the build that carries them.
//
// The folder is indexed once, on the first question: every regular file directly in it, in
// byte-wise order of names, is searched for both signatures in one pass and its two version
// records are read; nothing else of it is read and it is closed again. What the indexing has to
// say (builds skipped, and why) is kept as diagnostics for whoever first needs the index to write
// where its output stands. A build's images are opened by the decoder that needs them
// (KivOpenBuilds).
//
// The index may be asked from several threads.
class KivFirmwareLibrary {
 public:
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

  // A diagnostic of the indexing: its level and its text.
  struct Diagnostic {
    int level;
    std::string text;
  };

  // The build whose images carry these versions, UMAC and LMAC; null when none does. The folder
  // is indexed first if it has not been.
  const Build* find(const FwElfVersion& umac, const FwElfVersion& lmac);

  const std::string& folder() const { return folder_; }
  // The number of builds, the folder indexed first if it has not been.
  std::size_t size();
  // What the indexing had to say, in order; the folder is indexed first if it has not been.
  const std::vector<Diagnostic>& indexDiagnostics();

 private:
  void index();
  // Adds the file at `path` to the library, or notes with a WRN line why it cannot be added.
  void add(const std::string& path);
  void note(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

  std::string folder_;
  std::vector<std::string> patterns_;
  std::mutex indexing_;
  std::atomic<bool> indexed_ = false;
  std::vector<std::unique_ptr<Build>> builds_;
  // Both version records, 222 bytes, to the build that carries them.
  std::map<std::string, const Build*> byVersions_;
  std::vector<Diagnostic> diagnostics_;
};

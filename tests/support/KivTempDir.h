#pragma once

#include <string>
#include <string_view>
#include <vector>

// The whole content of the file at `path`; throws std::runtime_error when it cannot be read.
std::string kivReadFile(const std::string& path);

// A fresh folder under $TMPDIR (or /tmp), removed with all its content when the object goes.
// Names given to the member functions are relative to the folder and may contain '/'.
// Failures throw std::runtime_error, which fails the test that met them.
class KivTempDir {
 public:
  KivTempDir();
  ~KivTempDir();
  KivTempDir(const KivTempDir&) = delete;
  KivTempDir& operator=(const KivTempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name; the file need not exist.
  std::string file(std::string_view name) const;

  // Creates or truncates the file, creating missing parent folders; returns its path.
  std::string write(std::string_view name, std::string_view bytes) const;
  std::string read(std::string_view name) const;
  bool exists(std::string_view name) const;
  // Creates the folder and its missing parents; returns its path.
  std::string makeDir(std::string_view name) const;
  // Names of the entries directly inside folder `name` ("" for the folder itself), sorted.
  std::vector<std::string> list(std::string_view name = "") const;

 private:
  std::string path_;
};

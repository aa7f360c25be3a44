#pragma once

#include <string>

// A small file system (tmpfs) mounted on an existing folder for the life of the object, so that a
// test can run out of space for real. Mounting needs root; the constructor throws
// std::runtime_error when it fails.
class KivSmallFileSystem {
 public:
  explicit KivSmallFileSystem(std::string folder);
  ~KivSmallFileSystem();
  KivSmallFileSystem(const KivSmallFileSystem&) = delete;
  KivSmallFileSystem& operator=(const KivSmallFileSystem&) = delete;

  // Fills the file system with a file of its own, so that any further write fails with ENOSPC.
  void fill();

 private:
  std::string folder_;
};

#include "support/KivTempDir.h"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

KivTempDir::KivTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  pattern += "/kivlog-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  }
  path_ = pattern;
}

KivTempDir::~KivTempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string KivTempDir::file(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

std::string KivTempDir::write(std::string_view name, std::string_view bytes) const {
  std::string target = file(name);
  fs::path parent = fs::path(target).parent_path();
  std::error_code ec;
  fs::create_directories(parent, ec);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    throw std::runtime_error("cannot write " + target);
  }
  return target;
}

std::string kivReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path);
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string KivTempDir::read(std::string_view name) const {
  return kivReadFile(file(name));
}

bool KivTempDir::exists(std::string_view name) const {
  std::error_code ec;
  return fs::exists(file(name), ec);
}

std::string KivTempDir::makeDir(std::string_view name) const {
  std::string target = file(name);
  std::error_code ec;
  fs::create_directories(target, ec);
  if (ec || !fs::is_directory(target)) {
    throw std::runtime_error("cannot create folder " + target);
  }
  return target;
}

std::vector<std::string> KivTempDir::list(std::string_view name) const {
  std::string folder = name.empty() ? path_ : file(name);
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) {
    throw std::runtime_error("cannot list " + folder);
  }
  std::sort(names.begin(), names.end());
  return names;
}

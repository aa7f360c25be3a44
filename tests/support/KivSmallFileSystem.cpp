#include "support/KivSmallFileSystem.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

KivSmallFileSystem::KivSmallFileSystem(std::string folder) : folder_(std::move(folder)) {
  if (::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0) {
    throw std::runtime_error("cannot mount a file system on " + folder_ + ": " +
                             std::strerror(errno));
  }
}

KivSmallFileSystem::~KivSmallFileSystem() {
  ::umount2(folder_.c_str(), MNT_DETACH);
}

void KivSmallFileSystem::fill() {
  const std::string path = folder_ + "/.filler";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  }
  const std::vector<char> block(4096, 'f');
  while (::write(fd, block.data(), block.size()) > 0) {
  }
  ::close(fd);
}

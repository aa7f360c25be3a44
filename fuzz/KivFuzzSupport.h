#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

// Helpers shared by the fuzz targets.

// A finding: says what broke on standard error and stops the run, so that libFuzzer keeps the
// input that caused it.
[[noreturn]] inline void kivFuzzFail(std::string_view what) {
  std::cerr << "fuzz check failed: " << what << '\n';
  std::abort();
}

// A file in memory holding `bytes` from offset `place` on, with a hole before them, positioned at
// its start; -1 when it cannot be made.
inline int kivMemoryFile(std::string_view bytes, uint64_t place = 0) {
  const int fd = ::memfd_create("kivlog-fuzz", MFD_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  if (place > 0 && ::ftruncate(fd, static_cast<off_t>(place)) != 0) {
    ::close(fd);
    return -1;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(place + done));
    if (got <= 0) {
      ::close(fd);
      return -1;
    }
    done += static_cast<std::size_t>(got);
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}

// Sends std::cout and std::cerr into strings while it lives.
class KivFuzzCapture {
 public:
  KivFuzzCapture()
      : savedOut_(std::cout.rdbuf(out_.rdbuf())), savedErr_(std::cerr.rdbuf(err_.rdbuf())) {}
  ~KivFuzzCapture() {
    std::cout.rdbuf(savedOut_);
    std::cerr.rdbuf(savedErr_);
  }
  KivFuzzCapture(const KivFuzzCapture&) = delete;
  KivFuzzCapture& operator=(const KivFuzzCapture&) = delete;

  std::string out() const { return out_.str(); }
  std::string err() const { return err_.str(); }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  std::streambuf* savedOut_;
  std::streambuf* savedErr_;
};

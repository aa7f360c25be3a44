// kivlog_workload <folder> <lines>: writes the benchmark workload into an existing folder:
// kiv_log.elf, big_image.elf (the same statements near the end of a 64 MiB file), the raw logs
// data-heavy.log, host-heavy.log and folder.log of <lines> lines each, and a firmware library:
// library/ with 200 builds of 8 MiB whose blocks lie near their end, and library.log, the
// data-heavy log in which wlan0 announces the versions of the last build. The same arguments give
// the same bytes on every run.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "KivWorkload.h"

namespace {

void writeLog(const KivWorkload& workload, KivWorkloadMix mix, std::uint64_t lines,
              const std::string& folder) {
  const std::string path = folder + "/" + std::string(KivWorkload::mixName(mix)) + ".log";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  workload.writeLog(mix, lines, out);
  out.close();
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

constexpr std::size_t kLibraryBuilds = 200;
constexpr std::size_t kLibraryBuildSize = 8 * 1024 * 1024;

// The data-heavy log with wlan0 announcing the last library build's versions.
void writeLibraryLog(const KivWorkload& workload, const std::string& folder) {
  std::ifstream in(folder + "/data-heavy.log", std::ios::binary);
  std::ofstream out(folder + "/library.log", std::ios::binary | std::ios::trunc);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t marker = line.find("[FW_ELF_VER][ID:wlan0]");
    if (marker != std::string::npos) {
      line = line.substr(0, marker) + "[FW_ELF_VER][ID:wlan0]";
      for (int mac = 0; mac < 2; ++mac) {
        const KivTestVersion version = workload.libraryVersion(kLibraryBuilds - 1, mac);
        line += mac == 0 ? "[UMAC]" : "[LMAC]";
        for (std::size_t field = 0; field < 6; ++field) {
          line += "[" + version.field(field) + "]";
        }
      }
    }
    out << line << '\n';
  }
  out.close();
  if (!out) {
    throw std::runtime_error("cannot write library.log");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t lines = 0;
  const std::string_view count = argc == 3 ? argv[2] : "";
  const auto parsed = std::from_chars(count.data(), count.data() + count.size(), lines);
  if (argc != 3 || count.empty() || parsed.ec != std::errc() ||
      parsed.ptr != count.data() + count.size()) {
    std::cerr << "usage: kivlog_workload <folder> <lines>\n";
    return 2;
  }
  try {
    const std::string folder = argv[1];
    const KivWorkload workload;
    workload.image().writeTo(folder + "/kiv_log.elf");
    workload.bigImage().writeTo(folder + "/big_image.elf");
    for (const KivWorkloadMix mix :
         {KivWorkloadMix::kDataHeavy, KivWorkloadMix::kHostHeavy, KivWorkloadMix::kFolder}) {
      writeLog(workload, mix, lines, folder);
    }
    std::filesystem::create_directories(folder + "/library");
    for (std::size_t i = 0; i < kLibraryBuilds; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/library/build-%03zu.elf", i);
      workload.libraryBuild(i, kLibraryBuildSize).writeTo(folder + name);
    }
    writeLibraryLog(workload, folder);
  } catch (const std::exception& error) {
    std::cerr << "kivlog_workload: " << error.what() << '\n';
    return 1;
  }
  return 0;
}

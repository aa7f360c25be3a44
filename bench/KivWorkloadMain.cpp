// kivlog_workload <folder> <lines>: writes the benchmark workload into an existing folder:
// kiv_log.elf, big_image.elf (the same statements near the end of a 64 MiB file) and the raw logs
// data-heavy.log, host-heavy.log and folder.log of <lines> lines each. The same arguments give
// the same bytes on every run.
#include <charconv>
#include <cstdint>
#include <exception>
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
  } catch (const std::exception& error) {
    std::cerr << "kivlog_workload: " << error.what() << '\n';
    return 1;
  }
  return 0;
}

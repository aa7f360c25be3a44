// Writes the decoder libraries' cases into a folder, for the tests of the Python module: one
// folder per case with its images and raw.log, and `args`, kivlog's options one per line.
//   kivlog_make_api_cases <folder>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "api/KivApiCases.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kivlog_make_api_cases <folder>\n";
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::filesystem::remove_all(out);
  for (const KivApiCase& c : kivApiCases()) {
    KivTempDir dir;
    c.setUp(dir);
    std::ofstream(dir.file("args"), std::ios::binary) << [&c] {
      std::string lines;
      for (const std::string& arg : c.args) {
        lines += arg + '\n';
      }
      return lines;
    }();
    std::filesystem::create_directories(out / c.name);
    std::filesystem::copy(dir.path(), out / c.name, std::filesystem::copy_options::recursive);
  }
  return 0;
}

// count-levels: decodes a raw log with libkivlog and counts the decoded records of each device at
// each level, the way a fleet pipeline counts errors per device. It also says which devices ran
// firmware other than the image's, from the report that ends the run.
//
//   count-levels <kiv_log.elf> <raw log>

#include <kivlog/Decoder.h>

#include <cstdint>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>
#include <utility>
#include <variant>

namespace {

// Calls the one lambda that takes the event's kind.
template <typename... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: count-levels <kiv_log.elf> <raw log>\n";
    return 2;
  }
  std::map<std::pair<std::string, std::string>, uint64_t> records;  // (device, level) -> count
  uint64_t hostLines = 0;
  uint64_t undecoded = 0;
  uint64_t errors = 0;
  try {
    kivlog::Options options;
    options.elf = argv[1];
    kivlog::Decoder decoder(options);
    const auto count = [&](const kivlog::Event& event) {
      std::visit(Overloaded{
                     [&](const kivlog::DecodedRecord& record) {
                       ++records[{record.device.empty() ? "-" : record.device, record.level}];
                     },
                     [&](const kivlog::HostLine&) { ++hostLines; },
                     [&](const kivlog::UndecodedLine&) { ++undecoded; },
                     // At the default verbosity only errors come: the [ERR] lines kivlog
                     // prints, such as a record whose descriptor is not in the image.
                     [&](const kivlog::Diagnostic&) { ++errors; },
                     [](const kivlog::DescriptorLine&) {},
                 },
                 event);
    };
    decoder.decodeFile(argv[2], count);
    const kivlog::Report report = decoder.finish(count);

    std::cout << std::left << std::setw(8) << "device" << std::setw(10) << "level"
              << "records\n";
    for (const auto& [key, n] : records) {
      std::cout << std::setw(8) << key.first << std::setw(10) << key.second << n << '\n';
    }
    std::cout << "host lines " << hostLines << ", undecoded lines " << undecoded << ", errors "
              << errors << '\n';
    for (const kivlog::Report::Device& device : report.devices) {
      if (!device.versioned) {
        std::cout << device.id << ": no firmware version announced\n";
      } else if (!device.compatible) {
        std::cout << device.id << ": runs " << device.umac << " / " << device.lmac
                  << ", not the image's firmware\n";
      }
    }
  } catch (const kivlog::Error& error) {
    // The text kivlog's command line prints for the same failure.
    std::cerr << "count-levels: " << error.what() << '\n';
    return 1;
  }
  return 0;
}

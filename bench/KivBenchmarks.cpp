// Throughput of the hot paths on the benchmark workload: the whole input loop over a raw log,
// decoding one record at a time over thousands of distinct statements, and expanding the
// workload's format strings.
#include <benchmark/benchmark.h>

#include <array>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "KivWorkload.h"
#include "metadata/KivLogMetadata.h"
#include "output/KivTextWriter.h"
#include "processor/KivLogProcessor.h"
#include "records/KivDeviceDesc.h"
#include "records/KivLogData.h"
#include "support/KivFormatter.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

constexpr std::size_t kLogLines = 200000;
constexpr std::size_t kRecordLines = 40000;
constexpr std::size_t kMaxLineLength = 4095;

// Discards what is written, through a buffer the size of a file stream's, so that writing costs
// what it costs on a real stream short of the system call.
class DiscardBuffer : public std::streambuf {
 public:
  DiscardBuffer() { reset(); }

 protected:
  int_type overflow(int_type c) override {
    reset();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      sputc(traits_type::to_char_type(c));
    }
    return traits_type::not_eof(c);
  }

 private:
  void reset() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
  std::array<char, 8192> buffer_;
};

const KivWorkload& workload() {
  static const KivWorkload instance;
  return instance;
}

// The workload image, written to a fresh folder and loaded.
struct LoadedWorkload {
  KivTempDir dir;
  KivLogMetadata umac;
  KivLogMetadata lmac;
  std::array<KivLogMetadata*, 2> images{&umac, &lmac};

  LoadedWorkload() {
    const std::string path = dir.file("kiv_log.elf");
    workload().image().writeTo(path);
    if (!umac.load(path, std::string(kivsample::kUmacSignature)) ||
        !lmac.load(path, std::string(kivsample::kLmacSignature))) {
      throw std::runtime_error("the workload image does not load");
    }
  }
};

// The data records of a data-heavy log with the text before their markers, in log order: hot
// statements recur, and thousands of others come up between them.
std::vector<std::pair<KivLogData, std::string>> dataRecords() {
  std::istringstream log(workload().log(KivWorkloadMix::kDataHeavy, kRecordLines));
  KivLogProcessor parser;
  std::vector<std::pair<KivLogData, std::string>> records;
  std::string_view prefix;
  KivDeviceDesc* device = nullptr;
  for (std::string line; std::getline(log, line);) {
    if (line.find("[FW_ELF_VER]") == std::string::npos) {
      if (const KivLogData* record = parser.processDataLine(line, prefix, device)) {
        records.emplace_back(*record, std::string(prefix));
      }
    }
  }
  return records;
}

// The input loop over a generated log of kLogLines lines; range(0) is the mix.
void BM_ProcessFile(benchmark::State& state) {
  const auto mix = static_cast<KivWorkloadMix>(state.range(0));
  state.SetLabel(std::string(KivWorkload::mixName(mix)));
  LoadedWorkload images;
  const std::string log = workload().log(mix, kLogLines);
  const std::string logPath = images.dir.write("raw.log", log);
  DiscardBuffer discard;
  std::streambuf* saved = std::cout.rdbuf(&discard);
  for (auto _ : state) {
    KivLogProcessor processor;
    processor.setUmacMetadata(&images.umac);
    processor.setLmacMetadata(&images.lmac);
    processor.processFile(logPath);
  }
  std::cout.rdbuf(saved);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * log.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLogLines));
}
BENCHMARK(BM_ProcessFile)
    ->Arg(static_cast<int>(KivWorkloadMix::kDataHeavy))
    ->Arg(static_cast<int>(KivWorkloadMix::kHostHeavy))
    ->Unit(benchmark::kMillisecond);

// Decoding one record, cycling over the records of a data-heavy log.
void BM_RenderDataLog(benchmark::State& state) {
  LoadedWorkload images;
  const auto records = dataRecords();
  KivDeviceDesc device("wlan0", 1, true, false);
  device.compatible = true;
  DiscardBuffer discard;
  std::ostream out(&discard);
  KivTextWriter writer(out, {});
  const KivDecodedRecord::ScratchPtr scratch = KivDecodedRecord::makeScratch();
  std::size_t next = 0;
  for (auto _ : state) {
    const auto& [record, prefix] = records[next];
    device.renderDataLog(record, 1, prefix, images.images.data(), 2, writer, *scratch);
    next = next + 1 == records.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.counters["statements"] = static_cast<double>([&] {
    std::map<std::pair<uint32_t, uint32_t>, int> distinct;
    for (const auto& [record, prefix] : records) {
      distinct[{record.log_type >> 1, record.log_addr}] = 1;
    }
    return distinct.size();
  }());
}
BENCHMARK(BM_RenderDataLog);

// Expanding the format strings of the same records with their values, each format parsed once as
// rendering keeps it.
void BM_FormatterExpand(benchmark::State& state) {
  std::map<std::pair<uint32_t, uint32_t>, KivFormat> formats;
  for (const KivWorkload::Statement& statement : workload().statements()) {
    formats[{statement.logType >> 1, statement.address}] = KivFormat(statement.format);
  }
  struct Call {
    const KivFormat* format;
    uint32_t param0;
    uint32_t param1;
  };
  std::vector<Call> calls;
  for (const auto& [record, prefix] : dataRecords()) {
    calls.push_back(
        {&formats.at({record.log_type >> 1, record.log_addr}), record.param0, record.param1});
  }
  char out[kMaxLineLength];
  std::size_t next = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    const Call& call = calls[next];
    const std::size_t size = call.format->expand(call.param0, call.param1, out, 0, kMaxLineLength);
    benchmark::DoNotOptimize(out);
    bytes += static_cast<int64_t>(size);
    next = next + 1 == calls.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_FormatterExpand);

}  // namespace

BENCHMARK_MAIN();

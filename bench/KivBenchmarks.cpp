// Throughput of the hot paths: expanding a format string, decoding one record, and the whole
// input loop over a raw log of host and data lines.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>

#include "support/KivDebugLog.h"
#include "metadata/KivLogMetadata.h"
#include "processor/KivLogProcessor.h"
#include "records/KivDeviceDesc.h"
#include "support/KivFormatter.h"
#include "records/KivLogData.h"
#include "support/KivSampleFirmware.h"
#include "support/KivTempDir.h"

namespace {

struct LoadedImages {
  KivTempDir dir;
  KivLogMetadata umac;
  KivLogMetadata lmac;
  std::string path;

  LoadedImages() : path(kivsample::writeImage(dir.path())) {
    umac.load(path, std::string(kivsample::kUmacSignature));
    lmac.load(path, std::string(kivsample::kLmacSignature));
  }
};

void BM_FormatterExpand(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    out.clear();
    KivFormatter::expand("rx frame len=%u rssi=%d flags=%#06x\n", 1514, 0xFFFFFFD6u, out, 4095);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_FormatterExpand);

void BM_RenderDataLog(benchmark::State& state) {
  LoadedImages images;
  KivLogMetadata* metadata[2] = {&images.umac, &images.lmac};
  KivDeviceDesc device("wlan0", 1, false, false);
  const std::string line = kivsample::dataLine("wlan0", 1000, kivsample::kUmacValue, 7, 255);
  KivLogData record("wlan0", line);
  record.log_type = kivsample::kUmacValue.logType;
  record.log_addr = kivsample::kUmacValue.address;
  record.param0 = 7;
  record.param1 = 255;
  std::ostringstream out;
  for (auto _ : state) {
    out.str({});
    device.renderDataLog(record, 1, "[   12.400001] ", metadata, 2, out);
  }
}
BENCHMARK(BM_RenderDataLog);

// The input loop over a log of 100,000 lines, two data lines to each host line, output discarded.
void BM_ProcessStream(benchmark::State& state) {
  LoadedImages images;
  std::string log;
  for (int i = 0; i < 33334; ++i) {
    log += "[   12.400001] wlan: wlan0: scan in progress\n";
    log += "[   12.400002] " + kivsample::dataLine("wlan0", 1000 + i, kivsample::kUmacValue, i, 7) +
           "\n";
    log += "[   12.400003] " + kivsample::dataLine("wlan1", 2000 + i, kivsample::kLmacDone, 0, 0) +
           "\n";
  }
  const std::string logPath = images.dir.write("raw.log", log);
  std::ostringstream sink;
  std::streambuf* saved = std::cout.rdbuf(sink.rdbuf());
  for (auto _ : state) {
    sink.str({});
    KivLogProcessor processor;
    processor.setUmacMetadata(&images.umac);
    processor.setLmacMetadata(&images.lmac);
    processor.processFile(logPath);
  }
  std::cout.rdbuf(saved);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(log.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100002);
}
BENCHMARK(BM_ProcessStream)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

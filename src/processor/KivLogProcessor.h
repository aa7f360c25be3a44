#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "records/KivDeviceDesc.h"
#include "records/KivLogData.h"
#include "support/KivOutput.h"

class KivFirmwareLibrary;
class KivProgress;
class KivLogMetadata;
class KivLineReader;

// Turns a raw log into output: reads it line by line, passes host lines through, keeps the device
// table up to date from descriptor lines and has each data line's device decode it.
class KivLogProcessor {
 public:
  static constexpr std::size_t kMacCount = 2;

  KivLogProcessor();
  virtual ~KivLogProcessor();
  KivLogProcessor(const KivLogProcessor&) = delete;
  KivLogProcessor& operator=(const KivLogProcessor&) = delete;

  void setUmacMetadata(KivLogMetadata* image) { macMetadata[0] = image; }
  void setLmacMetadata(KivLogMetadata* image) { macMetadata[1] = image; }

  // Makes "<folder>/HostAndFirmware.log" the main output; false leaves output on standard output.
  // A main log that is the input, or that another run holds, is not touched: false, and
  // outputRefusal() tells which, so that the run can end instead.
  bool openOutputFolder(const std::string& folder);
  std::optional<KivOutput::Refusal> outputRefusal() const { return outputRefusal_; }

  // Each returns false only when the raw log file cannot be opened. A gzip, zstd or xz capture
  // is decompressed as it is read. A read error, or damaged compressed data, ends the input as
  // its end would, after everything read before it; readError() tells of it. With `follow`, a
  // regular file is followed as it grows (processFile: also when replaced under its name).
  bool processFile(const std::string& path);
  bool processStdin();
  bool processStream(int fd, const std::string& path = {});
  // Why the input ended early (a system error's text, or what is wrong with compressed data);
  // empty when it ended without an error.
  const std::string& readError() const { return readError_; }

  // The device a descriptor line names, created or updated; null when the line is none or refused.
  KivDeviceDesc* processVersionLine(std::string_view line);
  // The record of a data line, with the text before its marker in `prefix` and the record's device
  // in `device` (null when the table has none); null when the line is none or was refused. The
  // record is the processor's own, reused from line to line; `prefix` is a view into `line`.
  KivLogData* processDataLine(std::string_view line, std::string_view& prefix,
                              KivDeviceDesc*& device);
  // The device with this id, added unversioned when the table has none.
  KivDeviceDesc* createUnversionedDevice(std::string_view deviceId);

  void writeHostLine(std::string_view line);
  void writeDeviceLine(std::string_view line, KivDeviceDesc& device);

  void printReport(std::ostream& stream, bool full) const;
  // The report of -r with -j: {"report":{"using":<usingObject>,"images":{...},"devices":[...]}}.
  void printJsonReport(std::ostream& stream, std::string_view usingObject) const;

  // Pushes out everything written so far: standard output, the main log and the personal logs.
  void flushOutputs();

  std::array<KivLogMetadata*, kMacCount> macMetadata{};
  bool mainIsStdout = true;
  std::string outputFolder;
  std::unique_ptr<KivLineReader> rawInput;
  std::ostream* mainOutput;
  // Counted in 64 bits for JSON Lines' "n"; the text outputs show it as before, in 32 bits.
  uint64_t lineNumber = 0;
  // Devices ordered byte-wise by id, and found by id; every walk over the devices goes in this
  // order. The id is kept once, in the device: a log may name millions of devices.
  struct DeviceOrder {
    using is_transparent = void;
    static std::string_view id(const std::unique_ptr<KivDeviceDesc>& device) {
      return device->deviceId;
    }
    static std::string_view id(std::string_view deviceId) { return deviceId; }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return id(a) < id(b);
    }
  };
  std::set<std::unique_ptr<KivDeviceDesc>, DeviceOrder> devices;
  bool strict = false;
  // Waits for more at the end of a regular file instead of ending.
  bool follow = false;
  // The raw log, when it is a regular file: no output may write to it.
  std::optional<KivOutput::Identity> inputIdentity;
  // Firmware builds for devices whose versions the primary images do not have; not owned.
  KivFirmwareLibrary* library = nullptr;
  // Shows how far the input has been read, where that helps; not owned.
  KivProgress* progress = nullptr;

 private:
  // `line` points into the reader's buffer and is valid until the next read.
  void dispatchLine(std::string_view line);
  // processDataLine once the marker has been found at `marker`.
  KivLogData* readDataLine(std::string_view line, std::size_t marker, std::string_view& prefix,
                           KivDeviceDesc*& device);
  KivDeviceDesc* findDevice(std::string_view deviceId);
  // After a descriptor line: binds the device to the library build that carries its versions
  // when the primary images do not, or back to the primary images.
  void bindFirmware(KivDeviceDesc& device);
  // The images that decode the device's records.
  KivLogMetadata* const* imagesFor(KivDeviceDesc& device);
  // Opens the device's personal log when output goes to a folder.
  void openPersonalLog(KivDeviceDesc& device);
  // `line` and a newline to the main output.
  void writeMain(std::string_view line) {
    std::streambuf& main = *mainOutput->rdbuf();
    main.sputn(line.data(), static_cast<std::streamsize>(line.size()));
    main.sputc('\n');
  }

  int rawInputFd_ = -1;
  std::string readError_;
  std::optional<KivOutput::Refusal> outputRefusal_;
  std::unique_ptr<KivOutput> mainLog_;
  std::unique_ptr<std::ostream> mainLogStream_;
  // The devices that have a personal log, in key order: host lines and flushes go only to them, so
  // their cost does not grow with the number of devices a log names.
  std::vector<KivDeviceDesc*> loggingDevices_;
  KivLogData record_{"", ""};
  // Devices last looked up, by a hash of their id, tried before the table: a log names few
  // devices at a time.
  std::array<KivDeviceDesc*, 16> recentDevices_{};
  std::string idScratch_;
};

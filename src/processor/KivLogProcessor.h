#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "records/KivDeviceDesc.h"
#include "records/KivLogData.h"

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
  bool openOutputFolder(const std::string& folder);

  // Each returns false only when the raw log file cannot be opened.
  bool processFile(const std::string& path);
  bool processStdin();
  bool processStream(int fd);

  // The device a descriptor line names, created or updated; null when the line is none or refused.
  KivDeviceDesc* processVersionLine(std::string_view line);
  // The record of a data line, with the text before its marker in `prefix`; null when the line is
  // none or was refused.
  std::unique_ptr<KivLogData> processDataLine(std::string_view line, std::string& prefix);
  void createUnversionedDevice(const std::string& deviceId);

  void writeHostLine(std::string_view line);
  void writeDeviceLine(std::string_view line, KivDeviceDesc& device);

  void printReport(std::ostream& stream, bool full) const;

  // Pushes out everything written so far: standard output, the main log and the personal logs.
  void flushOutputs();

  std::array<KivLogMetadata*, kMacCount> macMetadata{};
  bool mainIsStdout = true;
  std::string outputFolder;
  std::unique_ptr<KivLineReader> rawInput;
  std::ostream* mainOutput;
  uint32_t lineNumber = 0;
  // Ordered byte-wise by device id; every walk over the devices goes in this order.
  std::map<std::string, std::unique_ptr<KivDeviceDesc>, std::less<>> devices;
  bool strict = false;

 private:
  // `line` points into the reader's buffer and is valid until the next read.
  void dispatchLine(std::string_view line);
  // Opens the device's personal log when output goes to a folder.
  void openPersonalLog(KivDeviceDesc& device);

  int rawInputFd_ = -1;
  std::unique_ptr<std::ofstream> mainLog_;
  // The devices that have a personal log, in key order: host lines and flushes go only to them, so
  // their cost does not grow with the number of devices a log names.
  std::vector<KivDeviceDesc*> loggingDevices_;
  std::string prefix_;
};

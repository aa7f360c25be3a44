#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/KivOpenBuilds.h"
#include "output/KivEventSink.h"
#include "records/KivDecodedRecord.h"
#include "records/KivDeviceDesc.h"
#include "records/KivLogData.h"
#include "report/KivRunReport.h"
#include "support/KivOutput.h"

class KivFirmwareLibrary;
class KivProgress;
class KivLogMetadata;
class KivLineReader;
class KivPieceOutput;

// Turns a raw log into events: reads it line by line, passes host lines through, keeps the device
// table up to date from descriptor lines and has each data line's device decode it. Every event
// goes to one output, `sink`, which decides what is written; the processor owns the files written
// to (the main log and the personal logs of an output folder) and decides when they are flushed.
class KivLogProcessor {
 public:
  static constexpr std::size_t kMacCount = 2;

  KivLogProcessor();
  virtual ~KivLogProcessor();
  KivLogProcessor(const KivLogProcessor&) = delete;
  KivLogProcessor& operator=(const KivLogProcessor&) = delete;

  void setUmacMetadata(KivLogMetadata* image) { macMetadata[0] = image; }
  void setLmacMetadata(KivLogMetadata* image) { macMetadata[1] = image; }

  // Makes "<folder>/HostAndFirmware.log" the main output (mainLog()); false leaves output on
  // standard output.
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

  // The same a part at a time: openFile() (false, after its ERR line, when the file cannot be
  // opened) or beginStream(), then processLines() until it returns false at the end of the
  // input, then endStream().
  bool openFile(const std::string& path);
  // Opens the raw log file for reading, kept until closeInput(); -1 (after the ERR line) when it
  // cannot be opened.
  int openInput(const std::string& path);
  // Starts reading the input on `fd`, named `path` when it is a file given by name.
  // `beforeRead` runs before each read of the input, which may wait; by default it flushes the
  // outputs and redraws the progress line.
  void beginStream(int fd, std::function<void()> beforeRead = {}, const std::string& path = {});
  // Processes up to `count` lines; false once the input has ended.
  bool processLines(std::size_t count);
  void endStream();
  // Closes the raw log file opened by openFile().
  void closeInput();

  // Processes `text` as input lines, as if read from a stream: split at its line ends, each line
  // cut at a zero byte and into pieces of at most 4095 characters.
  void processText(std::string_view text);
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

  // The library build that carries these versions; null when there is none. The first question
  // writes the diagnostics of the library's indexing, unless libraryAnnounced says that they
  // have been written.
  const KivFirmwareLibrary::Build* findBuild(const FwElfVersion& umac, const FwElfVersion& lmac);
  // The library's number of builds, its indexing's diagnostics written as findBuild() does.
  std::size_t libraryBuilds();
  bool libraryAnnounced = false;

  // A processor that decodes one piece of a larger log gets the devices that the pieces before it
  // left from its upstream, and tells it of the personal logs its new devices would open.
  class Upstream {
   public:
    virtual ~Upstream() = default;
    // The device `id` as the pieces before left it, as a new object; null when they named none.
    virtual std::unique_ptr<KivDeviceDesc> adopt(std::string_view id) = 0;
    // `device` is new, and would open its personal log now.
    virtual void opensPersonalLog(KivDeviceDesc& device) = 0;
  };
  Upstream* upstream = nullptr;
  // Writes what a piece of the log recorded, in order and write for write, to this run's outputs:
  // `console` (standard output), `main` (the main output) and the personal logs of the devices
  // named by `slotIds`, which must be in the table; a host line goes to every personal log open
  // at its place (that `hostShownTo` accepts, when given), a personal log opens at its place.
  // `lock` guards the table while one opens. With `direct`, the only output of the run, standard
  // output, is `direct` too and gets large texts written straight from the piece.
  void writeRecorded(const KivPieceOutput& output, const std::vector<std::string>& slotIds,
                     std::streambuf& console, std::streambuf& main, std::mutex& lock,
                     const std::function<bool(const KivDeviceDesc&)>& hostShownTo,
                     KivOutput* direct = nullptr);
  // The last stamp given to a device of the table (KivDeviceDesc::stamp).
  uint64_t lastStamp = 0;
  // Forgets every device, without a word: a piece's processor starts each piece afresh.
  void clearDevices();
  // The builds this processor has open, at most `maxOpen` of them.
  void limitOpenBuilds(std::size_t maxOpen) { openBuilds_ = KivOpenBuilds(maxOpen); }
  // Processes one input line, numbered lineNumber; `cut` tells that it is a piece of a longer
  // line. Moves lineNumber on.
  void processLine(std::string_view text, bool cut);

  // Hands `line` on as a host line, a line of no device.
  void writeHostLine(std::string_view line);

  // Hands the end-of-run report on; `full` is the report flag.
  void report(const KivRunSetup& setup, bool full);

  // Pushes out everything written so far: standard output, the main log and the personal logs.
  void flushOutputs();

  // Whether flushOutputs() pushes out standard output, which the command line writes to.
  bool flushesStandardOutput = true;

  // The main log of the output folder; null while output goes to standard output.
  KivOutput* mainLog() { return mainLog_.get(); }

  // Where every event goes; not owned. Until it is set, a text output on standard output.
  KivEventSink* sink = nullptr;

  std::array<KivLogMetadata*, kMacCount> macMetadata{};
  bool mainIsStdout = true;
  std::string outputFolder;
  std::unique_ptr<KivLineReader> rawInput;
  // Counted in 64 bits for JSON Lines' "n"; the text outputs show it as before, in 32 bits.
  uint64_t lineNumber = 1;
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
  // The device `id` of the table, or adopted from upstream; null when neither has it.
  KivDeviceDesc* tableDevice(std::string_view deviceId);
  // After a descriptor line: binds the device to the library build that carries its versions
  // when the primary images do not, or back to the primary images.
  void bindFirmware(KivDeviceDesc& device);
  // Writes the library's indexing diagnostics, unless they have been.
  void announceLibrary();
  // The images that decode the device's records.
  KivLogMetadata* const* imagesFor(KivDeviceDesc& device);
  // Opens the device's personal log when output goes to a folder.
  void openPersonalLog(KivDeviceDesc& device);

  int rawInputFd_ = -1;
  std::string readError_;
  std::optional<KivOutput::Refusal> outputRefusal_;
  std::unique_ptr<KivEventSink> defaultSink_;
  KivOpenBuilds openBuilds_;
  std::unique_ptr<KivOutput> mainLog_;
  KivDecodedRecord::ScratchPtr scratch_ = KivDecodedRecord::makeScratch();
  // The devices that have a personal log, in key order: host lines and flushes go only to them, so
  // their cost does not grow with the number of devices a log names.
  std::vector<KivDeviceDesc*> loggingDevices_;
  KivLogData record_{"", ""};
  // Devices last looked up, by a hash of their id, tried before the table: a log names few
  // devices at a time.
  std::array<KivDeviceDesc*, 16> recentDevices_{};
  std::string idScratch_;
};

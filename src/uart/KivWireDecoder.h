#pragma once

// The reader's half of the firmware kit's wire format (firmware/wire/kivlog_wire.h): splits a byte
// stream into frames at their zero delimiters, undoes COBS, checks length, CRC, format version and
// type, and turns each good frame into an event. A damaged frame is dropped and counted; the count
// is reported as one event in front of the next good frame (or at the end), where it happened.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct KivWireEvent {
  enum class Kind { kRecord, kAnnounce, kDropped };
  Kind kind = Kind::kRecord;
  // kRecord
  uint32_t timestamp = 0;
  uint32_t log_type = 0;
  uint32_t log_addr = 0;
  uint32_t param0 = 0;
  uint32_t param1 = 0;
  // kAnnounce
  uint32_t core = 0;
  uint32_t cores = 0;
  std::array<unsigned char, 111> version{};
  // kDropped
  uint64_t dropped = 0;

  bool operator==(const KivWireEvent&) const = default;
};

class KivWireDecoder {
 public:
  static constexpr uint8_t kVersion = 1;

  // Appends the events of the frames that `bytes` completes to `out`.
  void feed(std::span<const unsigned char> bytes, std::vector<KivWireEvent>& out);
  // The end of the stream: an unfinished frame counts as dropped; drops not yet reported are.
  void finish(std::vector<KivWireEvent>& out);

  uint64_t droppedTotal() const { return droppedTotal_; }

 private:
  // The longest frame the format has is 121 bytes; anything longer is damage.
  static constexpr size_t kMaxFrame = 160;

  void endFrame(std::vector<KivWireEvent>& out);
  bool decode(KivWireEvent& event) const;
  void drop();

  std::array<unsigned char, kMaxFrame> frame_{};
  size_t length_ = 0;
  bool overlong_ = false;
  // Until the first delimiter the reader may have joined a running stream mid-frame: a first
  // frame that does not decode is not counted.
  bool joined_ = false;
  uint64_t pending_ = 0;
  uint64_t droppedTotal_ = 0;
};

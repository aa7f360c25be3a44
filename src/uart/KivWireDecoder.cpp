#include "uart/KivWireDecoder.h"

#include <algorithm>

namespace {

uint32_t crc32(const unsigned char* bytes, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return ~crc;
}

uint32_t littleEndian(const unsigned char* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

constexpr size_t kRecordBody = 2 + 20 + 4;
constexpr size_t kAnnounceBody = 2 + 2 + 111 + 4;

}  // namespace

void KivWireDecoder::feed(std::span<const unsigned char> bytes, std::vector<KivWireEvent>& out) {
  for (const unsigned char byte : bytes) {
    if (byte == 0) {
      endFrame(out);
    } else if (length_ < frame_.size()) {
      frame_[length_++] = byte;
    } else {
      overlong_ = true;
    }
  }
}

void KivWireDecoder::finish(std::vector<KivWireEvent>& out) {
  if (length_ > 0 || overlong_) {
    drop();
    length_ = 0;
    overlong_ = false;
  }
  if (pending_ > 0) {
    out.push_back({.kind = KivWireEvent::Kind::kDropped, .dropped = pending_});
    pending_ = 0;
  }
}

void KivWireDecoder::drop() {
  ++pending_;
  ++droppedTotal_;
}

void KivWireDecoder::endFrame(std::vector<KivWireEvent>& out) {
  const bool first = !joined_;
  joined_ = true;
  if (length_ == 0 && !overlong_) {
    return;  // two delimiters in a row: no frame
  }
  KivWireEvent event;
  const bool good = !overlong_ && decode(event);
  length_ = 0;
  overlong_ = false;
  if (!good) {
    if (!first) {
      drop();
    }
    return;
  }
  if (pending_ > 0) {
    out.push_back({.kind = KivWireEvent::Kind::kDropped, .dropped = pending_});
    pending_ = 0;
  }
  out.push_back(event);
}

// COBS: each code byte c is followed by c - 1 data bytes, and stands for a zero byte after them
// unless it is the last run (or a full run of 254 data bytes).
bool KivWireDecoder::decode(KivWireEvent& event) const {
  std::array<unsigned char, kMaxFrame> body{};
  size_t n = 0;
  size_t i = 0;
  while (i < length_) {
    const size_t code = frame_[i++];
    if (i + code - 1 > length_) {
      return false;
    }
    for (size_t k = 1; k < code; ++k) {
      body[n++] = frame_[i++];
    }
    if (code != 0xFF && i < length_) {
      body[n++] = 0;
    }
  }
  if (n < 6 || crc32(body.data(), n - 4) != littleEndian(body.data() + n - 4)) {
    return false;
  }
  if (body[0] != kVersion) {
    return false;
  }
  const unsigned char* p = body.data() + 2;
  if (body[1] == 'R' && n == kRecordBody) {
    event.kind = KivWireEvent::Kind::kRecord;
    event.timestamp = littleEndian(p);
    event.log_type = littleEndian(p + 4);
    event.log_addr = littleEndian(p + 8);
    event.param0 = littleEndian(p + 12);
    event.param1 = littleEndian(p + 16);
    return true;
  }
  if (body[1] == 'V' && n == kAnnounceBody && p[0] <= 1 && (p[1] == 1 || p[1] == 2) &&
      p[0] < p[1]) {
    event.kind = KivWireEvent::Kind::kAnnounce;
    event.core = p[0];
    event.cores = p[1];
    std::copy(p + 2, p + 2 + event.version.size(), event.version.begin());
    return true;
  }
  return false;
}

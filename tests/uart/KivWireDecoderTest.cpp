// The wire format round trip: frames the kit's C encoder writes decode to what went in, and on
// the sample's capture with bytes deleted, inserted and flipped every frame the damage did not
// touch still decodes, in order, and nothing else does.
#include "uart/KivWireDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "kivlog_wire.h"

namespace {

using Kind = KivWireEvent::Kind;

std::vector<KivWireEvent> decodeAll(const std::vector<unsigned char>& bytes) {
  KivWireDecoder decoder;
  std::vector<KivWireEvent> events;
  decoder.feed(bytes, events);
  decoder.finish(events);
  return events;
}

KivWireEvent recordEvent(const kivlog_record_t& r) {
  return {.kind = Kind::kRecord,
          .timestamp = r.timestamp,
          .log_type = r.log_type,
          .log_addr = r.log_addr,
          .param0 = r.param0,
          .param1 = r.param1};
}

TEST(WireFormat, FramesOfTheKitDecodeToWhatWentIn) {
  const kivlog_record_t records[] = {
      {0, 0, 0, 0, 0},  // all zero: COBS codes only
      {0xFFFFFFFFu, 3, 0xF0000214u, 0xFFFFFFFFu, 0x01000001u},
      {1238, 2, 0xF00001A4u, 4294967292u, 0x00FF00FFu},
  };
  kivlog_version_t version{};
  std::memcpy(version.field1, "KIV-UMAC", 8);
  std::memcpy(version.field3, "a field of thirty-two characters", 32);
  std::vector<unsigned char> stream;
  std::vector<KivWireEvent> expected;
  unsigned char frame[KIVLOG_WIRE_ANNOUNCE_FRAME];
  const size_t announce = kivlog_wire_announce(frame, 1, 2, &version);
  EXPECT_EQ(announce, size_t{KIVLOG_WIRE_ANNOUNCE_FRAME});
  stream.insert(stream.end(), frame, frame + announce);
  KivWireEvent announced{.kind = Kind::kAnnounce, .core = 1, .cores = 2};
  std::memcpy(announced.version.data(), &version, sizeof version);
  expected.push_back(announced);
  for (const kivlog_record_t& r : records) {
    const size_t n = kivlog_wire_record(frame, &r);
    EXPECT_EQ(n, size_t{KIVLOG_WIRE_RECORD_FRAME});
    EXPECT_EQ(std::memchr(frame, 0, n - 1), nullptr) << "a zero byte inside a frame";
    EXPECT_EQ(frame[n - 1], 0);
    stream.insert(stream.end(), frame, frame + n);
    expected.push_back(recordEvent(r));
  }
  EXPECT_EQ(decodeAll(stream), expected);

  // Byte by byte, as a slow serial line delivers them: the same.
  KivWireDecoder decoder;
  std::vector<KivWireEvent> events;
  for (const unsigned char byte : stream) {
    decoder.feed({&byte, 1}, events);
  }
  EXPECT_EQ(events, expected);
}

TEST(WireFormat, ReaderJoiningMidFrameCountsOnlyLaterDamage) {
  unsigned char frame[KIVLOG_WIRE_RECORD_FRAME];
  const kivlog_record_t r = {7, 0, 0x540, 1, 2};
  const size_t n = kivlog_wire_record(frame, &r);
  std::vector<unsigned char> stream(frame + 10, frame + n);  // joined mid-frame
  stream.insert(stream.end(), frame, frame + n);
  stream.insert(stream.end(), frame, frame + 5);  // cut off at the end
  const std::vector<KivWireEvent> events = decodeAll(stream);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], recordEvent(r));
  EXPECT_EQ(events[1], (KivWireEvent{.kind = Kind::kDropped, .dropped = 1}));
}

TEST(WireFormat, FramesOfAnotherVersionOrTypeOrWithABadCrcAreDropped) {
  // A body of the right shape, re-encoded by hand: version 2, type 'Q', and one with its CRC off.
  auto encode = [](std::vector<unsigned char> body, bool crcOff) {
    uint32_t crc = kivlog_wire_crc32(body.data(), body.size()) ^ (crcOff ? 1u : 0u);
    for (int i = 0; i < 4; ++i) {
      body.push_back(static_cast<unsigned char>(crc >> (8 * i)));
    }
    std::vector<unsigned char> out(1);
    size_t code = 0;
    for (const unsigned char b : body) {
      if (b == 0) {
        out[code] = static_cast<unsigned char>(out.size() - code);
        code = out.size();
        out.push_back(0);
      } else {
        out.push_back(b);
      }
    }
    out[code] = static_cast<unsigned char>(out.size() - code);
    out.push_back(0);
    return out;
  };
  std::vector<unsigned char> record(22, 0x11);
  record[0] = 1;
  record[1] = 'R';
  std::vector<unsigned char> stream = encode(record, false);  // a good one first, to join
  for (const auto& [version, type, crcOff] :
       {std::tuple{2, 'R', false}, std::tuple{1, 'Q', false}, std::tuple{1, 'R', true}}) {
    std::vector<unsigned char> body = record;
    body[0] = static_cast<unsigned char>(version);
    body[1] = static_cast<unsigned char>(type);
    const std::vector<unsigned char> framed = encode(body, crcOff);
    stream.insert(stream.end(), framed.begin(), framed.end());
  }
  const std::vector<KivWireEvent> events = decodeAll(stream);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, Kind::kRecord);
  EXPECT_EQ(events[1], (KivWireEvent{.kind = Kind::kDropped, .dropped = 3}));
}

std::vector<unsigned char> sampleCapture() {
  std::ifstream in(std::string(KIVLOG_SOURCE_DIR) + "/examples/firmware/capture.bin",
                   std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(WireFormat, EveryFrameTheDamageDoesNotTouchDecodes) {
  const std::vector<unsigned char> capture = sampleCapture();
  ASSERT_GT(capture.size(), 1000u);

  // The frames of the clean capture: frameOf[i] is the frame byte i belongs to (a delimiter ends
  // its frame), eventOf[f] the event frame f gives, if any.
  std::vector<size_t> frameOf(capture.size());
  std::vector<std::vector<KivWireEvent>> eventOf(1);
  {
    KivWireDecoder decoder;
    for (size_t i = 0; i < capture.size(); ++i) {
      frameOf[i] = eventOf.size() - 1;
      decoder.feed({&capture[i], 1}, eventOf.back());
      if (capture[i] == 0) {
        eventOf.emplace_back();
      }
    }
    std::vector<KivWireEvent> rest;
    decoder.finish(rest);
    ASSERT_TRUE(rest.empty());
    EXPECT_EQ(decoder.droppedTotal(), 0u);
  }
  size_t frames = 0;
  for (const auto& events : eventOf) {
    frames += events.size();
  }
  EXPECT_EQ(frames, 2u + 90u);  // two announcements, the 61 UMAC and 29 LMAC records

  std::mt19937 random(20261209);
  for (int trial = 0; trial < 300; ++trial) {
    // The damaged stream as bytes with the clean index they came from (-1: inserted).
    std::vector<std::pair<unsigned char, long>> bytes;
    for (size_t i = 0; i < capture.size(); ++i) {
      bytes.emplace_back(capture[i], static_cast<long>(i));
    }
    std::set<size_t> touched;
    auto touch = [&](long index) {
      if (index < 0) {
        return;
      }
      touched.insert(frameOf[index]);
      if (capture[index] == 0 && static_cast<size_t>(index) + 1 < capture.size()) {
        touched.insert(frameOf[index + 1]);  // a delimiter joins the frames on both sides
      }
    };
    const int damages = 1 + static_cast<int>(random() % 4);
    std::string what;
    for (int d = 0; d < damages; ++d) {
      const size_t at = random() % bytes.size();
      switch (random() % 3) {
        case 0:
          what += " delete@" + std::to_string(at);
          touch(bytes[at].second);
          bytes.erase(bytes.begin() + static_cast<long>(at));
          break;
        case 1: {
          const auto byte = static_cast<unsigned char>(random() % 4 == 0 ? 0 : random());
          what += " insert@" + std::to_string(at);
          touch(bytes[at].second);
          if (at > 0) {
            touch(bytes[at - 1].second);
          }
          bytes.insert(bytes.begin() + static_cast<long>(at), {byte, -1});
          break;
        }
        default:
          what += " flip@" + std::to_string(at);
          touch(bytes[at].second);
          bytes[at].first ^= static_cast<unsigned char>(1u << (random() % 8));
          break;
      }
    }
    std::vector<unsigned char> damaged;
    for (const auto& [byte, index] : bytes) {
      damaged.push_back(byte);
    }
    std::vector<KivWireEvent> expected;
    std::vector<KivWireEvent> all;
    for (size_t f = 0; f < eventOf.size(); ++f) {
      all.insert(all.end(), eventOf[f].begin(), eventOf[f].end());
      if (touched.count(f) == 0) {
        expected.insert(expected.end(), eventOf[f].begin(), eventOf[f].end());
      }
    }
    std::vector<KivWireEvent> good;
    uint64_t dropped = 0;
    for (const KivWireEvent& event : decodeAll(damaged)) {
      if (event.kind == Kind::kDropped) {
        dropped += event.dropped;
      } else {
        good.push_back(event);
      }
    }
    // In order: every untouched frame is among the good events, and every good event is a frame
    // of the capture (a touched frame may survive a flip that cancels out, never turn into
    // another).
    size_t next = 0;
    for (const KivWireEvent& event : good) {
      if (next < expected.size() && event == expected[next]) {
        ++next;
      }
      EXPECT_NE(std::find(all.begin(), all.end(), event), all.end()) << "trial" << trial << what;
    }
    EXPECT_EQ(next, expected.size()) << "trial " << trial << what;
    EXPECT_GE(good.size() + dropped, expected.size()) << "trial " << trial << what;
    EXPECT_LE(good.size(), frames) << "trial " << trial << what;
  }
}

}  // namespace

// The kit's lock-free record ring: records put from several threads at once come out exactly once,
// each producer's in its order, and a full ring drops and counts instead of blocking.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kivlog_ring.h"

namespace {

TEST(KivlogRing, RecordsOfConcurrentProducersComeOutOnceAndInEachProducersOrder) {
  constexpr uint32_t kProducers = 3;
  constexpr uint32_t kPerProducer = 5000;
  std::vector<kivlog_ring_cell_t> cells(64);
  kivlog_ring_t ring;
  kivlog_ring_init(&ring, cells.data(), static_cast<uint32_t>(cells.size()));
  std::atomic<uint32_t> running{kProducers};
  std::vector<std::thread> producers;
  for (uint32_t p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (uint32_t i = 0; i < kPerProducer;) {
        const kivlog_record_t record = {i, p, 0, i * 7u, p};
        if (kivlog_ring_put(&ring, &record) != 0) {
          ++i;
        } else {
          std::this_thread::yield();  // full: let the consumer make room
        }
      }
      running.fetch_sub(1);
    });
  }
  std::vector<uint32_t> next(kProducers, 0);
  uint32_t taken = 0;
  uint32_t wrong = 0;
  kivlog_record_t record;
  for (;;) {
    // Read the producers' state before looking at the ring: once they are done and the ring is
    // empty, nothing more comes.
    const bool done = running.load() == 0;
    if (kivlog_ring_take(&ring, &record) == 0) {
      if (done) {
        break;
      }
      std::this_thread::yield();
      continue;
    }
    // Counted rather than asserted: the producers must be able to finish whatever came out.
    if (record.log_type >= kProducers || record.timestamp != next[record.log_type] ||
        record.param0 != record.timestamp * 7u) {
      ++wrong;
    } else {
      ++next[record.log_type];
    }
    ++taken;
  }
  for (std::thread& t : producers) {
    t.join();
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(taken, kProducers * kPerProducer);
  EXPECT_EQ(next, std::vector<uint32_t>(kProducers, kPerProducer));
}

TEST(KivlogRing, FullRingDropsAndCounts) {
  kivlog_ring_cell_t cells[4];
  kivlog_ring_t ring;
  kivlog_ring_init(&ring, cells, 4);
  kivlog_record_t record = {0, 0, 0, 0, 0};
  for (uint32_t i = 0; i < 6; ++i) {
    record.timestamp = i;
    EXPECT_EQ(kivlog_ring_put(&ring, &record), i < 4 ? 1 : 0) << i;
  }
  EXPECT_EQ(ring.dropped, 2u);
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_EQ(kivlog_ring_take(&ring, &record), 1);
    EXPECT_EQ(record.timestamp, i);
  }
  EXPECT_EQ(kivlog_ring_take(&ring, &record), 0);
  record.timestamp = 9;
  EXPECT_EQ(kivlog_ring_put(&ring, &record), 1);  // room again, around the end of the cells
  ASSERT_EQ(kivlog_ring_take(&ring, &record), 1);
  EXPECT_EQ(record.timestamp, 9u);
}

}  // namespace

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/KivFormatter.h"

// The log statements already read from one image, by the firmware address of their descriptor:
// the 16 descriptor bytes, the file name and the format string, with the format parsed once.
// Decoding a record whose statement is here costs no read of the image.
//
// Only statements whose three reads all succeeded are kept, so a failed read is made again, with
// the same outcome, the next time. The cache is bounded: when it would hold more than
// kMaxStatements statements, or its table and texts more than its byte budget, it starts afresh.
class KivStatementCache {
 public:
  static constexpr std::size_t kDescriptorSize = 16;
  static constexpr std::size_t kMaxStatements = 16384;
  static constexpr std::size_t kDefaultBudget = 4 * 1024 * 1024;

  explicit KivStatementCache(std::size_t budget = kDefaultBudget) : budget_(budget) {}

  // What only traces, JSON Lines and cut lines read.
  struct Text {
    std::string fileName;
    std::string format;
    // The members of a decoded record's JSON object that come from the statement alone, made by
    // the first output that writes one.
    mutable std::string jsonMembers;
  };

  // A statement lies in the table itself, in one cache line with what decoding a record needs:
  // rendering's fixed text for the statement and the format, parsed as one, and the descriptor.
  struct Statement {
    KivFormat line;
    uint32_t address = 0;
    // The header tail and the format together, before expansion.
    uint32_t lineSize = 0;
    std::array<unsigned char, kDescriptorSize> descriptor{};
    std::unique_ptr<Text> text;  // null in a free slot
  };

  const Statement* find(uint32_t address) const {
    if (slots_.empty()) {
      return nullptr;
    }
    for (std::size_t i = slotOf(address);; i = (i + 1) & (slots_.size() - 1)) {
      const Statement& slot = slots_[i];
      if (slot.text == nullptr) {
        return nullptr;
      }
      if (slot.address == address) {
        return &slot;
      }
    }
  }

  // Keeps the statement at `address`, which must not be kept yet, with `headerTail` (text taken
  // as it stands) in front of its format; the reference stays valid until the next insert.
  const Statement& insert(uint32_t address,
                          const std::array<unsigned char, kDescriptorSize>& descriptor,
                          std::string_view fileName, std::string_view format,
                          std::string_view headerTail);

  std::size_t size() const { return count_; }

 private:
  // Open addressing with linear probing in a table at most half full, its size a power of two.
  // Fibonacci hashing: the top bits of the product pick the slot.
  std::size_t slotOf(uint32_t address) const { return (address * 0x9E3779B1u) >> shift_; }
  void clear();
  Statement& place(Statement statement);

  std::vector<Statement> slots_;
  unsigned shift_ = 32;
  std::size_t count_ = 0;
  std::size_t bytes_ = 0;
  std::size_t budget_;
};

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
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
// kMaxStatements statements or its byte budget it starts afresh.
class KivStatementCache {
 public:
  static constexpr std::size_t kDescriptorSize = 16;
  static constexpr std::size_t kMaxStatements = 16384;
  static constexpr std::size_t kDefaultBudget = 4 * 1024 * 1024;

  explicit KivStatementCache(std::size_t budget = kDefaultBudget) : budget_(budget) {}

  struct Statement {
    // What decoding a record needs, first: rendering's fixed text for the statement, then the
    // format, parsed as one; then the descriptor.
    KivFormat line;
    // The header tail and the format together, before expansion.
    std::size_t lineSize;
    std::array<unsigned char, kDescriptorSize> descriptor;
    std::string fileName;
    std::string format;
    // With -j, the members of a decoded record's object that come from the statement alone.
    std::string jsonMembers;
  };

  const Statement* find(uint32_t address) const {
    if (slots_.empty()) {
      return nullptr;
    }
    for (std::size_t i = slotOf(address);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& slot = slots_[i];
      if (slot.statement == nullptr || slot.address == address) {
        return slot.statement;
      }
    }
  }

  // Keeps the statement at `address`, which must not be kept yet, with `headerTail` (text taken
  // as it stands) in front of its format; the reference stays valid until the cache starts
  // afresh.
  const Statement& insert(uint32_t address,
                          const std::array<unsigned char, kDescriptorSize>& descriptor,
                          std::string_view fileName, std::string_view format,
                          std::string_view headerTail, std::string jsonMembers);

  std::size_t size() const { return statements_.size(); }

 private:
  // Open addressing with linear probing in a table at most half full, its size a power of two.
  struct Slot {
    uint32_t address = 0;
    Statement* statement = nullptr;
  };

  // Fibonacci hashing: the top bits of the product pick the slot.
  std::size_t slotOf(uint32_t address) const { return (address * 0x9E3779B1u) >> shift_; }
  void clear();
  void place(uint32_t address, Statement* statement);

  std::vector<Slot> slots_;
  unsigned shift_ = 32;
  std::deque<Statement> statements_;
  std::size_t bytes_ = 0;
  std::size_t budget_;
};

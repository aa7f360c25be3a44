#include "metadata/KivStatementCache.h"

#include <algorithm>
#include <bit>

namespace {

constexpr std::size_t kFirstSlots = 256;

}  // namespace

const KivStatementCache::Statement& KivStatementCache::insert(
    uint32_t address, const std::array<unsigned char, kDescriptorSize>& descriptor,
    std::string_view fileName, std::string_view format, std::string_view headerTail,
    std::string jsonMembers) {
  Statement statement{KivFormat(headerTail, format),
                      headerTail.size() + format.size(),
                      descriptor,
                      std::string(fileName),
                      std::string(format),
                      std::move(jsonMembers)};
  const std::size_t bytes = sizeof(Statement) + statement.fileName.capacity() +
                            statement.format.capacity() + statement.line.footprint() +
                            statement.jsonMembers.capacity();
  if (statements_.size() >= kMaxStatements || bytes_ + bytes > budget_) {
    clear();
  }
  if (2 * (statements_.size() + 1) > slots_.size()) {
    std::vector<Slot> old(std::max(kFirstSlots, 2 * slots_.size()));
    old.swap(slots_);
    shift_ = 32 - static_cast<unsigned>(std::countr_zero(slots_.size()));
    for (const Slot& slot : old) {
      if (slot.statement != nullptr) {
        place(slot.address, slot.statement);
      }
    }
  }
  bytes_ += bytes;
  Statement& added = statements_.emplace_back(std::move(statement));
  place(address, &added);
  return added;
}

void KivStatementCache::place(uint32_t address, Statement* statement) {
  std::size_t i = slotOf(address);
  while (slots_[i].statement != nullptr) {
    i = (i + 1) & (slots_.size() - 1);
  }
  slots_[i] = {address, statement};
}

void KivStatementCache::clear() {
  slots_.clear();
  shift_ = 32;
  statements_.clear();
  bytes_ = 0;
}

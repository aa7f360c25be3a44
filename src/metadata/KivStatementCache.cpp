#include "metadata/KivStatementCache.h"

#include <algorithm>
#include <bit>

namespace {

constexpr std::size_t kFirstSlots = 256;

}  // namespace

const KivStatementCache::Statement& KivStatementCache::insert(
    uint32_t address, const std::array<unsigned char, kDescriptorSize>& descriptor,
    std::string_view fileName, std::string_view format, std::string_view headerTail) {
  Statement statement{KivFormat(headerTail, format), address,
                      static_cast<uint32_t>(headerTail.size() + format.size()), descriptor,
                      std::make_unique<Text>(Text{std::string(fileName), std::string(format), {}})};
  const std::size_t bytes = sizeof(Text) + statement.text->fileName.capacity() +
                            statement.text->format.capacity() + statement.line.footprint();
  std::size_t slots = slots_.size();
  while (2 * (count_ + 1) > slots) {
    slots = std::max(kFirstSlots, 2 * slots);
  }
  if (count_ >= kMaxStatements || bytes_ + bytes + slots * sizeof(Statement) > budget_) {
    clear();
    slots = kFirstSlots;
  }
  if (slots != slots_.size()) {
    std::vector<Statement> old(slots);
    old.swap(slots_);
    shift_ = 32 - static_cast<unsigned>(std::countr_zero(slots_.size()));
    for (Statement& kept : old) {
      if (kept.text != nullptr) {
        place(std::move(kept));
      }
    }
  }
  bytes_ += bytes;
  ++count_;
  return place(std::move(statement));
}

KivStatementCache::Statement& KivStatementCache::place(Statement statement) {
  std::size_t i = slotOf(statement.address);
  while (slots_[i].text != nullptr) {
    i = (i + 1) & (slots_.size() - 1);
  }
  slots_[i] = std::move(statement);
  return slots_[i];
}

void KivStatementCache::clear() {
  slots_.clear();
  shift_ = 32;
  count_ = 0;
  bytes_ = 0;
}

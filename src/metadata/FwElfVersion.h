#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// The firmware version record: six zero-padded fixed-width text fields, 111 bytes. A text that
// fills its field has no terminating zero, so every reader bounds a field by its width. Records are
// compared as whole blocks, padding included.
struct FwElfVersion {
  static constexpr std::size_t kFieldCount = 6;
  static constexpr std::array<std::size_t, kFieldCount> kFieldWidths = {15, 16, 32, 16, 16, 16};

  char field1[15];
  char field2[16];
  char field3[32];
  char field4[16];
  char field5[16];
  char field6[16];

  // Field `index` (0-based) as a span of its full width.
  char* field(std::size_t index);
  const char* field(std::size_t index) const;

  // Stores the first bytes of `text` in field `index`, zero bytes up to the width after it.
  void setField(std::size_t index, std::string_view text);

  // Field `index` up to its terminating zero, or the whole field when it is full.
  std::string_view fieldText(std::size_t index) const;

  // "field1.field2 field3 field4 field5 field6"
  std::string text() const;

  bool sameAs(const FwElfVersion& other) const;
};

static_assert(sizeof(FwElfVersion) == 111, "the version record is 111 bytes");

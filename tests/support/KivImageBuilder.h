#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Builds firmware image files byte by byte for tests. The tool reads an image as flat bytes, so
// the builder writes exactly what the tool looks for and nothing else: signature blocks, version
// records, log descriptors and zero-terminated strings, placed by firmware address. All other
// bytes are the filler byte 0xA5, never zero, so that a string read at a wrong place does not end
// by accident.

inline constexpr std::size_t kKivSignatureBlockSize = 143;
inline constexpr std::size_t kKivSignaturePatternSize = 16;
inline constexpr std::size_t kKivVersionRecordSize = 111;
inline constexpr std::size_t kKivLogMetaSize = 16;
inline constexpr std::uint8_t kKivFiller = 0xA5;
// Writes ending past this offset throw std::length_error: a wrapped address must not turn into a
// multi-gigabyte test file.
inline constexpr std::size_t kKivMaxImageSize = 64 * 1024 * 1024;

std::string kivLe16(std::uint16_t value);
std::string kivLe32(std::uint32_t value);

// The 16 bytes searched for in front of a signature block: the first 16 bytes of `signature`,
// zero padded. A 15-character signature gives its text and one zero byte; a longer one is cut at
// 16 bytes and has no zero byte.
std::string kivSignaturePattern(std::string_view signature);

// A firmware version record as six texts, in the order of the record and of a descriptor line.
// Fields left out of a brace list are empty.
struct KivTestVersion {
  std::string field1{}, field2{}, field3{}, field4{}, field5{}, field6{};

  static constexpr std::size_t kFieldWidths[6] = {15, 16, 32, 16, 16, 16};

  const std::string& field(std::size_t index) const;
  // The 111-byte record: each text cut to its field's width, then zero padded.
  std::string record() const;
};

// A 16-byte log descriptor. `format` and `file` are firmware addresses of zero-terminated strings.
struct KivTestLogMeta {
  std::uint32_t format = 0;
  std::uint16_t module = 0;
  std::uint16_t line = 0;
  std::uint32_t file = 0;
  std::uint16_t level = 0;
  std::uint16_t reserved = 0;

  std::string bytes() const;
};

class KivImageBuilder {
  struct State;

 public:
  // Handle on one MAC image of the file: places data by firmware address, using the same mapping
  // as the tool (offset = blockOffset + address - baseAddress, wrapping in 32 bits). The file
  // grows with filler bytes as needed. Handles are cheap copies; they stay valid as long as the
  // builder (also across a move of the builder).
  class Mac {
   public:
    std::uint32_t offsetOf(std::uint32_t address) const;
    std::uint32_t addressOf(std::uint32_t offset) const;

    const Mac& raw(std::uint32_t address, std::string_view data) const;
    // `text` followed by one zero byte.
    const Mac& string(std::uint32_t address, std::string_view text) const;
    const Mac& descriptor(std::uint32_t address, const KivTestLogMeta& meta) const;
    // The version record at this image's version address.
    const Mac& version(const KivTestVersion& version) const;
    // A descriptor at `address` whose format string and file name go to free addresses.
    const Mac& logStatement(std::uint32_t address, std::string_view format, std::string_view file,
                            std::uint16_t line, std::uint16_t level,
                            std::uint16_t module = 0) const;

    // Free-space placement: past everything written or reserved so far, 4-byte aligned. Each
    // returns the firmware address it used.
    std::uint32_t place(std::string_view data) const;
    // Equal texts placed through one handle's image share one address, as in a linked firmware.
    std::uint32_t placeString(std::string_view text) const;
    std::uint32_t placeLogStatement(std::string_view format, std::string_view file,
                                    std::uint16_t line, std::uint16_t level,
                                    std::uint16_t module = 0) const;

   private:
    friend class KivImageBuilder;
    Mac(State* state, std::size_t index) : state_(state), index_(index) {}
    State* state_;
    std::size_t index_;
  };

  KivImageBuilder();
  ~KivImageBuilder();
  KivImageBuilder(KivImageBuilder&&) noexcept;
  KivImageBuilder& operator=(KivImageBuilder&&) noexcept;
  KivImageBuilder(const KivImageBuilder&) = delete;
  KivImageBuilder& operator=(const KivImageBuilder&) = delete;

  // Writes a signature block at `blockOffset`: the pattern of `signature`, `baseAddress`,
  // `versionAddress`, then zero bytes up to 143 bytes. A `blockLength` below 143 writes only the
  // block's first bytes, for images whose block is cut off by the end of the file. The version
  // record's place is reserved so that free-space placement never lands on it.
  Mac mac(std::string_view signature, std::uint32_t blockOffset, std::uint32_t baseAddress,
          std::uint32_t versionAddress, std::size_t blockLength = kKivSignatureBlockSize);

  KivImageBuilder& raw(std::size_t offset, std::string_view data);
  // Cuts the file or grows it with the filler byte.
  KivImageBuilder& resize(std::size_t size);

  std::size_t size() const;
  const std::string& bytes() const;
  // Throws std::runtime_error when the file cannot be written.
  void writeTo(const std::string& path) const;

 private:
  std::unique_ptr<State> state_;
};

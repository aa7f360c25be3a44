#include "support/KivImageBuilder.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

std::string kivLe16(std::uint16_t value) {
  std::string out(2, '\0');
  out[0] = static_cast<char>(value & 0xFF);
  out[1] = static_cast<char>(value >> 8);
  return out;
}

std::string kivLe32(std::uint32_t value) {
  std::string out(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) {
    out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  return out;
}

std::string kivSignaturePattern(std::string_view signature) {
  std::string pattern(signature.substr(0, kKivSignaturePatternSize));
  pattern.resize(kKivSignaturePatternSize, '\0');
  return pattern;
}

const std::string& KivTestVersion::field(std::size_t index) const {
  switch (index) {
    case 0:
      return field1;
    case 1:
      return field2;
    case 2:
      return field3;
    case 3:
      return field4;
    case 4:
      return field5;
    case 5:
      return field6;
    default:
      throw std::out_of_range("KivTestVersion has six fields");
  }
}

std::string KivTestVersion::record() const {
  std::string out;
  out.reserve(kKivVersionRecordSize);
  for (std::size_t i = 0; i < 6; ++i) {
    std::string text = field(i).substr(0, kFieldWidths[i]);
    text.resize(kFieldWidths[i], '\0');
    out += text;
  }
  return out;
}

std::string KivTestLogMeta::bytes() const {
  return kivLe32(format) + kivLe16(module) + kivLe16(line) + kivLe32(file) + kivLe16(level) +
         kivLe16(reserved);
}

struct KivImageBuilder::State {
  struct MacData {
    std::string signature;
    std::uint32_t blockOffset;
    std::uint32_t baseAddress;
    std::uint32_t versionAddress;
    std::map<std::string, std::uint32_t, std::less<>> placedStrings;
  };

  std::string image;
  std::vector<MacData> macs;
  std::size_t reservedEnd = 0;

  void write(std::size_t offset, std::string_view data) {
    if (offset > kKivMaxImageSize || data.size() > kKivMaxImageSize - offset) {
      throw std::length_error("test image write at offset " + std::to_string(offset) +
                              " would grow the file beyond kKivMaxImageSize");
    }
    if (image.size() < offset + data.size()) {
      image.resize(offset + data.size(), static_cast<char>(kKivFiller));
    }
    std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
  }

  std::size_t freeOffset() const {
    std::size_t offset = std::max(image.size(), reservedEnd);
    return (offset + 3) & ~static_cast<std::size_t>(3);
  }
};

std::uint32_t KivImageBuilder::Mac::offsetOf(std::uint32_t address) const {
  const State::MacData& mac = state_->macs[index_];
  return mac.blockOffset + address - mac.baseAddress;
}

std::uint32_t KivImageBuilder::Mac::addressOf(std::uint32_t offset) const {
  const State::MacData& mac = state_->macs[index_];
  return mac.baseAddress + offset - mac.blockOffset;
}

const KivImageBuilder::Mac& KivImageBuilder::Mac::raw(std::uint32_t address,
                                                      std::string_view data) const {
  state_->write(offsetOf(address), data);
  return *this;
}

const KivImageBuilder::Mac& KivImageBuilder::Mac::string(std::uint32_t address,
                                                         std::string_view text) const {
  std::string terminated(text);
  terminated.push_back('\0');
  return raw(address, terminated);
}

const KivImageBuilder::Mac& KivImageBuilder::Mac::descriptor(std::uint32_t address,
                                                             const KivTestLogMeta& meta) const {
  return raw(address, meta.bytes());
}

const KivImageBuilder::Mac& KivImageBuilder::Mac::version(const KivTestVersion& version) const {
  return raw(state_->macs[index_].versionAddress, version.record());
}

const KivImageBuilder::Mac& KivImageBuilder::Mac::logStatement(
    std::uint32_t address, std::string_view format, std::string_view file, std::uint16_t line,
    std::uint16_t level, std::uint16_t module) const {
  // The descriptor is written first so that the strings placed next cannot land on its bytes.
  descriptor(address, {});
  KivTestLogMeta meta{.format = placeString(format),
                      .module = module,
                      .line = line,
                      .file = placeString(file),
                      .level = level};
  return descriptor(address, meta);
}

std::uint32_t KivImageBuilder::Mac::place(std::string_view data) const {
  std::size_t offset = state_->freeOffset();
  state_->write(offset, data);
  return addressOf(static_cast<std::uint32_t>(offset));
}

std::uint32_t KivImageBuilder::Mac::placeString(std::string_view text) const {
  auto& placed = state_->macs[index_].placedStrings;
  if (auto it = placed.find(text); it != placed.end()) {
    return it->second;
  }
  std::string terminated(text);
  terminated.push_back('\0');
  std::uint32_t address = place(terminated);
  placed.emplace(std::string(text), address);
  return address;
}

std::uint32_t KivImageBuilder::Mac::placeLogStatement(std::string_view format,
                                                      std::string_view file, std::uint16_t line,
                                                      std::uint16_t level,
                                                      std::uint16_t module) const {
  KivTestLogMeta meta{.format = placeString(format),
                      .module = module,
                      .line = line,
                      .file = placeString(file),
                      .level = level};
  return place(meta.bytes());
}

KivImageBuilder::KivImageBuilder() : state_(std::make_unique<State>()) {}

KivImageBuilder::~KivImageBuilder() = default;
KivImageBuilder::KivImageBuilder(KivImageBuilder&&) noexcept = default;
KivImageBuilder& KivImageBuilder::operator=(KivImageBuilder&&) noexcept = default;

KivImageBuilder::Mac KivImageBuilder::mac(std::string_view signature, std::uint32_t blockOffset,
                                          std::uint32_t baseAddress, std::uint32_t versionAddress,
                                          std::size_t blockLength) {
  std::string block =
      kivSignaturePattern(signature) + kivLe32(baseAddress) + kivLe32(versionAddress);
  block.resize(kKivSignatureBlockSize, '\0');
  block.resize(std::min(blockLength, kKivSignatureBlockSize));
  state_->write(blockOffset, block);

  state_->macs.push_back({std::string(signature), blockOffset, baseAddress, versionAddress, {}});
  Mac handle(state_.get(), state_->macs.size() - 1);

  std::size_t versionOffset = handle.offsetOf(versionAddress);
  if (versionOffset + kKivVersionRecordSize <= kKivMaxImageSize) {
    state_->reservedEnd = std::max(state_->reservedEnd, versionOffset + kKivVersionRecordSize);
  }
  if (blockLength >= kKivSignatureBlockSize) {
    state_->reservedEnd = std::max(state_->reservedEnd, blockOffset + kKivSignatureBlockSize);
  }
  return handle;
}

KivImageBuilder& KivImageBuilder::raw(std::size_t offset, std::string_view data) {
  state_->write(offset, data);
  return *this;
}

KivImageBuilder& KivImageBuilder::resize(std::size_t size) {
  if (size > kKivMaxImageSize) {
    throw std::length_error("test image size beyond kKivMaxImageSize");
  }
  state_->image.resize(size, static_cast<char>(kKivFiller));
  return *this;
}

std::size_t KivImageBuilder::size() const {
  return state_->image.size();
}

const std::string& KivImageBuilder::bytes() const {
  return state_->image;
}

void KivImageBuilder::writeTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(state_->image.data(), static_cast<std::streamsize>(state_->image.size()));
  out.close();
  if (!out) {
    throw std::runtime_error("cannot write test image " + path);
  }
}

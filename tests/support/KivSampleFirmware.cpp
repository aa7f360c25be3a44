#include "support/KivSampleFirmware.h"

#include <cstdio>

namespace kivsample {
namespace {

KivTestVersion versionOf(const std::array<std::string_view, 6>& fields) {
  return {std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
          std::string(fields[3]), std::string(fields[4]), std::string(fields[5])};
}

void addStatements(const KivImageBuilder::Mac& mac, const Statement* first, const Statement* last,
                   std::uint32_t unmapped) {
  for (const Statement* s = first; s != last; ++s) {
    mac.descriptor(s->address, {.format = s->formatAddress,
                                .module = s->module,
                                .line = s->line,
                                .file = s->fileAddress,
                                .level = s->level});
    if (s->formatAddress != unmapped) {
      mac.string(s->formatAddress, s->format);
    }
    if (s->fileAddress != unmapped) {
      mac.string(s->fileAddress, s->file);
    }
  }
}

std::string idToken(std::optional<std::string_view> id) {
  return id ? "[ID:" + std::string(*id) + "]" : std::string();
}

std::string versionTokens(std::string_view mac, const KivTestVersion& version) {
  std::string out;
  for (std::size_t i = 0; i <= 6; ++i) {
    out += '[';
    out += i == 0 ? mac : std::string_view(version.field(i - 1));
    out += ']';
  }
  return out;
}

}  // namespace

const KivTestVersion& umacVersion() {
  static const KivTestVersion version = versionOf(kUmacVersionFields);
  return version;
}

const KivTestVersion& lmacVersion() {
  static const KivTestVersion version = versionOf(kLmacVersionFields);
  return version;
}

const KivTestVersion& otherLmacVersion() {
  static const KivTestVersion version = [] {
    KivTestVersion v = versionOf(kLmacVersionFields);
    v.field2 = "4.3.0.2150";
    return v;
  }();
  return version;
}

void addUmac(KivImageBuilder& builder, std::string_view signature) {
  auto umac = builder.mac(signature, kUmacBlockOffset, kUmacBase, kUmacVersionAddress);
  umac.version(umacVersion());
  addStatements(umac, kUmacStatements.begin(), kUmacStatements.end(), kUmacUnmappedAddress);
}

void addLmac(KivImageBuilder& builder, std::string_view signature) {
  auto lmac = builder.mac(signature, kLmacBlockOffset, kLmacBase, kLmacVersionAddress);
  lmac.version(lmacVersion());
  addStatements(lmac, kLmacStatements.begin(), kLmacStatements.end(), kLmacUnmappedAddress);
}

KivImageBuilder imageBuilder() {
  KivImageBuilder builder;
  addUmac(builder);
  addLmac(builder);
  return builder;
}

std::string writeImage(const std::string& folder, std::string_view name) {
  std::string path = folder + "/" + std::string(name);
  imageBuilder().writeTo(path);
  return path;
}

void writeLegacyImages(const std::string& folder) {
  KivImageBuilder umac;
  addUmac(umac, kLegacySignature);
  umac.writeTo(folder + "/" + std::string(kUmacImageName));
  KivImageBuilder lmac;
  addLmac(lmac, kLegacySignature);
  lmac.writeTo(folder + "/" + std::string(kLmacImageName));
}

std::string descriptorLine(std::optional<std::string_view> id, const KivTestVersion& umac,
                           const KivTestVersion& lmac) {
  return "[FW_ELF_VER]" + idToken(id) + versionTokens("UMAC", umac) + versionTokens("LMAC", lmac);
}

std::string dataLine(std::optional<std::string_view> id, std::uint32_t timestamp,
                     std::uint32_t logType, std::uint32_t logAddr, std::uint32_t param0,
                     std::uint32_t param1) {
  char address[16];
  std::snprintf(address, sizeof address, "%x", static_cast<unsigned>(logAddr));
  return "[FW_LOG-R]" + idToken(id) + "[" + std::to_string(timestamp) + "][" +
         std::to_string(logType) + "][" + address + "][" + std::to_string(param0) + "][" +
         std::to_string(param1) + "]";
}

std::string dataLine(std::optional<std::string_view> id, std::uint32_t timestamp,
                     const Statement& statement, std::uint32_t param0, std::uint32_t param1) {
  return dataLine(id, timestamp, statement.logType, statement.address, param0, param1);
}

std::string rawLog(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (std::string_view line : lines) {
    out += line;
    out += '\n';
  }
  return out;
}

KivTestVersion releaseVersion(KivTestVersion version, const std::string& name) {
  version.field2 = name;
  return version;
}

KivImageBuilder releaseBuild(const std::string& name) {
  constexpr uint32_t kBuildUmacBlock = 0x200;
  constexpr uint32_t kBuildFormat = 0x20000600;
  constexpr uint32_t kBuildFile = 0x20000640;
  KivImageBuilder image;
  const auto umac = image.mac(kUmacSignature, kBuildUmacBlock, kUmacBase, kUmacVersionAddress);
  umac.version(releaseVersion(umacVersion(), name));
  umac.descriptor(kUmacValue.address,
                  {.format = kBuildFormat, .line = 10, .file = kBuildFile, .level = 3});
  umac.string(kBuildFormat, "release " + name + " value %u\n");
  umac.string(kBuildFile, "fw/" + name + ".c");
  const auto lmac = image.mac(kLmacSignature, kLmacBlockOffset, kLmacBase, kLmacVersionAddress);
  lmac.version(releaseVersion(lmacVersion(), name));
  lmac.logStatement(kLmacDone.address, "release " + name + " done\n", "lmac/" + name + ".c", 20, 0);
  return image;
}

std::string announce(const std::string& id, const std::string& name) {
  return descriptorLine(id, releaseVersion(umacVersion(), name),
                        releaseVersion(lmacVersion(), name));
}

}  // namespace kivsample

#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "support/KivImageBuilder.h"

// The standard test firmware: one combined image file holding a UMAC and an LMAC image, with log
// statements covering the decoding cases, plus builders for raw-log lines. Every address and text
// is a named constant, so tests state their expectations without recomputing the layout.
namespace kivsample {

inline constexpr std::string_view kUmacSignature = "FAST_LOG_UMAC__";
inline constexpr std::string_view kLmacSignature = "FAST_LOG_LMAC__";
inline constexpr std::string_view kLegacySignature = "FAST_LOG_START_";

inline constexpr std::string_view kImageName = "kiv_log.elf";
inline constexpr std::string_view kUmacImageName = "umac.elf";
inline constexpr std::string_view kLmacImageName = "lmac.elf";

// UMAC image: firmware address A lies at file offset kUmacBlockOffset + A - kUmacBase.
inline constexpr std::uint32_t kUmacBlockOffset = 0x100;
inline constexpr std::uint32_t kUmacBase = 0x20000000;
inline constexpr std::uint32_t kUmacVersionAddress = 0x20000200;  // file offset 0x300
// LMAC image: firmware address A lies at file offset kLmacBlockOffset + A - kLmacBase.
inline constexpr std::uint32_t kLmacBlockOffset = 0x1000;
inline constexpr std::uint32_t kLmacBase = 0x00400000;
inline constexpr std::uint32_t kLmacVersionAddress = 0x00400300;  // file offset 0x1300

// Addresses whose file offsets lie past the end of every standard image file.
inline constexpr std::uint32_t kUmacUnmappedAddress = 0x20100000;
inline constexpr std::uint32_t kLmacUnmappedAddress = 0x00500000;

// The combined file ends right after kLmacAtEnd's descriptor.
inline constexpr std::uint32_t kImageSize = 0x1810;

// The images' version records. The LMAC field1 text fills its 15 bytes: no terminating zero.
inline constexpr std::array<std::string_view, 6> kUmacVersionFields = {
    "KIV-UMAC", "4.3.1.2207", "Mar 20 2026 14:02:11", "release", "g7c1e9a0", "prod"};
inline constexpr std::array<std::string_view, 6> kLmacVersionFields = {
    "LMAC-FW-7.2.015", "4.3.1.2207", "Mar 20 2026 14:03:40", "release", "g7c1e9a0", "prod"};

const KivTestVersion& umacVersion();
const KivTestVersion& lmacVersion();
// The LMAC version with field2 "4.3.0.2150": a device announcing it mismatches the images.
const KivTestVersion& otherLmacVersion();

// One log statement of the standard image: its descriptor and the strings it points at. The
// constants below give the members in this order.
struct Statement {
  std::uint32_t address;  // of the 16-byte descriptor
  std::uint32_t formatAddress;
  std::uint32_t fileAddress;
  std::string_view format;  // empty when formatAddress is unmapped
  std::string_view file;    // empty when fileAddress is unmapped
  std::uint16_t line;
  std::uint16_t level;
  std::uint16_t module;
  std::uint32_t logType;  // 0 for the UMAC statements, 2 for the LMAC ones
};

inline constexpr Statement kUmacValue{
    0x20000400, 0x20000600, 0x20000640, "value=%u count=%x\n", "fw/src/main.c", 42, 3, 5, 0};
// No trailing newline: the next output continues on the same line.
inline constexpr Statement kUmacNoNewline{
    0x20000410, 0x20000680, 0x20000640, "progress %u of %u", "fw/src/main.c", 120, 4, 5, 0};
inline constexpr Statement kUmacPercent{
    0x20000420, 0x200006C0, 0x20000700, "load %d%%\n", "fw/src/stats.c", 77, 2, 7, 0};
inline constexpr Statement kUmacBadFile{
    0x20000430, 0x20000740, kUmacUnmappedAddress, "bad file %u\n", "", 1, 1, 1, 0};
inline constexpr Statement kUmacBadFormat{
    0x20000440, kUmacUnmappedAddress, 0x20000640, "", "fw/src/main.c", 2, 1, 1, 0};
// A 43-character file name, the largest line number and level 0.
inline constexpr std::string_view kLongFileName = "lmac/src/calibration/rf_power_tables_load.c";
inline constexpr Statement kLmacDone{0x00400400, 0x00400500, 0x00400540, "done\n", kLongFileName,
                                     65535,      0,          9,          2};
// The descriptor is the last 16 bytes of the combined file; its level lies past the name table.
inline constexpr Statement kLmacAtEnd{
    0x00400800, 0x00400600, 0x00400640, "tail %u\n", "lmac/src/tail.c", 300, 9, 2, 2};

inline constexpr std::array<Statement, 5> kUmacStatements = {
    kUmacValue, kUmacNoNewline, kUmacPercent, kUmacBadFile, kUmacBadFormat};
inline constexpr std::array<Statement, 2> kLmacStatements = {kLmacDone, kLmacAtEnd};

// Adds the standard UMAC or LMAC image (block, version, statements) to `builder`.
void addUmac(KivImageBuilder& builder, std::string_view signature = kUmacSignature);
void addLmac(KivImageBuilder& builder, std::string_view signature = kLmacSignature);

// The combined image, UMAC block first; a test may add to it before writing.
KivImageBuilder imageBuilder();
// Writes the combined image into `folder`; returns its path.
std::string writeImage(const std::string& folder, std::string_view name = kImageName);
// Writes the two legacy files, umac.elf and lmac.elf, each with one block signed
// kLegacySignature and the same addresses as the combined image.
void writeLegacyImages(const std::string& folder);

// "[FW_ELF_VER][ID:<id>][UMAC][f1]...[f6][LMAC][f1]...[f6]". std::nullopt leaves the id token
// out; an empty id gives the token "[ID:]". The same holds for dataLine.
std::string descriptorLine(std::optional<std::string_view> id,
                           const KivTestVersion& umac = umacVersion(),
                           const KivTestVersion& lmac = lmacVersion());
// "[FW_LOG-R][ID:<id>][<timestamp>][<logType>][<logAddr lowercase hex>][<param0>][<param1>]".
std::string dataLine(std::optional<std::string_view> id, std::uint32_t timestamp,
                     std::uint32_t logType, std::uint32_t logAddr, std::uint32_t param0,
                     std::uint32_t param1);
// The same for a statement of the standard image, with its own log type and address.
std::string dataLine(std::optional<std::string_view> id, std::uint32_t timestamp,
                     const Statement& statement, std::uint32_t param0, std::uint32_t param1);

// The lines joined into a raw log, each followed by "\n".
std::string rawLog(std::initializer_list<std::string_view> lines);

// A firmware build of release `name`, for a firmware library: both versions carry the name in
// their second field (releaseVersion), its UMAC block lies at 0x200 rather than where the standard
// image has it, and the statements at kUmacValue's and kLmacDone's addresses say which release
// printed them: "release <name> value %u\n" from "fw/<name>.c" line 10, level 3, and
// "release <name> done\n" from "lmac/<name>.c" line 20, level 0.
KivImageBuilder releaseBuild(const std::string& name);
KivTestVersion releaseVersion(KivTestVersion version, const std::string& name);
// The descriptor line of a device that runs release `name`.
std::string announce(const std::string& id, const std::string& name);

}  // namespace kivsample

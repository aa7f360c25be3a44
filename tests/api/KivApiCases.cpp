#include "api/KivApiCases.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "KivWorkload.h"
#include "support/KivSampleFirmware.h"

using namespace kivsample;

namespace {

void copyExample(KivTempDir& dir, const std::string& from, const std::string& to) {
  std::filesystem::copy_file(std::string(KIVLOG_SOURCE_DIR) + "/examples/" + from, dir.file(to));
}

std::string hostileLog() {
  std::string longLine(5000, 'x');
  longLine[4100] = '\0';
  return rawLog({descriptorLine("d\xff\x01"),
                 "pre\xc3\x28\t[FW_LOG-R][ID:d\xff\x01][1][0][20000400][7][0]",
                 dataLine("e/%s", 2, 9, kUmacValue.address, 1, 2),
                 dataLine("e/%s", 3, 0, kUmacUnmappedAddress, 1, 2), "[FW_LOG-R][ID:e][oops]",
                 "[FW_ELF_VER][ID:z][UMAC]", longLine,
                 "h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xed\xa0\x80 \xc0\xaf \xf4\x90\x80\x80 "
                 "\x80 \xe2\x82",
                 dataLine(std::nullopt, 4, kUmacPercent, 0xffffffff, 5)});
}

}  // namespace

const std::vector<KivApiCase>& kivApiCases() {
  static const std::vector<KivApiCase> all = {
      {"sample",
       "the shipped sample",
       [](KivTempDir& d) {
         copyExample(d, "kiv_log.elf", "kiv_log.elf");
         copyExample(d, "sample.log", "raw.log");
       },
       {},
       {}},
      {"legacy-strict",
       "the firmware sample in legacy files, strict, with every trace",
       [](KivTempDir& d) {
         copyExample(d, "firmware/umac.elf", "umac.elf");
         copyExample(d, "firmware/lmac.elf", "lmac.elf");
         copyExample(d, "firmware/raw.log", "raw.log");
       },
       {"-u", "umac.elf", "-l", "lmac.elf", "-s", "-v", "3"},
       {.umac = "umac.elf", .lmac = "lmac.elf", .strict = true, .verbosity = 3}},
      {"library",
       "a fleet decoded with a firmware library",
       [](KivTempDir& d) {
         writeImage(d.path());
         d.makeDir("builds");
         releaseBuild("5.1").writeTo(d.file("builds/a.elf"));
         releaseBuild("5.2").writeTo(d.file("builds/b.elf"));
         d.write("builds/junk", "not an image");
         d.write("raw.log",
                 rawLog({"host", descriptorLine("d0"), announce("d1", "5.1"), announce("d2", "5.9"),
                         dataLine("d1", 5, kUmacValue, 1, 0), dataLine("d0", 6, kUmacValue, 2, 0),
                         dataLine("d2", 7, kLmacDone, 0, 0), descriptorLine("d1"),
                         dataLine("d1", 9, kUmacValue, 3, 0)}));
       },
       {"-F", "builds", "-v", "2"},
       {.library = "builds", .verbosity = 2}},
      {"hostile",
       "hostile bytes, cut lines and broken records",
       [](KivTempDir& d) {
         writeImage(d.path());
         d.write("raw.log", hostileLog());
       },
       {"-v", "1"},
       {.verbosity = 1}},
      {"signatures",
       "images signed with strings of their own, a statement with long texts beyond UTF-8",
       [](KivTempDir& d) {
         KivImageBuilder image;
         const auto umac =
             image.mac("KIVTEST_UMAC_S_", kUmacBlockOffset, kUmacBase, kUmacVersionAddress);
         umac.version(umacVersion());
         const std::uint32_t long_ = umac.placeLogStatement(
             std::string(600, 'f') + " \xc3\xa9\xff %u\n", "fw/long\xff.c", 9, 3, 1);
         addLmac(image, "KIVTEST_LMAC_S_");
         image.writeTo(d.file("kiv_log.elf"));
         d.write("raw.log",
                 rawLog({descriptorLine("w0"), dataLine("w0", 1, 0, long_, 7, 0),
                         dataLine("w0", 2, kLmacDone, 0, 0), dataLine("w0", 3, 0, long_, 8, 0)}));
       },
       {"-sig_umac", "KIVTEST_UMAC_S_", "-sig_lmac", "KIVTEST_LMAC_S_"},
       {.sigUmac = "KIVTEST_UMAC_S_", .sigLmac = "KIVTEST_LMAC_S_"}},
      {"workload",
       "a generated workload",
       [](KivTempDir& d) {
         const KivWorkload workload;
         workload.image().writeTo(d.file("kiv_log.elf"));
         d.write("raw.log", workload.log(KivWorkloadMix::kDataHeavy, 3000));
       },
       {},
       {}},
  };
  return all;
}

// The firmware kit: the records its header lays out are the ones the tool reads, its statements
// reach the transport, its host helpers write the lines the tool parses, and its compile-time
// check accepts exactly the formats the tool expands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/KivlogKitC.h"
#include "kivlog_host.h"
#include "metadata/KivLogMetadata.h"
#include "records/KivLogMeta.h"
#include "support/KivProcess.h"
#include "support/KivTempDir.h"

namespace {

template <typename T>
std::string bytesOf(const T& object) {
  return std::string(reinterpret_cast<const char*>(&object), sizeof object);
}

TEST(KivlogKit, CAndCxxLayOutTheRecordsAlike) {
  const std::vector<size_t> cxx = {
      sizeof(kivlog_desc_t),
      offsetof(kivlog_desc_t, pFormattedString),
      offsetof(kivlog_desc_t, module),
      offsetof(kivlog_desc_t, line),
      offsetof(kivlog_desc_t, pFileName),
      offsetof(kivlog_desc_t, level),
      offsetof(kivlog_desc_t, reserved),
      sizeof(kivlog_signature_t),
      offsetof(kivlog_signature_t, baseAddress),
      offsetof(kivlog_signature_t, versionAddress),
      sizeof(kivlog_version_t),
      offsetof(kivlog_version_t, field2),
      offsetof(kivlog_version_t, field3),
      offsetof(kivlog_version_t, field4),
      offsetof(kivlog_version_t, field5),
      offsetof(kivlog_version_t, field6),
      sizeof(kivlog_record_t),
  };
  const std::vector<size_t> c(kivlogKitCLayout, kivlogKitCLayout + kivlogKitCLayoutCount);
  EXPECT_EQ(c, cxx);
  EXPECT_EQ(
      cxx, (std::vector<size_t>{16, 0, 4, 6, 8, 12, 14, 143, 16, 20, 111, 15, 31, 63, 79, 95, 20}));
}

TEST(KivlogKit, DescriptorBytesDecodeAsTheToolReadsThem) {
  kivlog_desc_t desc{};
  desc.pFormattedString = 0x12345678u;
  desc.module = 0xBEEF;
  desc.line = 65535;
  desc.pFileName = 0x9ABCDEF0u;
  desc.level = KIVLOG_ALWAYS;
  desc.reserved = 0xFFFF;
  std::array<unsigned char, LogMeta::kSize> bytes{};
  ASSERT_EQ(sizeof desc, bytes.size());
  std::memcpy(bytes.data(), &desc, sizeof desc);
  const LogMeta meta = LogMeta::fromBytes(bytes);
  EXPECT_EQ(meta.pFormattedString, 0x12345678u);
  EXPECT_EQ(meta.module, 0xBEEF);
  EXPECT_EQ(meta.line, 65535);
  EXPECT_EQ(meta.pFileName, 0x9ABCDEF0u);
  EXPECT_EQ(meta.level, 7);
}

// The image that KivlogKitC.c defines, placed in a file at firmware address 0x8000 as a linker
// would place it (on the host the kit leaves the addresses to the test), loads in the tool with
// the version record it was given.
TEST(KivlogKit, ImageDefinedInCLoadsInTheTool) {
  kivlog_signature_t block = kivlog_signature;
  EXPECT_EQ(std::string(block.pattern, 16), std::string("FAST_LOG_UMAC__\0", 16));
  EXPECT_EQ(bytesOf(block.reserved), std::string(sizeof block.reserved, '\0'));
  block.baseAddress = 0x8000;
  block.versionAddress = 0x8000 + sizeof block;
  KivTempDir dir;
  const std::string path =
      dir.write("image.elf", std::string(100, 'x') + bytesOf(block) + bytesOf(kivlog_version));
  KivLogMetadata image;
  ASSERT_TRUE(image.load(path, "FAST_LOG_UMAC__"));
  EXPECT_EQ(image.dataOffset(), 100u);
  EXPECT_EQ(image.baseAddress(), 0x8000u);
  EXPECT_EQ(image.elfVersion().text(),
            "KIV-UMAC.4.4.0.0031 sample build release full16charsfield x");
  EXPECT_EQ(bytesOf(image.elfVersion()), bytesOf(kivlog_version));
}

TEST(KivlogKit, StatementHandsItsRecordToTheTransport) {
  kivlogKitNow = 123456;
  kivlogKitLogFromC(7, 0xFFFFFFFFu);
  EXPECT_EQ(kivlogKitLastRecord.timestamp, 123456u);
  EXPECT_EQ(kivlogKitLastRecord.log_type, KIVLOG_TYPE_UMAC_CR);
  EXPECT_EQ(kivlogKitLastRecord.param0, 7u);
  EXPECT_EQ(kivlogKitLastRecord.param1, 0xFFFFFFFFu);
}

TEST(KivlogHost, DataLines) {
  struct Row {
    const char* id;
    kivlog_record_t record;
    int result;
    std::string line;
  };
  const Row rows[] = {
      {"wlan0", {1000, 0, 0x88019c, 1, 0}, 43, "[FW_LOG-R][ID:wlan0][1000][0][88019c][1][0]"},
      {nullptr,
       {4294967295u, 3, 0xFFFFFFFFu, 4294967295u, 0},
       50,
       "[FW_LOG-R][4294967295][3][ffffffff][4294967295][0]"},
      {"", {0, 2, 0, 0, 0}, 25, "[FW_LOG-R][0][2][0][0][0]"},
      {"a]b", {0, 0, 0, 0, 0}, -1, ""},
      {"a[b", {0, 0, 0, 0, 0}, -1, ""},
  };
  for (const Row& row : rows) {
    char out[128];
    EXPECT_EQ(kivlog_host_data_line(out, sizeof out, row.id, &row.record), row.result) << row.line;
    EXPECT_EQ(std::string(out), row.line);
  }
}

TEST(KivlogHost, DataLineLongerThanTheBufferIsCutLikeSnprintf) {
  const kivlog_record_t record = {1000, 0, 0x88019c, 1, 0};
  char out[12];
  EXPECT_EQ(kivlog_host_data_line(out, sizeof out, "wlan0", &record), 43);
  EXPECT_EQ(std::string(out), "[FW_LOG-R][");
  EXPECT_EQ(kivlog_host_data_line(nullptr, 0, "wlan0", &record), 43);
}

TEST(KivlogHost, VersionLineCarriesEveryFieldUpToItsZeroOrWidth) {
  kivlog_version_t lmac{};
  std::memcpy(lmac.field1, "LMAC-FW-7.2.015", 15);  // fills its field: no zero byte
  std::memcpy(lmac.field3, "Mar 20 2026 14:03:40", 20);
  char out[512];
  const std::string expected =
      "[FW_ELF_VER][ID:wlan1][UMAC][KIV-UMAC][4.4.0.0031][sample build][release]"
      "[full16charsfield][x][LMAC][LMAC-FW-7.2.015][][Mar 20 2026 14:03:40][][][]";
  EXPECT_EQ(kivlog_host_version_line(out, sizeof out, "wlan1", &kivlog_version, &lmac),
            static_cast<int>(expected.size()));
  EXPECT_EQ(std::string(out), expected);

  // A one-core firmware announces its empty LMAC version record as six empty fields.
  const std::string oneCore = expected.substr(0, expected.find("[LMAC]")) + "[LMAC][][][][][][]";
  EXPECT_EQ(kivlog_host_version_line(out, sizeof out, "wlan1", &kivlog_version, nullptr),
            static_cast<int>(oneCore.size()));
  EXPECT_EQ(std::string(out), oneCore);

  std::memcpy(lmac.field2, "4.3]", 4);
  EXPECT_EQ(kivlog_host_version_line(out, sizeof out, "wlan1", &kivlog_version, &lmac), -1);
  EXPECT_EQ(std::string(out), "");
}

// Compiles one statement with a compiler; the checks are compile errors, so a compiler run per
// row. Every compiler and language mode the kit's README claims, where installed.
struct Compiler {
  std::string name;
  std::string path;
  std::vector<std::string> flags;
  bool clangC = false;
};

std::vector<Compiler> compilers() {
  std::vector<Compiler> found;
  const std::vector<std::string> warnings = {"-Wall", "-Wextra", "-Werror", "-pedantic",
                                             "-fsyntax-only"};
  auto add = [&](std::string name, std::string path, std::vector<std::string> flags,
                 bool clangC = false) {
    if (access(path.c_str(), X_OK) == 0) {
      flags.insert(flags.end(), warnings.begin(), warnings.end());
      found.push_back({std::move(name), std::move(path), std::move(flags), clangC});
    }
  };
#ifdef KIVLOG_HOST_GCC
  add("host C99", KIVLOG_HOST_GCC, {"-x", "c", "-std=c99"});
#endif
  add("host C++11", KIVLOG_HOST_CXX, {"-x", "c++", "-std=c++11"});
  add("host C++17", KIVLOG_HOST_CXX, {"-x", "c++", "-std=c++17"});
  add("clang C99", "/usr/bin/clang", {"-x", "c", "-std=c99"}, true);
  add("clang C++11", "/usr/bin/clang++", {"-x", "c++", "-std=c++11"});
  add("cross C99", "/usr/bin/arm-none-eabi-gcc", {"-x", "c", "-std=c99", "-mcpu=cortex-m3"});
  add("cross C++14", "/usr/bin/arm-none-eabi-g++", {"-x", "c++", "-std=c++14", "-mcpu=cortex-m3"});
  return found;
}

// Compiles `body` as the body of f(uint32_t a, uint32_t b) after the kit's header (and `before`,
// at file scope); returns the compiler's result.
KivRunResult compileStatement(const Compiler& compiler, KivTempDir& dir, const std::string& body,
                              const std::string& before = {},
                              const std::string& core = "-DKIVLOG_CORE=0") {
  const std::string source =
      dir.write("statement.c", "#include \"kivlog/kivlog.h\"\n" + before +
                                   "\nvoid f(uint32_t a, uint32_t b);\n"
                                   "void f(uint32_t a, uint32_t b) {\n  (void)a;\n  (void)b;\n  " +
                                   body + ";\n}\n");
  std::vector<std::string> args = compiler.flags;
  if (!core.empty()) {
    args.push_back(core);
  }
  args.insert(args.end(), {"-I", std::string(KIVLOG_SOURCE_DIR) + "/firmware/include", source});
  return runKivlog({.args = args, .binary = compiler.path});
}

// The compiler's messages as words: C names the fault in an identifier, C++ in a sentence.
std::string messageWords(std::string text) {
  std::replace(text.begin(), text.end(), '_', ' ');
  std::replace(text.begin(), text.end(), '-', ' ');
  text.erase(std::remove(text.begin(), text.end(), '\''), text.end());
  return text;
}

TEST(KivlogKit, FormatCheckAcceptsExactlyWhatTheToolExpands) {
  struct Row {
    const char* statement;
    bool accepted;
  };
  const Row rows[] = {
      {R"(KIVLOG(KIVLOG_INFO1, "no conversion\n"))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%d %i", a, b))", true},
      {R"(KIVLOG_CR(KIVLOG_INFO1, "%u|%o|", a, b))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%x%X", a, b))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%c", a))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%-+ #05d", a))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%08.3x|%.0u", a, b))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%*d", a, b))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%-.*u", a, b))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%hd %hhu", a, b))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%ld %lX", a, b))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "100%% %u%%", a))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%%%%%%%%%% %d", a))", true},
      // Values of every integer kind, a bit-field among them, pass as they are promoted.
      {R"(struct { unsigned flag : 3; } s = {5}; KIVLOG(KIVLOG_INFO1, "%u %c", s.flag, 'x'))",
       true},
      {R"(enum { kGreen = 2 }; KIVLOG(KIVLOG_INFO1, "%d %u", kGreen, (uint16_t)a))", true},
      {R"(KIVLOG(KIVLOG_INFO1, "%s", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%p", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%n", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%f", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%5.2e", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%g", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%a", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%lld", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%jd", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%zu", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%td", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%Ld", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%qd", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%lc", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%5%", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "value %", a))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%u %u %u", a, b))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%*.*d", a, b))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%u", a, b))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%u"))", false},
      {R"(KIVLOG(KIVLOG_INFO1, "%u%u%u", a, b, a))", false},
  };
  KivTempDir dir;
  for (const Compiler& compiler : compilers()) {
    for (const Row& row : rows) {
      const KivRunResult run = compileStatement(compiler, dir, row.statement);
      EXPECT_EQ(run.status == 0, row.accepted) << compiler.name << ": " << row.statement << "\n"
                                               << run.err;
    }
  }
}

// Each mistake that once built fails to build, and the first error names the fault.
TEST(KivlogKit, MistakesFailToBuildNamingTheFault) {
  struct Row {
    std::string before;
    std::string statement;
    std::string fault;
    std::string core = "-DKIVLOG_CORE=0";
    bool checkedByClangC = true;
  };
  const std::string conversion = "format has a conversion two 32 bit values cannot feed";
  const std::string value = "value is not an integer of at most 32 bits";
  const Row rows[] = {
      {"", R"(KIVLOG(KIVLOG_INFO1, "%s", a))", conversion},
      {"", R"(KIVLOG(KIVLOG_INFO1, "%f", a))", conversion},
      {"", R"(KIVLOG(KIVLOG_INFO1, "%llu", a))", conversion},
      {"", R"(KIVLOG(KIVLOG_INFO1, "%u %u %u", a, b))",
       "format takes a different number of values than passed"},
      {"", R"(uint64_t big = 5000000000u; KIVLOG(KIVLOG_INFO1, "%u", big))", value},
      {"", R"(double ratio = 0.5; KIVLOG(KIVLOG_INFO1, "%u", ratio))", value},
      {"", R"(KIVLOG(KIVLOG_INFO1, "%u %u", a, &b))", value},
      {"", R"(unsigned level = KIVLOG_WARNING; KIVLOG(level, "%u", a))", "level is not a constant"},
      {"", R"(KIVLOG(8, "%u", a))", "level is not one of 0 to 7"},
      {"", R"(const char* format = "%u"; KIVLOG(KIVLOG_INFO1, format, a))",
       "format is not a string literal"},
      {"", R"(KIVLOG(KIVLOG_INFO1, "%u", a))",
       "define KIVLOG CORE 0 for the UMAC or 1 for the LMAC", ""},
      {R"(KIVLOG_DEFINE_IMAGE(KIVLOG_SIGNATURE_UMAC, "a", "b", "c", "d", "e", "f");)",
       R"(KIVLOG(KIVLOG_INFO1, "%u", a))", "signature is the other cores than KIVLOG CORE",
       "-DKIVLOG_CORE=1", false},
      {R"(KIVLOG_DEFINE_ONE_CORE_IMAGE("a", "b", "c", "d", "e", "f");)",
       R"(KIVLOG(KIVLOG_INFO1, "%u", a))", "one core image needs KIVLOG CORE 0", "-DKIVLOG_CORE=1"},
  };
  KivTempDir dir;
  for (const Compiler& compiler : compilers()) {
    for (const Row& row : rows) {
      const KivRunResult run = compileStatement(compiler, dir, row.statement, row.before, row.core);
      if (compiler.clangC && !row.checkedByClangC) {
        EXPECT_EQ(run.status, 0) << compiler.name << ": " << row.statement << "\n" << run.err;
        continue;
      }
      EXPECT_NE(run.status, 0) << compiler.name << ": " << row.statement;
      const std::string err = messageWords(run.err);
      const size_t firstError = err.find("error");
      EXPECT_NE(firstError, std::string::npos) << compiler.name << ": " << row.statement;
      const size_t lineEnd = err.find('\n', firstError);
      EXPECT_NE(err.substr(firstError, lineEnd - firstError).find(row.fault), std::string::npos)
          << compiler.name << ": " << row.statement << "\n"
          << run.err;
    }
  }
}

// In C++ the statics of an inline function are merged across translation units; its statements
// build beside ordinary ones (their sections may not share a name with them).
TEST(KivlogKit, StatementsInCxxInlineFunctionsBuild) {
  KivTempDir dir;
  const std::string source = dir.write(
      "inline.cpp",
      "#include \"kivlog/kivlog.h\"\n"
      "inline void fromHeader(uint32_t a) { KIVLOG(KIVLOG_INFO1, \"header %u\\n\", a); }\n"
      "template <typename T> void fromTemplate(T a) { KIVLOG(KIVLOG_INFO2, \"t %u\\n\", a); }\n"
      "void g(uint32_t a);\n"
      "void g(uint32_t a) {\n"
      "  fromHeader(a);\n"
      "  fromTemplate(a);\n"
      "  KIVLOG(KIVLOG_INFO1, \"main %u\\n\", a);\n"
      "}\n");
  for (const std::string& cxx :
       {std::string(KIVLOG_HOST_CXX), std::string("/usr/bin/arm-none-eabi-g++")}) {
    if (access(cxx.c_str(), X_OK) != 0) {
      continue;
    }
    const KivRunResult run = runKivlog(
        {.args = {"-std=c++17", "-Os", "-Wall", "-Wextra", "-Werror", "-pedantic",
                  "-DKIVLOG_CORE=0", "-I", std::string(KIVLOG_SOURCE_DIR) + "/firmware/include",
                  "-c", source, "-o", dir.path() + "/inline.o"},
         .binary = cxx});
    EXPECT_EQ(run.status, 0) << cxx << "\n" << run.err;
  }
}

// An image linked without the kit's linker fragment fails to link naming the fragment; with it,
// it links. Cross compilers only: host builds link no fragment.
TEST(KivlogKit, ImageLinkedWithoutTheFragmentFailsToLink) {
  KivTempDir dir;
  const std::string source = dir.write(
      "image.c",
      "#include \"kivlog/kivlog.h\"\n"
      "KIVLOG_DEFINE_IMAGE(KIVLOG_SIGNATURE_UMAC, \"a\", \"b\", \"c\", \"d\", \"e\", \"f\");\n"
      "static volatile uint32_t sent;\n"
      "uint32_t kivlog_timestamp(void) { return sent; }\n"
      "void kivlog_transport(const kivlog_record_t* r) { sent = r->param0; }\n"
      "#ifdef __cplusplus\nextern \"C\"\n#endif\n"
      "void start(uint32_t a);\n"
      "void start(uint32_t a) { KIVLOG(KIVLOG_INFO1, \"x %u\", a); }\n");
  const std::string memory =
      "MEMORY { CODE (rx) : ORIGIN = 0, LENGTH = 64K }\nENTRY(start)\n"
      "SECTIONS { .text : { *(.text*) *(.rodata*) } > CODE }\n";
  const std::string without = dir.write("without.ld", memory);
  const std::string with = dir.write("with.ld", memory + "SECTIONS { INCLUDE kivlog.ld }\n");
  for (const std::string cc : {"/usr/bin/arm-none-eabi-gcc", "/usr/bin/arm-none-eabi-g++"}) {
    if (access(cc.c_str(), X_OK) != 0) {
      continue;
    }
    for (const std::string& script : {without, with}) {
      const KivRunResult run =
          runKivlog({.args = {"-x",
                              cc.ends_with("g++") ? "c++" : "c",
                              "-mcpu=cortex-m3",
                              "-mthumb",
                              "-Os",
                              "-Wall",
                              "-Wextra",
                              "-Werror",
                              "-pedantic",
                              "-DKIVLOG_CORE=0",
                              "-I",
                              std::string(KIVLOG_SOURCE_DIR) + "/firmware/include",
                              source,
                              "-x",
                              "none",
                              "-nostdlib",
                              "-Wl,--gc-sections",
                              "-L",
                              std::string(KIVLOG_SOURCE_DIR) + "/firmware",
                              "-T",
                              script,
                              "-o",
                              dir.path() + "/image.elf"},
                     .binary = cc});
      if (script == with) {
        EXPECT_EQ(run.status, 0) << cc << "\n" << run.err;
      } else {
        EXPECT_NE(run.status, 0) << cc;
        EXPECT_NE(run.err.find("undefined reference to `kivlog_link_with_the_kivlog_ld_fragment'"),
                  std::string::npos)
            << cc << "\n"
            << run.err;
      }
    }
  }
}

}  // namespace

/*
 * kivlog.h: tokenized logging for firmware whose logs are decoded on the host by kivlog.
 *
 * A log statement emits no text. Each one places in the image a static 16-byte descriptor
 * (format string address, module, line, file name address, level), its format string and its
 * source file name, all in the image's kivlog section; at run time it hands only a record
 * (time stamp, log type, descriptor address, two 32-bit values) to the firmware's transport.
 * The host captures the records and kivlog reads descriptor and strings back from the ELF file.
 *
 * The firmware supplies two functions:
 *   uint32_t kivlog_timestamp(void);                      the record's time stamp
 *   void kivlog_transport(const kivlog_record_t *record); sends one record to the host
 * and defines its image once, in one source file, with KIVLOG_DEFINE_IMAGE (below). Its linker
 * script includes firmware/kivlog.ld. See firmware/README.md.
 *
 * Usable from C99 and C++ (GCC or Clang). Compile-time format checks: see KIVLOG below.
 */
#ifndef KIVLOG_KIVLOG_H
#define KIVLOG_KIVLOG_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Log types of a record: bit 0 marks the "_CR" variant, the rest is the core (0 UMAC, 1 LMAC). */
#define KIVLOG_TYPE_UMAC 0u
#define KIVLOG_TYPE_UMAC_CR 1u
#define KIVLOG_TYPE_LMAC 2u
#define KIVLOG_TYPE_LMAC_CR 3u

/* Levels, as kivlog names them. */
#define KIVLOG_CRITICAL 0u
#define KIVLOG_ERROR 1u
#define KIVLOG_WARNING 2u
#define KIVLOG_INFO1 3u
#define KIVLOG_INFO2 4u
#define KIVLOG_TRACE 5u
#define KIVLOG_DUMP 6u
#define KIVLOG_ALWAYS 7u

/* The core a translation unit logs for: 0 UMAC (or the one core of a one-core firmware), 1 LMAC.
 * Define it on the command line of every source file that logs or defines an image
 * (-DKIVLOG_CORE=0 or -DKIVLOG_CORE=1). Without it, a statement fails to build and names it. */
#ifndef KIVLOG_CORE
#define KIVLOG_CORE kivlog_define_KIVLOG_CORE_0_for_the_UMAC_or_1_for_the_LMAC
#endif

/* The module number of a source file's statements (kivlog shows it only in its traces). Define
 * it before including this header, or on the command line. */
#ifndef KIVLOG_MODULE
#define KIVLOG_MODULE 0
#endif

/* Signature strings kivlog looks for: one per core in a file holding both images, one for both
 * in a file per core. Each is 15 characters; the block stores them with a zero byte. */
#define KIVLOG_SIGNATURE_UMAC "FAST_LOG_UMAC__"
#define KIVLOG_SIGNATURE_LMAC "FAST_LOG_LMAC__"
#define KIVLOG_SIGNATURE_SINGLE "FAST_LOG_START_"

/*
 * Firmware addresses are 32 bits. On a target with 32-bit pointers the address fields below are
 * pointers, filled by the linker, so the layout is the one kivlog reads. On a host with wider
 * pointers (unit tests of firmware code, layout tests) they are 32-bit integers left at zero:
 * the layout stays the same, but the addresses mean nothing there.
 */
#if UINTPTR_MAX == 0xFFFFFFFFu
#define KIVLOG_ADDRESS_FIELD(type, name) type name
#define KIVLOG_ADDRESS_OF_(object) (object)
#define KIVLOG_ADDRESS_VALUE_(pointer) ((uint32_t)(uintptr_t)(pointer))
#else
#define KIVLOG_ADDRESS_FIELD(type, name) uint32_t name
#define KIVLOG_ADDRESS_OF_(object) 0u
#define KIVLOG_ADDRESS_VALUE_(pointer) ((uint32_t)(uintptr_t)(pointer))
#endif

/* Each statement's data goes to input sections of its own (".kivlog.desc.17"): in C++ the
 * statics of an inline function or a template are merged across translation units, in sections
 * of that kind, which may not share a name with the sections of ordinary statics. */
#define KIVLOG_STRING_(x) #x
#define KIVLOG_OWN_SECTION_2_(prefix, n) prefix KIVLOG_STRING_(n)
#define KIVLOG_OWN_SECTION_(prefix) KIVLOG_OWN_SECTION_2_(prefix, __COUNTER__)
#if defined(__GNUC__)
#define KIVLOG_IN_SECTION_(name) __attribute__((section(name), used))
#define KIVLOG_SECTION_(name) __attribute__((section(name)))
#define KIVLOG_PACKED_ __attribute__((packed))
#else
#error "kivlog.h needs GCC or Clang: it places data in named sections"
#endif

/* The log descriptor: 16 bytes, little-endian on the target. */
typedef struct kivlog_desc {
  KIVLOG_ADDRESS_FIELD(const char*, pFormattedString);
  uint16_t module;
  uint16_t line;
  KIVLOG_ADDRESS_FIELD(const char*, pFileName);
  uint16_t level;
  uint16_t reserved;
} kivlog_desc_t;

/* The version record: six zero-padded text fields. A text as long as its field has no zero byte
 * (in C; C++ wants room for the zero). kivlog compares it byte for byte with the versions that
 * a device announces, so the padding must be zero: only initialise it with KIVLOG_DEFINE_IMAGE
 * or as a static object. */
typedef struct kivlog_version {
  char field1[15];
  char field2[16];
  char field3[32];
  char field4[16];
  char field5[16];
  char field6[16];
} kivlog_version_t;

/* The signature block: 143 bytes. kivlog finds it by its 16-byte pattern and maps every firmware
 * address A of the image to file offset (offset of the block) + A - baseAddress. */
typedef struct KIVLOG_PACKED_ kivlog_signature {
  char pattern[16];
  KIVLOG_ADDRESS_FIELD(const struct kivlog_signature*, baseAddress);
  KIVLOG_ADDRESS_FIELD(const kivlog_version_t*, versionAddress);
  uint8_t reserved[119];
} kivlog_signature_t;

/* What a statement hands to the transport: the fields of one "[FW_LOG-R]" data line. */
typedef struct kivlog_record {
  uint32_t timestamp;
  uint32_t log_type;
  uint32_t log_addr;
  uint32_t param0;
  uint32_t param1;
} kivlog_record_t;

/* Layout checks that hold on every compiler that builds the header. */
typedef char kivlog_desc_is_16_bytes_[sizeof(kivlog_desc_t) == 16 &&
                                              offsetof(kivlog_desc_t, module) == 4 &&
                                              offsetof(kivlog_desc_t, line) == 6 &&
                                              offsetof(kivlog_desc_t, pFileName) == 8 &&
                                              offsetof(kivlog_desc_t, level) == 12
                                          ? 1
                                          : -1];
typedef char kivlog_version_is_111_bytes_
    [sizeof(kivlog_version_t) == 111 && offsetof(kivlog_version_t, field6) == 95 ? 1 : -1];
typedef char
    kivlog_signature_is_143_bytes_[sizeof(kivlog_signature_t) == 143 &&
                                           offsetof(kivlog_signature_t, baseAddress) == 16 &&
                                           offsetof(kivlog_signature_t, versionAddress) == 20
                                       ? 1
                                       : -1];

/* Defined by KIVLOG_DEFINE_IMAGE. kivlog_version is the loadable copy of the image's six version
 * fields, for the firmware to announce itself (kivlog reads its own copy, which the default layout
 * keeps out of the target's memory); it takes 111 bytes of flash only when the firmware uses it.
 * kivlog_signature is the block kivlog searches for. */
extern const kivlog_version_t kivlog_version;
extern const kivlog_signature_t kivlog_signature;
/* The image's number of cores, 2, or 1 for KIVLOG_DEFINE_ONE_CORE_IMAGE: what the firmware's
 * version announcement states (kivlog_wire_announce). */
extern const uint8_t kivlog_image_cores;

/* Defined by the linker fragment (kivlog.ld or kivlog-flash.ld): an image linked without it fails
 * to link, naming this symbol, rather than building a firmware kivlog cannot find. */
extern const char kivlog_link_with_the_kivlog_ld_fragment[];

/* Supplied by the firmware. */
uint32_t kivlog_timestamp(void);
void kivlog_transport(const kivlog_record_t* record);

/* Defined by KIVLOG_DEFINE_IMAGE: builds the record and calls the transport. */
void kivlog_log(uint32_t log_type, const kivlog_desc_t* desc, uint32_t param0, uint32_t param1);

#ifdef __cplusplus
}
#endif

/*
 * KIVLOG_DEFINE_IMAGE(signature, field1, ..., field6): once per image, in one C or C++ source
 * file at file scope. Defines the signature block, the version record that kivlog reads, the
 * loadable copy kivlog_version and kivlog_log.
 *
 *   KIVLOG_DEFINE_IMAGE(KIVLOG_SIGNATURE_UMAC, "KIV-UMAC", "4.3.1.2207", "Mar 20 2026 14:02:11",
 *                       "release", "g7c1e9a0", "wlan");
 *
 * The signature must be a 15-character literal that fits the file's KIVLOG_CORE (the UMAC or the
 * LMAC one, or KIVLOG_SIGNATURE_SINGLE); the fields literals of at most 15, 16, 32, 16, 16 and 16
 * characters. Costs 143 + 111 bytes of the kivlog section and kivlog_log (36 bytes of code on a
 * Cortex-M3 at -Os).
 *
 * KIVLOG_DEFINE_ONE_CORE_IMAGE(field1, ..., field6) defines the image of a firmware with one core
 * (KIVLOG_CORE 0): the UMAC block with these fields, and an LMAC block with an empty version
 * record, so that `kivlog -f fw.elf` decodes the file as it is. The device announces the LMAC's
 * six fields empty (kivlog_host_version_line with a null LMAC version, or the wire format's
 * one-core announcement). 143 + 111 more bytes of the kivlog section; nothing more on the target.
 */
#define KIVLOG_DEFINE_IMAGE(signature, f1, f2, f3, f4, f5, f6) \
  KIVLOG_DEFINE_IMAGE_(2, signature, f1, f2, f3, f4, f5, f6)
#define KIVLOG_DEFINE_IMAGE_(cores, signature, f1, f2, f3, f4, f5, f6)                       \
  KIVLOG_CHECK_SIGNATURE_(signature);                                                        \
  const uint8_t kivlog_image_cores = (cores);                                                \
  const kivlog_version_t kivlog_version = {f1, f2, f3, f4, f5, f6};                          \
  static const kivlog_version_t kivlog_version_record_ KIVLOG_IN_SECTION_(".kivlog.ver") = { \
      f1, f2, f3, f4, f5, f6};                                                               \
  const kivlog_signature_t kivlog_signature KIVLOG_IN_SECTION_(".kivlog.sig") = {            \
      signature,                                                                             \
      KIVLOG_ADDRESS_OF_(&kivlog_signature),                                                 \
      KIVLOG_ADDRESS_OF_(&kivlog_version_record_),                                           \
      {0}};                                                                                  \
  KIVLOG_FRAGMENT_CHECK_DATA_                                                                \
  void kivlog_log(uint32_t log_type, const kivlog_desc_t* desc, uint32_t param0,             \
                  uint32_t param1) {                                                         \
    kivlog_record_t record;                                                                  \
    KIVLOG_FRAGMENT_CHECK_CODE_;                                                             \
    record.timestamp = kivlog_timestamp();                                                   \
    record.log_type = log_type;                                                              \
    record.log_addr = KIVLOG_ADDRESS_VALUE_(desc);                                           \
    record.param0 = param0;                                                                  \
    record.param1 = param1;                                                                  \
    kivlog_transport(&record);                                                               \
  }                                                                                          \
  typedef int kivlog_image_defined_

#define KIVLOG_DEFINE_ONE_CORE_IMAGE(f1, f2, f3, f4, f5, f6)                                     \
  KIVLOG_ASSERT_((KIVLOG_CORE) == 0, kivlog_one_core_image_needs_KIVLOG_CORE_0,                  \
                 "kivlog: a one-core image needs KIVLOG_CORE 0");                                \
  static const kivlog_version_t kivlog_empty_lmac_version_ KIVLOG_IN_SECTION_(".kivlog.ver") = { \
      {0}, {0}, {0}, {0}, {0}, {0}};                                                             \
  static const kivlog_signature_t kivlog_empty_lmac_signature_ KIVLOG_IN_SECTION_(               \
      ".kivlog.sig") = {KIVLOG_SIGNATURE_LMAC,                                                   \
                        KIVLOG_ADDRESS_OF_(&kivlog_empty_lmac_signature_),                       \
                        KIVLOG_ADDRESS_OF_(&kivlog_empty_lmac_version_),                         \
                        {0}};                                                                    \
  KIVLOG_DEFINE_IMAGE_(1, KIVLOG_SIGNATURE_UMAC, f1, f2, f3, f4, f5, f6)

/* A compile-time assertion at file scope: a static_assert in C++, a negative array size in C. */
#ifdef __cplusplus
#define KIVLOG_ASSERT_(condition, name, message) static_assert(condition, message)
#else
#define KIVLOG_ASSERT_(condition, name, message) typedef char name[(condition) ? 1 : -1]
#endif

/* An image must be linked with the fragment. GCC records a reference to the fragment's symbol in
 * kivlog_log's code at no cost (a relocation that changes no byte); Clang gets a retained
 * pointer in the kivlog section. Only on 32-bit targets: host builds of firmware code (unit
 * tests) link no fragment. */
#if UINTPTR_MAX == 0xFFFFFFFFu && !defined(__clang__)
#define KIVLOG_FRAGMENT_CHECK_DATA_
#define KIVLOG_FRAGMENT_CHECK_CODE_ \
  __asm__(".reloc ., BFD_RELOC_NONE, kivlog_link_with_the_kivlog_ld_fragment")
#elif UINTPTR_MAX == 0xFFFFFFFFu
#define KIVLOG_FRAGMENT_CHECK_DATA_                             \
  static const char* const kivlog_fragment_check_               \
      __attribute__((section(".kivlog.check"), used, retain)) = \
          kivlog_link_with_the_kivlog_ld_fragment;
#define KIVLOG_FRAGMENT_CHECK_CODE_ ((void)0)
#else
#define KIVLOG_FRAGMENT_CHECK_DATA_
#define KIVLOG_FRAGMENT_CHECK_CODE_ ((void)0)
#endif

/*
 * KIVLOG(level, format, ...) logs with the core's own log type, KIVLOG_CR(level, format, ...)
 * with its "_CR" type. The format is a string literal; zero, one or two values follow, each
 * converted to uint32_t. kivlog expands the format as C printf does on a 32-bit target.
 *
 *   KIVLOG(KIVLOG_INFO1, "scan started on channel %u\n", channel);
 *   KIVLOG_CR(KIVLOG_ERROR, "tx timeout, queue %u depth %u\n", queue, depth);
 *
 * Cost per statement, measured on the Cortex-M3 sample at -Os: one call of kivlog_log with four
 * register arguments, about 16 bytes of flash with the 4-byte literal of the descriptor address;
 * in the kivlog section, outside the target with kivlog.ld, 16 bytes of descriptor and the format
 * string (the file name is stored once per source file).
 *
 * The format is checked at compile time against what two 32-bit values can feed: conversions
 * d i u o x X c; flags - + space # 0; width and precision as digits or '*'; length h, hh, l (not
 * on c); "%%". Anything else (%s %p %n %f %e %g %a, ll j z t L q, an unknown or unfinished
 * conversion) fails the build, and so does a format whose conversions and '*'s take more or fewer
 * values than the statement passes, a value that is not an integer of at most 32 bits, a level
 * that is not a constant from 0 to 7, and a format that is not a string literal. See
 * KIVLOG_CHECK_STATEMENT_ below and the kit's README for what each compiler checks.
 *
 * Defining KIVLOG_PRINTF before including the header turns every statement into a call of
 * kivlog_printf_prefix(log_type, level, file, line), which the program supplies, followed by
 * printf of the format with the uint32_t values: a host build of firmware code then prints its
 * logs itself (the sample checks kivlog's output against it). Build it with -Wno-format, since
 * the host's printf checker wants a long for "%lu", and with -m32 where formats use 'l', so that
 * printf reads 32-bit longs as the target does.
 */
#define KIVLOG(level, ...) KIVLOG_COUNT_(KIVLOG_CORE * 2u, level, __VA_ARGS__)
#define KIVLOG_CR(level, ...) KIVLOG_COUNT_(KIVLOG_CORE * 2u + 1u, level, __VA_ARGS__)

#define KIVLOG_COUNT_(type, level, ...)                                                  \
  KIVLOG_PICK_(__VA_ARGS__, KIVLOG_TOO_MANY_VALUES_, KIVLOG_2_, KIVLOG_1_, KIVLOG_0_, ~) \
  (type, level, __VA_ARGS__)
#define KIVLOG_PICK_(format, a, b, c, name, ...) name
#define KIVLOG_0_(type, level, format) KIVLOG_STATEMENT_(type, level, format, 0, 0u, 0u)
#define KIVLOG_1_(type, level, format, a) KIVLOG_STATEMENT_(type, level, format, 1, a, 0u)
#define KIVLOG_2_(type, level, format, a, b) KIVLOG_STATEMENT_(type, level, format, 2, a, b)
#define KIVLOG_TOO_MANY_VALUES_(...)                            \
  do {                                                          \
    typedef char kivlog_statement_takes_at_most_two_values[-1]; \
  } while (0)

#ifdef KIVLOG_PRINTF
#include <stdio.h>
#ifdef __cplusplus
extern "C" {
#endif
void kivlog_printf_prefix(uint32_t log_type, unsigned level, const char* file, unsigned line);
#ifdef __cplusplus
}
#endif
#define KIVLOG_STATEMENT_(type, level, format, count, a, b)         \
  do {                                                              \
    KIVLOG_CHECK_STATEMENT_(level, format, count, a, b);            \
    kivlog_printf_prefix((type), (level), __FILE__, __LINE__);      \
    KIVLOG_PRINTF_##count##_(format, (uint32_t)(a), (uint32_t)(b)); \
  } while (0)
#define KIVLOG_PRINTF_0_(format, a, b) ((void)(a), (void)(b), printf(KIVLOG_LITERAL_(format)))
#define KIVLOG_PRINTF_1_(format, a, b) ((void)(b), printf(KIVLOG_LITERAL_(format), a))
#define KIVLOG_PRINTF_2_(format, a, b) printf(KIVLOG_LITERAL_(format), a, b)
#else
#define KIVLOG_STATEMENT_(type, level, format, count, a, b)                                      \
  do {                                                                                           \
    KIVLOG_CHECK_STATEMENT_(level, format, count, a, b);                                         \
    static const char kivlog_format_[] KIVLOG_IN_SECTION_(KIVLOG_OWN_SECTION_(".kivlog.str.")) = \
        KIVLOG_LITERAL_(format);                                                                 \
    static const char kivlog_own_file_[] KIVLOG_SECTION_(KIVLOG_OWN_SECTION_(".kivlog.str."))    \
        __attribute__((unused)) = __FILE__;                                                      \
    static const kivlog_desc_t kivlog_desc_ KIVLOG_IN_SECTION_(                                  \
        KIVLOG_OWN_SECTION_(".kivlog.desc.")) = {                                                \
        KIVLOG_ADDRESS_OF_(kivlog_format_),  (uint16_t)(KIVLOG_MODULE), (uint16_t)(__LINE__),    \
        KIVLOG_FILE_NAME_(kivlog_own_file_), (uint16_t)(level),         0};                      \
    kivlog_log((type), &kivlog_desc_, (uint32_t)(a), (uint32_t)(b));                             \
  } while (0)

/* The file name is stored once per source file: the statements of the file being compiled share
 * kivlog_file_name_. A statement in an included file (an inline function in a header) keeps a
 * copy of its own file's name; the compiler drops the copy it does not use, except at -O0, where
 * it stays in the kivlog section, outside the target's memory in the default layout. */
#define KIVLOG_FILE_NAME_(own)                                                            \
  (__builtin_strcmp(__FILE__, __BASE_FILE__) == 0 ? KIVLOG_ADDRESS_OF_(kivlog_file_name_) \
                                                  : KIVLOG_ADDRESS_OF_(own))
static const char kivlog_file_name_[] KIVLOG_SECTION_(".kivlog.str")
    __attribute__((unused)) = __BASE_FILE__;
#endif

/*
 * The compile-time checks of a statement: its format (what two 32-bit values can feed, and as
 * many values as it passes), its values (integers of at most 32 bits, not pointers, floating
 * values or 64-bit integers, which the record would cut to 32 bits), its level (a constant from
 * 0 to 7, so that the descriptor is a constant the linker places) and its format being a string
 * literal. Each failure is a compile error whose message names the fault: a static_assert in C++,
 * a negative array size or an enumerator named after the fault in C.
 */
/* A value is looked at as the statement passes it: a bit-field as its promoted type (sizeof takes
 * no bit-field), through a conditional in C and a function template's deduction in C++. */
#ifdef __cplusplus
namespace kivlog_detail {
template <typename T>
T passed(T value);
template <typename T>
constexpr bool fits() {
  return sizeof(T) <= 4 && __builtin_classify_type(T()) >= 1 /* integer, char, */ &&
         __builtin_classify_type(T()) <= 4 /* enumeration or boolean */;
}
}  // namespace kivlog_detail
#define KIVLOG_VALUE_FITS_(v) (::kivlog_detail::fits<decltype(::kivlog_detail::passed(v))>())
#else
#define KIVLOG_PASSED_(v) (0 ? (v) : (v))
#define KIVLOG_VALUE_FITS_(v)                                              \
  (sizeof(KIVLOG_PASSED_(v)) <= 4 &&                                       \
   __builtin_classify_type(KIVLOG_PASSED_(v)) >= 1 /* integer, char, */ && \
   __builtin_classify_type(KIVLOG_PASSED_(v)) <= 4 /* enumeration or boolean */)
#endif

#if defined(__cplusplus)

namespace kivlog_detail {

/* A parser of the format in C++11 constexpr functions: the number of values the format takes,
 * or -1 when it has a conversion they cannot feed. */
constexpr bool isOneOf(char c, const char* set) {
  return *set != '\0' && (*set == c || isOneOf(c, set + 1));
}
constexpr const char* skipDigits(const char* f) {
  return *f >= '0' && *f <= '9' ? skipDigits(f + 1) : f;
}
constexpr const char* skipFlags(const char* f) {
  return isOneOf(*f, "-+ #0") ? skipFlags(f + 1) : f;
}
constexpr int formatValuesFrom(const char* f, int values);
constexpr int conversion(const char* f, int values, bool length) {
  return *f == '\0' || !isOneOf(*f, "diouxXc") || (length && *f == 'c')
             ? -1
             : formatValuesFrom(f + 1, values + 1);
}
constexpr int lengthThenConversion(const char* f, int values) {
  return f[0] == 'h' && f[1] == 'h' ? conversion(f + 2, values, true)
         : *f == 'h' || *f == 'l'   ? conversion(f + 1, values, true)
                                    : conversion(f, values, false);
}
constexpr int precisionThenRest(const char* f, int values) {
  return *f != '.'     ? lengthThenConversion(f, values)
         : f[1] == '*' ? lengthThenConversion(f + 2, values + 1)
                       : lengthThenConversion(skipDigits(f + 1), values);
}
constexpr int widthThenRest(const char* f, int values) {
  return *f == '*' ? precisionThenRest(f + 1, values + 1)
                   : precisionThenRest(skipDigits(f), values);
}
constexpr int formatValuesFrom(const char* f, int values) {
  return *f == '\0'    ? values
         : *f != '%'   ? formatValuesFrom(f + 1, values)
         : f[1] == '%' ? formatValuesFrom(f + 2, values)
                       : widthThenRest(skipFlags(f + 1), values);
}
constexpr int formatValues(const char* f) {
  return formatValuesFrom(f, 0);
}

/* The core a signature belongs to: 0 UMAC, 1 LMAC, -1 either (the one for a file per core). */
constexpr int signatureCore(const char* s) {
  return s[9] == 'U' && s[10] == 'M' ? 0 : s[9] == 'L' && s[10] == 'M' ? 1 : -1;
}

}  // namespace kivlog_detail

#define KIVLOG_LITERAL_(format) "" format

#define KIVLOG_CHECK_SIGNATURE_(signature)                                               \
  static_assert(sizeof(signature) == 16, "kivlog: the signature must be 15 characters"); \
  static_assert(::kivlog_detail::signatureCore(signature) < 0 ||                         \
                    ::kivlog_detail::signatureCore(signature) == (KIVLOG_CORE),          \
                "kivlog: the image's signature is the other core's than KIVLOG_CORE")

#define KIVLOG_CHECK_STATEMENT_(level, format, count, a, b)                                  \
  static_assert(__builtin_constant_p(format), "kivlog: the format is not a string literal"); \
  static_assert(__builtin_constant_p(level), "kivlog: the level is not a constant");         \
  static_assert(!__builtin_constant_p(level) || (level) <= 7u,                               \
                "kivlog: the level is not one of 0 to 7");                                   \
  static_assert(KIVLOG_VALUE_FITS_(a) && KIVLOG_VALUE_FITS_(b),                              \
                "kivlog: a value is not an integer of at most 32 bits");                     \
  static_assert(::kivlog_detail::formatValues(KIVLOG_LITERAL_(format)) >= 0,                 \
                "kivlog: the format has a conversion two 32-bit values cannot feed");        \
  static_assert(::kivlog_detail::formatValues(KIVLOG_LITERAL_(format)) < 0 ||                \
                    ::kivlog_detail::formatValues(KIVLOG_LITERAL_(format)) == (count),       \
                "kivlog: the format takes a different number of values than passed")

#else

/* In C a format that is not a string literal becomes "" for the checks, after the one error
 * that says so, instead of breaking every use of it. */
#define KIVLOG_IS_LITERAL_(format) \
  __builtin_types_compatible_p(__typeof__(format), char[sizeof(format)])
#define KIVLOG_LITERAL_(format) __builtin_choose_expr(KIVLOG_IS_LITERAL_(format), format, "")

#define KIVLOG_CHECK_VALUES_AND_LEVEL_(level, format, a, b)                                       \
  typedef char kivlog_format_is_not_a_string_literal[KIVLOG_IS_LITERAL_(format) ? 1 : -1]         \
      __attribute__((unused));                                                                    \
  typedef char kivlog_level_is_not_a_constant[__builtin_constant_p(level) ? 1 : -1]               \
      __attribute__((unused));                                                                    \
  typedef char kivlog_level_is_not_one_of_0_to_7[(level) <= 7u ? 1 : -1] __attribute__((unused)); \
  typedef char kivlog_value_is_not_an_integer_of_at_most_32_bits                                  \
      [KIVLOG_VALUE_FITS_(a) && KIVLOG_VALUE_FITS_(b) ? 1 : -1] __attribute__((unused))

#if defined(__clang__)

/*
 * Clang folds no string built-in in a constant expression, but it folds a subscript of a string
 * literal (a GNU extension it would warn about under -pedantic, silenced here). So the format runs
 * through a table-driven automaton, one enumerator per character, for formats of at most 128
 * characters. A state is a parse state (text, '%', flags, width, '*' width, '.', precision, '*'
 * precision, h, hh, l, fault, end) times the values taken so far (0 to 3, 3 meaning too many);
 * KIVLOG_DFA_CLASS_ sorts a character into one of 13 classes (text, %, flag, 0, digit, *, ., h,
 * l, integer conversion, c, end, other), KIVLOG_DFA_TABLE_ gives the next state of each state and
 * class, written as A to Z and a to z.
 */
#define KIVLOG_DFA_TABLE_                                                            \
  "AEAAAAAAAAAwABFBBBBBBBBBxBCGCCCCCCCCCyCDHDDDDDDDDDzDsAIIMRUgoBBsssBJJNSVhpCCsssC" \
  "KKOTWiqDDsssDLLPTXjrDDssssIIMRUgoBBssssJJNSVhpCCssssKKOTWiqDDssssLLPTXjrDDsssssM" \
  "MsUgoBBsssssNNsVhpCCsssssOOsWiqDDsssssPPsXjrDDssssssssUgoBBssssssssVhpCCssssssss" \
  "WiqDDssssssssXjrDDsssssYYdsgoBBsssssZZeshpCCsssssaafsiqDDsssssbbfsjrDDsssssYYssg" \
  "oBBsssssZZsshpCCsssssaassiqDDsssssbbssjrDDsssssssssgoBBssssssssshpCCsssssssssiqD" \
  "DsssssssssjrDDsssssssssksBsssssssssslsCssssssssssmsDssssssssssnsDssssssssssssBss" \
  "ssssssssssCssssssssssssDssssssssssssDssssssssssssBssssssssssssCssssssssssssDssss" \
  "ssssssssDssssssssssssssssssssssssssssssssssssssssssssssssssssssswwwwwwwwwwwwwxxx" \
  "xxxxxxxxxxyyyyyyyyyyyyyzzzzzzzzzzzzz"
#define KIVLOG_DFA_CLASS_                                                            \
  "LMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMCMMCMBMMMMFCMCGMDEEEEEEEEEMMMMMMMMMMMMMMMMMMMMMM" \
  "MMMMMMMMJMMMMMMMMMMKJMMMHJMMIMMJMMMMMJMMJMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM" \
  "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM" \
  "MMMMMMMMMMMMMMMM"
#define KIVLOG_DFA_CHAR_(f, i) \
  ((unsigned char)(f)[(size_t)(i) < sizeof(f) - 1 ? (size_t)(i) : sizeof(f) - 1])
#define KIVLOG_DFA_DECODE_(c) ((c) >= 'a' ? (c) - 'a' + 26 : (c) - 'A')
#define KIVLOG_DFA_(f, i, j)           \
  kivlog_s##j##_ = KIVLOG_DFA_DECODE_( \
      KIVLOG_DFA_TABLE_[kivlog_s##i##_ * 13 + (KIVLOG_DFA_CLASS_[KIVLOG_DFA_CHAR_(f, i)] - 'A')])
#define KIVLOG_DFA_8_(f, a, b, c, d, e, g, h, i, j)                                       \
  KIVLOG_DFA_(f, a, b), KIVLOG_DFA_(f, b, c), KIVLOG_DFA_(f, c, d), KIVLOG_DFA_(f, d, e), \
      KIVLOG_DFA_(f, e, g), KIVLOG_DFA_(f, g, h), KIVLOG_DFA_(f, h, i), KIVLOG_DFA_(f, i, j)

#define KIVLOG_CHECK_FORMAT_(f, count)                                                          \
  _Pragma("clang diagnostic push")                                                              \
      _Pragma("clang diagnostic ignored \"-Wgnu-folding-constant\"") enum {                     \
        kivlog_s0_ = 0,                                                                         \
        KIVLOG_DFA_8_(f, 0, 1, 2, 3, 4, 5, 6, 7, 8),                                            \
        KIVLOG_DFA_8_(f, 8, 9, 10, 11, 12, 13, 14, 15, 16),                                     \
        KIVLOG_DFA_8_(f, 16, 17, 18, 19, 20, 21, 22, 23, 24),                                   \
        KIVLOG_DFA_8_(f, 24, 25, 26, 27, 28, 29, 30, 31, 32),                                   \
        KIVLOG_DFA_8_(f, 32, 33, 34, 35, 36, 37, 38, 39, 40),                                   \
        KIVLOG_DFA_8_(f, 40, 41, 42, 43, 44, 45, 46, 47, 48),                                   \
        KIVLOG_DFA_8_(f, 48, 49, 50, 51, 52, 53, 54, 55, 56),                                   \
        KIVLOG_DFA_8_(f, 56, 57, 58, 59, 60, 61, 62, 63, 64),                                   \
        KIVLOG_DFA_8_(f, 64, 65, 66, 67, 68, 69, 70, 71, 72),                                   \
        KIVLOG_DFA_8_(f, 72, 73, 74, 75, 76, 77, 78, 79, 80),                                   \
        KIVLOG_DFA_8_(f, 80, 81, 82, 83, 84, 85, 86, 87, 88),                                   \
        KIVLOG_DFA_8_(f, 88, 89, 90, 91, 92, 93, 94, 95, 96),                                   \
        KIVLOG_DFA_8_(f, 96, 97, 98, 99, 100, 101, 102, 103, 104),                              \
        KIVLOG_DFA_8_(f, 104, 105, 106, 107, 108, 109, 110, 111, 112),                          \
        KIVLOG_DFA_8_(f, 112, 113, 114, 115, 116, 117, 118, 119, 120),                          \
        KIVLOG_DFA_8_(f, 120, 121, 122, 123, 124, 125, 126, 127, 128)                           \
      };                                                                                        \
  _Pragma("clang diagnostic pop") typedef char                                                  \
      kivlog_format_has_a_conversion_two_32_bit_values_cannot_feed[kivlog_s128_ / 4 == 11 ? -1  \
                                                                                          : 1]  \
      __attribute__((unused));                                                                  \
  typedef char kivlog_format_takes_a_different_number_of_values_than_passed                     \
      [kivlog_s128_ / 4 != 12 || kivlog_s128_ % 4 == (count) ? 1 : -1] __attribute__((unused)); \
  typedef char kivlog_format_has_more_than_128_characters[kivlog_s128_ / 4 >= 11 ? 1 : -1]      \
      __attribute__((unused))

#define KIVLOG_CHECK_SIGNATURE_(signature) \
  typedef char kivlog_signature_must_be_15_characters[sizeof(signature) == 16 ? 1 : -1]

#else

#define KIVLOG_CHECK_SIGNATURE_(signature)                                               \
  typedef char kivlog_signature_must_be_15_characters[sizeof(signature) == 16 ? 1 : -1]; \
  enum {                                                                                 \
    kivlog_signature_core_ = __builtin_strcmp(signature, KIVLOG_SIGNATURE_UMAC) == 0 ? 0 \
                             : __builtin_strcmp(signature, KIVLOG_SIGNATURE_LMAC) == 0   \
                                 ? 1                                                     \
                                 : (KIVLOG_CORE)                                         \
  };                                                                                     \
  typedef char kivlog_signature_is_the_other_cores_than_KIVLOG_CORE                      \
      [kivlog_signature_core_ == (KIVLOG_CORE) ? 1 : -1]

/*
 * GCC folds strspn, strcspn and strncmp on string literals into integer constants, so each step
 * below parses one '%' sequence in enumerator values; a failed check is a negative array size.
 */
#define KIVLOG_AT_(f, i) ((f) + ((size_t)(i) < sizeof(f) - 1 ? (size_t)(i) : sizeof(f) - 1))
#define KIVLOG_IS_(f, i, text) (__builtin_strncmp(KIVLOG_AT_(f, i), text, sizeof(text) - 1) == 0)
#define KIVLOG_STEP_(f, k, s)                                                                      \
  kivlog_p##k##_ = (s) + (int)__builtin_strcspn(KIVLOG_AT_(f, s), "%"),                            \
  kivlog_e##k##_ = kivlog_p##k##_ >= (int)sizeof(f) - 1,                                           \
  kivlog_pct##k##_ = !kivlog_e##k##_ && KIVLOG_IS_(f, kivlog_p##k##_ + 1, "%"),                    \
  kivlog_fl##k##_ =                                                                                \
      kivlog_p##k##_ + 1 + (int)__builtin_strspn(KIVLOG_AT_(f, kivlog_p##k##_ + 1), "-+ #0"),      \
  kivlog_ws##k##_ = KIVLOG_IS_(f, kivlog_fl##k##_, "*"),                                           \
  kivlog_w##k##_ =                                                                                 \
      kivlog_fl##k##_ +                                                                            \
      (kivlog_ws##k##_ ? 1 : (int)__builtin_strspn(KIVLOG_AT_(f, kivlog_fl##k##_), "0123456789")), \
  kivlog_dot##k##_ = KIVLOG_IS_(f, kivlog_w##k##_, "."),                                           \
  kivlog_ps##k##_ = kivlog_dot##k##_ && KIVLOG_IS_(f, kivlog_w##k##_ + 1, "*"),                    \
  kivlog_pe##k##_ =                                                                                \
      kivlog_w##k##_ + kivlog_dot##k##_ +                                                          \
      (kivlog_ps##k##_    ? 1                                                                      \
       : kivlog_dot##k##_ ? (int)__builtin_strspn(KIVLOG_AT_(f, kivlog_w##k##_ + 1), "0123456789") \
                          : 0),                                                                    \
  kivlog_ln##k##_ = KIVLOG_IS_(f, kivlog_pe##k##_, "hh")                                           \
                        ? 2                                                                        \
                        : __builtin_strspn(KIVLOG_AT_(f, kivlog_pe##k##_), "hl") != 0,             \
  kivlog_cv##k##_ = kivlog_pe##k##_ + kivlog_ln##k##_,                                             \
  kivlog_bad##k##_ = !kivlog_e##k##_ && !kivlog_pct##k##_ &&                                       \
                     (__builtin_strspn(KIVLOG_AT_(f, kivlog_cv##k##_), "diouxXc") == 0 ||          \
                      (kivlog_ln##k##_ != 0 && KIVLOG_IS_(f, kivlog_cv##k##_, "c"))),              \
  kivlog_v##k##_ =                                                                                 \
      (kivlog_e##k##_ || kivlog_pct##k##_) ? 0 : 1 + kivlog_ws##k##_ + kivlog_ps##k##_,            \
  kivlog_n##k##_ = kivlog_e##k##_     ? kivlog_p##k##_                                             \
                   : kivlog_pct##k##_ ? kivlog_p##k##_ + 2                                         \
                                      : kivlog_cv##k##_ + 1

#define KIVLOG_CHECK_FORMAT_(f, count)                                                            \
  enum {                                                                                          \
    KIVLOG_STEP_(f, 0, 0),                                                                        \
    KIVLOG_STEP_(f, 1, kivlog_n0_),                                                               \
    KIVLOG_STEP_(f, 2, kivlog_n1_),                                                               \
    KIVLOG_STEP_(f, 3, kivlog_n2_),                                                               \
    KIVLOG_STEP_(f, 4, kivlog_n3_),                                                               \
    KIVLOG_STEP_(f, 5, kivlog_n4_),                                                               \
    KIVLOG_STEP_(f, 6, kivlog_n5_),                                                               \
    KIVLOG_STEP_(f, 7, kivlog_n6_),                                                               \
    kivlog_rest_ = kivlog_n7_ + (int)__builtin_strcspn(KIVLOG_AT_(f, kivlog_n7_), "%")            \
  };                                                                                              \
  typedef char kivlog_format_has_a_conversion_two_32_bit_values_cannot_feed                       \
      [kivlog_bad0_ || kivlog_bad1_ || kivlog_bad2_ || kivlog_bad3_ || kivlog_bad4_ ||            \
               kivlog_bad5_ || kivlog_bad6_ || kivlog_bad7_                                       \
           ? -1                                                                                   \
           : 1] __attribute__((unused));                                                          \
  typedef char kivlog_format_takes_a_different_number_of_values_than_passed                       \
      [kivlog_v0_ + kivlog_v1_ + kivlog_v2_ + kivlog_v3_ + kivlog_v4_ + kivlog_v5_ + kivlog_v6_ + \
                   kivlog_v7_ ==                                                                  \
               (count)                                                                            \
           ? 1                                                                                    \
           : -1] __attribute__((unused));                                                         \
  typedef char                                                                                    \
      kivlog_format_has_more_than_8_percent_signs[kivlog_rest_ >= (int)sizeof(f) - 1 ? 1 : -1]    \
      __attribute__((unused))

#endif

#define KIVLOG_CHECK_STATEMENT_(level, format, count, a, b) \
  KIVLOG_CHECK_VALUES_AND_LEVEL_(level, format, a, b);      \
  KIVLOG_CHECK_FORMAT_(KIVLOG_LITERAL_(format), count)

#endif

#endif /* KIVLOG_KIVLOG_H */

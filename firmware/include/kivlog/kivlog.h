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
#define KIVLOG_DEFINE_IMAGE(signature, f1, f2, f3, f4, f5, f6)                                     \
  KIVLOG_CHECK_SIGNATURE_(signature);                                                              \
  const kivlog_version_t kivlog_version = {f1, f2, f3, f4, f5, f6};                                \
  static const kivlog_version_t kivlog_version_record_ KIVLOG_IN_SECTION_(".kivlog.ver") = {       \
      f1, f2, f3, f4, f5, f6};                                                                     \
  const kivlog_signature_t kivlog_signature KIVLOG_IN_SECTION_(".kivlog.sig") = {                  \
      signature, KIVLOG_ADDRESS_OF_(&kivlog_signature), KIVLOG_ADDRESS_OF_(&kivlog_version_record_), \
      {0}};                                                                                        \
  KIVLOG_FRAGMENT_CHECK_DATA_                                                                      \
  void kivlog_log(uint32_t log_type, const kivlog_desc_t* desc, uint32_t param0,                   \
                  uint32_t param1) {                                                               \
    kivlog_record_t record;                                                                        \
    KIVLOG_FRAGMENT_CHECK_CODE_;                                                                   \
    record.timestamp = kivlog_timestamp();                                                         \
    record.log_type = log_type;                                                                    \
    record.log_addr = KIVLOG_ADDRESS_VALUE_(desc);                                                 \
    record.param0 = param0;                                                                        \
    record.param1 = param1;                                                                        \
    kivlog_transport(&record);                                                                     \
  }                                                                                                \
  typedef int kivlog_image_defined_

#define KIVLOG_DEFINE_ONE_CORE_IMAGE(f1, f2, f3, f4, f5, f6)                                   \
  typedef char kivlog_one_core_image_needs_KIVLOG_CORE_0[(KIVLOG_CORE) == 0 ? 1 : -1];         \
  static const kivlog_version_t kivlog_empty_lmac_version_ KIVLOG_IN_SECTION_(".kivlog.ver") = \
      {{0}, {0}, {0}, {0}, {0}, {0}};                                                          \
  static const kivlog_signature_t kivlog_empty_lmac_signature_ KIVLOG_IN_SECTION_(             \
      ".kivlog.sig") = {KIVLOG_SIGNATURE_LMAC, KIVLOG_ADDRESS_OF_(&kivlog_empty_lmac_signature_), \
                        KIVLOG_ADDRESS_OF_(&kivlog_empty_lmac_version_), {0}};                 \
  KIVLOG_DEFINE_IMAGE(KIVLOG_SIGNATURE_UMAC, f1, f2, f3, f4, f5, f6)

/* An image must be linked with the fragment. GCC records a reference to the fragment's symbol in
 * kivlog_log's code at no cost (a relocation that changes no byte); Clang gets a retained
 * pointer in the kivlog section. Only on 32-bit targets: host builds of firmware code (unit
 * tests) link no fragment. */
#if UINTPTR_MAX == 0xFFFFFFFFu && !defined(__clang__)
#define KIVLOG_FRAGMENT_CHECK_DATA_
#define KIVLOG_FRAGMENT_CHECK_CODE_ \
  __asm__(".reloc ., BFD_RELOC_NONE, kivlog_link_with_the_kivlog_ld_fragment")
#elif UINTPTR_MAX == 0xFFFFFFFFu
#define KIVLOG_FRAGMENT_CHECK_DATA_                                                   \
  static const char* const kivlog_fragment_check_                                     \
      __attribute__((section(".kivlog.check"), used, retain)) =                       \
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
 * register arguments, 10 to 14 bytes of code plus a 4-byte literal for the descriptor address; in
 * the kivlog section 16 bytes of descriptor plus the format string and the file name with their
 * zero bytes (about 64 bytes in the sample).
 *
 * The format is checked at compile time against what two 32-bit values can feed: conversions
 * d i u o x X c; flags - + space # 0; width and precision as digits or '*'; length h, hh, l (not
 * on c); "%%". Anything else (%s %p %n %f %e %g %a, ll j z t L q, an unknown or unfinished
 * conversion) fails the build, and so does a format whose conversions and '*'s take more or fewer
 * values than the statement passes. In C++14 and later a static_assert checks it; in C, GCC
 * checks it through its folding of string built-ins in enumerator values (at most 8 '%' signs in
 * one format). Other compilers (Clang in C, C++11) build the statement without the check.
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
    KIVLOG_CHECK_FORMAT_(format, count);                            \
    kivlog_printf_prefix((type), (level), __FILE__, __LINE__);      \
    KIVLOG_PRINTF_##count##_(format, (uint32_t)(a), (uint32_t)(b)); \
  } while (0)
#define KIVLOG_PRINTF_0_(format, a, b) ((void)(a), (void)(b), printf("" format))
#define KIVLOG_PRINTF_1_(format, a, b) ((void)(b), printf("" format, a))
#define KIVLOG_PRINTF_2_(format, a, b) printf("" format, a, b)
#else
#define KIVLOG_STATEMENT_(type, level, format, count, a, b)                                  \
  do {                                                                                       \
    KIVLOG_CHECK_FORMAT_(format, count);                                                     \
    static const char kivlog_format_[] KIVLOG_IN_SECTION_(".kivlog.str") = "" format;        \
    static const char kivlog_own_file_[] KIVLOG_SECTION_(".kivlog.str") __attribute__((unused)) = \
        __FILE__;                                                                            \
    static const kivlog_desc_t kivlog_desc_ KIVLOG_IN_SECTION_(".kivlog.desc") = {           \
        KIVLOG_ADDRESS_OF_(kivlog_format_), (uint16_t)(KIVLOG_MODULE), (uint16_t)(__LINE__), \
        KIVLOG_FILE_NAME_(kivlog_own_file_), (uint16_t)(level), 0};                          \
    kivlog_log((type), &kivlog_desc_, (uint32_t)(a), (uint32_t)(b));                         \
  } while (0)

/* The file name is stored once per source file: the statements of the file being compiled share
 * kivlog_file_name_. A statement in an included file (an inline function in a header) keeps a
 * copy of its own file's name; the compiler drops the copy it does not use, except at -O0, where
 * it stays in the kivlog section, outside the target's memory in the default layout. */
#define KIVLOG_FILE_NAME_(own)                                                             \
  (__builtin_strcmp(__FILE__, __BASE_FILE__) == 0 ? KIVLOG_ADDRESS_OF_(kivlog_file_name_) \
                                                  : KIVLOG_ADDRESS_OF_(own))
static const char kivlog_file_name_[] KIVLOG_SECTION_(".kivlog.str") __attribute__((unused)) =
    __BASE_FILE__;
#endif

/* The compile-time format check. */
#if defined(__cplusplus) && __cplusplus >= 201402L

namespace kivlog_detail {

constexpr bool isOneOf(char c, const char* set) {
  for (; *set != '\0'; ++set) {
    if (*set == c) {
      return true;
    }
  }
  return false;
}

/* The number of values the format takes, or -1 when it has a conversion they cannot feed. */
constexpr int formatValues(const char* f) {
  int values = 0;
  while (*f != '\0') {
    if (*f++ != '%') {
      continue;
    }
    if (*f == '%') {
      ++f;
      continue;
    }
    while (isOneOf(*f, "-+ #0")) {
      ++f;
    }
    if (*f == '*') {
      ++values;
      ++f;
    } else {
      while (*f >= '0' && *f <= '9') {
        ++f;
      }
    }
    if (*f == '.') {
      ++f;
      if (*f == '*') {
        ++values;
        ++f;
      } else {
        while (*f >= '0' && *f <= '9') {
          ++f;
        }
      }
    }
    bool length = false;
    if (f[0] == 'h' && f[1] == 'h') {
      f += 2;
      length = true;
    } else if (*f == 'h' || *f == 'l') {
      ++f;
      length = true;
    }
    if (*f == '\0' || !isOneOf(*f, "diouxXc") || (length && *f == 'c')) {
      return -1;
    }
    ++f;
    ++values;
  }
  return values;
}

/* The core a signature belongs to: 0 UMAC, 1 LMAC, -1 either (the one for a file per core). */
constexpr int signatureCore(const char* s) {
  return s[9] == 'U' && s[10] == 'M' ? 0 : s[9] == 'L' && s[10] == 'M' ? 1 : -1;
}

}  // namespace kivlog_detail

#define KIVLOG_CHECK_SIGNATURE_(signature)                                                \
  static_assert(sizeof(signature) == 16, "kivlog: the signature must be 15 characters"); \
  static_assert(::kivlog_detail::signatureCore(signature) < 0 ||                          \
                    ::kivlog_detail::signatureCore(signature) == (KIVLOG_CORE),          \
                "kivlog: the image's signature is the other core's than KIVLOG_CORE")

#define KIVLOG_CHECK_FORMAT_(format, count)                                                 \
  static_assert(::kivlog_detail::formatValues("" format) >= 0,                              \
                "kivlog: the format has a conversion two 32-bit values cannot feed");       \
  static_assert(::kivlog_detail::formatValues("" format) < 0 ||                             \
                    ::kivlog_detail::formatValues("" format) == (count),                    \
                "kivlog: the format takes a different number of values than the statement " \
                "passes")

#elif !defined(__cplusplus) && defined(__GNUC__) && !defined(__clang__)

#define KIVLOG_CHECK_SIGNATURE_(signature)                                                       \
  typedef char kivlog_signature_must_be_15_characters[sizeof(signature) == 16 ? 1 : -1];        \
  enum {                                                                                        \
    kivlog_signature_core_ = __builtin_strcmp(signature, KIVLOG_SIGNATURE_UMAC) == 0   ? 0       \
                             : __builtin_strcmp(signature, KIVLOG_SIGNATURE_LMAC) == 0 ? 1       \
                                                                                       : (KIVLOG_CORE) \
  };                                                                                            \
  typedef char kivlog_signature_is_the_other_cores_than_KIVLOG_CORE                             \
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

#define KIVLOG_CHECK_FORMAT_(format, count)                                                        \
  enum {                                                                                           \
    KIVLOG_STEP_("" format, 0, 0),                                                                 \
    KIVLOG_STEP_("" format, 1, kivlog_n0_),                                                        \
    KIVLOG_STEP_("" format, 2, kivlog_n1_),                                                        \
    KIVLOG_STEP_("" format, 3, kivlog_n2_),                                                        \
    KIVLOG_STEP_("" format, 4, kivlog_n3_),                                                        \
    KIVLOG_STEP_("" format, 5, kivlog_n4_),                                                        \
    KIVLOG_STEP_("" format, 6, kivlog_n5_),                                                        \
    KIVLOG_STEP_("" format, 7, kivlog_n6_),                                                        \
    kivlog_rest_ = kivlog_n7_ + (int)__builtin_strcspn(KIVLOG_AT_("" format, kivlog_n7_), "%")     \
  };                                                                                               \
  typedef char kivlog_format_has_a_conversion_two_32_bit_values_cannot_feed                        \
      [kivlog_bad0_ || kivlog_bad1_ || kivlog_bad2_ || kivlog_bad3_ || kivlog_bad4_ ||             \
               kivlog_bad5_ || kivlog_bad6_ || kivlog_bad7_                                        \
           ? -1                                                                                    \
           : 1] __attribute__((unused));                                                           \
  typedef char kivlog_format_takes_a_different_number_of_values_than_passed                        \
      [kivlog_v0_ + kivlog_v1_ + kivlog_v2_ + kivlog_v3_ + kivlog_v4_ + kivlog_v5_ + kivlog_v6_ +  \
                   kivlog_v7_ ==                                                                   \
               (count)                                                                             \
           ? 1                                                                                     \
           : -1] __attribute__((unused));                                                          \
  typedef char                                                                                     \
      kivlog_format_has_more_than_8_percent_signs[kivlog_rest_ >= (int)sizeof("" format) - 1 ? 1   \
                                                                                             : -1] \
      __attribute__((unused))

#else
#define KIVLOG_CHECK_SIGNATURE_(signature) \
  typedef char kivlog_signature_must_be_15_characters[sizeof(signature) == 16 ? 1 : -1]
#define KIVLOG_CHECK_FORMAT_(format, count) \
  typedef char kivlog_format_is_a_string_literal_[sizeof("" format)] __attribute__((unused))
#endif

#endif /* KIVLOG_KIVLOG_H */

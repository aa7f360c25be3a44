#pragma once

#include <string>
#include <string_view>

// Compressed captures for tests and fuzzing, made with the formats' own libraries.
enum class KivCompression { kGzip, kZstd, kXz };

// The format's name as kivlog's messages give it: "gzip", "zstd", "xz".
std::string_view kivCompressionName(KivCompression format);

// `text` as one member of the format: a gzip member, a zstd frame with its checksum, an xz
// stream with a CRC64 check. A capture of several members is their concatenation.
std::string kivCompress(KivCompression format, std::string_view text);

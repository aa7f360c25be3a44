#include "support/KivCompress.h"

#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <stdexcept>

namespace {

std::string gzip(std::string_view text) {
  z_stream stream{};
  // 15 window bits, plus 16 for the gzip wrapper.
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) {
    throw std::runtime_error("deflate");
  }
  return out;
}

std::string zstd(std::string_view text) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  std::string out(ZSTD_compressBound(text.size()), '\0');
  const std::size_t size =
      ZSTD_compress2(context, out.data(), out.size(), text.data(), text.size());
  ZSTD_freeCCtx(context);
  if (ZSTD_isError(size)) {
    throw std::runtime_error("ZSTD_compress2");
  }
  out.resize(size);
  return out;
}

std::string xz(std::string_view text) {
  std::string out(lzma_stream_buffer_bound(text.size()), '\0');
  std::size_t size = 0;
  // Preset 0: a small dictionary, so that making many captures stays quick.
  if (lzma_easy_buffer_encode(
          0, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
          reinterpret_cast<uint8_t*>(out.data()), &size, out.size()) != LZMA_OK) {
    throw std::runtime_error("lzma_easy_buffer_encode");
  }
  out.resize(size);
  return out;
}

}  // namespace

std::string_view kivCompressionName(KivCompression format) {
  switch (format) {
    case KivCompression::kGzip:
      return "gzip";
    case KivCompression::kZstd:
      return "zstd";
    case KivCompression::kXz:
      break;
  }
  return "xz";
}

std::string kivCompress(KivCompression format, std::string_view text) {
  switch (format) {
    case KivCompression::kGzip:
      return gzip(text);
    case KivCompression::kZstd:
      return zstd(text);
    case KivCompression::kXz:
      break;
  }
  return xz(text);
}

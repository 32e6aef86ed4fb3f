#include "crypto/zlib_codec.h"

#include <zlib.h>

#include <string>

namespace nexora {
namespace {

constexpr std::size_t GrowthUnit = 256;
constexpr int WindowBits = 15;
constexpr int MemoryLevel = 8;

std::size_t RoundDownToUnit(std::size_t size) { return size - size % GrowthUnit; }

// Ends the zlib stream on every way out.
template <int (*End)(z_streamp)> struct TStreamGuard {
  z_stream &stream;
  ~TStreamGuard() { End(&stream); }
};

[[noreturn]] void Fail(const char *what, int status) {
  throw EZlibError(std::string(what) + " failed with zlib status " + std::to_string(status));
}

void CheckLength(std::int32_t length) {
  if (length < 0) {
    throw EZlibError("negative input length");
  }
}

} // namespace

std::vector<std::uint8_t> ZlibCompress(const void *input, std::int32_t length, std::uint8_t level) {
  CheckLength(length);
  const auto n = static_cast<std::size_t>(length);
  std::vector<std::uint8_t> output(RoundDownToUnit(n + n / 10 + 12 + GrowthUnit - 1));

  z_stream stream{};
  int status = deflateInit2(&stream, level, Z_DEFLATED, WindowBits, MemoryLevel, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    Fail("deflateInit", status);
  }
  TStreamGuard<deflateEnd> guard{stream};
  stream.next_in = static_cast<Bytef *>(const_cast<void *>(input));
  stream.avail_in = static_cast<uInt>(n);
  stream.next_out = output.data();
  stream.avail_out = static_cast<uInt>(output.size());
  while ((status = deflate(&stream, Z_FINISH)) != Z_STREAM_END) {
    if (status != Z_OK && status != Z_BUF_ERROR) {
      Fail("deflate", status);
    }
    output.resize(output.size() + GrowthUnit);
    stream.next_out = output.data() + stream.total_out;
    stream.avail_out = static_cast<uInt>(output.size() - stream.total_out);
  }
  output.resize(stream.total_out);
  return output;
}

std::vector<std::uint8_t> ZlibDecompress(const void *input, std::int32_t length) {
  CheckLength(length);
  const auto n = static_cast<std::size_t>(length);
  // An empty input is no stream; without this the growth step would be 0 for ever.
  if (n == 0) {
    throw EZlibError("empty input is not a zlib stream");
  }
  const std::size_t increment = RoundDownToUnit(n + GrowthUnit - 1);
  std::vector<std::uint8_t> output(increment);

  z_stream stream{};
  int status = inflateInit(&stream);
  if (status != Z_OK) {
    Fail("inflateInit", status);
  }
  TStreamGuard<inflateEnd> guard{stream};
  stream.next_in = static_cast<Bytef *>(const_cast<void *>(input));
  stream.avail_in = static_cast<uInt>(n);
  stream.next_out = output.data();
  stream.avail_out = static_cast<uInt>(output.size());
  while ((status = inflate(&stream, Z_NO_FLUSH)) != Z_STREAM_END) {
    if (status != Z_OK && status != Z_BUF_ERROR) {
      Fail("inflate", status);
    }
    // All input used and still no end: the stream is truncated, and more room won't help.
    if (stream.avail_in == 0 && stream.avail_out != 0) {
      Fail("inflate (truncated stream)", status);
    }
    if (stream.avail_out == 0) {
      output.resize(output.size() + increment);
      stream.next_out = output.data() + stream.total_out;
      stream.avail_out = static_cast<uInt>(output.size() - stream.total_out);
    }
  }
  output.resize(stream.total_out);
  return output;
}

} // namespace nexora

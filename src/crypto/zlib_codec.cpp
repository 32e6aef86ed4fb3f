#include "crypto/zlib_codec.h"

#include <zlib.h>

#include <array>
#include <string>

namespace nexora {
namespace {

constexpr std::size_t GrowthUnit = 256;
constexpr int WindowBits = 15;
constexpr int MemoryLevel = 8;

std::size_t RoundDownToUnit(std::size_t size) { return size - size % GrowthUnit; }

[[noreturn]] void Fail(const char *what, int status) {
  throw EZlibError(std::string(what) + " failed with zlib status " + std::to_string(status));
}

// A zlib stream kept by one thread and reset before each value: setting up zlib's state
// (about a quarter of a megabyte for deflate) costs more than compressing a small value.
template <int (*End)(z_streamp)> class TKeptStream {
public:
  TKeptStream() = default;
  TKeptStream(const TKeptStream &) = delete;
  TKeptStream &operator=(const TKeptStream &) = delete;
  ~TKeptStream() {
    if (ready_) {
      End(&stream_);
    }
  }
  z_stream &Stream() { return stream_; }
  bool Ready() const { return ready_; }
  void SetReady() { ready_ = true; }

private:
  z_stream stream_{};
  bool ready_ = false;
};

constexpr std::uint8_t MaxLevel = 9;

// This thread's deflate stream for the level, reset.
z_stream &DeflateStream(std::uint8_t level) {
  thread_local std::array<TKeptStream<deflateEnd>, MaxLevel + 1> streams;
  if (level > MaxLevel) {
    Fail("deflateInit", Z_STREAM_ERROR);
  }
  TKeptStream<deflateEnd> &kept = streams[level];
  if (!kept.Ready()) {
    const int status = deflateInit2(&kept.Stream(), level, Z_DEFLATED, WindowBits, MemoryLevel, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) {
      Fail("deflateInit", status);
    }
    kept.SetReady();
  } else {
    deflateReset(&kept.Stream());
  }
  return kept.Stream();
}

// This thread's inflate stream, reset.
z_stream &InflateStream() {
  thread_local TKeptStream<inflateEnd> kept;
  if (!kept.Ready()) {
    const int status = inflateInit(&kept.Stream());
    if (status != Z_OK) {
      Fail("inflateInit", status);
    }
    kept.SetReady();
  } else {
    inflateReset(&kept.Stream());
  }
  return kept.Stream();
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

  z_stream &stream = DeflateStream(level);
  int status = Z_OK;
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

  z_stream &stream = InflateStream();
  int status = Z_OK;
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

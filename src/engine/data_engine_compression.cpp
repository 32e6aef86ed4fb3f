#include "crypto/zlib_codec.h"
#include "engine/data_engine.h"

namespace nexora {

// Every failure inside, from zlib or from a hook, whatever it throws, becomes the
// engine's compression error with no names; the partial output goes with the scope.
std::vector<std::uint8_t> TDataEngine::Compress(const void *input, std::int32_t length, std::uint8_t level) {
  std::vector<std::uint8_t> output;
  try {
    if (hooks_.Compress) {
      hooks_.Compress(input, length, level, output);
    } else {
      output = ZlibCompress(input, length, level);
    }
  } catch (...) {
    RaiseError(NEXORA_COMPRESS);
  }
  return output;
}

std::vector<std::uint8_t> TDataEngine::Decompress(const void *input, std::int32_t length) {
  std::vector<std::uint8_t> output;
  try {
    if (hooks_.Decompress) {
      hooks_.Decompress(input, length, output);
    } else {
      output = ZlibDecompress(input, length);
    }
  } catch (...) {
    RaiseError(NEXORA_UNCOMPRESS);
  }
  return output;
}

} // namespace nexora

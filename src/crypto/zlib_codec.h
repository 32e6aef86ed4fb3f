#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace nexora {

// A zlib failure: a bad level, a damaged or truncated stream, or zlib's own error.
class EZlibError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One complete zlib stream (header, deflate data, Adler-32) of the whole input at
// level 0 to 9 (window 15, memory level 8, default strategy). Raises EZlibError.
std::vector<std::uint8_t> ZlibCompress(const void *input, std::int32_t length, std::uint8_t level);

// The bytes of one complete zlib stream. Raises EZlibError for an empty, damaged or
// truncated stream.
std::vector<std::uint8_t> ZlibDecompress(const void *input, std::int32_t length);

} // namespace nexora

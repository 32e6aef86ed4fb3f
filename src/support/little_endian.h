#pragma once

#include <cstdint>

namespace nexora {

// Little-endian access to byte images of stored formats: the one place file images are
// read and written as integers. Requires the bytes to be there; any thread.
inline std::uint16_t LoadU16(const std::uint8_t *at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }
inline std::uint32_t LoadU32(const std::uint8_t *at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}
inline std::uint64_t LoadU64(const std::uint8_t *at) {
  return static_cast<std::uint64_t>(LoadU32(at)) | static_cast<std::uint64_t>(LoadU32(at + 4)) << 32;
}
inline void StoreU16(std::uint8_t *at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void StoreU32(std::uint8_t *at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}
inline void StoreU64(std::uint8_t *at, std::uint64_t value) {
  StoreU32(at, static_cast<std::uint32_t>(value));
  StoreU32(at + 4, static_cast<std::uint32_t>(value >> 32));
}

} // namespace nexora

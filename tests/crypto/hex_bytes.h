#pragma once

// Hexadecimal text <-> bytes for the crypto tests' tables of known values.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nexora::test {

// Bytes of an even-length hexadecimal text (either case).
inline std::vector<std::uint8_t> HexBytes(std::string_view hex) {
  auto nibble = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9')
      return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f')
      return static_cast<std::uint8_t>(c - 'a' + 10);
    return static_cast<std::uint8_t>(c - 'A' + 10);
  };
  std::vector<std::uint8_t> bytes(hex.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  }
  return bytes;
}

// Lower-case hexadecimal text of `length` bytes.
inline std::string ToHex(const std::uint8_t *bytes, std::size_t length) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < length; ++i) {
    hex += Digits[bytes[i] >> 4];
    hex += Digits[bytes[i] & 0x0F];
  }
  return hex;
}

} // namespace nexora::test

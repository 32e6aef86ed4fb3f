#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nexora {

// The 34-byte binary-coded decimal of BCD fields: precision in digits (1 byte); sign and
// scale (1 byte: BcdNegativeBit for negative, low 6 bits the digits after the point);
// 32 bytes of packed digits, two per byte, high nibble first, most significant first.
// The value's `precision` digits fill the first nibbles; the last `scale` of them are
// the fraction. Pure functions; any thread.
inline constexpr std::size_t BcdSize = 34;
inline constexpr std::size_t BcdPrecisionOffset = 0;
inline constexpr std::size_t BcdSignScaleOffset = 1;
inline constexpr std::size_t BcdDigitsOffset = 2;
inline constexpr std::uint8_t BcdMaxDigits = 64;
inline constexpr std::uint8_t BcdNegativeBit = 0x80;
inline constexpr std::uint8_t BcdScaleMask = 0x3F;
// Precision of BCD values parsed from default texts.
inline constexpr std::uint8_t BcdDefaultPrecision = 32;

struct TBcdValue {
  std::array<std::uint8_t, BcdSize> Bytes{};
  bool operator==(const TBcdValue &) const = default;
};

// Encodes decimal text (optional sign, digits, optional "." and digits; at least one
// digit) with `precision` digits of which `scale` follow the point. Fraction digits
// beyond the scale are rounded half away from zero. Nothing when the text is not such
// a number, when precision is not 1 to 64 or scale exceeds precision or 63, or when
// the integer part needs more than precision - scale digits.
std::optional<TBcdValue> BcdFromText(std::string_view text, std::uint8_t precision, std::uint8_t scale);

// The value as decimal text: "-" for negatives, no leading zeros before the point, all
// `scale` fraction digits ("-12.50", "0.05", "7"). Nothing for a damaged image
// (precision above 64, scale above precision, a nibble above 9).
std::optional<std::string> BcdToText(const TBcdValue &value);

// -1, 0 or 1 as a is below, equal to or above b; nothing when either image is damaged.
std::optional<int> CompareBcd(const TBcdValue &a, const TBcdValue &b);

} // namespace nexora

#include "storage/bcd_value.h"

#include <algorithm>

namespace nexora {

namespace {

// A decimal number as digit characters: integer part without leading zeros, fraction
// part of any length.
struct TDecimal {
  bool Negative = false;
  std::string Integer;
  std::string Fraction;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<TDecimal> ParseDecimal(std::string_view text) {
  TDecimal decimal;
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
    decimal.Negative = text[at] == '-';
    ++at;
  }
  while (at < text.size() && IsDigit(text[at])) {
    decimal.Integer += text[at++];
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && IsDigit(text[at])) {
      decimal.Fraction += text[at++];
    }
  }
  if (at != text.size() || (decimal.Integer.empty() && decimal.Fraction.empty())) {
    return std::nullopt;
  }
  decimal.Integer.erase(0, std::min(decimal.Integer.find_first_not_of('0'), decimal.Integer.size()));
  return decimal;
}

bool IsZero(const TDecimal &decimal) {
  return decimal.Integer.empty() && decimal.Fraction.find_first_not_of('0') == std::string::npos;
}

// Adds one unit in the last place of digits; true when it carried out of the first.
bool Increment(std::string &digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return false;
    }
    *it = '0';
  }
  return true;
}

std::optional<TDecimal> DecodeBcd(const TBcdValue &value) {
  const std::uint8_t precision = value.Bytes[BcdPrecisionOffset];
  const std::uint8_t scale = value.Bytes[BcdSignScaleOffset] & BcdScaleMask;
  if (precision > BcdMaxDigits || scale > precision) {
    return std::nullopt;
  }
  std::string digits;
  for (std::uint8_t i = 0; i < precision; ++i) {
    const std::uint8_t byte = value.Bytes[BcdDigitsOffset + i / 2];
    const std::uint8_t nibble = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
    if (nibble > 9) {
      return std::nullopt;
    }
    digits += static_cast<char>('0' + nibble);
  }
  TDecimal decimal;
  decimal.Negative = (value.Bytes[BcdSignScaleOffset] & BcdNegativeBit) != 0;
  decimal.Integer = digits.substr(0, precision - scale);
  decimal.Integer.erase(0, std::min(decimal.Integer.find_first_not_of('0'), decimal.Integer.size()));
  decimal.Fraction = digits.substr(precision - scale);
  return decimal;
}

// Compares magnitudes.
int CompareMagnitude(const TDecimal &a, const TDecimal &b) {
  if (a.Integer.size() != b.Integer.size()) {
    return a.Integer.size() < b.Integer.size() ? -1 : 1;
  }
  if (const int order = a.Integer.compare(b.Integer); order != 0) {
    return order < 0 ? -1 : 1;
  }
  const std::size_t length = std::max(a.Fraction.size(), b.Fraction.size());
  std::string fractionA = a.Fraction;
  std::string fractionB = b.Fraction;
  fractionA.resize(length, '0');
  fractionB.resize(length, '0');
  const int order = fractionA.compare(fractionB);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

} // namespace

std::optional<TBcdValue> BcdFromText(std::string_view text, std::uint8_t precision, std::uint8_t scale) {
  if (precision < 1 || precision > BcdMaxDigits || scale > precision || scale > BcdScaleMask) {
    return std::nullopt;
  }
  auto decimal = ParseDecimal(text);
  if (!decimal) {
    return std::nullopt;
  }
  const bool roundUp = decimal->Fraction.size() > scale && decimal->Fraction[scale] >= '5';
  decimal->Fraction.resize(scale, '0');
  std::string digits = decimal->Integer + decimal->Fraction;
  if (roundUp && Increment(digits)) {
    digits.insert(digits.begin(), '1');
  }
  if (digits.size() > precision) {
    return std::nullopt;
  }
  digits.insert(0, precision - digits.size(), '0');
  TBcdValue value;
  value.Bytes[BcdPrecisionOffset] = precision;
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  value.Bytes[BcdSignScaleOffset] =
      static_cast<std::uint8_t>(scale | (decimal->Negative && !zero ? BcdNegativeBit : 0));
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const auto nibble = static_cast<std::uint8_t>(digits[i] - '0');
    value.Bytes[BcdDigitsOffset + i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? nibble << 4 : nibble);
  }
  return value;
}

std::optional<std::string> BcdToText(const TBcdValue &value) {
  const auto decimal = DecodeBcd(value);
  if (!decimal) {
    return std::nullopt;
  }
  std::string text = decimal->Negative && !IsZero(*decimal) ? "-" : "";
  text += decimal->Integer.empty() ? "0" : decimal->Integer;
  if (!decimal->Fraction.empty()) {
    text += '.' + decimal->Fraction;
  }
  return text;
}

std::optional<int> CompareBcd(const TBcdValue &a, const TBcdValue &b) {
  const auto left = DecodeBcd(a);
  const auto right = DecodeBcd(b);
  if (!left || !right) {
    return std::nullopt;
  }
  const bool negativeLeft = left->Negative && !IsZero(*left);
  const bool negativeRight = right->Negative && !IsZero(*right);
  if (negativeLeft != negativeRight) {
    return negativeLeft ? -1 : 1;
  }
  const int magnitude = CompareMagnitude(*left, *right);
  return negativeLeft ? -magnitude : magnitude;
}

} // namespace nexora

#include "storage/field_literals.h"

#include <cstdint>
#include <limits>
#include <random>

#include "platform/os/windows1252.h"
#include "storage/field_def_rules.h"

namespace nexora {

namespace {

template <typename T> std::optional<std::int64_t> IntegerText(std::string_view text) {
  return ParseIntegerText(text, std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
}

template <typename T, typename Wrap, typename Parsed> std::optional<TFieldValue> Wrapped(const Parsed &parsed) {
  if (!parsed) {
    return std::nullopt;
  }
  return TFieldValue{Wrap{static_cast<T>(*parsed)}};
}

} // namespace

std::optional<TFieldValue> ParseFieldLiteral(const TFieldDef &def, std::string_view text, std::uint8_t bcdPrecision) {
  switch (def.Type()) {
  case ftcString:
    if (def.Subtype() == fstWideString) {
      return TFieldValue{Windows1252ToUtf16(text)};
    }
    return TFieldValue{std::string(text)};
  case ftcDate:
    return Wrapped<std::int32_t, TDateValue>(ParseDateText(text));
  case ftcTime:
    return Wrapped<std::int32_t, TTimeValue>(ParseTimeText(text));
  case ftcDateTime:
    return Wrapped<double, TDateTimeValue>(ParseDateTimeText(text));
  case ftcBoolean:
    return Wrapped<bool, bool>(ParseBooleanText(text));
  case ftcSmallInt:
    return Wrapped<std::int64_t, std::int64_t>(IntegerText<std::int16_t>(text));
  case ftcWord:
    return Wrapped<std::int64_t, std::int64_t>(IntegerText<std::uint16_t>(text));
  case ftcInteger:
    return Wrapped<std::int64_t, std::int64_t>(IntegerText<std::int32_t>(text));
  case ftcLargeInt:
    return Wrapped<std::int64_t, std::int64_t>(IntegerText<std::int64_t>(text));
  case ftcFloat:
    return Wrapped<double, double>(ParseFloatText(text));
  case ftcBCD: {
    auto bcd = BcdFromText(text, bcdPrecision, def.Decimals());
    return bcd ? std::optional<TFieldValue>(*bcd) : std::nullopt;
  }
  case ftcBlob:
    return std::nullopt;
  default:
    return TFieldValue{TByteString(text.begin(), text.end())};
  }
}

std::string NewGuidText() {
  std::random_device device;
  std::uint8_t bytes[16];
  for (std::size_t i = 0; i < sizeof bytes; i += 4) {
    const std::uint32_t word = device();
    for (std::size_t j = 0; j < 4; ++j) {
      bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
    }
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // variant 1
  constexpr char Hex[] = "0123456789ABCDEF";
  std::string text = "{";
  for (std::size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      text += '-';
    }
    text += Hex[bytes[i] >> 4];
    text += Hex[bytes[i] & 0x0F];
  }
  return text + "}";
}

} // namespace nexora

#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "storage/bcd_value.h"

namespace nexora {

// A date as its day number (0001-01-01 is day 1).
struct TDateValue {
  std::int32_t DayNumber = 0;
  auto operator<=>(const TDateValue &) const = default;
};

// A time of day as milliseconds since midnight.
struct TTimeValue {
  std::int32_t Milliseconds = 0;
  auto operator<=>(const TTimeValue &) const = default;
};

// A date and time: day number * 86'400'000 + milliseconds since midnight.
struct TDateTimeValue {
  double Value = 0;
  auto operator<=>(const TDateTimeValue &) const = default;
};

// The reference a BLOB slot holds: the number of the value's first block in the BLOB
// file (0 no blocks; negative for a value a cursor holds open in memory).
struct TBlobSlotValue {
  std::int32_t FirstBlock = 0;
  auto operator<=>(const TBlobSlotValue &) const = default;
};

using TByteString = std::vector<std::uint8_t>;

// A field value as the engine hands it to cursors and components. The alternative
// follows the field's type code:
//   none (null)          std::monostate
//   1 string             std::string (Windows-1252 bytes); subtype 32 std::u16string
//   2 date               TDateValue
//   3 BLOB               TBlobSlotValue
//   4 boolean            bool
//   5, 6, 12, 18         std::int64_t (must fit the field's width)
//   7 floating point     double (also money)
//   8 BCD                TBcdValue
//   9 bytes              TByteString (cut or zero-filled to the declared size)
//   10 time              TTimeValue
//   11 date and time     TDateTimeValue
//   15 variable bytes    TByteString (the data; stored behind a 2-byte length)
//   any other code       TByteString (the physical size, usually none)
using TFieldValue = std::variant<std::monostate, bool, std::int64_t, double, std::string, std::u16string, TByteString,
                                 TDateValue, TTimeValue, TDateTimeValue, TBcdValue, TBlobSlotValue>;

inline bool IsNull(const TFieldValue &value) { return std::holds_alternative<std::monostate>(value); }

} // namespace nexora

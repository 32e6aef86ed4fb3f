#include "storage/new_record.h"

#include <algorithm>
#include <compare>
#include <limits>
#include <optional>
#include <stdexcept>

#include "engine/data_locale.h"
#include "platform/os/windows1252.h"
#include "storage/field_def_rules.h"
#include "storage/field_literals.h"
#include "storage/field_values.h"
#include "storage/record_layout.h"
#include "support/date_time.h"

namespace nexora {

namespace {

enum class TTextUse { Default, Bound };

[[noreturn]] void Raise(const TNewRecordTable &table, TErrorCode code, const TFieldDef &def) {
  table.Engine.RaiseError(
      code, TErrorNames{.DatabaseName = table.DatabaseName, .TableName = table.TableName, .FieldName = def.Name()});
}

// The clock words a type takes, as values; nothing for any other text.
std::optional<TFieldValue> ClockValue(const TFieldDef &def, std::string_view text, const TRecordClock &clock,
                                      TTextUse use) {
  switch (def.Type()) {
  case ftcString:
    if (use == TTextUse::Default && IsKeywordText(text, CurrentGuidText)) {
      const std::string guid = NewGuidText();
      return def.Subtype() == fstWideString ? TFieldValue{Windows1252ToUtf16(guid)} : TFieldValue{guid};
    }
    return std::nullopt;
  case ftcDate:
    return IsKeywordText(text, CurrentDateText) ? std::optional<TFieldValue>(TDateValue{clock.Today}) : std::nullopt;
  case ftcTime:
    return IsKeywordText(text, CurrentTimeText) ? std::optional<TFieldValue>(TTimeValue{clock.Now}) : std::nullopt;
  case ftcDateTime:
    if (IsKeywordText(text, CurrentTimestampText)) {
      return TDateTimeValue{EncodeDateTime(clock.Today, clock.Now)};
    }
    if (IsKeywordText(text, CurrentDateText)) {
      return TDateTimeValue{EncodeDateTime(clock.Today, 0)};
    }
    if (IsKeywordText(text, CurrentTimeText)) {
      return TDateTimeValue{EncodeDateTime(DayNumber18991230, clock.Now)};
    }
    return std::nullopt;
  default:
    return std::nullopt;
  }
}

// The value a default, minimum or maximum text stands for; raises 10006 when the text
// is not valid for the field's type.
TFieldValue ResolveText(const TNewRecordTable &table, const TFieldDef &def, std::string_view text,
                        const TRecordClock &clock, TTextUse use) {
  if (auto value = ClockValue(def, text, clock, use)) {
    return *value;
  }
  const std::uint8_t precision = use == TTextUse::Default ? BcdDefaultPrecision : BcdMaxDigits;
  if (auto value = ParseFieldLiteral(def, text, precision)) {
    return *value;
  }
  Raise(table, NEXORA_INVALIDVCHKSTRUCT, def);
}

// Ordering of a value against a bound of the same field; nothing when the type has no
// range.
std::optional<int> CompareValues(const TNewRecordTable &table, const TFieldValue &value, const TFieldValue &bound) {
  auto sign = [](auto order) { return order < 0 ? -1 : (order > 0 ? 1 : 0); };
  if (const auto *text = std::get_if<std::string>(&value)) {
    return sign(CompareLocaleText(table.LocaleId, *text, std::get<std::string>(bound), false));
  }
  if (const auto *wide = std::get_if<std::u16string>(&value)) {
    return sign(CompareLocaleText(table.LocaleId, Utf16ToWindows1252(*wide),
                                  Utf16ToWindows1252(std::get<std::u16string>(bound)), false));
  }
  if (const auto *bcd = std::get_if<TBcdValue>(&value)) {
    return CompareBcd(*bcd, std::get<TBcdValue>(bound));
  }
  return std::visit(
      [&](const auto &left) -> std::optional<int> {
        using T = std::decay_t<decltype(left)>;
        if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::int64_t> || std::is_same_v<T, double> ||
                      std::is_same_v<T, TDateValue> || std::is_same_v<T, TTimeValue> ||
                      std::is_same_v<T, TDateTimeValue>) {
          const auto order = left <=> std::get<T>(bound);
          return order == std::partial_ordering::unordered ? std::nullopt : std::optional(sign(order));
        } else {
          return std::nullopt;
        }
      },
      value);
}

bool HasRange(const TFieldDef &def) {
  switch (def.Type()) {
  case ftcString:
  case ftcDate:
  case ftcBoolean:
  case ftcSmallInt:
  case ftcInteger:
  case ftcFloat:
  case ftcBCD:
  case ftcTime:
  case ftcDateTime:
  case ftcWord:
  case ftcLargeInt:
    return true;
  default:
    return false;
  }
}

// The value compared with the bounds: a null string counts as the empty string.
std::optional<TFieldValue> ComparedValue(const TFieldDef &def, std::span<const std::uint8_t> image) {
  TFieldValue value = ReadFieldValue(def, image);
  if (!IsNull(value)) {
    return value;
  }
  if (def.Type() == ftcString) {
    return def.Subtype() == fstWideString ? TFieldValue{std::u16string()} : TFieldValue{std::string()};
  }
  return std::nullopt;
}

void CheckBound(const TNewRecordTable &table, const TFieldDef &def, const TFieldValue &value,
                const std::string &boundText, const TRecordClock &clock, int failingSign, TErrorCode code) {
  if (boundText.empty()) {
    return;
  }
  const TFieldValue bound = ResolveText(table, def, boundText, clock, TTextUse::Bound);
  const auto order = CompareValues(table, value, bound);
  if (order && *order == failingSign) {
    Raise(table, code, def);
  }
}

bool IsAutoIncrement(const TFieldDef &def) { return def.Type() == ftcInteger && def.Subtype() == fstAutoInc; }

} // namespace

TRecordClock TRecordClock::Local() { return TRecordClock{TodayDayNumber(), NowMillisecondsOfDay()}; }

std::int32_t NextSerial(std::int32_t last) {
  // A damaged negative counter restarts the series rather than handing out non-positive IDs.
  return last >= 1 && last < std::numeric_limits<std::int32_t>::max() ? last + 1 : 1;
}

void ApplyDefaults(const TNewRecordTable &table, std::span<std::uint8_t> image, const TRecordClock &clock) {
  std::fill(image.begin(), image.end(), 0);
  for (const TFieldDef &field : table.Fields) {
    const TFieldDef *def = &field;
    const std::string text = def->Default();
    if (text.empty() || def->Type() == ftcBlob) {
      continue;
    }
    WriteFieldValue(*def, image, ResolveText(table, *def, text, clock, TTextUse::Default), table.LocaleId);
  }
}

std::int32_t AssignAutoIncrements(const TNewRecordTable &table, std::span<std::uint8_t> image,
                                  std::int32_t lastAutoInc) {
  std::int32_t highest = lastAutoInc;
  for (const TFieldDef &field : table.Fields) {
    const TFieldDef *def = &field;
    if (!IsAutoIncrement(*def)) {
      continue;
    }
    TFieldValue value = ReadFieldValue(*def, image);
    if (IsNull(value)) {
      value = std::int64_t{NextSerial(lastAutoInc)};
      WriteFieldValue(*def, image, value, table.LocaleId);
    }
    highest = std::max(highest, static_cast<std::int32_t>(std::get<std::int64_t>(value)));
  }
  return highest;
}

void CheckConstraints(const TNewRecordTable &table, std::span<const std::uint8_t> image, const TRecordClock &clock) {
  for (const TFieldDef &field : table.Fields) {
    const TFieldDef *def = &field;
    if (def->Required() && IsNull(ReadFieldValue(*def, image))) {
      Raise(table, NEXORA_REQDERR, *def);
    }
    if (!HasRange(*def)) {
      continue;
    }
    const auto value = ComparedValue(*def, image);
    if (!value) {
      continue;
    }
    CheckBound(table, *def, *value, def->Minimum(), clock, -1, NEXORA_MINVALERR);
    CheckBound(table, *def, *value, def->Maximum(), clock, 1, NEXORA_MAXVALERR);
  }
}

void FinishNewRecord(const TNewRecordTable &table, std::span<std::uint8_t> image, std::int32_t recordID) {
  if (image.size() < RecordFieldsOffset) {
    throw std::out_of_range("record image shorter than its header");
  }
  image[RecordStatusOffset] = RecordStatusLive;
  StoreLittleEndian<std::int32_t>(image.data() + RecordChainOffset, 0);
  StoreLittleEndian<std::int32_t>(image.data() + RecordIDOffset, recordID);
  StoreRecordHash(table.Fields, image);
}

} // namespace nexora

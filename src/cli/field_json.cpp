#include "cli/field_json.h"

#include <cstdio>
#include <map>

#include "cli/text_codec.h"
#include "storage/bcd_value.h"
#include "storage/field_values.h"
#include "storage/record_layout.h"
#include "support/date_time.h"
#include "support/little_endian.h"

namespace nexora::cli {

namespace {

// BCD values are kept with 32 digits, as table creation gives them.
constexpr std::uint8_t BcdPrecision = 32;

bool IsMemo(const TFieldDef &def) { return def.Subtype() == fstMemo || def.Subtype() == 24 || def.Subtype() == 33; }

std::string DateText(std::int32_t dayNumber) {
  int year = 0, month = 0, day = 0;
  DecodeDayNumber(dayNumber, year, month, day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

std::string TimeText(std::int32_t milliseconds) {
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  DecodeMillisecondsOfDay(milliseconds, hour, minute, second, millisecond);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", hour, minute, second, millisecond);
  return text;
}

// "YYYY-MM-DD" exactly.
std::optional<std::int32_t> ParseDate(std::string_view text) {
  int year = 0, month = 0, day = 0, used = 0;
  const std::string copy(text);
  if (text.size() != 10 || std::sscanf(copy.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) != 3 || used != 10 ||
      !IsValidDate(year, month, day)) {
    return std::nullopt;
  }
  return DayNumberOf(year, month, day);
}

// "HH:MM:SS.mmm" exactly.
std::optional<std::int32_t> ParseTime(std::string_view text) {
  int hour = 0, minute = 0, second = 0, millisecond = 0, used = 0;
  const std::string copy(text);
  if (text.size() != 12 ||
      std::sscanf(copy.c_str(), "%2d:%2d:%2d.%3d%n", &hour, &minute, &second, &millisecond, &used) != 4 || used != 12 ||
      !IsValidTime(hour, minute, second, millisecond)) {
    return std::nullopt;
  }
  return MillisecondsOfDay(hour, minute, second, millisecond);
}

std::optional<std::vector<std::uint8_t>> BytesOf(const TJson &value, bool plainStringAllowed) {
  if (value.is_object() && value.size() == 1 && value.contains("base64") && value["base64"].is_string()) {
    return Base64Decode(value["base64"].get<std::string>());
  }
  if (plainStringAllowed && value.is_string()) {
    const std::string text = value.get<std::string>();
    return std::vector<std::uint8_t>(text.begin(), text.end());
  }
  return std::nullopt;
}

TJson BytesJson(const std::vector<std::uint8_t> &bytes) { return TJson{{"base64", Base64Encode(bytes)}}; }

} // namespace

std::string FieldKindName(const TFieldDef &def) {
  switch (def.Type()) {
  case ftcString:
    return def.Subtype() == fstFixedChar    ? "ftFixedChar"
           : def.Subtype() == fstWideString ? "ftWideString"
           : def.Subtype() == fstGuid       ? "ftGuid"
                                            : "ftString";
  case ftcDate:
    return "ftDate";
  case ftcBlob:
    return IsMemo(def) ? "ftMemo" : def.Subtype() == fstGraphic ? "ftGraphic" : "ftBlob";
  case ftcBoolean:
    return "ftBoolean";
  case ftcSmallInt:
    return "ftSmallint";
  case ftcInteger:
    return def.Subtype() == fstAutoInc ? "ftAutoInc" : "ftInteger";
  case ftcFloat:
    return def.Subtype() == fstMoney ? "ftCurrency" : "ftFloat";
  case ftcBCD:
    return "ftBCD";
  case ftcBytes:
    return "ftBytes";
  case ftcTime:
    return "ftTime";
  case ftcDateTime:
    return "ftDateTime";
  case ftcWord:
    return "ftWord";
  case ftcVarBytes:
    return "ftVarBytes";
  case ftcLargeInt:
    return "ftLargeint";
  default:
    return "ftUnknown";
  }
}

std::optional<TFieldKind> FieldKindOf(std::string_view name) {
  static const std::map<std::string, TFieldKind, std::less<>> kinds = {
      {"ftString", {ftcString, fstNone}},
      {"ftSmallint", {ftcSmallInt, fstNone}},
      {"ftInteger", {ftcInteger, fstNone}},
      {"ftWord", {ftcWord, fstNone}},
      {"ftBoolean", {ftcBoolean, fstNone}},
      {"ftFloat", {ftcFloat, fstNone}},
      {"ftCurrency", {ftcFloat, fstMoney}},
      {"ftBCD", {ftcBCD, fstNone}},
      {"ftDate", {ftcDate, fstNone}},
      {"ftTime", {ftcTime, fstNone}},
      {"ftDateTime", {ftcDateTime, fstNone}},
      {"ftBytes", {ftcBytes, fstNone}},
      {"ftVarBytes", {ftcVarBytes, fstNone}},
      {"ftAutoInc", {ftcInteger, fstAutoInc}},
      {"ftBlob", {ftcBlob, fstNone}},
      {"ftMemo", {ftcBlob, fstMemo}},
      {"ftGraphic", {ftcBlob, fstGraphic}},
      {"ftFmtMemo", {ftcBlob, fstMemo}},
      {"ftFixedChar", {ftcString, fstFixedChar}},
      {"ftWideString", {ftcString, fstWideString}},
      {"ftLargeint", {ftcLargeInt, fstNone}},
      {"ftGuid", {ftcString, fstGuid}},
  };
  const auto found = kinds.find(name);
  if (found == kinds.end()) {
    return std::nullopt;
  }
  return found->second;
}

TJson FieldToJson(TDataCursor &cursor, std::int16_t number, std::span<const std::uint8_t> image) {
  const TFieldDef &def = cursor.FieldDef(number);
  if (def.Type() == ftcBlob) {
    std::vector<std::uint8_t> copy(image.begin(), image.end());
    const std::int32_t size = cursor.OpenBlob(number, copy, TBlobMode::Read);
    std::vector<std::uint8_t> value(static_cast<std::size_t>(size));
    cursor.ReadBlob(number, copy, size, value.data(), 0);
    cursor.CloseBlob(number, copy);
    if (image[def.RecordOffset()] == FieldIndicatorNull && value.empty()) {
      return nullptr;
    }
    return IsMemo(def) ? TJson(Windows1252ToUtf8(std::string(value.begin(), value.end()))) : BytesJson(value);
  }
  const TFieldValue value = ReadFieldValue(def, image);
  return std::visit(
      [&](const auto &v) -> TJson {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return nullptr;
        } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>) {
          return v;
        } else if constexpr (std::is_same_v<T, std::string>) {
          return Windows1252ToUtf8(v);
        } else if constexpr (std::is_same_v<T, std::u16string>) {
          return Utf16ToUtf8(v);
        } else if constexpr (std::is_same_v<T, TByteString>) {
          return BytesJson(v);
        } else if constexpr (std::is_same_v<T, TDateValue>) {
          return DateText(v.DayNumber);
        } else if constexpr (std::is_same_v<T, TTimeValue>) {
          return TimeText(v.Milliseconds);
        } else if constexpr (std::is_same_v<T, TDateTimeValue>) {
          std::int32_t day = 0, milliseconds = 0;
          DecodeDateTime(v.Value, day, milliseconds);
          return DateText(day) + "T" + TimeText(milliseconds);
        } else if constexpr (std::is_same_v<T, TBcdValue>) {
          return BcdToText(v).value_or("");
        } else {
          return nullptr;
        }
      },
      value);
}

std::optional<std::string> JsonToField(TDataCursor &cursor, std::int16_t number, std::span<std::uint8_t> image,
                                       const TJson &value) {
  const TFieldDef &def = cursor.FieldDef(number);
  const std::uint32_t locale = cursor.Table().DataFile().GetLocaleId();
  const auto store = [&](const TFieldValue &typed) -> std::optional<std::string> {
    try {
      WriteFieldValue(def, image, typed, locale);
      return std::nullopt;
    } catch (const std::invalid_argument &) {
      return "value out of range for " + FieldKindName(def);
    }
  };
  if (def.Type() == ftcBlob) {
    std::optional<std::vector<std::uint8_t>> bytes;
    if (value.is_null()) {
      bytes.emplace();
    } else if (IsMemo(def) && value.is_string()) {
      const std::optional<std::string> text = Utf8ToWindows1252(value.get<std::string>());
      if (!text) {
        return "text with a character outside Windows-1252";
      }
      bytes.emplace(text->begin(), text->end());
    } else {
      bytes = BytesOf(value, true);
    }
    if (!bytes) {
      return "expected a string or {\"base64\": ...}";
    }
    cursor.OpenBlob(number, image, TBlobMode::ReadWrite, true);
    cursor.TruncateBlob(number, image, 0);
    cursor.WriteBlob(number, image, static_cast<std::int32_t>(bytes->size()), bytes->data(), 0);
    return std::nullopt;
  }
  if (value.is_null()) {
    return store(std::monostate{});
  }
  switch (def.Type()) {
  case ftcString: {
    if (!value.is_string()) {
      return "expected a string";
    }
    const std::string text = value.get<std::string>();
    if (def.Subtype() == fstWideString) {
      const std::optional<std::u16string> units = Utf8ToUtf16(text);
      if (!units || units->size() > def.DeclaredSize()) {
        return units ? "text longer than the field" : "text that is not UTF-8";
      }
      return store(*units);
    }
    const std::optional<std::string> bytes = Utf8ToWindows1252(text);
    if (!bytes) {
      return "text with a character outside Windows-1252";
    }
    if (bytes->size() > def.DeclaredSize()) {
      return "text longer than the field";
    }
    return store(*bytes);
  }
  case ftcBoolean:
    return value.is_boolean() ? store(value.get<bool>()) : std::optional<std::string>("expected true or false");
  case ftcSmallInt:
  case ftcInteger:
  case ftcWord:
  case ftcLargeInt:
    if (!value.is_number_integer()) {
      return "expected an integer";
    }
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
      return "value out of range for " + FieldKindName(def);
    }
    return store(value.get<std::int64_t>());
  case ftcFloat:
    return value.is_number() ? store(value.get<double>()) : std::optional<std::string>("expected a number");
  case ftcBCD: {
    const std::optional<TBcdValue> bcd =
        value.is_string() ? BcdFromText(value.get<std::string>(), BcdPrecision, def.Decimals()) : std::nullopt;
    return bcd ? store(*bcd) : std::optional<std::string>("expected a decimal string that fits the field");
  }
  case ftcDate: {
    const std::optional<std::int32_t> day = value.is_string() ? ParseDate(value.get<std::string>()) : std::nullopt;
    return day ? store(TDateValue{*day}) : std::optional<std::string>("expected \"YYYY-MM-DD\"");
  }
  case ftcTime: {
    const std::optional<std::int32_t> time = value.is_string() ? ParseTime(value.get<std::string>()) : std::nullopt;
    return time ? store(TTimeValue{*time}) : std::optional<std::string>("expected \"HH:MM:SS.mmm\"");
  }
  case ftcDateTime: {
    const std::string text = value.is_string() ? value.get<std::string>() : std::string();
    const std::optional<std::int32_t> day =
        text.size() == 23 && text[10] == 'T' ? ParseDate(std::string_view(text).substr(0, 10)) : std::nullopt;
    const std::optional<std::int32_t> time = day ? ParseTime(std::string_view(text).substr(11)) : std::nullopt;
    return time ? store(TDateTimeValue{EncodeDateTime(*day, *time)})
                : std::optional<std::string>("expected \"YYYY-MM-DDTHH:MM:SS.mmm\"");
  }
  case ftcBytes:
  case ftcVarBytes: {
    const std::optional<std::vector<std::uint8_t>> bytes = BytesOf(value, false);
    if (!bytes) {
      return "expected {\"base64\": ...} with valid base64";
    }
    if (bytes->size() > def.DeclaredSize()) {
      return "more bytes than the field holds";
    }
    return store(TByteString(*bytes));
  }
  default:
    return "a field kind that holds no values";
  }
}

} // namespace nexora::cli

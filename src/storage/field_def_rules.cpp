#include "storage/field_def_rules.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "engine/data_engine.h"
#include "support/date_time.h"
#include "support/short_text.h"

namespace nexora {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one or more digits at text[at] into value (saturating far above any valid
// field); false when there is no digit.
bool ReadDigits(std::string_view text, std::size_t &at, std::int64_t &value) {
  const std::size_t start = at;
  value = 0;
  while (at < text.size() && IsDigit(text[at])) {
    if (value < 1'000'000'000) {
      value = value * 10 + (text[at] - '0');
    }
    ++at;
  }
  return at > start;
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') {
    text.remove_suffix(1);
  }
  return text;
}

} // namespace

// --- names

bool IsValidNameFirstCharacter(char c) {
  const auto code = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (code >= 128 && code <= 254);
}

TFieldNameProblem CheckFieldNameText(std::string_view name) {
  const std::string_view trimmed = TrimView(name);
  if (trimmed.empty()) {
    return TFieldNameProblem::Blank;
  }
  if (!IsValidNameFirstCharacter(trimmed.front())) {
    return TFieldNameProblem::FirstCharacter;
  }
  if (trimmed.size() > TFieldDef::MaxNameLength) {
    return TFieldNameProblem::TooLong;
  }
  return TFieldNameProblem::None;
}

TFieldNameProblem CheckFieldName(const TFieldDef &definition) {
  const TFieldNameProblem problem = CheckFieldNameText(definition.Name());
  if (problem == TFieldNameProblem::None && definition.Bytes()[TFieldDef::NameOffset] > TFieldDef::MaxNameLength) {
    return TFieldNameProblem::TooLong;
  }
  return problem;
}

bool IsSystemFieldName(std::string_view name) {
  return SameFieldName(name, RecordIDFieldName) || SameFieldName(name, RecordHashFieldName);
}

std::string FieldNameKey(std::string_view name) { return UpperText1252(TrimView(name)); }

bool SameFieldName(std::string_view a, std::string_view b) { return SameText(TrimView(a), TrimView(b)); }

// --- sizes

bool HasDeclaredSize(std::uint8_t type) { return type == ftcString || type == ftcBytes || type == ftcVarBytes; }

std::uint16_t DeclaredSizeLimit(std::uint8_t type, std::uint8_t subtype) {
  return type == ftcString && subtype == fstWideString ? MaxDeclaredWideSize : MaxDeclaredSize;
}

void ComputeFieldPhysical(TFieldDef &definition) {
  definition.SetPhysicalDecimals(definition.Decimals());
  definition.SetPhysicalSize(ComputePhysicalSize(definition.Type(), definition.Subtype(), definition.DeclaredSize()));
}

// --- texts

bool IsKeywordText(std::string_view text, std::string_view keyword) { return SameText(TrimView(text), keyword); }

std::optional<std::int32_t> ParseDateText(std::string_view text) {
  text = TrimView(text);
  std::size_t at = 0;
  std::int64_t year = 0;
  std::int64_t month = 0;
  std::int64_t day = 0;
  if (!ReadDigits(text, at, year) || at >= text.size() || text[at++] != '-' || !ReadDigits(text, at, month) ||
      at >= text.size() || text[at++] != '-' || !ReadDigits(text, at, day) || at != text.size()) {
    return std::nullopt;
  }
  const std::int32_t dayNumber = DayNumberOf(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
  if (dayNumber == 0) {
    return std::nullopt;
  }
  return dayNumber;
}

std::optional<std::int32_t> ParseTimeText(std::string_view text) {
  text = TrimView(text);
  // An "AM" or "PM" suffix, with or without a blank before it.
  int meridiem = 0; // 1 AM, 2 PM
  if (text.size() >= 2) {
    const std::string suffix = UpperText1252(text.substr(text.size() - 2));
    if (suffix == "AM" || suffix == "PM") {
      meridiem = suffix == "AM" ? 1 : 2;
      text = TrimView(text.substr(0, text.size() - 2));
    }
  }
  std::size_t at = 0;
  std::int64_t hour = 0;
  std::int64_t minute = 0;
  std::int64_t second = 0;
  std::int64_t millisecond = 0;
  if (!ReadDigits(text, at, hour) || at >= text.size() || text[at++] != ':' || !ReadDigits(text, at, minute)) {
    return std::nullopt;
  }
  if (at < text.size()) {
    if (text[at++] != ':' || !ReadDigits(text, at, second)) {
      return std::nullopt;
    }
    if (at < text.size() && (text[at++] != '.' || !ReadDigits(text, at, millisecond))) {
      return std::nullopt;
    }
  }
  if (at != text.size()) {
    return std::nullopt;
  }
  if (meridiem != 0) {
    if (hour > 12) {
      return std::nullopt;
    }
    hour = hour % 12 + (meridiem == 2 ? 12 : 0);
  }
  const std::int32_t milliseconds = MillisecondsOfDay(static_cast<int>(hour), static_cast<int>(minute),
                                                      static_cast<int>(second), static_cast<int>(millisecond));
  if (milliseconds < 0) {
    return std::nullopt;
  }
  return milliseconds;
}

std::optional<double> ParseDateTimeText(std::string_view text) {
  text = TrimView(text);
  const std::size_t blank = text.find(' ');
  if (blank != std::string_view::npos) {
    const auto date = ParseDateText(text.substr(0, blank));
    const auto time = date ? ParseTimeText(text.substr(blank + 1)) : std::nullopt;
    if (date && time) {
      return EncodeDateTime(*date, *time);
    }
  }
  if (const auto date = ParseDateText(text)) {
    return EncodeDateTime(*date, 0);
  }
  if (const auto time = ParseTimeText(text)) {
    return EncodeDateTime(DayNumber18991230, *time);
  }
  return std::nullopt;
}

std::optional<bool> ParseBooleanText(std::string_view text) {
  if (IsKeywordText(text, "TRUE")) {
    return true;
  }
  if (IsKeywordText(text, "FALSE")) {
    return false;
  }
  return std::nullopt;
}

std::optional<std::int64_t> ParseIntegerText(std::string_view text, std::int64_t minimum, std::int64_t maximum) {
  text = TrimView(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  std::uint64_t magnitude = 0;
  for (const char c : text) {
    if (!IsDigit(c)) {
      return std::nullopt;
    }
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
      return std::nullopt;
    }
    magnitude = magnitude * 10 + digit;
  }
  // |INT64_MIN| is one more than INT64_MAX.
  constexpr std::uint64_t maxMagnitude = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (magnitude > maxMagnitude + (negative ? 1 : 0)) {
    return std::nullopt;
  }
  const std::int64_t value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  if (value < minimum || value > maximum) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> ParseFloatText(std::string_view text) {
  text = TrimView(text);
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    ++at;
  }
  std::size_t digits = 0;
  while (at < text.size() && IsDigit(text[at])) {
    ++at;
    ++digits;
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && IsDigit(text[at])) {
      ++at;
      ++digits;
    }
  }
  if (digits == 0) {
    return std::nullopt;
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
      ++at;
    }
    std::size_t exponentDigits = 0;
    while (at < text.size() && IsDigit(text[at])) {
      ++at;
      ++exponentDigits;
    }
    if (exponentDigits == 0) {
      return std::nullopt;
    }
  }
  if (at != text.size()) {
    return std::nullopt;
  }
  // from_chars takes no leading "+".
  std::string_view number = text;
  if (number.front() == '+') {
    number.remove_prefix(1);
  }
  double value = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec != std::errc{} || result.ptr != number.data() + number.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

bool IsValidValueText(std::uint8_t type, std::string_view text) {
  if (text.empty()) {
    return true;
  }
  switch (type) {
  case ftcBlob:
    return false;
  case ftcString:
  case ftcBytes:
  case ftcVarBytes:
    return true;
  case ftcDate:
    return IsKeywordText(text, CurrentDateText) || ParseDateText(text).has_value();
  case ftcTime:
    return IsKeywordText(text, CurrentTimeText) || ParseTimeText(text).has_value();
  case ftcDateTime:
    return IsKeywordText(text, CurrentTimestampText) || IsKeywordText(text, CurrentDateText) ||
           IsKeywordText(text, CurrentTimeText) || ParseDateTimeText(text).has_value();
  case ftcBoolean:
    return ParseBooleanText(text).has_value();
  case ftcSmallInt:
    return ParseIntegerText(text, -32768, 32767).has_value();
  case ftcWord:
    return ParseIntegerText(text, 0, 65535).has_value();
  case ftcInteger:
    return ParseIntegerText(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max())
        .has_value();
  case ftcLargeInt:
    return ParseIntegerText(text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max())
        .has_value();
  case ftcFloat:
  case ftcBCD:
    return ParseFloatText(text).has_value();
  default:
    return true;
  }
}

// --- table creation

TDefinitionFailure CheckTableDefinition(const TTableSettings &settings, std::span<TFieldDef> fields) {
  const auto tableFailure = [](TErrorCode code) { return TDefinitionFailure{code, 0, {}}; };
  if (fields.empty() || fields.size() > static_cast<std::size_t>(MaxFieldCount)) {
    return tableFailure(NEXORA_FLDLIMIT);
  }
  if (settings.IndexPageSize < MinIndexPageSize || settings.IndexPageSize > MaxIndexPageSize) {
    return tableFailure(NEXORA_INDEXLIMIT);
  }
  if (settings.SecondaryIndexCount > MaxSecondaryIndexCount) {
    return tableFailure(NEXORA_INDEXLIMIT);
  }
  if (settings.BlobBlockSize < MinBlobBlockSize || settings.BlobBlockSize > MaxBlobBlockSize) {
    return tableFailure(NEXORA_BLOBLIMIT);
  }
  if (settings.Encrypted) {
    const std::string_view password = TrimView(settings.Password);
    if (password.empty() || password.size() > MaxTablePasswordLength) {
      return tableFailure(NEXORA_INVALIDPASSWORD);
    }
  }
  if (!TDataEngine::IsLocaleAvailable(settings.LocaleId)) {
    return tableFailure(NEXORA_CANNOTLOADLDDRV);
  }

  // A name or number that two definitions share is refused at the first of them.
  std::unordered_map<std::string, std::int32_t> nameCount;
  std::unordered_map<std::uint16_t, std::int32_t> numberCount;
  for (const TFieldDef &field : fields) {
    ++nameCount[FieldNameKey(field.Name())];
    ++numberCount[field.Number()];
  }
  std::int32_t runningOffset = FirstFieldRecordOffset;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDef &field = fields[i];
    const auto position = static_cast<std::int32_t>(i + 1);
    const std::string name = TrimText(field.Name());
    const auto fieldFailure = [&](TErrorCode code) { return TDefinitionFailure{code, position, name}; };
    if (CheckFieldName(field) != TFieldNameProblem::None || IsSystemFieldName(name) ||
        nameCount[FieldNameKey(name)] > 1) {
      return fieldFailure(NEXORA_INVALIDFIELDNAME);
    }
    field.SetName(name);
    if (numberCount[field.Number()] > 1 || field.Type() == ftcInvalid) {
      return fieldFailure(NEXORA_INVALIDFLDTYPE);
    }
    if (HasDeclaredSize(field.Type())) {
      if (field.DeclaredSize() < 1 || field.DeclaredSize() > DeclaredSizeLimit(field.Type(), field.Subtype())) {
        return fieldFailure(NEXORA_INVALIDFLDTYPE);
      }
    } else {
      field.SetDeclaredSize(0);
    }
    if (!IsValidValueText(field.Type(), field.Default()) || !IsValidValueText(field.Type(), field.Minimum()) ||
        !IsValidValueText(field.Type(), field.Maximum())) {
      return fieldFailure(NEXORA_INVALIDVCHKSTRUCT);
    }
    const std::uint8_t level = field.CompressionLevel();
    if (level != 0 && (field.Type() != ftcBlob || level > 9)) {
      return fieldFailure(NEXORA_INVALIDFLDTYPE);
    }
    if (field.Type() != ftcBCD) {
      field.SetDecimals(0);
    }
    ComputeFieldPhysical(field);
    // Past 65535 the offset no longer fits its 16 bits; SetFieldDefs refuses such a
    // record with 9477 before anything is stored.
    field.SetRecordOffset(static_cast<std::uint16_t>(runningOffset));
    runningOffset += field.PhysicalSize() + 1;
  }
  return {};
}

void RaiseDefinitionFailure(TDataEngine &engine, const TDefinitionFailure &failure, const std::string &tableName,
                            const std::string &databaseName) {
  engine.RaiseError(failure.Code,
                    {.DatabaseName = databaseName, .TableName = tableName, .FieldName = failure.FieldName});
}

} // namespace nexora

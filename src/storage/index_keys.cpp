#include "storage/index_keys.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>

#include "engine/data_locale.h"
#include "storage/bcd_value.h"
#include "storage/record_layout.h"

namespace nexora {

namespace {

constexpr std::int32_t RecordIDKeySize = 4;
constexpr std::int32_t BcdKeySize = 8;
constexpr std::int64_t BcdKeyScaleDigits = 4;

TFieldDef MakeSystemField(std::int16_t number, std::uint8_t type, std::uint8_t subtype, std::size_t offset,
                          std::size_t size, std::string_view name) {
  TFieldDef def;
  def.SetNumber(static_cast<std::uint16_t>(number));
  def.SetName(name);
  def.SetType(type);
  def.SetSubtype(subtype);
  def.SetDeclaredSize(static_cast<std::uint16_t>(size));
  def.SetPhysicalSize(static_cast<std::uint16_t>(size));
  def.SetRecordOffset(static_cast<std::uint16_t>(offset));
  return def;
}

const TFieldDef &RecordIDField() {
  static const TFieldDef def = MakeSystemField(RecordIDFieldNumber, ftcInteger, fstNone, RecordIDOffset, 4, "RecordID");
  return def;
}

const TFieldDef &RecordHashField() {
  static const TFieldDef def =
      MakeSystemField(RecordHashFieldNumber, ftcBytes, fstRecordHash, RecordHashOffset, RecordHashSize, "RecordHash");
  return def;
}

bool IsSystemField(std::int16_t number) { return number == RecordIDFieldNumber || number == RecordHashFieldNumber; }

template <typename T> void StoreBigEndian(std::uint8_t *key, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    key[i] = static_cast<std::uint8_t>(value >> (8 * (sizeof(T) - 1 - i)));
  }
}

// The text of a string slot: up to its first zero byte.
std::string_view SlotText(const std::uint8_t *value, std::int32_t size) {
  const auto *text = reinterpret_cast<const char *>(value);
  const auto *end = static_cast<const char *>(std::memchr(text, 0, static_cast<std::size_t>(size)));
  return {text, end != nullptr ? static_cast<std::size_t>(end - text) : static_cast<std::size_t>(size)};
}

void StoreKeyString(const TKeyLayout &layout, const TKeySegment &segment, const std::uint8_t *value,
                    std::uint8_t *key) {
  // Wide strings are kept as their bytes; the zero-terminated texts room for size - 1.
  if (segment.Subtype == fstWideString) {
    std::memcpy(key, value, static_cast<std::size_t>(std::min(segment.ValueSize, segment.KeySize)));
    return;
  }
  std::string_view text = SlotText(value, segment.ValueSize);
  std::string upper;
  if (layout.CaseInsensitive) {
    upper = UpperLocaleText(layout.LocaleId, text);
    text = upper;
  }
  const std::size_t room = static_cast<std::size_t>(std::max(segment.KeySize - 1, 0));
  std::memcpy(key, text.data(), std::min(text.size(), room));
}

void StoreKeyValue(const TKeyLayout &layout, const TKeySegment &segment, const std::uint8_t *value, std::uint8_t *key) {
  switch (segment.Type) {
  case ftcString:
    StoreKeyString(layout, segment, value, key);
    return;
  case ftcDate:
  case ftcInteger:
  case ftcTime:
    StoreKeyInt32(key, LoadLittleEndian<std::int32_t>(value));
    return;
  case ftcSmallInt:
    StoreKeyInt16(key, LoadLittleEndian<std::int16_t>(value));
    return;
  case ftcBoolean:
  case ftcWord:
    StoreKeyUInt16(key, LoadLittleEndian<std::uint16_t>(value));
    return;
  case ftcFloat:
  case ftcDateTime:
    StoreKeyDouble(key, LoadLittleEndian<double>(value));
    return;
  case ftcBCD:
    StoreKeyInt64(key, BcdKeyValue(value));
    return;
  case ftcLargeInt:
    StoreKeyInt64(key, LoadLittleEndian<std::int64_t>(value));
    return;
  default:
    std::memcpy(key, value, static_cast<std::size_t>(std::min(segment.ValueSize, segment.KeySize)));
    return;
  }
}

int Sign(int value) { return (value > 0) - (value < 0); }

int CompareBytes(const std::uint8_t *a, const std::uint8_t *b, std::int32_t length) {
  return length > 0 ? Sign(std::memcmp(a, b, static_cast<std::size_t>(length))) : 0;
}

// Zero-terminated texts within `length` bytes: collation of the locale, bytes for locale 0.
int CompareKeyText(std::uint32_t localeId, bool ignoreCase, const std::uint8_t *a, const std::uint8_t *b,
                   std::int32_t length) {
  if (length <= 0) {
    return 0;
  }
  if (localeId == AnsiStandardLocaleId) {
    return CompareBytes(a, b, length);
  }
  return Sign(CompareLocaleText(localeId, SlotText(a, length), SlotText(b, length), ignoreCase));
}

int CompareTextIndexKeys(const TKeyLayout &layout, const std::uint8_t *a, const std::uint8_t *b, std::int32_t length) {
  const std::int32_t head = std::min<std::int32_t>(length, TextKeyWordOffset);
  if (const int result = CompareBytes(a, b, head)) {
    return result;
  }
  const std::int32_t word = std::min<std::int32_t>(length - head, TextKeyWordField);
  if (const int result = CompareKeyText(layout.LocaleId, true, a + TextKeyWordOffset, b + TextKeyWordOffset, word)) {
    return result;
  }
  const std::int32_t tail =
      std::min<std::int32_t>(length, layout.KeyLength) - static_cast<std::int32_t>(TextKeyRecordIDOffset);
  return CompareBytes(a + TextKeyRecordIDOffset, b + TextKeyRecordIDOffset, tail);
}

int CompareSegment(const TKeyLayout &layout, const TKeySegment &segment, const std::uint8_t *a, const std::uint8_t *b,
                   std::int32_t available) {
  if (const int result = CompareBytes(a, b, std::min(available, 1))) {
    return result;
  }
  const std::int32_t bytes = std::min(available - 1, segment.KeySize);
  if (segment.Type == ftcString && segment.Subtype != fstWideString) {
    return CompareKeyText(layout.LocaleId, layout.CaseInsensitive, a + 1, b + 1, bytes);
  }
  return CompareBytes(a + 1, b + 1, bytes);
}

} // namespace

const TFieldDef *KeyFieldDef(const TIndexFileContext &context, std::int16_t number) {
  if (number == RecordIDFieldNumber) {
    return &RecordIDField();
  }
  if (number == RecordHashFieldNumber) {
    return &RecordHashField();
  }
  return number >= 1 ? context.FieldDef(number) : nullptr;
}

std::int32_t FieldKeySize(const TFieldDef &field) {
  const auto number = static_cast<std::int16_t>(field.Number());
  if (number == RecordIDFieldNumber) {
    return RecordIDKeySize;
  }
  if (number == RecordHashFieldNumber) {
    return static_cast<std::int32_t>(RecordHashSize);
  }
  return field.Type() == ftcBCD ? BcdKeySize : field.PhysicalSize();
}

std::optional<std::int32_t> KeyFieldsLength(const TIndexDef &def, const TIndexFileContext &context) {
  if (def.FieldCount() < 1 || def.FieldCount() > MaxKeyFields) {
    return std::nullopt;
  }
  std::int32_t length = 0;
  for (std::size_t i = 0; i < def.FieldCount(); ++i) {
    const TFieldDef *field = KeyFieldDef(context, def.FieldNumber(i));
    if (field == nullptr) {
      return std::nullopt;
    }
    length += FieldKeySize(*field) + 1;
  }
  return length;
}

std::optional<TKeyLayout> TKeyLayout::ForIndex(const TIndexDef &def, const TIndexFileContext &context) {
  const std::optional<std::int32_t> fieldsLength = KeyFieldsLength(def, context);
  if (!fieldsLength) {
    return std::nullopt;
  }
  TKeyLayout layout;
  layout.LocaleId = context.LocaleId();
  layout.Unique = def.Unique();
  layout.CaseInsensitive = def.CaseInsensitive();
  layout.KeyLength = *fieldsLength + (def.Unique() ? 0 : KeyRecordIDSize);
  std::int32_t keyOffset = 0;
  for (std::size_t i = 0; i < def.FieldCount(); ++i) {
    const std::int16_t number = def.FieldNumber(i);
    const TFieldDef &field = *KeyFieldDef(context, number);
    if (field.Type() == ftcBlob) {
      return std::nullopt;
    }
    TKeySegment segment;
    segment.FieldNumber = number;
    segment.Type = field.Type();
    segment.Subtype = field.Subtype();
    if (IsSystemField(number)) {
      segment.ValueOffset = field.RecordOffset();
    } else {
      segment.IndicatorOffset = field.RecordOffset();
      segment.ValueOffset = field.RecordOffset() + 1;
    }
    segment.ValueSize = field.PhysicalSize();
    segment.KeyOffset = keyOffset;
    segment.KeySize = FieldKeySize(field);
    segment.Descending = def.Descending() || def.FieldDescending(i);
    keyOffset += segment.KeySize + 1;
    layout.Segments.push_back(segment);
  }
  return layout;
}

TKeyLayout TKeyLayout::ForTextIndex(std::uint32_t localeId) {
  TKeyLayout layout;
  layout.KeyLength = TextKeyLength;
  layout.LocaleId = localeId;
  layout.Unique = false;
  layout.CaseInsensitive = true;
  layout.FullText = true;
  return layout;
}

void BuildKey(const TKeyLayout &layout, std::span<const std::uint8_t> record, std::uint8_t *key) {
  std::memset(key, 0, static_cast<std::size_t>(layout.KeyLength));
  const auto fits = [&](std::int64_t offset, std::int64_t size) {
    return offset >= 0 && offset + size <= static_cast<std::int64_t>(record.size());
  };
  for (const TKeySegment &segment : layout.Segments) {
    if (!fits(segment.ValueOffset, segment.ValueSize)) {
      continue;
    }
    if (segment.IndicatorOffset >= 0 && record[static_cast<std::size_t>(segment.IndicatorOffset)] == 0) {
      continue;
    }
    key[segment.KeyOffset] = FieldIndicatorValue;
    StoreKeyValue(layout, segment, record.data() + segment.ValueOffset, key + segment.KeyOffset + 1);
  }
  if (!layout.Unique && layout.KeyLength >= KeyRecordIDSize && fits(RecordIDOffset, KeyRecordIDSize)) {
    StoreKeyInt32(key + layout.KeyLength - KeyRecordIDSize,
                  LoadLittleEndian<std::int32_t>(record.data() + RecordIDOffset));
  }
}

void BuildTextKey(std::uint32_t localeId, std::int16_t fieldNumber, std::string_view word, std::int32_t recordID,
                  std::uint8_t *key) {
  std::memset(key, 0, TextKeyLength);
  key[0] = FieldIndicatorValue;
  StoreBigEndian(key + TextKeyFieldOffset, static_cast<std::uint16_t>(fieldNumber));
  const std::string upper = UpperLocaleText(localeId, word);
  std::memcpy(key + TextKeyWordOffset, upper.data(), std::min<std::size_t>(upper.size(), MaxTextWordLength));
  StoreKeyInt32(key + TextKeyRecordIDOffset, recordID);
}

int CompareKeys(const TKeyLayout &layout, const std::uint8_t *a, const std::uint8_t *b, std::int32_t length) {
  length = std::min(length, layout.KeyLength);
  if (layout.FullText) {
    return CompareTextIndexKeys(layout, a, b, length);
  }
  std::int32_t end = 0;
  for (const TKeySegment &segment : layout.Segments) {
    const std::int32_t available = std::min(length - segment.KeyOffset, segment.KeySize + 1);
    if (available <= 0) {
      return 0;
    }
    const int result = CompareSegment(layout, segment, a + segment.KeyOffset, b + segment.KeyOffset, available);
    if (result != 0) {
      return segment.Descending ? -result : result;
    }
    end = segment.KeyOffset + segment.KeySize + 1;
  }
  return CompareBytes(a + end, b + end, length - end);
}

void StoreKeyInt16(std::uint8_t *key, std::int16_t value) {
  StoreBigEndian(key, static_cast<std::uint16_t>(static_cast<std::uint16_t>(value) ^ 0x8000U));
}

void StoreKeyUInt16(std::uint8_t *key, std::uint16_t value) { StoreBigEndian(key, value); }

void StoreKeyInt32(std::uint8_t *key, std::int32_t value) {
  StoreBigEndian(key, static_cast<std::uint32_t>(value) ^ 0x8000'0000U);
}

void StoreKeyInt64(std::uint8_t *key, std::int64_t value) {
  StoreBigEndian(key, static_cast<std::uint64_t>(value) ^ 0x8000'0000'0000'0000ULL);
}

void StoreKeyDouble(std::uint8_t *key, double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  StoreBigEndian(key, value >= 0 ? bits | 0x8000'0000'0000'0000ULL : ~bits);
}

std::int64_t BcdKeyValue(const std::uint8_t *bcd) {
  const std::int32_t precision = bcd[BcdPrecisionOffset];
  const std::int32_t scale = bcd[BcdSignScaleOffset] & BcdScaleMask;
  if (precision > BcdMaxDigits || scale > precision) {
    return 0;
  }
  // Digits up to the fourth after the point make the integer; the next one rounds it.
  const std::int32_t kept =
      precision - scale + static_cast<std::int32_t>(std::min<std::int64_t>(scale, BcdKeyScaleDigits));
  constexpr auto Limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t magnitude = 0;
  bool saturated = false;
  bool roundUp = false;
  for (std::int32_t i = 0; i < precision; ++i) {
    const std::uint8_t packed = bcd[BcdDigitsOffset + static_cast<std::size_t>(i / 2)];
    const std::uint8_t digit = i % 2 == 0 ? packed >> 4 : packed & 0x0F;
    if (digit > 9) {
      return 0;
    }
    if (i < kept) {
      saturated = saturated || magnitude > (Limit - digit) / 10;
      magnitude = saturated ? Limit : magnitude * 10 + digit;
    } else if (i == kept) {
      roundUp = digit >= 5;
    }
  }
  for (std::int64_t i = scale; i < BcdKeyScaleDigits; ++i) {
    saturated = saturated || magnitude > Limit / 10;
    magnitude = saturated ? Limit : magnitude * 10;
  }
  if (roundUp && magnitude < Limit) {
    ++magnitude;
  }
  const auto value = static_cast<std::int64_t>(magnitude);
  return (bcd[BcdSignScaleOffset] & BcdNegativeBit) != 0 ? -value : value;
}

} // namespace nexora

#include "storage/field_values.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "engine/data_locale.h"
#include "platform/os/windows1252.h"
#include "storage/record_layout.h"
#include "support/short_text.h"

namespace nexora {

namespace {

constexpr std::uint8_t CharCaseLower = 1;
constexpr std::uint8_t CharCaseUpper = 2;
constexpr std::size_t BlobFirstBlockSize = 4;
constexpr std::uint8_t Blank = ' ';

bool IsSystemField(const TFieldDef &def) { return static_cast<std::int16_t>(def.Number()) < 0; }

bool HasPlace(const TFieldDef &def) { return IsSystemField(def) || def.RecordOffset() >= RecordFieldsOffset; }

// Types of one fixed width must have exactly that physical size, strings room for the
// terminator; a damaged definition raises instead of overrunning a value buffer.
void CheckShape(const TFieldDef &def) {
  bool sound = true;
  switch (def.Type()) {
  case ftcString:
    sound = def.PhysicalSize() >= 1;
    break;
  case ftcBytes:
  case ftcVarBytes:
    break;
  default:
    sound =
        IsSystemField(def) || def.PhysicalSize() == ComputePhysicalSize(def.Type(), def.Subtype(), def.DeclaredSize());
    break;
  }
  if (!sound) {
    throw std::out_of_range("field " + def.Name() + " has a damaged size");
  }
}

// The slot's bytes: the value bytes alone for a system field, else indicator and value.
template <typename Byte> std::span<Byte> Slot(const TFieldDef &def, std::span<Byte> image) {
  CheckShape(def);
  const std::size_t length = def.PhysicalSize() + (IsSystemField(def) ? 0 : 1);
  if (def.RecordOffset() > image.size() || length > image.size() - def.RecordOffset()) {
    throw std::out_of_range("field " + def.Name() + " lies outside the record");
  }
  return image.subspan(def.RecordOffset(), length);
}

// Windows-1252 lower-casing, the inverse of UpperChar1252.
char LowerChar1252(char c) {
  const auto byte = static_cast<std::uint8_t>(c);
  if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7)) {
    return static_cast<char>(byte + 0x20);
  }
  switch (byte) {
  case 0x8A:
  case 0x8C:
  case 0x8E:
    return static_cast<char>(byte + 0x10);
  case 0x9F:
    return static_cast<char>(0xFF);
  default:
    return c;
  }
}

std::string ApplyCharCase(std::uint8_t charCase, std::uint32_t localeId, std::string text) {
  if (charCase == CharCaseUpper) {
    return UpperLocaleText(localeId, text);
  }
  if (charCase == CharCaseLower) {
    std::transform(text.begin(), text.end(), text.begin(), LowerChar1252);
  }
  return text;
}

// Wide strings change case on the characters that have a Windows-1252 byte.
char16_t ApplyWideCharCase(std::uint8_t charCase, char16_t unit) {
  const auto byte = Windows1252Byte(unit);
  if (!byte || (charCase != CharCaseUpper && charCase != CharCaseLower)) {
    return unit;
  }
  const char changed = charCase == CharCaseUpper ? UpperChar1252(*byte) : LowerChar1252(*byte);
  return Windows1252ToUtf16(std::string_view(&changed, 1)).front();
}

void StoreString(const TFieldDef &def, std::span<std::uint8_t> valueBytes, const std::uint8_t *value,
                 std::uint32_t localeId) {
  const std::size_t capacity = valueBytes.size() - 1;
  std::string text(reinterpret_cast<const char *>(value), ::strnlen(reinterpret_cast<const char *>(value), capacity));
  if (def.Subtype() != fstFixedChar) {
    text.erase(text.find_last_not_of(static_cast<char>(Blank)) + 1);
  }
  text = ApplyCharCase(def.CharCase(), localeId, std::move(text));
  std::memcpy(valueBytes.data(), text.data(), std::min(text.size(), capacity));
}

void StoreWideString(const TFieldDef &def, std::span<std::uint8_t> valueBytes, const std::uint8_t *value) {
  const std::size_t capacity = (valueBytes.size() - 1) / 2;
  std::u16string text;
  for (std::size_t i = 0; i < capacity; ++i) {
    const auto unit = LoadLittleEndian<char16_t>(value + 2 * i);
    if (unit == 0) {
      break;
    }
    text += unit;
  }
  text.erase(text.find_last_not_of(static_cast<char16_t>(Blank)) + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    StoreLittleEndian<char16_t>(valueBytes.data() + 2 * i, ApplyWideCharCase(def.CharCase(), text[i]));
  }
}

bool StoreValueBytes(const TFieldDef &def, std::span<std::uint8_t> valueBytes, const std::uint8_t *value,
                     std::uint32_t localeId) {
  switch (def.Type()) {
  case ftcString:
    if (valueBytes.empty()) {
      return false;
    }
    if (def.Subtype() == fstWideString) {
      StoreWideString(def, valueBytes, value);
      return valueBytes.size() >= 2 && (valueBytes[0] != 0 || valueBytes[1] != 0);
    }
    StoreString(def, valueBytes, value, localeId);
    return valueBytes[0] != 0;
  case ftcBlob: {
    std::memcpy(valueBytes.data(), value, BlobFirstBlockSize);
    return LoadLittleEndian<std::int32_t>(value) != 0;
  }
  case ftcBoolean:
    StoreLittleEndian<std::uint16_t>(valueBytes.data(), LoadLittleEndian<std::uint16_t>(value) != 0 ? 1 : 0);
    return true;
  default:
    std::memcpy(valueBytes.data(), value, valueBytes.size());
    return true;
  }
}

[[noreturn]] void RaiseUnsuited(const TFieldDef &def) {
  throw std::invalid_argument("value does not suit field " + def.Name());
}

template <typename T> const T &Expect(const TFieldDef &def, const TFieldValue &value) {
  const T *typed = std::get_if<T>(&value);
  if (typed == nullptr) {
    RaiseUnsuited(def);
  }
  return *typed;
}

template <typename T> void StoreInteger(const TFieldDef &def, std::uint8_t *bytes, const TFieldValue &value) {
  const std::int64_t number = Expect<std::int64_t>(def, value);
  if (number < std::numeric_limits<T>::min() || number > std::numeric_limits<T>::max()) {
    RaiseUnsuited(def);
  }
  StoreLittleEndian<T>(bytes, static_cast<T>(number));
}

// The value bytes SetField takes for a typed value; `bytes` holds FieldValueSize bytes
// plus a terminator for texts.
void EncodeValue(const TFieldDef &def, const TFieldValue &value, std::vector<std::uint8_t> &bytes) {
  std::uint8_t *at = bytes.data();
  switch (def.Type()) {
  case ftcString:
    if (def.Subtype() == fstWideString) {
      const auto &text = Expect<std::u16string>(def, value);
      for (std::size_t i = 0; i < text.size() && 2 * i + 1 < bytes.size(); ++i) {
        StoreLittleEndian<char16_t>(at + 2 * i, text[i]);
      }
    } else {
      const auto &text = Expect<std::string>(def, value);
      std::memcpy(at, text.data(), std::min(text.size(), bytes.size() - 1));
    }
    return;
  case ftcDate:
    StoreLittleEndian<std::int32_t>(at, Expect<TDateValue>(def, value).DayNumber);
    return;
  case ftcTime:
    StoreLittleEndian<std::int32_t>(at, Expect<TTimeValue>(def, value).Milliseconds);
    return;
  case ftcDateTime:
    StoreLittleEndian<double>(at, Expect<TDateTimeValue>(def, value).Value);
    return;
  case ftcBlob:
    StoreLittleEndian<std::int32_t>(at, Expect<TBlobSlotValue>(def, value).FirstBlock);
    return;
  case ftcBoolean:
    StoreLittleEndian<std::uint16_t>(at, Expect<bool>(def, value) ? 1 : 0);
    return;
  case ftcSmallInt:
    StoreInteger<std::int16_t>(def, at, value);
    return;
  case ftcWord:
    StoreInteger<std::uint16_t>(def, at, value);
    return;
  case ftcInteger:
    StoreInteger<std::int32_t>(def, at, value);
    return;
  case ftcLargeInt:
    StoreInteger<std::int64_t>(def, at, value);
    return;
  case ftcFloat:
    StoreLittleEndian<double>(at, Expect<double>(def, value));
    return;
  case ftcBCD:
    std::memcpy(at, Expect<TBcdValue>(def, value).Bytes.data(), std::min(BcdSize, FieldValueSize(def)));
    return;
  case ftcVarBytes: {
    const auto &data = Expect<TByteString>(def, value);
    const std::size_t room = FieldValueSize(def) > VarBytesLengthSize ? FieldValueSize(def) - VarBytesLengthSize : 0;
    const std::size_t length = std::min(data.size(), room);
    if (FieldValueSize(def) >= VarBytesLengthSize) {
      StoreLittleEndian<std::uint16_t>(at, static_cast<std::uint16_t>(length));
      std::memcpy(at + VarBytesLengthSize, data.data(), length);
    }
    return;
  }
  default: {
    const auto &data = Expect<TByteString>(def, value);
    std::memcpy(at, data.data(), std::min(data.size(), FieldValueSize(def)));
    return;
  }
  }
}

TFieldValue DecodeValue(const TFieldDef &def, const std::uint8_t *bytes) {
  const std::size_t size = FieldValueSize(def);
  switch (def.Type()) {
  case ftcString:
    if (def.Subtype() == fstWideString) {
      std::u16string text;
      for (std::size_t i = 0; 2 * i + 1 < size; ++i) {
        const auto unit = LoadLittleEndian<char16_t>(bytes + 2 * i);
        if (unit == 0) {
          break;
        }
        text += unit;
      }
      return text;
    }
    return std::string(reinterpret_cast<const char *>(bytes), ::strnlen(reinterpret_cast<const char *>(bytes), size));
  case ftcDate:
    return TDateValue{LoadLittleEndian<std::int32_t>(bytes)};
  case ftcTime:
    return TTimeValue{LoadLittleEndian<std::int32_t>(bytes)};
  case ftcDateTime:
    return TDateTimeValue{LoadLittleEndian<double>(bytes)};
  case ftcBlob:
    return TBlobSlotValue{LoadLittleEndian<std::int32_t>(bytes)};
  case ftcBoolean:
    return LoadLittleEndian<std::uint16_t>(bytes) != 0;
  case ftcSmallInt:
    return std::int64_t{LoadLittleEndian<std::int16_t>(bytes)};
  case ftcWord:
    return std::int64_t{LoadLittleEndian<std::uint16_t>(bytes)};
  case ftcInteger:
    return std::int64_t{LoadLittleEndian<std::int32_t>(bytes)};
  case ftcLargeInt:
    return LoadLittleEndian<std::int64_t>(bytes);
  case ftcFloat:
    return LoadLittleEndian<double>(bytes);
  case ftcBCD: {
    TBcdValue bcd;
    std::memcpy(bcd.Bytes.data(), bytes, std::min(BcdSize, size));
    return bcd;
  }
  case ftcVarBytes: {
    if (size < VarBytesLengthSize) {
      return TByteString{};
    }
    // A damaged length is clamped to the slot.
    const std::size_t length = std::min<std::size_t>(LoadLittleEndian<std::uint16_t>(bytes), size - VarBytesLengthSize);
    return TByteString(bytes + VarBytesLengthSize, bytes + VarBytesLengthSize + length);
  }
  default:
    return TByteString(bytes, bytes + size);
  }
}

} // namespace

std::size_t FieldValueSize(const TFieldDef &def) {
  return def.Type() == ftcBlob && !IsSystemField(def) ? BlobFirstBlockSize : def.PhysicalSize();
}

bool GetField(const TFieldDef &def, std::span<const std::uint8_t> image, std::uint8_t *value) {
  if (!HasPlace(def)) {
    std::memset(value, 0, FieldValueSize(def));
    return false;
  }
  const auto slot = Slot(def, image);
  if (IsSystemField(def)) {
    std::memcpy(value, slot.data(), slot.size());
    return true;
  }
  std::memcpy(value, slot.data() + 1, FieldValueSize(def));
  return slot[0] != FieldIndicatorNull;
}

void SetField(const TFieldDef &def, std::span<std::uint8_t> image, const std::uint8_t *value, std::uint32_t localeId) {
  if (!HasPlace(def) || IsSystemField(def)) {
    return;
  }
  const auto slot = Slot(def, image);
  const auto valueBytes = slot.subspan(1);
  if (value == nullptr) {
    std::fill_n(valueBytes.begin(), std::min(FieldValueSize(def), valueBytes.size()), 0);
    slot[0] = FieldIndicatorNull;
    return;
  }
  if (def.Type() == ftcString) {
    std::fill(valueBytes.begin(), valueBytes.end(), 0);
  }
  slot[0] = StoreValueBytes(def, valueBytes, value, localeId) ? FieldIndicatorValue : FieldIndicatorNull;
}

TFieldValue ReadFieldValue(const TFieldDef &def, std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> bytes(FieldValueSize(def));
  if (!GetField(def, image, bytes.data())) {
    return std::monostate{};
  }
  return DecodeValue(def, bytes.data());
}

void WriteFieldValue(const TFieldDef &def, std::span<std::uint8_t> image, const TFieldValue &value,
                     std::uint32_t localeId) {
  if (IsNull(value)) {
    SetField(def, image, nullptr, localeId);
    return;
  }
  CheckShape(def);
  // Room for a wide string's terminating unit beyond the value bytes.
  std::vector<std::uint8_t> bytes(FieldValueSize(def) + 2, 0);
  EncodeValue(def, value, bytes);
  SetField(def, image, bytes.data(), localeId);
}

} // namespace nexora

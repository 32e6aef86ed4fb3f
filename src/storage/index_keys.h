#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "storage/field_def.h"
#include "storage/index_def.h"
#include "storage/index_file_context.h"

namespace nexora {

// Key images of the indexes: per key field an indicator byte (1 when the field has a
// value) and the field's big-endian, byte-comparable key bytes; non-unique indexes
// append the record ID in key form. Descending order and string collation are applied
// by CompareKeys, not by the bytes. Pure functions over their arguments; any thread.

// The definition of a key field: the system fields -1 ("RecordID") and -2 ("RecordHash")
// from the record layout, user fields from the context; null for an unknown number.
const TFieldDef *KeyFieldDef(const TIndexFileContext &context, std::int16_t number);

// Key bytes of a field after its indicator: the physical size, but 8 for BCD fields,
// 4 for "RecordID" and 16 for "RecordHash".
std::int32_t FieldKeySize(const TFieldDef &field);

// The sum of (key size + 1) over the key fields, without the non-unique suffix; nothing
// when the field count is not 1 to 128 or a key field is unknown.
std::optional<std::int32_t> KeyFieldsLength(const TIndexDef &def, const TIndexFileContext &context);

// The largest key length pages of size P accept: every page holds at least three keys.
constexpr std::int32_t MaxKeyLengthFor(std::int32_t pageSize) {
  const std::int32_t byPage = (pageSize - PageHeaderSize) / MinKeysPerPage;
  return byPage < MaxKeyLength ? byPage : MaxKeyLength;
}

// Where one key field lies in the record image and in the key.
struct TKeySegment {
  std::int16_t FieldNumber = 0;
  std::uint8_t Type = 0;
  std::uint8_t Subtype = 0;
  // Indicator byte in the record image; -1 for the system fields, which always have a value.
  std::int32_t IndicatorOffset = -1;
  std::int32_t ValueOffset = 0;
  std::int32_t ValueSize = 0;
  // Indicator byte in the key; the key bytes follow it.
  std::int32_t KeyOffset = 0;
  std::int32_t KeySize = 0;
  bool Descending = false;
};

// The key geometry of one index as BuildKey and CompareKeys use it.
struct TKeyLayout {
  std::vector<TKeySegment> Segments;
  std::int32_t KeyLength = 0;
  std::uint32_t LocaleId = 0;
  bool Unique = true;
  bool CaseInsensitive = false;
  bool FullText = false;

  // The layout of a tree index; nothing when KeyFieldsLength has none or a key field is
  // a BLOB field. A segment is descending when the index or its field is.
  static std::optional<TKeyLayout> ForIndex(const TIndexDef &def, const TIndexFileContext &context);
  // The layout of the text index (slot 31): 68-byte keys compared 3 / 61 / 4.
  static TKeyLayout ForTextIndex(std::uint32_t localeId);
};

// Builds the key of a record image into key (layout.KeyLength bytes): zeroed, then every
// field in key order, then for a non-unique index the record ID. Strings of a
// case-insensitive index are upper-cased with the layout's locale. Key fields whose slot
// lies beyond the image count as null. Not for the text index (BuildTextKey).
void BuildKey(const TKeyLayout &layout, std::span<const std::uint8_t> record, std::uint8_t *key);

// The key of one word of the text index (68 bytes): 1, the field number big-endian, the
// word upper-cased with the locale and cut to 60 characters, the record ID in key form.
void BuildTextKey(std::uint32_t localeId, std::int16_t fieldNumber, std::string_view word, std::int32_t recordID,
                  std::uint8_t *key);

// -1, 0 or 1 comparing the first `length` bytes of two keys field by field: indicators
// bytewise, strings by the locale's collation (bytewise for locale 0), other fields
// bytewise, each segment inverted when descending; bytes after the last field bytewise.
// The text index compares 3 bytes bytewise, 61 by collation, 4 bytewise.
int CompareKeys(const TKeyLayout &layout, const std::uint8_t *a, const std::uint8_t *b, std::int32_t length);

// Key forms of single values, big-endian. Exposed for the range fillers and for tests.
void StoreKeyInt16(std::uint8_t *key, std::int16_t value); // sign bit inverted
void StoreKeyUInt16(std::uint8_t *key, std::uint16_t value);
void StoreKeyInt32(std::uint8_t *key, std::int32_t value); // sign bit inverted
void StoreKeyInt64(std::uint8_t *key, std::int64_t value); // sign bit inverted
// Values >= 0: the IEEE bytes with the top bit set; negative values: all bytes inverted.
void StoreKeyDouble(std::uint8_t *key, double value);
// A 34-byte BCD image as a 64-bit integer scaled by 10000, rounded half away from zero and
// held within the 64-bit range; a damaged image gives 0.
std::int64_t BcdKeyValue(const std::uint8_t *bcd);

} // namespace nexora

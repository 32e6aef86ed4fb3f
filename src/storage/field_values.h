#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/field_def.h"
#include "storage/field_value.h"

namespace nexora {

// Reading and writing field slots of a record image (see record_layout.h).
//
// A slot is an indicator byte (1 value, 0 null) followed by the field's physical size in
// value bytes, at the definition's record offset. The system fields (numbers -1, -2)
// have no indicator: their value bytes lie at their record offsets and are never null.
// Definitions with no place in the record (record offset below the first field slot)
// are ignored by the writers and read as null.
//
// The functions require the image span to be the whole record; a slot that does not lie
// inside it (a damaged definition) raises std::out_of_range, never touching memory
// outside the span. Pure functions on the caller's image; any thread, one image per
// thread.

// Bytes GetField copies out and SetField reads: 4 for a BLOB slot (the first-block
// number), else the physical size.
std::size_t FieldValueSize(const TFieldDef &def);

// True when the field has a value; copies FieldValueSize bytes of the slot to `value`
// either way (zeros for a null slot as stored).
bool GetField(const TFieldDef &def, std::span<const std::uint8_t> image, std::uint8_t *value);

// Writes a slot from value bytes, or stores null when `value` is null:
// - null: the value bytes (4 for a BLOB slot) are zeroed, indicator 0;
// - string: `value` is a zero-terminated text; at most physical size - 1 bytes are
//   taken, trailing blanks removed unless the subtype is fixed-char, the character case
//   of the definition applied with the table's locale; indicator 1 when the first byte is
//   nonzero, so an empty text is null. A wide string (subtype 32) follows the same rules
//   on UTF-16LE code units: a zero unit ends it, trailing U+0020 units are removed, and
//   the indicator is 1 when the first unit is nonzero;
// - BLOB: the 4-byte first-block number; indicator 1 unless it is 0;
// - boolean: 1 for any nonzero 16-bit value; indicator 1;
// - any other type: the physical size in bytes; indicator 1.
// System fields are never written here.
void SetField(const TFieldDef &def, std::span<std::uint8_t> image, const std::uint8_t *value, std::uint32_t localeId);

// The typed forms (alternatives in field_value.h). ReadFieldValue gives std::monostate
// for a null slot. WriteFieldValue encodes the value and stores it through SetField;
// it raises std::invalid_argument when the alternative does not suit the field's type
// or an integer does not fit its width.
TFieldValue ReadFieldValue(const TFieldDef &def, std::span<const std::uint8_t> image);
void WriteFieldValue(const TFieldDef &def, std::span<std::uint8_t> image, const TFieldValue &value,
                     std::uint32_t localeId);

// Bytes before the data of a variable-bytes value: its length, unsigned 16-bit.
inline constexpr std::size_t VarBytesLengthSize = 2;

} // namespace nexora

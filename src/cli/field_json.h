#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cursor/data_cursor.h"

namespace nexora::cli {

using TJson = nlohmann::ordered_json;

// The dataset kind name of a field definition ("ftString", "ftMemo", ...), and the type and
// subtype a kind name creates a definition with; nothing for a name that creates none.
std::string FieldKindName(const TFieldDef &def);
struct TFieldKind {
  std::uint8_t Type = 0;
  std::uint8_t Subtype = 0;
};
std::optional<TFieldKind> FieldKindOf(std::string_view name);

// A field's value in a record image as JSON: null; strings (Windows-1252 shown as UTF-8) for
// string, fixed-char, GUID, wide-string and memo fields; numbers, true/false; BCD as a
// decimal string; dates "YYYY-MM-DD", times "HH:MM:SS.mmm", date-times
// "YYYY-MM-DDTHH:MM:SS.mmm"; {"base64": ...} for bytes, variable bytes, BLOB and graphic
// values. BLOB values are read through the cursor.
TJson FieldToJson(TDataCursor &cursor, std::int16_t number, std::span<const std::uint8_t> image);

// Stores a JSON value into field `number` of an image in the same forms (a BLOB field also
// takes a plain string); BLOB values are opened for writing on the image and written when
// the record is posted. Returns an error text when the value does not fit the field.
std::optional<std::string> JsonToField(TDataCursor &cursor, std::int16_t number, std::span<std::uint8_t> image,
                                       const TJson &value);

} // namespace nexora::cli

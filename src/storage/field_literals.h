#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "storage/field_def.h"
#include "storage/field_value.h"

namespace nexora {

// The value a default, minimum or maximum text stands for, by the field's type: dates,
// times, dates and times, booleans, integers (within the field's width) and floating
// point by the parsers of field_def_rules.h; BCD a number with "." as decimal separator
// with the given precision and the field's decimals; strings the text itself
// (std::u16string for wide strings); bytes, variable bytes and other types the text's
// bytes. The "CURRENT_..." keywords are not literals; new_record.h resolves them.
// Nothing when the text is not valid for the type or the type takes no literal (BLOB).
// Pure function; any thread.
std::optional<TFieldValue> ParseFieldLiteral(const TFieldDef &def, std::string_view text,
                                             std::uint8_t bcdPrecision = BcdDefaultPrecision);

// A new GUID in its 38-character text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// upper-case hexadecimal, version 4 random bits from the system's random device.
// Any thread.
std::string NewGuidText();

} // namespace nexora

#pragma once

#include <cstdint>
#include <string_view>

namespace nexora {

// Compares two Windows-1252 texts under a locale, the way keys and names of that locale
// are ordered: a string sort (punctuation and symbols count like other characters) that
// ignores non-spacing marks ("e" equals "\xE9") but tells case apart ("a" sorts before
// "A"); with ignoreCase, case is ignored as well. Returns <0, 0 or >0.
// Requires IsOSLocaleInstalled(localeId); throws std::invalid_argument otherwise and
// std::runtime_error when ICU cannot open the collator. One collator per locale id and
// case mode is opened on first use and kept; any thread may call.
int CompareOSLocaleText(std::uint32_t localeId, std::string_view a, std::string_view b, bool ignoreCase);

} // namespace nexora

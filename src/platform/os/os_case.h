#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nexora {

// Upper-cases Windows-1252 text under a locale ("\xE9t\xE9" becomes "\xC9T\xC9").
// Every byte becomes exactly one byte, so lengths and positions of fixed-size fields are
// kept: a character whose upper case under the locale is not a single Windows-1252
// character stays as it is ("\xDF" keeps its form rather than growing to "SS", and the
// Turkish dotted capital I, which the code page lacks, leaves "i" unchanged).
// Requires IsOSLocaleInstalled(localeId); throws std::invalid_argument otherwise and
// std::runtime_error when ICU cannot map case. The 256-byte mapping of each locale is
// built on first use and kept; any thread may call.
std::string UpperOSLocaleText(std::uint32_t localeId, std::string_view text);

} // namespace nexora

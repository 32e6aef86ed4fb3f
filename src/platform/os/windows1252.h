#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nexora {

// Conversion between Windows-1252 bytes (the code page of every text stored in a table)
// and UTF-16. Pure functions; any thread may call them.

// Converts every byte to one UTF-16 code unit. The five bytes that Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same value, so
// the conversion is lossless and Utf16ToWindows1252 restores the original bytes.
std::u16string Windows1252ToUtf16(std::string_view bytes);

// Windows-1252 byte of one UTF-16 code unit, or nothing when the code page has none.
std::optional<char> Windows1252Byte(char16_t unit);

// Converts UTF-16 text to Windows-1252 bytes. A character without a Windows-1252 byte
// (a surrogate pair counts as one character, an unpaired surrogate as one) becomes '?'.
std::string Utf16ToWindows1252(std::u16string_view text);

} // namespace nexora

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nexora {

// Short texts: engine names and paths held as length-prefixed texts of at most 255
// characters. Texts are bytes in Windows-1252. All functions are pure and may be called from
// any thread; none raises except std::bad_alloc.

constexpr std::size_t MaxShortTextLength = 255;
// Table and database names kept by cursors and directories.
constexpr std::size_t MaxNameLength = 60;

// The first maxLength bytes of text.
std::string CutText(std::string_view text, std::size_t maxLength = MaxShortTextLength);

// The first MaxNameLength bytes of name.
std::string CutName(std::string_view name);

// Writes text into a fixed field of fieldSize bytes: a length byte, then the bytes, then
// zeros up to the end of the field. The text is cut to the field's capacity,
// min(fieldSize - 1, MaxShortTextLength). Requires field to hold fieldSize bytes; a field of
// 0 bytes is left untouched. Returns the number of characters stored.
std::size_t WriteShortText(std::uint8_t *field, std::size_t fieldSize, std::string_view text);

// Reads a text written by WriteShortText. A length byte larger than the field's capacity
// (a damaged field) is clamped to it, so no byte past the field is read. Requires field to
// hold fieldSize bytes; a field of 0 bytes reads as empty.
std::string ReadShortText(const std::uint8_t *field, std::size_t fieldSize);

// Windows-1252 upper-casing: a-z and the letters 0xE0..0xFE (except 0xF7, the division
// sign) move down by 0x20; 0x9A, 0x9C, 0x9E map to 0x8A, 0x8C, 0x8E and 0xFF to 0x9F. Every
// other byte is returned unchanged.
char UpperChar1252(char c);
std::string UpperText1252(std::string_view text);

// True when a and b are equal after Windows-1252 upper-casing (names compare this way).
bool SameText(std::string_view a, std::string_view b);

// text without leading and trailing blanks and control characters (bytes 0x00..0x20).
std::string TrimText(std::string_view text);

} // namespace nexora

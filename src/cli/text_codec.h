#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nexora::cli {

// UTF-8 text (JSON) and the tables' Windows-1252 bytes; base64 for byte values. Pure
// functions; any thread.

// The Windows-1252 bytes of UTF-8 text; nothing when the text is not valid UTF-8 or holds a
// character the code page lacks.
std::optional<std::string> Utf8ToWindows1252(std::string_view text);
std::string Windows1252ToUtf8(std::string_view bytes);
// UTF-16 and UTF-8, for wide string fields; nothing for invalid input.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

std::string Base64Encode(const std::vector<std::uint8_t> &bytes);
// Nothing unless the text is standard base64 with correct padding.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

} // namespace nexora::cli

#include "platform/os/windows1252.h"

#include <array>

namespace nexora {
namespace {

// Characters of the bytes 0x80-0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kCharsOf80To9F = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178'};

constexpr char16_t ToChar16(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCharsOf80To9F[byte - 0x80] : char16_t{byte};
}

constexpr bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

} // namespace

std::optional<char> Windows1252Byte(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
    return static_cast<char>(unit);
  for (std::size_t i = 0; i < kCharsOf80To9F.size(); ++i) {
    if (kCharsOf80To9F[i] == unit)
      return static_cast<char>(0x80 + i);
  }
  return std::nullopt;
}

std::u16string Windows1252ToUtf16(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (char byte : bytes)
    text.push_back(ToChar16(static_cast<unsigned char>(byte)));
  return text;
}

std::string Utf16ToWindows1252(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i; // the pair is one character outside the code page
      bytes.push_back('?');
    } else {
      bytes.push_back(Windows1252Byte(text[i]).value_or('?'));
    }
  }
  return bytes;
}

} // namespace nexora

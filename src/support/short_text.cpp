#include "support/short_text.h"

#include <algorithm>

namespace nexora {

std::string CutText(std::string_view text, std::size_t maxLength) { return std::string(text.substr(0, maxLength)); }

std::string CutName(std::string_view name) { return CutText(name, MaxNameLength); }

namespace {

std::size_t CapacityOf(std::size_t fieldSize) { return std::min(fieldSize - 1, MaxShortTextLength); }

} // namespace

std::size_t WriteShortText(std::uint8_t *field, std::size_t fieldSize, std::string_view text) {
  if (fieldSize == 0) {
    return 0;
  }
  const std::size_t length = std::min(text.size(), CapacityOf(fieldSize));
  field[0] = static_cast<std::uint8_t>(length);
  std::copy_n(text.begin(), length, field + 1);
  std::fill(field + 1 + length, field + fieldSize, std::uint8_t{0});
  return length;
}

std::string ReadShortText(const std::uint8_t *field, std::size_t fieldSize) {
  if (fieldSize == 0) {
    return {};
  }
  const std::size_t length = std::min<std::size_t>(field[0], CapacityOf(fieldSize));
  return std::string(reinterpret_cast<const char *>(field + 1), length);
}

char UpperChar1252(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) {
    return static_cast<char>(byte - 0x20);
  }
  switch (byte) {
  case 0x9A:
  case 0x9C:
  case 0x9E:
    return static_cast<char>(byte - 0x10);
  case 0xFF:
    return static_cast<char>(0x9F);
  default:
    return c;
  }
}

std::string UpperText1252(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(), UpperChar1252);
  return upper;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return UpperChar1252(x) == UpperChar1252(y); });
}

std::string TrimText(std::string_view text) {
  const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
  return first < last ? std::string(first, last) : std::string();
}

} // namespace nexora

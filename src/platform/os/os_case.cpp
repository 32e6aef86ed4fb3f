#include "platform/os/os_case.h"

#include "platform/os/os_locale_cache.h"
#include "platform/os/os_locales.h"
#include "platform/os/windows1252.h"

#include <unicode/ustring.h>

#include <array>
#include <stdexcept>

namespace nexora {
namespace {

using TUpperTable = std::array<char, 256>;

// Upper case of one byte under the locale, or the byte itself when that upper case is
// not a single Windows-1252 character.
char UpperByte(const std::string &localeName, char byte) {
  const std::u16string source = Windows1252ToUtf16(std::string_view(&byte, 1));
  char16_t upper[8] = {};
  UErrorCode status = U_ZERO_ERROR;
  const std::int32_t length = u_strToUpper(upper, 8, source.data(), 1, localeName.c_str(), &status);
  if (U_FAILURE(status)) {
    throw std::runtime_error("cannot upper-case under locale " + localeName + ": " + u_errorName(status));
  }
  return length == 1 ? Windows1252Byte(upper[0]).value_or(byte) : byte;
}

TUpperTable BuildUpperTable(std::uint32_t localeId) {
  const std::string localeName = RequireOSLocaleName(localeId);
  TUpperTable table{};
  for (std::size_t i = 0; i < table.size(); ++i) {
    table[i] = UpperByte(localeName, static_cast<char>(i));
  }
  return table;
}

} // namespace

std::string UpperOSLocaleText(std::uint32_t localeId, std::string_view text) {
  static TLocaleCache<std::uint32_t, TUpperTable> tables;
  const TUpperTable &table = tables.Get(localeId, [&] { return BuildUpperTable(localeId); });
  std::string upper(text);
  for (char &byte : upper)
    byte = table[static_cast<unsigned char>(byte)];
  return upper;
}

} // namespace nexora

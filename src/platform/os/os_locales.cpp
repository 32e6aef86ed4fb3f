#include "platform/os/os_locales.h"

#include "platform/os/windows1252.h"

#include <unicode/uloc.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <unordered_set>

namespace nexora {
namespace {

// One component of an ICU locale name (language, country) read by getter; empty on failure.
template <typename Getter> std::string LocaleComponent(const std::string &localeName, Getter getter) {
  char buffer[ULOC_FULLNAME_CAPACITY + 1] = {};
  UErrorCode status = U_ZERO_ERROR;
  const std::int32_t length = getter(localeName.c_str(), buffer, ULOC_FULLNAME_CAPACITY, &status);
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0)
    return {};
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string ToUpperAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string AbbreviatedLanguageName(const std::string &localeName) {
  const std::string language = LocaleComponent(localeName, uloc_getLanguage);
  if (language.empty())
    return {};
  const std::string country = LocaleComponent(localeName, uloc_getCountry);
  if (language.size() == 2 && !country.empty() && IsAsciiLetter(country.front())) {
    return ToUpperAscii(language + country.front());
  }
  const std::string iso3 = uloc_getISO3Language(localeName.c_str());
  return ToUpperAscii(iso3.empty() ? language : iso3);
}

std::string EnglishDisplayName(const std::string &localeName) {
  std::u16string name(ULOC_FULLNAME_CAPACITY, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  std::int32_t length =
      uloc_getDisplayName(localeName.c_str(), "en", name.data(), static_cast<std::int32_t>(name.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    name.resize(static_cast<std::size_t>(length));
    status = U_ZERO_ERROR;
    length =
        uloc_getDisplayName(localeName.c_str(), "en", name.data(), static_cast<std::int32_t>(name.size()), &status);
  }
  if (U_FAILURE(status))
    return {};
  name.resize(static_cast<std::size_t>(length));
  return Utf16ToWindows1252(name);
}

} // namespace

std::optional<std::string> OSLocaleName(std::uint32_t localeId) {
  if (localeId == 0)
    return std::nullopt;
  char buffer[ULOC_FULLNAME_CAPACITY + 1] = {};
  UErrorCode status = U_ZERO_ERROR;
  const std::int32_t length = uloc_getLocaleForLCID(localeId, buffer, ULOC_FULLNAME_CAPACITY, &status);
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || length <= 0) {
    return std::nullopt;
  }
  // ICU falls back to the bare language for ids it only partly knows; such an id is not ours.
  if (uloc_getLCID(buffer) != localeId)
    return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string RequireOSLocaleName(std::uint32_t localeId) {
  std::optional<std::string> name = OSLocaleName(localeId);
  if (!name) {
    char message[64];
    std::snprintf(message, sizeof message, "locale id 0x%X is not installed", localeId);
    throw std::invalid_argument(message);
  }
  return *name;
}

bool IsOSLocaleInstalled(std::uint32_t localeId) { return OSLocaleName(localeId).has_value(); }

std::vector<TOSLocale> EnumerateOSLocales() {
  std::vector<TOSLocale> locales;
  std::unordered_set<std::uint32_t> seen;
  const std::int32_t count = uloc_countAvailable();
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint32_t id = uloc_getLCID(uloc_getAvailable(i)) & 0xFFFFu;
    if (id == 0 || !seen.insert(id).second)
      continue;
    const std::optional<std::string> localeName = OSLocaleName(id);
    if (!localeName)
      continue;
    std::string abbreviation = AbbreviatedLanguageName(*localeName);
    if (abbreviation.empty())
      continue;
    locales.push_back({id, EnglishDisplayName(*localeName), std::move(abbreviation)});
  }
  return locales;
}

} // namespace nexora

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nexora {

// Locales the system offers, identified by Windows locale ids (LCIDs) and backed by ICU.
// Bits 0-15 of an id are the language id, bits 16-19 the sort id (0x10407 is German
// with the phone-book sort). All functions may be called from any thread.

// One locale the system offers.
struct TOSLocale {
  std::uint32_t Id;            // language id (low 16 bits of the locale's LCID)
  std::string LanguageName;    // English display name, Windows-1252 bytes, e.g. "English (United States)"
  std::string AbbreviatedName; // three-letter upper-case abbreviation, e.g. "ENU"
};

// Every ICU locale that maps to a nonzero LCID and has an abbreviation, one entry per id,
// in ICU's enumeration order (the first locale met for an id decides its place). Names
// are taken from the locale the id maps back to, so they describe the id itself.
// The abbreviation is the two-letter ISO 639-1 language code followed by the first letter
// of the country code ("ENU" for en-US, "ENG" for en-GB, "FRC" for fr-CA); a locale
// without a (letter) country code or without a two-letter language code uses its
// three-letter ISO 639-2 language code ("ARA" for ar).
std::vector<TOSLocale> EnumerateOSLocales();

// ICU locale name for a locale id ("de_DE@collation=phonebook" for 0x10407), or nothing
// when ICU cannot map the id or maps it to a locale of another id (an unknown sort id,
// for example). Id 0 maps to nothing: it is not a Windows locale.
std::optional<std::string> OSLocaleName(std::uint32_t localeId);

// OSLocaleName for an id the caller requires to be installed.
// Throws std::invalid_argument when IsOSLocaleInstalled(localeId) is false.
std::string RequireOSLocaleName(std::uint32_t localeId);

// True when OSLocaleName maps the id; ICU then provides its collation (falling back to
// the root collation for languages without their own rules) and its case mapping.
bool IsOSLocaleInstalled(std::uint32_t localeId);

} // namespace nexora

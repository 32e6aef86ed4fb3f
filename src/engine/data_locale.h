#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace nexora {

// The locale id of the built-in byte order, "ANSI Standard".
inline constexpr std::uint32_t AnsiStandardLocaleId = 0;

// Position p of an order table holds the character that sorts p-th.
using TOrderTable = std::array<std::uint8_t, 256>;

// One entry of the engine's locale registry. The order table is built on first use;
// any thread may ask for it.
class TDataLocale {
public:
  TDataLocale(std::uint32_t id, std::string languageName, std::string abbreviatedName);
  TDataLocale(const TDataLocale &) = delete;
  TDataLocale &operator=(const TDataLocale &) = delete;

  std::uint32_t Id() const { return id_; }
  const std::string &LanguageName() const { return languageName_; }
  const std::string &AbbreviatedName() const { return abbreviatedName_; }

  // Characters 0 to 31 keep their place; characters 31 to 255 follow in the locale's
  // order of single characters (byte order for "ANSI Standard").
  const TOrderTable &OrderTable() const;

private:
  std::uint32_t id_;
  std::string languageName_;
  std::string abbreviatedName_;
  mutable std::once_flag orderTableBuilt_;
  mutable TOrderTable orderTable_{};
};

// Locale-aware text services over Windows-1252 bytes. Id 0 compares bytes as unsigned
// values (upper-cased first when ignoring case) and upper-cases by the code page;
// any other id uses the system's collation: string sort, ignoring non-spacing marks,
// and ignoring case when asked. Any thread may call them.
int CompareLocaleText(std::uint32_t localeId, std::string_view a, std::string_view b, bool ignoreCase);
std::string UpperLocaleText(std::uint32_t localeId, std::string_view text);

} // namespace nexora

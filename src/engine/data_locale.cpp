#include "engine/data_locale.h"

#include <algorithm>
#include <numeric>

#include "platform/os/os_case.h"
#include "platform/os/os_collation.h"
#include "support/short_text.h"

namespace nexora {
namespace {

// Characters below this keep their own position in every order table.
constexpr int FirstOrderedCharacter = 31;

int CompareBytes(std::string_view a, std::string_view b) {
  const auto length = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < length; ++i) {
    const auto x = static_cast<std::uint8_t>(a[i]);
    const auto y = static_cast<std::uint8_t>(b[i]);
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

TDataLocale::TDataLocale(std::uint32_t id, std::string languageName, std::string abbreviatedName)
    : id_(id), languageName_(std::move(languageName)), abbreviatedName_(std::move(abbreviatedName)) {}

const TOrderTable &TDataLocale::OrderTable() const {
  std::call_once(orderTableBuilt_, [this] {
    std::iota(orderTable_.begin(), orderTable_.end(), 0);
    if (id_ == AnsiStandardLocaleId) {
      return;
    }
    std::stable_sort(orderTable_.begin() + FirstOrderedCharacter, orderTable_.end(),
                     [this](std::uint8_t x, std::uint8_t y) {
                       const char a = static_cast<char>(x);
                       const char b = static_cast<char>(y);
                       return CompareOSLocaleText(id_, std::string_view(&a, 1), std::string_view(&b, 1), false) < 0;
                     });
  });
  return orderTable_;
}

int CompareLocaleText(std::uint32_t localeId, std::string_view a, std::string_view b, bool ignoreCase) {
  if (localeId != AnsiStandardLocaleId) {
    return CompareOSLocaleText(localeId, a, b, ignoreCase);
  }
  if (!ignoreCase) {
    return CompareBytes(a, b);
  }
  return CompareBytes(UpperText1252(a), UpperText1252(b));
}

std::string UpperLocaleText(std::uint32_t localeId, std::string_view text) {
  if (localeId != AnsiStandardLocaleId) {
    return UpperOSLocaleText(localeId, text);
  }
  return UpperText1252(text);
}

} // namespace nexora

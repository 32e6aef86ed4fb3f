#include "platform/os/os_collation.h"

#include "platform/os/os_locale_cache.h"
#include "platform/os/os_locales.h"
#include "platform/os/windows1252.h"

#include <unicode/ucol.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace nexora {
namespace {

struct TCollatorCloser {
  void operator()(UCollator *collator) const { ucol_close(collator); }
};
using TCollatorPtr = std::unique_ptr<UCollator, TCollatorCloser>;

// Primary strength ignores accents and case; the case level brings case back in.
// Punctuation stays significant (non-ignorable) to give a string sort.
TCollatorPtr OpenCollator(std::uint32_t localeId, bool ignoreCase) {
  const std::string localeName = RequireOSLocaleName(localeId);
  UErrorCode status = U_ZERO_ERROR;
  TCollatorPtr collator(ucol_open(localeName.c_str(), &status));
  if (U_SUCCESS(status)) {
    ucol_setAttribute(collator.get(), UCOL_STRENGTH, UCOL_PRIMARY, &status);
    ucol_setAttribute(collator.get(), UCOL_CASE_LEVEL, ignoreCase ? UCOL_OFF : UCOL_ON, &status);
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  }
  if (U_FAILURE(status)) {
    throw std::runtime_error("cannot open the collator of locale " + localeName + ": " + u_errorName(status));
  }
  return collator;
}

const UCollator &Collator(std::uint32_t localeId, bool ignoreCase) {
  static TLocaleCache<std::pair<std::uint32_t, bool>, TCollatorPtr> collators;
  return *collators.Get({localeId, ignoreCase}, [&] { return OpenCollator(localeId, ignoreCase); });
}

} // namespace

int CompareOSLocaleText(std::uint32_t localeId, std::string_view a, std::string_view b, bool ignoreCase) {
  const UCollator &collator = Collator(localeId, ignoreCase);
  const std::u16string textA = Windows1252ToUtf16(a);
  const std::u16string textB = Windows1252ToUtf16(b);
  // A built collator is only read here, which ICU allows from several threads at once.
  return ucol_strcoll(&collator, textA.data(), static_cast<std::int32_t>(textA.size()), textB.data(),
                      static_cast<std::int32_t>(textB.size()));
}

} // namespace nexora

#include "platform/os/os_locales.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>

namespace nexora {
namespace {

struct TInstalledCase {
  std::uint32_t id;
  bool installed;
};

void PrintTo(const TInstalledCase &c, std::ostream *os) { *os << "id 0x" << std::hex << c.id; }

class OSLocaleInstalledTest : public testing::TestWithParam<TInstalledCase> {};

TEST_P(OSLocaleInstalledTest, ReportsWhetherIcuMapsTheId) {
  EXPECT_EQ(IsOSLocaleInstalled(GetParam().id), GetParam().installed);
}

INSTANTIATE_TEST_SUITE_P(Ids, OSLocaleInstalledTest,
                         testing::Values(TInstalledCase{0x0409, true},   // English (United States)
                                         TInstalledCase{0x0407, true},   // German (Germany)
                                         TInstalledCase{0x10407, true},  // German, phone-book sort
                                         TInstalledCase{0x0C0C, true},   // French (Canada)
                                         TInstalledCase{0x0000, false},  // not a Windows locale
                                         TInstalledCase{0x7FFF, false},  // unknown language
                                         TInstalledCase{0x12345, false}, // unknown language with a sort id
                                         TInstalledCase{0x20407, false}  // German with an unknown sort id
                                         ));

TEST(OSLocaleNameTest, KeepsTheSortIdOfPhoneBookGerman) {
  EXPECT_EQ(OSLocaleName(0x10407), "de_DE@collation=phonebook");
  EXPECT_EQ(OSLocaleName(0x0407), "de_DE");
}

TEST(OSLocaleNameTest, RequireThrowsForAnUnknownId) {
  EXPECT_THROW(RequireOSLocaleName(0x7FFF), std::invalid_argument);
  EXPECT_EQ(RequireOSLocaleName(0x0409), "en_US");
}

class OSLocaleEnumerationTest : public testing::Test {
protected:
  static void SetUpTestSuite() { locales_ = new std::vector<TOSLocale>(EnumerateOSLocales()); }
  static void TearDownTestSuite() {
    delete locales_;
    locales_ = nullptr;
  }

  static const TOSLocale *Find(std::uint32_t id) {
    auto it =
        std::find_if(locales_->begin(), locales_->end(), [id](const TOSLocale &locale) { return locale.Id == id; });
    return it == locales_->end() ? nullptr : &*it;
  }

  static std::vector<TOSLocale> *locales_;
};

std::vector<TOSLocale> *OSLocaleEnumerationTest::locales_ = nullptr;

TEST_F(OSLocaleEnumerationTest, ListsEnglishUnitedStates) {
  const TOSLocale *english = Find(0x0409);
  ASSERT_NE(english, nullptr);
  EXPECT_EQ(english->LanguageName, "English (United States)");
  EXPECT_EQ(english->AbbreviatedName, "ENU");
  const TOSLocale *german = Find(0x0407);
  ASSERT_NE(german, nullptr);
  EXPECT_EQ(german->LanguageName, "German (Germany)");
}

TEST_F(OSLocaleEnumerationTest, AbbreviatesLanguageAndCountry) {
  const std::pair<std::uint32_t, const char *> cases[] = {
      {0x0409, "ENU"}, {0x0809, "ENG"}, {0x0C0C, "FRC"},
      {0x0407, "DED"}, {0x0001, "ARA"}, // Arabic without a country: three-letter language code
  };
  for (const auto &[id, abbreviation] : cases) {
    SCOPED_TRACE(id);
    const TOSLocale *locale = Find(id);
    ASSERT_NE(locale, nullptr);
    EXPECT_EQ(locale->AbbreviatedName, abbreviation);
  }
}

TEST_F(OSLocaleEnumerationTest, EntriesAreUniqueInstalledAndNamed) {
  ASSERT_FALSE(locales_->empty());
  std::set<std::uint32_t> ids;
  for (const TOSLocale &locale : *locales_) {
    SCOPED_TRACE(locale.Id);
    EXPECT_TRUE(ids.insert(locale.Id).second) << "duplicate id";
    EXPECT_LE(locale.Id, 0xFFFFu);
    EXPECT_TRUE(IsOSLocaleInstalled(locale.Id));
    EXPECT_FALSE(locale.LanguageName.empty());
    EXPECT_GE(locale.AbbreviatedName.size(), 3u);
    EXPECT_TRUE(std::all_of(locale.AbbreviatedName.begin(), locale.AbbreviatedName.end(), [](char c) {
      return c >= 'A' && c <= 'Z';
    })) << locale.AbbreviatedName;
  }
}

} // namespace
} // namespace nexora

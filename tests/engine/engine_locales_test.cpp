#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "engine/data_engine.h"

namespace nexora {
namespace {

class EngineLocales : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    engine_ = new TDataEngine();
    engine_->BuildLocaleList();
  }
  static void TearDownTestSuite() { delete engine_; }
  static TDataEngine *engine_;
};
TDataEngine *EngineLocales::engine_ = nullptr;

const TDataLocale *FindLocale(const TDataEngine &engine, std::uint32_t id) {
  for (const auto &locale : engine.Locales()) {
    if (locale->Id() == id) {
      return locale.get();
    }
  }
  return nullptr;
}

TEST_F(EngineLocales, AnsiStandardFirstThenSortedByName) {
  const auto &locales = engine_->Locales();
  ASSERT_GT(locales.size(), 10u);
  EXPECT_EQ(locales[0]->Id(), 0u);
  EXPECT_EQ(locales[0]->LanguageName(), "ANSI Standard");
  EXPECT_EQ(locales[0]->AbbreviatedName(), "ANSI");
  for (std::size_t i = 2; i < locales.size(); ++i) {
    EXPECT_LE(locales[i - 1]->LanguageName(), locales[i]->LanguageName());
  }
}

TEST_F(EngineLocales, GermanPhoneBookFollowsGerman) {
  ASSERT_NE(FindLocale(*engine_, 0x0407), nullptr);
  const TDataLocale *phoneBook = FindLocale(*engine_, 0x10407);
  ASSERT_NE(phoneBook, nullptr);
  EXPECT_EQ(phoneBook->LanguageName(), "German (German Phone Book)");
  EXPECT_EQ(phoneBook->AbbreviatedName(), "DEP");
}

TEST_F(EngineLocales, NamesResolveWithoutRegardToCase) {
  EXPECT_TRUE(engine_->LocaleNameExists("english (united states)"));
  EXPECT_EQ(engine_->LocaleIdOf("ENGLISH (UNITED STATES)"), 0x0409u);
  EXPECT_FALSE(engine_->LocaleNameExists("Klingon (Qo'noS)"));
  EXPECT_EQ(engine_->LocaleIdOf("Klingon (Qo'noS)"), 0u);
}

TEST_F(EngineLocales, Availability) {
  EXPECT_TRUE(TDataEngine::IsLocaleAvailable(0));
  EXPECT_TRUE(TDataEngine::IsLocaleAvailable(0x0409));
  EXPECT_TRUE(TDataEngine::IsLocaleAvailable(0x0407));
  EXPECT_FALSE(TDataEngine::IsLocaleAvailable(0x7FFF));
}

TEST_F(EngineLocales, AnsiOrderTableIsTheIdentityAndStandsInForUnknownIds) {
  TOrderTable identity{};
  std::iota(identity.begin(), identity.end(), 0);
  EXPECT_EQ(engine_->GetLocaleOrderTable(0), identity);
  EXPECT_EQ(&engine_->GetLocaleOrderTable(0x7FFF), &engine_->GetLocaleOrderTable(0));
}

TEST_F(EngineLocales, LocaleOrderTableIsAPermutationInLocaleOrder) {
  const TOrderTable &table = engine_->GetLocaleOrderTable(0x0409);
  for (int i = 0; i < 31; ++i) {
    EXPECT_EQ(table[i], i);
  }
  std::array<int, 256> seen{};
  for (std::uint8_t c : table) {
    ++seen[c];
  }
  EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
  auto position = [&](char c) {
    return std::find(table.begin(), table.end(), static_cast<std::uint8_t>(c)) - table.begin();
  };
  // Letters sort together whatever their case, unlike byte order where 'Z' < 'a'.
  EXPECT_LT(position('a'), position('b'));
  EXPECT_LT(position('a'), position('Z'));
  EXPECT_LT(position('9'), position('a'));
}

TEST(LocaleText, AnsiComparesBytesAndUpperCasesByCodePage) {
  struct TCase {
    const char *A;
    const char *B;
    bool IgnoreCase;
    int Sign;
  } cases[] = {
      {"abc", "abd", false, -1}, {"Z", "a", false, -1},    {"a", "Z", true, -1},      {"abc", "ABC", true, 0},
      {"abc", "ABC", false, 1},  {"ab", "abc", false, -1}, {"\xE9", "\xC9", true, 0}, {"\xFF", "a", false, 1},
  };
  for (const TCase &c : cases) {
    const int result = CompareLocaleText(0, c.A, c.B, c.IgnoreCase);
    EXPECT_EQ((result > 0) - (result < 0), c.Sign) << c.A << " vs " << c.B;
  }
  EXPECT_EQ(UpperLocaleText(0, "stra\xDF\xE9"), "STRA\xDF\xC9");
}

TEST(LocaleText, SystemLocaleIgnoresCaseWhenAsked) {
  EXPECT_EQ(CompareLocaleText(0x0409, "apple", "APPLE", true), 0);
  EXPECT_NE(CompareLocaleText(0x0409, "apple", "APPLE", false), 0);
  EXPECT_LT(CompareLocaleText(0x0409, "apple", "Banana", false), 0);
  EXPECT_EQ(UpperLocaleText(0x0409, "\xE9t\xE9"), "\xC9T\xC9");
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/data_engine.h"
#include "storage/text_index_words.h"

namespace nexora {
namespace {

using TWords = std::vector<std::string>;

TWords Words(std::string_view text) {
  return ExtractTextWords(TTextIndexParams::Defaults(), 0, text, [](const std::string &) { return true; });
}

TEST(TextWords, DefaultsSplitDropAndSkipStopWords) {
  EXPECT_EQ(Words("The cat's fish-bowl"), (TWords{"bowl", "cats", "fish"}));
  EXPECT_EQ(Words("a*b+c,d-e.f/g:h;i<j=k>l\\m`n"),
            (TWords{"b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n"}))
      << "A is a stop word, I is not";
  EXPECT_EQ(Words("Red red RED"), (TWords{"Red"}));
  EXPECT_EQ(Words(std::string(70, 'x')), (TWords{std::string(60, 'x')}));
  EXPECT_EQ(Words(""), TWords{});
}

TEST(TextWords, DefaultCharacterSets) {
  const TTextIndexParams params = TTextIndexParams::Defaults();
  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<std::uint8_t>(c);
    const bool space = (c >= 1 && c <= 32) || (c >= 42 && c <= 47) || (c >= 58 && c <= 62) || c == 92 || c == 96;
    const bool include =
        (c >= 48 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || c == 95 || (c >= 128 && c <= 254);
    EXPECT_EQ(params.SpaceChars.Contains(code), space) << c;
    EXPECT_EQ(params.IncludeChars.Contains(code), include) << c;
  }
  EXPECT_EQ(params.StopWords.size(), 22U);
}

TEST(TextWords, TokenFilterDecidesEachWord) {
  const TWords words = ExtractTextWords(TTextIndexParams::Defaults(), 0, "keep drop keep2",
                                        [](const std::string &word) { return word != "drop"; });
  EXPECT_EQ(words, (TWords{"keep", "keep2"}));
}

TEST(TextWords, EngineFiltersAreApplied) {
  TDataEngine engine;
  const TWords words = IndexedTextWords(engine, TTextIndexParams::Defaults(), 0, "orders", "Notes", "green apples");
  EXPECT_EQ(words, (TWords{"apples", "green"}));
}

TEST(TextWords, UpdateTouchesOnlyChangedWords) {
  const TTextWordChanges same = TextWordChanges(0, Words("red green"), Words("green blue"), true);
  EXPECT_EQ(same.Deleted, (TWords{"red"}));
  EXPECT_EQ(same.Inserted, (TWords{"blue"}));
  const TTextWordChanges moved = TextWordChanges(0, Words("red green"), Words("green blue"), false);
  EXPECT_EQ(moved.Deleted, (TWords{"green", "red"}));
  EXPECT_EQ(moved.Inserted, (TWords{"blue", "green"}));
}

// Pages of a stream given as a list of payloads.
std::optional<TTextIndexParams> Unpack(const std::vector<std::vector<std::uint8_t>> &pages, std::int32_t payload) {
  std::size_t next = 0;
  return UnpackTextIndexParams(
      payload, [&]() -> const std::uint8_t * { return next < pages.size() ? pages[next++].data() : nullptr; });
}

TEST(TextParams, FieldsThatDoNotFitStartTheNextPage) {
  TTextIndexParams params;
  params.StopWords = {"ABCDEFGHIJ", "XY"};
  params.SpaceChars.Add(32);
  params.IncludeChars.AddRange(65, 90);
  constexpr std::int32_t Payload = 40;
  const auto pages = PackTextIndexParams(params, Payload);
  // Page 1: count, length 10, ten letters, length 2, "XY" (24 bytes), then the first set's
  // length; its 32 bytes do not fit the 12 left and fill page 2; the second set's length
  // follows them there and its bytes go to page 3.
  ASSERT_EQ(pages.size(), 3U);
  EXPECT_EQ(pages[0][0], 2);
  EXPECT_EQ(pages[0][4], 10);
  EXPECT_EQ(std::string(pages[0].begin() + 8, pages[0].begin() + 18), "ABCDEFGHIJ");
  EXPECT_EQ(pages[0][18], 2);
  EXPECT_EQ(pages[0][24], 32);
  EXPECT_EQ(pages[1][4], 1) << "bit of code 32";
  EXPECT_EQ(pages[1][32], 32);
  EXPECT_EQ(pages[2][8], 0xFE) << "codes 65 to 71";
  EXPECT_EQ(Unpack(pages, Payload), params);
}

TEST(TextParams, DamagedStreamsAreRefused) {
  const auto pages = PackTextIndexParams(TTextIndexParams::Defaults(), 1011);
  EXPECT_EQ(Unpack(pages, 1011), TTextIndexParams::Defaults());
  auto negative = pages;
  negative[0][3] = 0x80;
  EXPECT_FALSE(Unpack(negative, 1011).has_value());
  auto badSet = pages;
  badSet[0].assign(badSet[0].size(), 0);
  badSet[0][0] = 0;
  badSet[0][4] = 31;
  EXPECT_FALSE(Unpack(badSet, 1011).has_value());
  auto hugeCount = pages;
  hugeCount[0][0] = 0xFF;
  hugeCount[0][1] = 0xFF;
  EXPECT_FALSE(Unpack(hugeCount, 1011).has_value());
}

} // namespace
} // namespace nexora

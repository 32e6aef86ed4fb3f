#include "platform/os/os_collation.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace nexora {
namespace {

constexpr std::uint32_t kEnglishUS = 0x0409;
constexpr std::uint32_t kGerman = 0x0407;
constexpr std::uint32_t kGermanPhoneBook = 0x10407;
constexpr std::uint32_t kSwedish = 0x041D;

int Sign(int value) { return (value > 0) - (value < 0); }

struct TCompareCase {
  const char *name;
  std::uint32_t id;
  std::string a;
  std::string b;
  bool ignoreCase;
  int expected; // sign of the result
};

void PrintTo(const TCompareCase &c, std::ostream *os) { *os << c.name; }

class CompareOSLocaleTextTest : public testing::TestWithParam<TCompareCase> {};

TEST_P(CompareOSLocaleTextTest, OrdersAsTheLocaleDoes) {
  const TCompareCase &c = GetParam();
  EXPECT_EQ(Sign(CompareOSLocaleText(c.id, c.a, c.b, c.ignoreCase)), c.expected);
  EXPECT_EQ(Sign(CompareOSLocaleText(c.id, c.b, c.a, c.ignoreCase)), -c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompareOSLocaleTextTest,
    testing::Values(TCompareCase{"LetterOrder", kEnglishUS, "a", "b", false, -1},
                    TCompareCase{"Equal", kEnglishUS, "abc", "abc", false, 0},
                    TCompareCase{"EmptyFirst", kEnglishUS, "", "a", false, -1},
                    TCompareCase{"PrefixFirst", kEnglishUS, "ab", "abc", true, -1},
                    TCompareCase{"CaseOrdersLowerFirst", kEnglishUS, "a", "A", false, -1},
                    TCompareCase{"CaseIgnored", kEnglishUS, "a", "A", true, 0},
                    TCompareCase{"CaseIgnoredInWords", kEnglishUS, "Hello", "hELLO", true, 0},
                    TCompareCase{"LettersBeforeCase", kEnglishUS, "ab", "Ac", false, -1},
                    TCompareCase{"AccentIgnored", kEnglishUS, "e", "\xE9", false, 0},
                    TCompareCase{"AccentIgnoredWithoutCase", kEnglishUS, "E", "\xE9", true, 0},
                    TCompareCase{"AccentedBeforeNextLetter", kEnglishUS, "\xE9", "f", false, -1},
                    TCompareCase{"CaronFromHighByteIgnored", kEnglishUS, "\x8A", "S", true, 0},
                    TCompareCase{"PunctuationCounts", kEnglishUS, "co-op", "coop", false, -1},
                    TCompareCase{"PunctuationBeforeLetters", kEnglishUS, "-", "a", false, -1},
                    TCompareCase{"DigitsBeforeLetters", kEnglishUS, "9", "a", false, -1},
                    TCompareCase{"RingIsAccentInEnglish", kEnglishUS, "\xE5", "b", false, -1},
                    TCompareCase{"RingIsLetterAfterZInSwedish", kSwedish, "\xE5", "z", false, 1},
                    TCompareCase{"UmlautIsAccentInGerman", kGerman, "\xE4", "ad", false, -1},
                    TCompareCase{"UmlautBeforeAfInGerman", kGerman, "\xE4", "af", false, -1},
                    TCompareCase{"UmlautIsAeInPhoneBook", kGermanPhoneBook, "\xE4", "ae", false, 0},
                    TCompareCase{"UmlautAfterAdInPhoneBook", kGermanPhoneBook, "\xE4", "ad", false, 1},
                    TCompareCase{"UmlautBeforeAfInPhoneBook", kGermanPhoneBook, "\xE4", "af", false, -1}),
    [](const testing::TestParamInfo<TCompareCase> &info) { return info.param.name; });

TEST(CompareOSLocaleTextErrorsTest, UnknownLocaleIsRejected) {
  EXPECT_THROW(CompareOSLocaleText(0x7FFF, "a", "b", false), std::invalid_argument);
  EXPECT_THROW(CompareOSLocaleText(0, "a", "b", true), std::invalid_argument);
}

// Threads that open the collators of the same locales at the same time all get working ones.
TEST(CompareOSLocaleTextThreadsTest, CollatorsBuiltConcurrentlyCompareCorrectly) {
  const std::uint32_t ids[] = {kGerman, kGermanPhoneBook, kSwedish, 0x040C, 0x0410};
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (std::size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        for (std::uint32_t id : ids) {
          const bool ignoreCase = (round + t) % 2 == 0;
          if (Sign(CompareOSLocaleText(id, "a", "B", ignoreCase)) != -1)
            ++failures[t];
          if (CompareOSLocaleText(id, "x", "X", ignoreCase) == 0 && !ignoreCase)
            ++failures[t];
        }
      }
    });
  }
  for (std::thread &thread : threads)
    thread.join();
  for (int failure : failures)
    EXPECT_EQ(failure, 0);
}

} // namespace
} // namespace nexora

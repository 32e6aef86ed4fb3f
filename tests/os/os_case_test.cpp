#include "platform/os/os_case.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace nexora {
namespace {

constexpr std::uint32_t kEnglishUS = 0x0409;
constexpr std::uint32_t kTurkish = 0x041F;

struct TUpperCase {
  const char *name;
  std::uint32_t id;
  std::string text;
  std::string expected;
};

void PrintTo(const TUpperCase &c, std::ostream *os) { *os << c.name; }

class UpperOSLocaleTextTest : public testing::TestWithParam<TUpperCase> {};

TEST_P(UpperOSLocaleTextTest, UpperCasesByteForByte) {
  EXPECT_EQ(UpperOSLocaleText(GetParam().id, GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpperOSLocaleTextTest,
    testing::Values(TUpperCase{"Ascii", kEnglishUS, "abc xyz 123!", "ABC XYZ 123!"},
                    TUpperCase{"Accented", kEnglishUS, "\xE9t\xE9", "\xC9T\xC9"},
                    TUpperCase{"SharpSKeepsItsLength", kEnglishUS, "stra\xDF", "STRA\xDF"},
                    TUpperCase{"HighBytesOfTheCodePage", kEnglishUS, "\x9A\x9C\x9E", "\x8A\x8C\x8E"},
                    TUpperCase{"YWithDiaeresisGoesTo9F", kEnglishUS, "\xFF", "\x9F"},
                    TUpperCase{"MicroSignHasNoCapitalInCodePage", kEnglishUS, "\xB5", "\xB5"},
                    TUpperCase{"EmbeddedNul", kEnglishUS, std::string("a\0b", 3), std::string("A\0B", 3)},
                    TUpperCase{"DottedIInEnglish", kEnglishUS, "i", "I"},
                    // Turkish upper-cases "i" to a dotted capital that Windows-1252 lacks: left alone.
                    TUpperCase{"DottedIInTurkishStays", kTurkish, "i\xE7", "i\xC7"}),
    [](const testing::TestParamInfo<TUpperCase> &info) { return info.param.name; });

TEST(UpperOSLocaleTextErrorsTest, UnknownLocaleIsRejected) {
  EXPECT_THROW(UpperOSLocaleText(0x7FFF, "a"), std::invalid_argument);
}

} // namespace
} // namespace nexora

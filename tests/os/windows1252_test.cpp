#include "platform/os/windows1252.h"

#include <gtest/gtest.h>

namespace nexora {
namespace {

TEST(Windows1252Test, EveryByteRoundTrips) {
  std::string bytes;
  for (int b = 0; b < 256; ++b)
    bytes.push_back(static_cast<char>(b));
  const std::u16string text = Windows1252ToUtf16(bytes);
  ASSERT_EQ(text.size(), bytes.size());
  EXPECT_EQ(Utf16ToWindows1252(text), bytes);
}

struct TByteCase {
  unsigned char byte;
  char16_t unit;
};

void PrintTo(const TByteCase &c, std::ostream *os) { *os << "byte " << int{c.byte}; }

class Windows1252ByteTest : public testing::TestWithParam<TByteCase> {};

TEST_P(Windows1252ByteTest, MapsBothWays) {
  const TByteCase c = GetParam();
  const std::string byte(1, static_cast<char>(c.byte));
  EXPECT_EQ(Windows1252ToUtf16(byte), std::u16string(1, c.unit));
  EXPECT_EQ(Utf16ToWindows1252(std::u16string(1, c.unit)), byte);
}

INSTANTIATE_TEST_SUITE_P(CodePage, Windows1252ByteTest,
                         testing::Values(TByteCase{0x00, u'\u0000'}, TByteCase{0x41, u'A'}, TByteCase{0x7F, u'\u007F'},
                                         TByteCase{0x80, u'\u20AC'}, TByteCase{0x81, u'\u0081'},
                                         TByteCase{0x83, u'\u0192'}, TByteCase{0x8A, u'\u0160'},
                                         TByteCase{0x8D, u'\u008D'}, TByteCase{0x8F, u'\u008F'},
                                         TByteCase{0x90, u'\u0090'}, TByteCase{0x92, u'\u2019'},
                                         TByteCase{0x99, u'\u2122'}, TByteCase{0x9D, u'\u009D'},
                                         TByteCase{0x9F, u'\u0178'}, TByteCase{0xA0, u'\u00A0'},
                                         TByteCase{0xDF, u'\u00DF'}, TByteCase{0xFF, u'\u00FF'}));

struct TUnmappableCase {
  const char *name;
  std::u16string text;
  std::string expected;
};

void PrintTo(const TUnmappableCase &c, std::ostream *os) { *os << c.name; }

class Windows1252UnmappableTest : public testing::TestWithParam<TUnmappableCase> {};

TEST_P(Windows1252UnmappableTest, BecomesQuestionMark) {
  EXPECT_EQ(Utf16ToWindows1252(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(CodePage, Windows1252UnmappableTest,
                         testing::Values(
                             // U+0080 is a C1 control that the code page does not hold (0x80 is the euro sign).
                             TUnmappableCase{"C1ControlOf80", u"a\u0080b", "a?b"},
                             TUnmappableCase{"LatinExtended", u"\u0100\u0161", "?\x9A"},
                             TUnmappableCase{"Cjk", u"x\u4E2Dy", "x?y"},
                             TUnmappableCase{"SurrogatePairIsOneCharacter", u"a\U0001F600b", "a?b"},
                             TUnmappableCase{"LoneHighSurrogate", std::u16string{u'a', char16_t{0xD800}}, "a?"},
                             TUnmappableCase{"LoneLowSurrogate", std::u16string{char16_t{0xDC00}, u'a'}, "?a"}),
                         [](const testing::TestParamInfo<TUnmappableCase> &info) { return info.param.name; });

} // namespace
} // namespace nexora

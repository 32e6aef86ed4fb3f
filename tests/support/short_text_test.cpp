#include "support/short_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace nexora {
namespace {

TEST(ShortTextTest, CutKeepsLeadingCharacters) {
  const std::string longText(300, 'a');
  EXPECT_EQ(CutText(longText).size(), MaxShortTextLength);
  EXPECT_EQ(CutText("abcdef", 3), "abc");
  EXPECT_EQ(CutText("ab", 3), "ab");
  EXPECT_EQ(CutName(longText).size(), MaxNameLength);
  EXPECT_EQ(CutName("orders"), "orders");
}

TEST(ShortTextTest, WriteReadRoundTripZeroFillsTheRest) {
  std::array<std::uint8_t, 12> field{};
  field.fill(0xEE);
  EXPECT_EQ(WriteShortText(field.data(), field.size(), "abc"), 3u);
  EXPECT_EQ(field[0], 3);
  for (std::size_t i = 4; i < field.size(); ++i) {
    EXPECT_EQ(field[i], 0) << "byte " << i;
  }
  EXPECT_EQ(ReadShortText(field.data(), field.size()), "abc");
}

TEST(ShortTextTest, WriteCutsToTheFieldCapacity) {
  struct Case {
    std::size_t fieldSize;
    std::size_t textLength;
    std::size_t stored;
  };
  for (const Case c : {Case{1, 5, 0}, Case{5, 4, 4}, Case{5, 5, 4}, Case{256, 300, 255}, Case{300, 300, 255}}) {
    std::vector<std::uint8_t> field(c.fieldSize + 1, 0xEE); // one guard byte after the field
    const std::string text(c.textLength, 'z');
    EXPECT_EQ(WriteShortText(field.data(), c.fieldSize, text), c.stored);
    EXPECT_EQ(field[0], c.stored);
    EXPECT_EQ(field[c.fieldSize], 0xEE) << "guard byte overwritten";
    EXPECT_EQ(ReadShortText(field.data(), c.fieldSize), std::string(c.stored, 'z'));
  }
}

TEST(ShortTextTest, DamagedLengthByteIsClampedToTheField) {
  std::array<std::uint8_t, 6> field{250, 'a', 'b', 'c', 'd', 'e'};
  EXPECT_EQ(ReadShortText(field.data(), field.size()), "abcde");
  EXPECT_EQ(ReadShortText(field.data(), 0), "");
}

TEST(ShortTextTest, UpperCasingFollowsWindows1252) {
  struct Case {
    unsigned char lower;
    unsigned char upper;
  };
  for (const Case c : {Case{'a', 'A'}, Case{'z', 'Z'}, Case{0xE0, 0xC0}, Case{0xE9, 0xC9}, Case{0xFE, 0xDE},
                       Case{0x9A, 0x8A}, Case{0x9C, 0x8C}, Case{0x9E, 0x8E}, Case{0xFF, 0x9F}}) {
    EXPECT_EQ(static_cast<unsigned char>(UpperChar1252(static_cast<char>(c.lower))), c.upper)
        << "byte " << int{c.lower};
  }
  for (const int same : {0x41, 0x31, 0x7B, 0x60, 0xF7, 0xDF, 0xB5, 0xC9, 0x8A, 0x00}) {
    EXPECT_EQ(static_cast<unsigned char>(UpperChar1252(static_cast<char>(same))), same) << "byte " << same;
  }
  EXPECT_EQ(UpperText1252("Caf\xE9 na\xEFve"), "CAF\xC9 NA\xCFVE");
}

TEST(ShortTextTest, SameTextIgnoresCaseOnly) {
  EXPECT_TRUE(SameText("Orders", "ORDERS"));
  EXPECT_TRUE(SameText("caf\xE9", "CAF\xC9"));
  EXPECT_TRUE(SameText("\x9Cuvre", "\x8CUVRE"));
  EXPECT_TRUE(SameText("", ""));
  EXPECT_FALSE(SameText("Orders", "Order"));
  EXPECT_FALSE(SameText("caf\xE9", "cafe"));
  EXPECT_FALSE(SameText("\xF7", "\xD7")); // division and multiplication signs differ
}

TEST(ShortTextTest, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(TrimText(" \t\r\n name \x01\x1F"), "name");
  EXPECT_EQ(TrimText("a b"), "a b");
  EXPECT_EQ(TrimText(std::string_view("\0x\0", 3)), "x");
  EXPECT_EQ(TrimText(" \t "), "");
  EXPECT_EQ(TrimText(""), "");
  EXPECT_EQ(TrimText("\xA0x"), "\xA0x"); // a no-break space is not a control character
}

} // namespace
} // namespace nexora

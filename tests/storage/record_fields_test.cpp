#include <gtest/gtest.h>

#include <bit>
#include <stdexcept>

#include "record_test_support.h"
#include "storage/field_values.h"
#include "storage/record_layout.h"
#include "support/date_time.h"

namespace nexora {
namespace {

using testing::Field;
using testing::Laid;
using testing::RecordSizeOf;
using TBytes = std::vector<std::uint8_t>;

// One field laid out at offset 25 and a zeroed record image for it.
struct TOneField {
  explicit TOneField(const TFieldDef &field) : def(Laid({field}).front()), image(RecordSizeOf({def}), 0) {}
  TBytes Slot() const {
    return TBytes(image.begin() + def.RecordOffset(), image.begin() + def.RecordOffset() + def.PhysicalSize() + 1);
  }
  TFieldDef def;
  TBytes image;
};

TBytes Slot(std::uint8_t indicator, TBytes valueBytes) {
  valueBytes.insert(valueBytes.begin(), indicator);
  return valueBytes;
}

TBytes DoubleBytes(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  TBytes bytes;
  for (int i = 0; i < 8; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  }
  return bytes;
}

TBytes BcdMinus12345() {
  TBytes bytes(34, 0);
  bytes[0] = 32;   // precision
  bytes[1] = 0x82; // negative, 2 decimals
  bytes[2 + 13] = 0x01;
  bytes[2 + 14] = 0x23;
  bytes[2 + 15] = 0x45;
  return bytes;
}

struct TEncodingCase {
  const char *name;
  TFieldDef field;
  TFieldValue value;
  TBytes valueBytes;
};

class FieldEncoding : public ::testing::TestWithParam<TEncodingCase> {};

TEST_P(FieldEncoding, WritesExactBytesAndReadsBack) {
  const TEncodingCase &c = GetParam();
  TOneField one(c.field);
  WriteFieldValue(one.def, one.image, c.value, 0);
  EXPECT_EQ(one.Slot(), Slot(1, c.valueBytes));
  EXPECT_EQ(ReadFieldValue(one.def, one.image), c.value);
}

const double NoonAfterNewYear2020 = 737425.0 * 86400000.0 + 45000000.0;

INSTANTIATE_TEST_SUITE_P(
    EveryType, FieldEncoding,
    ::testing::Values(
        TEncodingCase{"Integer", Field(ftcInteger), std::int64_t{1}, {0x01, 0x00, 0x00, 0x00}},
        TEncodingCase{"AutoInc", Field(ftcInteger, fstAutoInc), std::int64_t{-2}, {0xFE, 0xFF, 0xFF, 0xFF}},
        TEncodingCase{"Date", Field(ftcDate), TDateValue{DayNumberOf(2020, 1, 1)}, {0x91, 0x40, 0x0B, 0x00}},
        TEncodingCase{"Time", Field(ftcTime), TTimeValue{MillisecondsOfDay(12, 30, 0, 0)}, {0x40, 0xA5, 0xAE, 0x02}},
        TEncodingCase{"DateTime", Field(ftcDateTime), TDateTimeValue{NoonAfterNewYear2020},
                      DoubleBytes(63713565000000.0)},
        TEncodingCase{"SmallInt", Field(ftcSmallInt), std::int64_t{-2}, {0xFE, 0xFF}},
        TEncodingCase{"Word", Field(ftcWord), std::int64_t{65535}, {0xFF, 0xFF}},
        TEncodingCase{
            "LargeInt", Field(ftcLargeInt), std::int64_t{-2}, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        TEncodingCase{"Float", Field(ftcFloat), 1.5, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
        TEncodingCase{"Currency", Field(ftcFloat, fstMoney), -0.25, {0, 0, 0, 0, 0, 0, 0xD0, 0xBF}},
        TEncodingCase{"Boolean", Field(ftcBoolean), true, {0x01, 0x00}},
        TEncodingCase{"String", Field(ftcString, fstNone, 5), std::string("abc"), {'a', 'b', 'c', 0, 0, 0}},
        TEncodingCase{"Guid", Field(ftcString, fstGuid, 38), std::string("{00000000-0000-0000-0000-000000000000}"),
                      [] {
                        TBytes bytes{'{'};
                        const std::string text = "00000000-0000-0000-0000-000000000000}";
                        bytes.insert(bytes.end(), text.begin(), text.end());
                        bytes.push_back(0);
                        return bytes;
                      }()},
        TEncodingCase{"WideString",
                      Field(ftcString, fstWideString, 3),
                      std::u16string(u"A\u0120"),
                      {0x41, 0x00, 0x20, 0x01, 0x00, 0x00, 0x00}},
        TEncodingCase{"Bytes", Field(ftcBytes, fstNone, 3), TByteString{1, 2, 3}, {1, 2, 3}},
        TEncodingCase{"VarBytes", Field(ftcVarBytes, fstNone, 5), TByteString{7, 8}, {0x02, 0x00, 7, 8, 0}},
        TEncodingCase{"Bcd", Field(ftcBCD, fstNone, 0, 2), *BcdFromText("-123.45", 32, 2), BcdMinus12345()},
        TEncodingCase{"Blob", Field(ftcBlob), TBlobSlotValue{5}, {0x05, 0, 0, 0, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<TEncodingCase> &info) { return std::string(info.param.name); });

TEST(FieldSlot, IntegerSlotAtOffset25HoldsIndicatorThenValue) {
  TOneField one(Field(ftcInteger));
  WriteFieldValue(one.def, one.image, std::int64_t{1}, 0);
  EXPECT_EQ(TBytes(one.image.begin() + 25, one.image.begin() + 30), (TBytes{1, 1, 0, 0, 0}));
}

TEST(FieldSlot, NullZeroesValueBytesAndReadsNull) {
  TOneField one(Field(ftcLargeInt));
  WriteFieldValue(one.def, one.image, std::int64_t{-1}, 0);
  WriteFieldValue(one.def, one.image, std::monostate{}, 0);
  EXPECT_EQ(one.Slot(), TBytes(9, 0));
  EXPECT_TRUE(IsNull(ReadFieldValue(one.def, one.image)));
}

TEST(FieldSlot, NullBlobZeroesOnlyTheFirstBlockNumber) {
  TOneField one(Field(ftcBlob));
  std::fill(one.image.begin() + 26, one.image.begin() + 34, 0x11);
  one.image[25] = 1;
  SetField(one.def, one.image, nullptr, 0);
  EXPECT_EQ(one.Slot(), (TBytes{0, 0, 0, 0, 0, 0x11, 0x11, 0x11, 0x11}));
}

TEST(FieldSlot, BlobIndicatorFollowsTheFirstBlockNumber) {
  TOneField one(Field(ftcBlob));
  WriteFieldValue(one.def, one.image, TBlobSlotValue{0}, 0);
  EXPECT_EQ(one.image[25], 0);
  WriteFieldValue(one.def, one.image, TBlobSlotValue{-3}, 0);
  EXPECT_EQ(one.image[25], 1);
  std::uint8_t value[4] = {};
  EXPECT_TRUE(GetField(one.def, one.image, value));
  EXPECT_EQ(LoadLittleEndian<std::int32_t>(value), -3);
}

TEST(FieldSlot, BooleanStoresOneForAnyNonzeroValue) {
  TOneField one(Field(ftcBoolean));
  const std::uint8_t five[2] = {5, 0};
  SetField(one.def, one.image, five, 0);
  EXPECT_EQ(one.Slot(), (TBytes{1, 1, 0}));
  const std::uint8_t high[2] = {0, 1};
  SetField(one.def, one.image, high, 0);
  EXPECT_EQ(ReadFieldValue(one.def, one.image), TFieldValue{true});
}

struct TStringCase {
  const char *name;
  TFieldDef field;
  std::string given;
  TBytes valueBytes; // empty: stored as null
};

class StringRules : public ::testing::TestWithParam<TStringCase> {};

TEST_P(StringRules, StoreAsWritten) {
  const TStringCase &c = GetParam();
  TOneField one(c.field);
  std::fill(one.image.begin() + 26, one.image.end(), 0x55); // stale bytes are cleared
  SetField(one.def, one.image, reinterpret_cast<const std::uint8_t *>(c.given.c_str()), 0);
  if (c.valueBytes.empty()) {
    EXPECT_EQ(one.Slot(), TBytes(one.def.PhysicalSize() + 1u, 0));
    EXPECT_TRUE(IsNull(ReadFieldValue(one.def, one.image)));
  } else {
    EXPECT_EQ(one.Slot(), Slot(1, c.valueBytes));
  }
}

TFieldDef Cased(std::uint8_t charCase) {
  TFieldDef def = Field(ftcString, fstNone, 6);
  def.SetCharCase(charCase);
  return def;
}

INSTANTIATE_TEST_SUITE_P(
    Strings, StringRules,
    ::testing::Values(
        TStringCase{"Empty", Field(ftcString, fstNone, 4), "", {}},
        TStringCase{"OnlyBlanks", Field(ftcString, fstNone, 4), "   ", {}},
        TStringCase{"TrailingBlanksTrimmed", Field(ftcString, fstNone, 6), "abc   ", {'a', 'b', 'c', 0, 0, 0, 0}},
        TStringCase{
            "FixedCharKeepsBlanks", Field(ftcString, fstFixedChar, 6), "abc   ", {'a', 'b', 'c', ' ', ' ', ' ', 0}},
        TStringCase{"LeadingBlanksKept", Field(ftcString, fstNone, 4), " ab", {' ', 'a', 'b', 0, 0}},
        TStringCase{"CutToDeclaredSize", Field(ftcString, fstNone, 3), "abcdef", {'a', 'b', 'c', 0}},
        TStringCase{"Upper", Cased(2), "ab\xE9z", {'A', 'B', 0xC9, 'Z', 0, 0, 0}},
        TStringCase{"Lower", Cased(1), "AB\xC9z", {'a', 'b', 0xE9, 'z', 0, 0, 0}}),
    [](const ::testing::TestParamInfo<TStringCase> &info) { return std::string(info.param.name); });

TEST(WideStringRules, TrimsBlankUnitsAndKeepsUnitsWithZeroBytes) {
  TOneField one(Field(ftcString, fstWideString, 4));
  WriteFieldValue(one.def, one.image, std::u16string(u"\u0100b  "), 0);
  EXPECT_EQ(one.Slot(), Slot(1, {0x00, 0x01, 'b', 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ReadFieldValue(one.def, one.image), TFieldValue{std::u16string(u"\u0100b")});
  WriteFieldValue(one.def, one.image, std::u16string(u"  "), 0);
  EXPECT_TRUE(IsNull(ReadFieldValue(one.def, one.image)));
}

TEST(WideStringRules, CutToDeclaredCharactersAndCased) {
  TFieldDef def = Field(ftcString, fstWideString, 2);
  def.SetCharCase(2);
  TOneField one(def);
  WriteFieldValue(one.def, one.image, std::u16string(u"\u00e9xy"), 0);
  EXPECT_EQ(ReadFieldValue(one.def, one.image), TFieldValue{std::u16string(u"\u00c9X")});
}

TEST(VarBytes, LongerDataIsCutToTheSlotAndDamagedLengthIsClamped) {
  TOneField one(Field(ftcVarBytes, fstNone, 4));
  WriteFieldValue(one.def, one.image, TByteString{1, 2, 3, 4, 5}, 0);
  EXPECT_EQ(one.Slot(), Slot(1, {2, 0, 1, 2}));
  one.image[26] = 0xFF;
  EXPECT_EQ(ReadFieldValue(one.def, one.image), TFieldValue{TByteString({1, 2})});
}

TEST(SystemFields, ReadAsPlainValuesAndNeverWritten) {
  TOneField one(Field(ftcInteger));
  StoreLittleEndian<std::int32_t>(one.image.data() + RecordIDOffset, 77);
  const TFieldDef &id = TDataFile::RecordIDFieldDef();
  EXPECT_EQ(ReadFieldValue(id, one.image), TFieldValue{std::int64_t{77}});
  const std::uint8_t other[4] = {1, 0, 0, 0};
  SetField(id, one.image, other, 0);
  EXPECT_EQ(LoadLittleEndian<std::int32_t>(one.image.data() + RecordIDOffset), 77);
  std::fill(one.image.begin() + RecordHashOffset, one.image.begin() + RecordHashOffset + 16, 0xAB);
  EXPECT_EQ(ReadFieldValue(TDataFile::RecordHashFieldDef(), one.image), TFieldValue{TByteString(16, 0xAB)});
}

TEST(DamagedDefinitions, RaiseInsteadOfTouchingMemoryOutsideTheImage) {
  TOneField one(Field(ftcInteger));
  TFieldDef beyond = one.def;
  beyond.SetRecordOffset(static_cast<std::uint16_t>(one.image.size() - 2));
  EXPECT_THROW(ReadFieldValue(beyond, one.image), std::out_of_range);
  EXPECT_THROW(WriteFieldValue(beyond, one.image, std::int64_t{1}, 0), std::out_of_range);
  TFieldDef shortBoolean = Laid({Field(ftcBoolean)}).front();
  shortBoolean.SetPhysicalSize(1);
  EXPECT_THROW(SetField(shortBoolean, one.image, one.image.data(), 0), std::out_of_range);
  EXPECT_THROW(WriteFieldValue(shortBoolean, one.image, true, 0), std::out_of_range);
}

TEST(TypedValues, UnsuitedAlternativesAndOverflowsAreRefused) {
  TOneField small(Field(ftcSmallInt));
  EXPECT_THROW(WriteFieldValue(small.def, small.image, std::int64_t{32768}, 0), std::invalid_argument);
  EXPECT_THROW(WriteFieldValue(small.def, small.image, 1.0, 0), std::invalid_argument);
  EXPECT_EQ(small.Slot(), TBytes(3, 0));
}

struct TBcdCase {
  const char *text;
  std::uint8_t precision;
  std::uint8_t scale;
  const char *expected; // nullptr: refused
};

class BcdText : public ::testing::TestWithParam<TBcdCase> {};

TEST_P(BcdText, EncodesAndDecodes) {
  const TBcdCase &c = GetParam();
  const auto value = BcdFromText(c.text, c.precision, c.scale);
  if (c.expected == nullptr) {
    EXPECT_FALSE(value);
    return;
  }
  ASSERT_TRUE(value);
  EXPECT_EQ(BcdToText(*value), std::string(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Texts, BcdText,
                         ::testing::Values(TBcdCase{"-123.45", 32, 2, "-123.45"}, TBcdCase{"7", 32, 0, "7"},
                                           TBcdCase{"+.5", 4, 2, "0.50"}, TBcdCase{"1.005", 32, 2, "1.01"},
                                           TBcdCase{"-1.004", 32, 2, "-1.00"}, TBcdCase{"99.995", 4, 2, nullptr},
                                           TBcdCase{"99.994", 4, 2, "99.99"}, TBcdCase{"-0.001", 8, 2, "0.00"},
                                           TBcdCase{"1e5", 32, 0, nullptr}, TBcdCase{"", 32, 0, nullptr},
                                           TBcdCase{"1", 65, 0, nullptr}));

TEST(BcdValue, NegativeZeroHasNoSignAndComparisonsOrderValues) {
  EXPECT_EQ(BcdFromText("-0.00", 32, 2)->Bytes[1], 2);
  EXPECT_EQ(CompareBcd(*BcdFromText("-2", 32, 2), *BcdFromText("-1.5", 10, 1)), -1);
  EXPECT_EQ(CompareBcd(*BcdFromText("10", 32, 2), *BcdFromText("9.99", 4, 2)), 1);
  EXPECT_EQ(CompareBcd(*BcdFromText("1.50", 32, 2), *BcdFromText("1.5", 8, 1)), 0);
  TBcdValue damaged = *BcdFromText("1", 2, 0);
  damaged.Bytes[2] = 0xAF;
  EXPECT_FALSE(BcdToText(damaged));
  EXPECT_FALSE(CompareBcd(damaged, damaged));
}

} // namespace
} // namespace nexora

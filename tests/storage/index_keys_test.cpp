#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "index_test_support.h"
#include "storage/bcd_value.h"
#include "storage/index_keys.h"

namespace nexora {
namespace {

using testing::MakeIndexDef;
using testing::TTestIndexContext;
using TBytes = std::vector<std::uint8_t>;

// One key field over a table of one field: its record image, key and layout.
class OneFieldKeys {
public:
  OneFieldKeys(std::uint8_t type, std::uint16_t size, bool unique = true, bool caseInsensitive = false,
               std::uint8_t subtype = fstNone) {
    field_ = context_.Add(type, size, subtype);
    TIndexDef def = MakeIndexDef("ByField", {field_}, unique);
    def.SetCaseInsensitive(caseInsensitive);
    layout_ = *TKeyLayout::ForIndex(def, context_);
  }

  // The key of a record whose field holds value (null when the value is empty).
  TBytes Key(const TBytes &value, std::int32_t recordID = 7) const {
    TBytes record(context_.RecordSize(), 0);
    StoreLittleEndian(record.data() + RecordIDOffset, recordID);
    const TFieldDef &def = *context_.FieldDef(field_);
    if (!value.empty()) {
      record[def.RecordOffset()] = FieldIndicatorValue;
      std::memcpy(record.data() + def.RecordOffset() + 1, value.data(), value.size());
    }
    TBytes key(static_cast<std::size_t>(layout_.KeyLength));
    BuildKey(layout_, record, key.data());
    return key;
  }
  int Compare(const TBytes &a, const TBytes &b) const {
    return CompareKeys(layout_, a.data(), b.data(), layout_.KeyLength);
  }
  const TKeyLayout &Layout() const { return layout_; }

private:
  TTestIndexContext context_;
  std::int16_t field_ = 0;
  TKeyLayout layout_;
};

template <typename T> TBytes LittleEndian(T value) {
  TBytes bytes(sizeof(T));
  StoreLittleEndian(bytes.data(), value);
  return bytes;
}

TBytes Text(const std::string &text) { return TBytes(text.begin(), text.end()); }

// A BCD image of precision digits (given as text, most significant first), scale of them
// after the point.
TBytes BcdImage(const std::string &digits, std::uint8_t scale, bool negative = false) {
  TBytes bytes(BcdSize, 0);
  bytes[BcdPrecisionOffset] = static_cast<std::uint8_t>(digits.size());
  bytes[BcdSignScaleOffset] = static_cast<std::uint8_t>(scale | (negative ? BcdNegativeBit : 0));
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const auto digit = static_cast<std::uint8_t>(digits[i] - '0');
    bytes[BcdDigitsOffset + i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : digit);
  }
  return bytes;
}

// Precision 8, scale 3.
TBytes Bcd(const std::string &text) {
  const bool negative = text.front() == '-';
  const std::string number = negative ? text.substr(1) : text;
  const std::size_t point = number.find('.');
  std::string whole = number.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : number.substr(point + 1);
  fraction.resize(3, '0');
  whole.insert(0, 5 - whole.size(), '0');
  return BcdImage(whole + fraction, 3, negative);
}

struct TKeyFormCase {
  const char *Name;
  std::uint8_t Type;
  std::uint16_t Size;
  TBytes Value;
  TBytes Expected;
};

class KeyForms : public ::testing::TestWithParam<TKeyFormCase> {};

TEST_P(KeyForms, AreBigEndianByteComparableImages) {
  const TKeyFormCase &c = GetParam();
  const OneFieldKeys keys(c.Type, c.Size);
  EXPECT_EQ(keys.Key(c.Value), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, KeyForms,
    ::testing::Values(
        TKeyFormCase{"Integer", ftcInteger, 0, LittleEndian<std::int32_t>(1), {1, 0x80, 0, 0, 1}},
        TKeyFormCase{"NegativeInteger", ftcInteger, 0, LittleEndian<std::int32_t>(-1), {1, 0x7F, 0xFF, 0xFF, 0xFF}},
        TKeyFormCase{"Date", ftcDate, 0, LittleEndian<std::int32_t>(737425), {1, 0x80, 0x0B, 0x40, 0x91}},
        TKeyFormCase{"Time", ftcTime, 0, LittleEndian<std::int32_t>(45000000), {1, 0x82, 0xAE, 0xA5, 0x40}},
        TKeyFormCase{"SmallInt", ftcSmallInt, 0, LittleEndian<std::int16_t>(-2), {1, 0x7F, 0xFE}},
        TKeyFormCase{"Word", ftcWord, 0, LittleEndian<std::uint16_t>(0x1234), {1, 0x12, 0x34}},
        TKeyFormCase{"Boolean", ftcBoolean, 0, LittleEndian<std::uint16_t>(1), {1, 0x00, 0x01}},
        TKeyFormCase{"LargeInt",
                     ftcLargeInt,
                     0,
                     LittleEndian<std::int64_t>(-2),
                     {1, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
        TKeyFormCase{"Float", ftcFloat, 0, LittleEndian<double>(1.0), {1, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
        TKeyFormCase{"NegativeFloat",
                     ftcFloat,
                     0,
                     LittleEndian<double>(-1.0),
                     {1, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        TKeyFormCase{"DateTime", ftcDateTime, 0, LittleEndian<double>(0.0), {1, 0x80, 0, 0, 0, 0, 0, 0, 0}},
        // 12.5 scaled by 10000 is 125000 = 0x1E848.
        TKeyFormCase{"Bcd", ftcBCD, 8, Bcd("12.5"), {1, 0x80, 0, 0, 0, 0, 0x01, 0xE8, 0x48}},
        TKeyFormCase{"NegativeBcd", ftcBCD, 8, Bcd("-12.5"), {1, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x17, 0xB8}},
        TKeyFormCase{"String", ftcString, 5, Text("abc"), {1, 'a', 'b', 'c', 0, 0, 0}},
        TKeyFormCase{"Bytes", ftcBytes, 3, TBytes{9, 0, 7}, {1, 9, 0, 7}},
        TKeyFormCase{"Null", ftcInteger, 0, TBytes{}, {0, 0, 0, 0, 0}}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST(KeyForms, BcdRoundsBeyondFourDecimalsAndSaturates) {
  EXPECT_EQ(BcdKeyValue(BcdImage("0000123445", 5).data()), 12345);
  EXPECT_EQ(BcdKeyValue(BcdImage("0000123445", 5, true).data()), -12345);
  EXPECT_EQ(BcdKeyValue(BcdImage("0000123444", 5).data()), 12344);
  EXPECT_EQ(BcdKeyValue(BcdImage("12", 0).data()), 120000);
  EXPECT_EQ(BcdKeyValue(BcdImage("99999999999999999999", 0).data()), std::numeric_limits<std::int64_t>::max());
  TBytes damaged = BcdImage("0001", 0);
  damaged[BcdDigitsOffset] = 0xAB;
  EXPECT_EQ(BcdKeyValue(damaged.data()), 0);
}

struct TOrderCase {
  const char *Name;
  std::uint8_t Type;
  std::uint16_t Size;
  std::vector<TBytes> Ascending;
};

class KeyOrder : public ::testing::TestWithParam<TOrderCase> {};

TEST_P(KeyOrder, BytewiseOrderIsValueOrder) {
  const TOrderCase &c = GetParam();
  const OneFieldKeys keys(c.Type, c.Size);
  for (std::size_t i = 1; i < c.Ascending.size(); ++i) {
    EXPECT_LT(keys.Compare(keys.Key(c.Ascending[i - 1]), keys.Key(c.Ascending[i])), 0) << "at " << i;
    EXPECT_GT(keys.Compare(keys.Key(c.Ascending[i]), keys.Key(c.Ascending[i - 1])), 0) << "at " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, KeyOrder,
    ::testing::Values(
        TOrderCase{"Integer",
                   ftcInteger,
                   0,
                   {{},
                    LittleEndian<std::int32_t>(INT32_MIN),
                    LittleEndian<std::int32_t>(-5),
                    LittleEndian<std::int32_t>(0),
                    LittleEndian<std::int32_t>(3),
                    LittleEndian<std::int32_t>(INT32_MAX)}},
        TOrderCase{"SmallInt",
                   ftcSmallInt,
                   0,
                   {LittleEndian<std::int16_t>(-300), LittleEndian<std::int16_t>(-1), LittleEndian<std::int16_t>(2)}},
        TOrderCase{"LargeInt",
                   ftcLargeInt,
                   0,
                   {LittleEndian<std::int64_t>(INT64_MIN), LittleEndian<std::int64_t>(-1),
                    LittleEndian<std::int64_t>(1LL << 40)}},
        TOrderCase{"Float",
                   ftcFloat,
                   0,
                   {LittleEndian<double>(-1e300), LittleEndian<double>(-2.5), LittleEndian<double>(-1e-300),
                    LittleEndian<double>(0.0), LittleEndian<double>(1e-300), LittleEndian<double>(2.5),
                    LittleEndian<double>(1e300)}},
        TOrderCase{"Bcd", ftcBCD, 8, {Bcd("-100.5"), Bcd("-0.001"), Bcd("0"), Bcd("0.001"), Bcd("99999.999")}},
        TOrderCase{"String", ftcString, 8, {Text("A"), Text("AB"), Text("B"), Text("a")}}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST(KeyCompare, NegativeZeroEqualsZero) {
  const OneFieldKeys keys(ftcFloat, 0);
  EXPECT_EQ(keys.Key(LittleEndian<double>(-0.0)), keys.Key(LittleEndian<double>(0.0)));
}

TEST(KeyCompare, DescendingFieldOrIndexInvertsItsSegmentOnly) {
  TTestIndexContext context;
  const std::int16_t a = context.Add(ftcInteger);
  const std::int16_t b = context.Add(ftcInteger);
  const auto key = [&](const TKeyLayout &layout, std::int32_t va, std::int32_t vb) {
    TBytes record(context.RecordSize(), 0);
    record[context.FieldDef(a)->RecordOffset()] = 1;
    StoreLittleEndian(record.data() + context.FieldDef(a)->RecordOffset() + 1, va);
    record[context.FieldDef(b)->RecordOffset()] = 1;
    StoreLittleEndian(record.data() + context.FieldDef(b)->RecordOffset() + 1, vb);
    TBytes bytes(static_cast<std::size_t>(layout.KeyLength));
    BuildKey(layout, record, bytes.data());
    return bytes;
  };
  TIndexDef def = MakeIndexDef("Both", {a, b}, true);
  def.SetFieldDescending(1, true);
  const TKeyLayout fieldDescending = *TKeyLayout::ForIndex(def, context);
  const auto compare = [](const TKeyLayout &layout, const TBytes &x, const TBytes &y) {
    return CompareKeys(layout, x.data(), y.data(), layout.KeyLength);
  };
  EXPECT_LT(compare(fieldDescending, key(fieldDescending, 1, 9), key(fieldDescending, 2, 0)), 0);
  EXPECT_LT(compare(fieldDescending, key(fieldDescending, 1, 9), key(fieldDescending, 1, 3)), 0);

  def.SetFieldDescending(1, false);
  def.SetDescending(true);
  const TKeyLayout indexDescending = *TKeyLayout::ForIndex(def, context);
  EXPECT_GT(compare(indexDescending, key(indexDescending, 1, 9), key(indexDescending, 2, 0)), 0);
  EXPECT_GT(compare(indexDescending, key(indexDescending, 1, 3), key(indexDescending, 1, 9)), 0);
}

TEST(KeyCompare, PartialLengthComparesLeadingFieldsOnly) {
  TTestIndexContext context;
  const std::int16_t name = context.Add(ftcString, 10);
  const std::int16_t number = context.Add(ftcInteger);
  const TKeyLayout layout = *TKeyLayout::ForIndex(MakeIndexDef("NameNumber", {name, number}, true), context);
  const auto key = [&](const std::string &text, std::int32_t value) {
    TBytes record(context.RecordSize(), 0);
    const std::size_t at = context.FieldDef(name)->RecordOffset();
    record[at] = 1;
    std::memcpy(record.data() + at + 1, text.data(), text.size());
    record[context.FieldDef(number)->RecordOffset()] = 1;
    StoreLittleEndian(record.data() + context.FieldDef(number)->RecordOffset() + 1, value);
    TBytes bytes(static_cast<std::size_t>(layout.KeyLength));
    BuildKey(layout, record, bytes.data());
    return bytes;
  };
  const TBytes smithOne = key("SMITH", 1);
  const TBytes smithTwo = key("SMITH", 2);
  const TBytes smythe = key("SMYTHE", 1);
  EXPECT_LT(CompareKeys(layout, smithOne.data(), smithTwo.data(), layout.KeyLength), 0);
  EXPECT_EQ(CompareKeys(layout, smithOne.data(), smithTwo.data(), 12), 0);
  // A partial string: its first characters, after the indicator byte.
  EXPECT_EQ(CompareKeys(layout, smithOne.data(), smythe.data(), 1 + 2), 0);
  EXPECT_LT(CompareKeys(layout, smithOne.data(), smythe.data(), 1 + 3), 0);
}

TEST(KeyCompare, CaseInsensitiveIndexUpperCasesStrings) {
  const OneFieldKeys sensitive(ftcString, 6);
  const OneFieldKeys insensitive(ftcString, 6, true, true);
  EXPECT_EQ(insensitive.Key(Text("abc")), (TBytes{1, 'A', 'B', 'C', 0, 0, 0, 0}));
  EXPECT_GT(sensitive.Compare(sensitive.Key(Text("abc")), sensitive.Key(Text("ABD"))), 0);
  EXPECT_LT(insensitive.Compare(insensitive.Key(Text("abc")), insensitive.Key(Text("ABD"))), 0);
  EXPECT_EQ(insensitive.Compare(insensitive.Key(Text("abc")), insensitive.Key(Text("ABC"))), 0);
}

TEST(KeyCompare, LocaleCollationOrdersStrings) {
  constexpr std::uint32_t EnglishUS = 1033;
  if (!TDataEngine::IsLocaleAvailable(EnglishUS)) {
    GTEST_SKIP() << "locale 1033 is not available";
  }
  TTestIndexContext context;
  context.localeId = EnglishUS;
  const std::int16_t field = context.Add(ftcString, 6);
  const TKeyLayout layout = *TKeyLayout::ForIndex(MakeIndexDef("Name", {field}, true), context);
  const TBytes lower{1, 'a', 0, 0, 0, 0, 0};
  const TBytes upper{1, 'B', 0, 0, 0, 0, 0};
  // Bytewise 'B' sorts before 'a'; the collation puts a first.
  EXPECT_LT(CompareKeys(layout, lower.data(), upper.data(), layout.KeyLength), 0);
}

TEST(KeyLength, NonUniqueIntegerIndexAppendsTheRecordID) {
  const OneFieldKeys keys(ftcInteger, 0, false);
  EXPECT_EQ(keys.Layout().KeyLength, 1 + 4 + 4);
  EXPECT_EQ(keys.Key(LittleEndian<std::int32_t>(5), 2), (TBytes{1, 0x80, 0, 0, 5, 0x80, 0, 0, 2}));
  // Equal values are told apart by the record ID, compared after the fields.
  EXPECT_LT(keys.Compare(keys.Key(LittleEndian<std::int32_t>(5), 2), keys.Key(LittleEndian<std::int32_t>(5), 3)), 0);
}

TEST(KeyLength, SystemFieldsHaveTheirOwnKeySizes) {
  TTestIndexContext context;
  const TKeyLayout layout =
      *TKeyLayout::ForIndex(MakeIndexDef("System", {RecordIDFieldNumber, RecordHashFieldNumber}, true), context);
  EXPECT_EQ(layout.KeyLength, (4 + 1) + (16 + 1));
  TBytes record(context.RecordSize(), 0);
  StoreLittleEndian<std::int32_t>(record.data() + RecordIDOffset, 258);
  record[RecordHashOffset] = 0xAA;
  TBytes key(static_cast<std::size_t>(layout.KeyLength));
  BuildKey(layout, record, key.data());
  EXPECT_EQ(TBytes(key.begin(), key.begin() + 7), (TBytes{1, 0x80, 0, 1, 2, 1, 0xAA}));
  EXPECT_FALSE(TKeyLayout::ForIndex(MakeIndexDef("Unknown", {9}, true), context).has_value());
}

TEST(TextKeys, HoldFieldWordAndRecordIDAndCompareThreeWays) {
  TBytes key(TextKeyLength);
  BuildTextKey(0, 0x0102, "fish", -1, key.data());
  TBytes expected(TextKeyLength, 0);
  expected[0] = 1;
  expected[1] = 1;
  expected[2] = 2;
  std::memcpy(expected.data() + 3, "FISH", 4);
  expected[64] = 0x7F;
  expected[65] = expected[66] = expected[67] = 0xFF;
  EXPECT_EQ(key, expected);

  const TKeyLayout layout = TKeyLayout::ForTextIndex(0);
  TBytes other(TextKeyLength);
  BuildTextKey(0, 0x0102, "FISHES", -1, other.data());
  EXPECT_LT(CompareKeys(layout, key.data(), other.data(), TextKeyLength), 0);
  BuildTextKey(0, 0x0102, "fish", 5, other.data());
  EXPECT_LT(CompareKeys(layout, key.data(), other.data(), TextKeyLength), 0);
  EXPECT_EQ(CompareKeys(layout, key.data(), other.data(), TextKeyRecordIDOffset), 0);
  BuildTextKey(0, 0x0001, "zebra", 5, other.data());
  EXPECT_GT(CompareKeys(layout, key.data(), other.data(), TextKeyLength), 0);
}

TEST(TextKeys, LongWordsKeepSixtyCharacters) {
  TBytes key(TextKeyLength);
  BuildTextKey(0, 1, std::string(70, 'w'), 1, key.data());
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(key.data() + 3)), std::string(60, 'W'));
}

} // namespace
} // namespace nexora

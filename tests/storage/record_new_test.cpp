#include <gtest/gtest.h>

#include <regex>

#include "engine/engine_error.h"
#include "record_test_support.h"
#include "storage/field_values.h"
#include "storage/new_record.h"
#include "storage/record_hash.h"
#include "storage/record_layout.h"
#include "support/date_time.h"

namespace nexora {
namespace {

using testing::Field;
using testing::Laid;
using testing::RecordSizeOf;
using TBytes = std::vector<std::uint8_t>;

const TRecordClock Clock{DayNumberOf(2021, 3, 4), MillisecondsOfDay(5, 6, 7, 8)};

TFieldDef WithDefault(TFieldDef def, const char *text) {
  def.SetDefault(text);
  return def;
}

struct TDefaultCase {
  const char *name;
  TFieldDef field;
  TFieldValue expected;
};

class Defaults : public ::testing::TestWithParam<TDefaultCase> {
protected:
  TDataEngine engine_;
};

TEST_P(Defaults, FillTheNewImage) {
  const auto fields = Laid({GetParam().field});
  TBytes image(RecordSizeOf(fields), 0xEE);
  ApplyDefaults(TNewRecordTable{.Engine = engine_, .Fields = fields}, image, Clock);
  EXPECT_EQ(ReadFieldValue(fields[0], image), GetParam().expected);
  EXPECT_EQ(image[0], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Defaults,
    ::testing::Values(TDefaultCase{"String", WithDefault(Field(ftcString, fstNone, 8), "abc"), std::string("abc")},
                      TDefaultCase{"Date", WithDefault(Field(ftcDate), "2020-01-01"), TDateValue{737425}},
                      TDefaultCase{"CurrentDate", WithDefault(Field(ftcDate), "current_date"), TDateValue{Clock.Today}},
                      TDefaultCase{"Time", WithDefault(Field(ftcTime), "12:30"), TTimeValue{45000000}},
                      TDefaultCase{"TimePm", WithDefault(Field(ftcTime), "1:02:03.500 PM"),
                                   TTimeValue{MillisecondsOfDay(13, 2, 3, 500)}},
                      TDefaultCase{"CurrentTime", WithDefault(Field(ftcTime), "CURRENT_TIME"), TTimeValue{Clock.Now}},
                      TDefaultCase{"DateTime", WithDefault(Field(ftcDateTime), "2020-01-01 12:30"),
                                   TDateTimeValue{EncodeDateTime(737425, 45000000)}},
                      TDefaultCase{"Timestamp", WithDefault(Field(ftcDateTime), "CURRENT_TIMESTAMP"),
                                   TDateTimeValue{EncodeDateTime(Clock.Today, Clock.Now)}},
                      TDefaultCase{"DateTimeCurrentDate", WithDefault(Field(ftcDateTime), "CURRENT_DATE"),
                                   TDateTimeValue{EncodeDateTime(Clock.Today, 0)}},
                      TDefaultCase{"DateTimeCurrentTime", WithDefault(Field(ftcDateTime), "CURRENT_TIME"),
                                   TDateTimeValue{EncodeDateTime(DayNumber18991230, Clock.Now)}},
                      TDefaultCase{"Boolean", WithDefault(Field(ftcBoolean), "TRUE"), true},
                      TDefaultCase{"SmallInt", WithDefault(Field(ftcSmallInt), "-32768"), std::int64_t{-32768}},
                      TDefaultCase{"LargeInt", WithDefault(Field(ftcLargeInt), "9000000000"), std::int64_t{9000000000}},
                      TDefaultCase{"Float", WithDefault(Field(ftcFloat), "-2.5"), -2.5},
                      TDefaultCase{"Bcd", WithDefault(Field(ftcBCD, fstNone, 0, 3), "12.5"),
                                   *BcdFromText("12.500", 32, 3)},
                      TDefaultCase{"BlobIgnored", WithDefault(Field(ftcBlob), "x"), std::monostate{}},
                      TDefaultCase{"NoDefault", Field(ftcInteger), std::monostate{}}),
    [](const ::testing::TestParamInfo<TDefaultCase> &info) { return std::string(info.param.name); });

TEST(DefaultGuid, IsANewGuidTextEachTime) {
  TDataEngine engine;
  const auto fields = Laid({WithDefault(Field(ftcString, fstGuid, 38), "Current_Guid")});
  TBytes first(RecordSizeOf(fields));
  TBytes second(RecordSizeOf(fields));
  ApplyDefaults(TNewRecordTable{.Engine = engine, .Fields = fields}, first, Clock);
  ApplyDefaults(TNewRecordTable{.Engine = engine, .Fields = fields}, second, Clock);
  const auto text = std::get<std::string>(ReadFieldValue(fields[0], first));
  EXPECT_TRUE(
      std::regex_match(text, std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})")))
      << text;
  EXPECT_NE(ReadFieldValue(fields[0], second), TFieldValue{text});
}

TEST(DefaultInvalid, RaisesWithTheFieldName) {
  TDataEngine engine;
  TFieldDef def = WithDefault(Field(ftcInteger), "twelve");
  def.SetName("Count");
  const auto fields = Laid({def});
  TBytes image(RecordSizeOf(fields));
  try {
    ApplyDefaults(TNewRecordTable{.Engine = engine, .Fields = fields, .TableName = "items"}, image, Clock);
    FAIL() << "no raise";
  } catch (const ENEXORAEngineError &error) {
    EXPECT_EQ(error.ErrorCode(), NEXORA_INVALIDVCHKSTRUCT);
    EXPECT_EQ(error.FieldName(), "Count");
  }
}

struct TConstraintCase {
  const char *name;
  TFieldDef field;
  TFieldValue value;
  TErrorCode expected;
};

TFieldDef Bounded(TFieldDef def, const char *minimum, const char *maximum, bool required = false) {
  def.SetMinimum(minimum);
  def.SetMaximum(maximum);
  def.SetRequired(required);
  def.SetName("Checked");
  return def;
}

class Constraints : public ::testing::TestWithParam<TConstraintCase> {
protected:
  TDataEngine engine_;
};

TEST_P(Constraints, RaiseTheirCodeWithFieldAndTableNames) {
  const TConstraintCase &c = GetParam();
  const auto fields = Laid({c.field});
  TBytes image(RecordSizeOf(fields), 0);
  WriteFieldValue(fields[0], image, c.value, 0);
  const TNewRecordTable table{.Engine = engine_, .Fields = fields, .TableName = "items", .DatabaseName = "/data"};
  try {
    CheckConstraints(table, image, Clock);
    EXPECT_EQ(c.expected, NEXORA_NONE);
  } catch (const ENEXORAEngineError &error) {
    EXPECT_EQ(error.ErrorCode(), c.expected);
    EXPECT_EQ(error.FieldName(), "Checked");
    EXPECT_EQ(error.TableName(), "items");
    EXPECT_EQ(error.DatabaseName(), "/data");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Constraints,
    ::testing::Values(
        TConstraintCase{"RequiredMissing", Bounded(Field(ftcInteger), "", "", true), std::monostate{}, NEXORA_REQDERR},
        TConstraintCase{"RequiredGiven", Bounded(Field(ftcInteger), "", "", true), std::int64_t{0}, NEXORA_NONE},
        TConstraintCase{"RequiredEmptyString", Bounded(Field(ftcString, fstNone, 5), "", "", true), std::string(""),
                        NEXORA_REQDERR},
        TConstraintCase{"IntegerBelow", Bounded(Field(ftcInteger), "10", "20"), std::int64_t{9}, NEXORA_MINVALERR},
        TConstraintCase{"IntegerAtMinimum", Bounded(Field(ftcInteger), "10", "20"), std::int64_t{10}, NEXORA_NONE},
        TConstraintCase{"IntegerAbove", Bounded(Field(ftcInteger), "10", "20"), std::int64_t{21}, NEXORA_MAXVALERR},
        TConstraintCase{"NullIntegerNotCompared", Bounded(Field(ftcInteger), "10", "20"), std::monostate{},
                        NEXORA_NONE},
        TConstraintCase{"EmptyStringChecked", Bounded(Field(ftcString, fstNone, 5), "b", ""), std::monostate{},
                        NEXORA_MINVALERR},
        TConstraintCase{"StringAbove", Bounded(Field(ftcString, fstNone, 5), "b", "m"), std::string("n"),
                        NEXORA_MAXVALERR},
        TConstraintCase{"StringInside", Bounded(Field(ftcString, fstNone, 5), "b", "m"), std::string("c"), NEXORA_NONE},
        TConstraintCase{"DateBelowToday", Bounded(Field(ftcDate), "CURRENT_DATE", ""), TDateValue{Clock.Today - 1},
                        NEXORA_MINVALERR},
        TConstraintCase{"FloatAbove", Bounded(Field(ftcFloat), "", "1.5"), 1.75, NEXORA_MAXVALERR},
        TConstraintCase{"BcdBelow", Bounded(Field(ftcBCD, fstNone, 0, 2), "0.01", ""), *BcdFromText("0", 32, 2),
                        NEXORA_MINVALERR},
        TConstraintCase{"BooleanAbove", Bounded(Field(ftcBoolean), "", "FALSE"), true, NEXORA_MAXVALERR},
        TConstraintCase{"InvalidBound", Bounded(Field(ftcInteger), "ten", ""), std::int64_t{1},
                        NEXORA_INVALIDVCHKSTRUCT}),
    [](const ::testing::TestParamInfo<TConstraintCase> &info) { return std::string(info.param.name); });

TEST(AutoIncrement, NullFieldsTakeTheNextValueAndGivenValuesStay) {
  TDataEngine engine;
  const auto fields = Laid({Field(ftcInteger, fstAutoInc)});
  const TNewRecordTable table{.Engine = engine, .Fields = fields};
  TBytes image(RecordSizeOf(fields), 0);
  EXPECT_EQ(AssignAutoIncrements(table, image, 10), 11);
  EXPECT_EQ(ReadFieldValue(fields[0], image), TFieldValue{std::int64_t{11}});
  WriteFieldValue(fields[0], image, std::int64_t{500}, 0);
  EXPECT_EQ(AssignAutoIncrements(table, image, 10), 500);
  EXPECT_EQ(ReadFieldValue(fields[0], image), TFieldValue{std::int64_t{500}});
  WriteFieldValue(fields[0], image, std::monostate{}, 0);
  EXPECT_EQ(AssignAutoIncrements(table, image, 500), 501);
}

TEST(Serial, WrapsAfterTheLargestValue) {
  EXPECT_EQ(NextSerial(0), 1);
  EXPECT_EQ(NextSerial(41), 42);
  EXPECT_EQ(NextSerial(2147483647), 1);
  EXPECT_EQ(NextSerial(-5), 1);
}

TEST(FinishNewRecord, SetsHeaderBytesAndTheHash) {
  TDataEngine engine;
  const auto fields = Laid({Field(ftcInteger)});
  TBytes image(RecordSizeOf(fields), 0xAA);
  FinishNewRecord(TNewRecordTable{.Engine = engine, .Fields = fields}, image, 7);
  EXPECT_EQ(TBytes(image.begin(), image.begin() + 9), (TBytes{0, 0, 0, 0, 0, 7, 0, 0, 0}));
  const TDigest expected = DigestBytes(image.data() + 25, image.size() - 25);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + 9));
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/data_engine.h"
#include "engine/engine_error.h"
#include "storage/field_def_rules.h"
#include "support/date_time.h"

namespace nexora {
namespace {

TFieldDef Field(std::uint16_t number, std::string_view name, std::uint8_t type, std::uint16_t size = 0,
                std::uint8_t subtype = 0) {
  TFieldDef field;
  field.SetNumber(number);
  field.SetName(name);
  field.SetType(type);
  field.SetSubtype(subtype);
  field.SetDeclaredSize(size);
  return field;
}

// Three valid fields; each case breaks one thing.
std::vector<TFieldDef> ValidFields() {
  return {Field(1, "Name", ftcString, 20), Field(2, "Price", ftcBCD), Field(3, "Photo", ftcBlob, 0, fstGraphic)};
}

struct TRuleCase {
  const char *rule;
  std::function<void(TTableSettings &, std::vector<TFieldDef> &)> change;
  TErrorCode code;
  std::int32_t position; // 0 for a table-level rule
};

const std::vector<TRuleCase> &RuleCases() {
  using F = std::vector<TFieldDef>;
  using S = TTableSettings;
  static const std::vector<TRuleCase> cases = {
      {"valid", [](S &, F &) {}, NEXORA_NONE, 0},
      // 1 to 1024 fields
      {"no fields", [](S &, F &f) { f.clear(); }, NEXORA_FLDLIMIT, 0},
      {"1025 fields",
       [](S &, F &f) {
         f.clear();
         for (std::uint16_t i = 1; i <= 1025; ++i) {
           f.push_back(Field(i, "F" + std::to_string(i), ftcInteger));
         }
       },
       NEXORA_FLDLIMIT, 0},
      {"1024 fields",
       [](S &, F &f) {
         f.clear();
         for (std::uint16_t i = 1; i <= 1024; ++i) {
           f.push_back(Field(i, "F" + std::to_string(i), ftcBoolean));
         }
       },
       NEXORA_NONE, 0},
      // index page size and secondary indexes
      {"page 1023", [](S &s, F &) { s.IndexPageSize = 1023; }, NEXORA_INDEXLIMIT, 0},
      {"page 1024", [](S &s, F &) { s.IndexPageSize = 1024; }, NEXORA_NONE, 0},
      {"page 16384", [](S &s, F &) { s.IndexPageSize = 16384; }, NEXORA_NONE, 0},
      {"page 16385", [](S &s, F &) { s.IndexPageSize = 16385; }, NEXORA_INDEXLIMIT, 0},
      {"30 indexes", [](S &s, F &) { s.SecondaryIndexCount = 30; }, NEXORA_NONE, 0},
      {"31 indexes", [](S &s, F &) { s.SecondaryIndexCount = 31; }, NEXORA_INDEXLIMIT, 0},
      // BLOB block size
      {"block 63", [](S &s, F &) { s.BlobBlockSize = 63; }, NEXORA_BLOBLIMIT, 0},
      {"block 64", [](S &s, F &) { s.BlobBlockSize = 64; }, NEXORA_NONE, 0},
      {"block 65536", [](S &s, F &) { s.BlobBlockSize = 65536; }, NEXORA_NONE, 0},
      {"block 65537", [](S &s, F &) { s.BlobBlockSize = 65537; }, NEXORA_BLOBLIMIT, 0},
      // password of an encrypted table
      {"encrypted, blank password",
       [](S &s, F &) {
         s.Encrypted = true;
         s.Password = "   ";
       },
       NEXORA_INVALIDPASSWORD, 0},
      {"encrypted, 129 characters",
       [](S &s, F &) {
         s.Encrypted = true;
         s.Password = std::string(129, 'p');
       },
       NEXORA_INVALIDPASSWORD, 0},
      {"encrypted, 128 characters between blanks",
       [](S &s, F &) {
         s.Encrypted = true;
         s.Password = " " + std::string(128, 'p') + " ";
       },
       NEXORA_NONE, 0},
      {"not encrypted, no password", [](S &s, F &) { s.Password = ""; }, NEXORA_NONE, 0},
      // locale
      {"unknown locale", [](S &s, F &) { s.LocaleId = 0xBEEF; }, NEXORA_CANNOTLOADLDDRV, 0},
      // names
      {"blank name", [](S &, F &f) { f[1].SetName("  "); }, NEXORA_INVALIDFIELDNAME, 2},
      {"RecordID", [](S &, F &f) { f[1].SetName("recordid"); }, NEXORA_INVALIDFIELDNAME, 2},
      {"RecordHash", [](S &, F &f) { f[2].SetName(" RECORDHASH "); }, NEXORA_INVALIDFIELDNAME, 3},
      {"digit first", [](S &, F &f) { f[1].SetName("1st"); }, NEXORA_INVALIDFIELDNAME, 2},
      {"blank inside first", [](S &, F &f) { f[1].SetName("-x"); }, NEXORA_INVALIDFIELDNAME, 2},
      {"underscore first", [](S &, F &f) { f[1].SetName("_x"); }, NEXORA_NONE, 0},
      {"code 128 first", [](S &, F &f) { f[1].SetName("\x80x"); }, NEXORA_NONE, 0},
      {"code 255 first", [](S &, F &f) { f[1].SetName("\xFFx"); }, NEXORA_INVALIDFIELDNAME, 2},
      {"60 characters", [](S &, F &f) { f[1].SetName(std::string(60, 'n')); }, NEXORA_NONE, 0},
      {"length byte 61",
       [](S &, F &f) { f[1].Bytes()[TFieldDef::NameOffset] = 61; }, NEXORA_INVALIDFIELDNAME, 2},
      {"same name, other case", [](S &, F &f) { f[2].SetName("NAME"); }, NEXORA_INVALIDFIELDNAME, 1},
      {"same name after trimming", [](S &, F &f) { f[2].SetName(" price"); }, NEXORA_INVALIDFIELDNAME, 2},
      // numbers, types and sizes
      {"shared number", [](S &, F &f) { f[2].SetNumber(2); }, NEXORA_INVALIDFLDTYPE, 2},
      {"type 0", [](S &, F &f) { f[1].SetType(0); }, NEXORA_INVALIDFLDTYPE, 2},
      {"string size 0", [](S &, F &f) { f[0].SetDeclaredSize(0); }, NEXORA_INVALIDFLDTYPE, 1},
      {"string size 512", [](S &, F &f) { f[0].SetDeclaredSize(512); }, NEXORA_NONE, 0},
      {"string size 513", [](S &, F &f) { f[0].SetDeclaredSize(513); }, NEXORA_INVALIDFLDTYPE, 1},
      {"wide string 256",
       [](S &, F &f) { f[0] = Field(1, "Name", ftcString, 256, fstWideString); }, NEXORA_NONE, 0},
      {"wide string 257",
       [](S &, F &f) { f[0] = Field(1, "Name", ftcString, 257, fstWideString); }, NEXORA_INVALIDFLDTYPE, 1},
      {"bytes 0", [](S &, F &f) { f[0] = Field(1, "Name", ftcBytes, 0); }, NEXORA_INVALIDFLDTYPE, 1},
      {"varbytes 513", [](S &, F &f) { f[0] = Field(1, "Name", ftcVarBytes, 513); }, NEXORA_INVALIDFLDTYPE, 1},
      {"other type with a size", [](S &, F &f) { f[1].SetDeclaredSize(77); }, NEXORA_NONE, 0},
      // texts
      {"BLOB default", [](S &, F &f) { f[2].SetDefault("x"); }, NEXORA_INVALIDVCHKSTRUCT, 3},
      {"BCD minimum with comma", [](S &, F &f) { f[1].SetMinimum("1,5"); }, NEXORA_INVALIDVCHKSTRUCT, 2},
      {"BCD maximum", [](S &, F &f) { f[1].SetMaximum("-12.75"); }, NEXORA_NONE, 0},
      {"string default any text", [](S &, F &f) { f[0].SetDefault("CURRENT_GUID"); }, NEXORA_NONE, 0},
      // compression
      {"BLOB level 9", [](S &, F &f) { f[2].SetCompressionLevel(9); }, NEXORA_NONE, 0},
      {"BLOB level 10", [](S &, F &f) { f[2].SetCompressionLevel(10); }, NEXORA_INVALIDFLDTYPE, 3},
      {"string level 1", [](S &, F &f) { f[0].SetCompressionLevel(1); }, NEXORA_INVALIDFLDTYPE, 1},
      // order: table rules first, then field by field
      {"field count before page size",
       [](S &s, F &f) {
         f.clear();
         s.IndexPageSize = 1;
       },
       NEXORA_FLDLIMIT, 0},
      {"earlier field first",
       [](S &, F &f) {
         f[0].SetType(0);
         f[1].SetName("");
       },
       NEXORA_INVALIDFLDTYPE, 1},
      {"name before type",
       [](S &, F &f) {
         f[1].SetType(0);
         f[1].SetName("");
       },
       NEXORA_INVALIDFIELDNAME, 2},
  };
  return cases;
}

TEST(FieldDefRules, TableOfRules) {
  for (const TRuleCase &c : RuleCases()) {
    TTableSettings settings;
    std::vector<TFieldDef> fields = ValidFields();
    c.change(settings, fields);
    const TDefinitionFailure failure = CheckTableDefinition(settings, fields);
    EXPECT_EQ(failure.Code, c.code) << c.rule;
    EXPECT_EQ(failure.FieldPosition, c.position) << c.rule;
  }
}

TEST(FieldDefRules, LayoutIsComputedInFieldOrder) {
  std::vector<TFieldDef> fields = {Field(1, "  Name  ", ftcString, 20),
                                   Field(2, "Wide", ftcString, 10, 32),
                                   Field(3, "Price", ftcBCD),
                                   Field(4, "When", ftcDateTime, 99),
                                   Field(5, "Flag", ftcBoolean),
                                   Field(6, "Raw", ftcBytes, 7),
                                   Field(7, "Other", 17, 5)};
  fields[2].SetDecimals(4);
  fields[3].SetDecimals(3);
  ASSERT_FALSE(CheckTableDefinition({}, fields));
  EXPECT_EQ(fields[0].Name(), "Name"); // stored trimmed
  const std::vector<std::uint16_t> physical = {21, 21, 34, 8, 2, 7, 0};
  const std::vector<std::uint16_t> offsets = {25, 47, 69, 104, 113, 116, 124};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].PhysicalSize(), physical[i]) << i;
    EXPECT_EQ(fields[i].RecordOffset(), offsets[i]) << i;
    EXPECT_EQ(fields[i].PhysicalDecimals(), fields[i].Decimals()) << i;
  }
  EXPECT_EQ(fields[2].Decimals(), 4);     // BCD keeps its decimals
  EXPECT_EQ(fields[3].Decimals(), 0);     // others lose theirs
  EXPECT_EQ(fields[3].DeclaredSize(), 0); // and their declared size
  EXPECT_EQ(fields[6].DeclaredSize(), 0); // unknown codes too: physical size 0
  EXPECT_EQ(RoundRecordSize(125), 128);
}

TEST(FieldDefRules, FailureRaisesWithTheFieldName) {
  TDataEngine engine;
  std::vector<TFieldDef> fields = ValidFields();
  fields[1].SetName("9lives");
  const TDefinitionFailure failure = CheckTableDefinition({}, fields);
  ASSERT_EQ(failure.Code, NEXORA_INVALIDFIELDNAME);
  EXPECT_EQ(failure.FieldName, "9lives");
  try {
    RaiseDefinitionFailure(engine, failure, "orders", "/data");
  } catch (const ENEXORAEngineError &error) {
    EXPECT_EQ(error.ErrorCode(), NEXORA_INVALIDFIELDNAME);
    EXPECT_EQ(error.FieldName(), "9lives");
    EXPECT_EQ(error.TableName(), "orders");
    EXPECT_EQ(error.DatabaseName(), "/data");
  }
}

struct TTextCase {
  std::uint8_t type;
  const char *text;
  bool valid;
};

TEST(FieldDefRules, ValueTextsPerType) {
  const std::vector<TTextCase> cases = {
      {ftcString, "", true},
      {ftcString, "anything at all", true},
      {ftcBytes, "xyz", true},
      {ftcVarBytes, "xyz", true},
      {ftcBlob, "", true},
      {ftcBlob, "x", false},
      {ftcDate, "current_date", true},
      {ftcDate, "2020-01-31", true},
      {ftcDate, "2020-02-30", false},
      {ftcDate, "2020/01/31", false},
      {ftcDate, "CURRENT_TIME", false},
      {ftcDate, "2020-1-5", true},
      {ftcTime, "CURRENT_TIME", true},
      {ftcTime, "13:45", true},
      {ftcTime, "13:45:10", true},
      {ftcTime, "13:45:10.250", true},
      {ftcTime, "1:45 PM", true},
      {ftcTime, "11:45AM", true},
      {ftcTime, "13:45 PM", false},
      {ftcTime, "24:00", false},
      {ftcTime, "12:60", false},
      {ftcTime, "13", false},
      {ftcTime, "13:45.5", false},
      {ftcDateTime, "CURRENT_TIMESTAMP", true},
      {ftcDateTime, "current_date", true},
      {ftcDateTime, "Current_Time", true},
      {ftcDateTime, "2020-01-01", true},
      {ftcDateTime, "08:30", true},
      {ftcDateTime, "2020-01-01 08:30:00", true},
      {ftcDateTime, "2020-01-01 08:30 PM", true},
      {ftcDateTime, "2020-01-01T08:30", false},
      {ftcDateTime, "2020-13-01 08:30", false},
      {ftcBoolean, "TRUE", true},
      {ftcBoolean, "false", true},
      {ftcBoolean, "yes", false},
      {ftcSmallInt, "-32768", true},
      {ftcSmallInt, "32767", true},
      {ftcSmallInt, "32768", false},
      {ftcSmallInt, "1.0", false},
      {ftcWord, "65535", true},
      {ftcWord, "-1", false},
      {ftcWord, "65536", false},
      {ftcInteger, "-2147483648", true},
      {ftcInteger, "2147483648", false},
      {ftcInteger, "+12", true},
      {ftcInteger, "12a", false},
      {ftcLargeInt, "-9223372036854775808", true},
      {ftcLargeInt, "9223372036854775807", true},
      {ftcLargeInt, "9223372036854775808", false},
      {ftcLargeInt, "99999999999999999999999", false},
      {ftcFloat, "3.25", true},
      {ftcFloat, "-.5", true},
      {ftcFloat, "1e10", true},
      {ftcFloat, "1e400", false},
      {ftcFloat, "3,25", false},
      {ftcFloat, ".", false},
      {ftcBCD, "12345.6789", true},
      {ftcBCD, "abc", false},
      {17, "whatever", true},
  };
  for (const TTextCase &c : cases) {
    EXPECT_EQ(IsValidValueText(c.type, c.text), c.valid) << int(c.type) << " '" << c.text << "'";
  }
}

TEST(FieldDefRules, ParsedValues) {
  EXPECT_EQ(ParseDateText("2020-01-01"), DayNumberOf(2020, 1, 1));
  EXPECT_EQ(ParseTimeText("12:00 AM"), 0);
  EXPECT_EQ(ParseTimeText("12:30 PM"), 45'000'000);
  EXPECT_EQ(ParseTimeText("01:02:03.004"), MillisecondsOfDay(1, 2, 3, 4));
  EXPECT_EQ(ParseDateTimeText("2020-01-01 00:00:01"), EncodeDateTime(DayNumberOf(2020, 1, 1), 1000));
  EXPECT_EQ(ParseDateTimeText("00:00:01"), EncodeDateTime(DayNumber18991230, 1000));
  EXPECT_EQ(ParseIntegerText(" -7 ", -10, 10), -7);
  EXPECT_EQ(ParseFloatText("+2.5e1"), 25.0);
  EXPECT_EQ(ParseBooleanText("True"), true);
}

TEST(FieldDefRules, NamesAndSizes) {
  EXPECT_EQ(CheckFieldNameText(" Name "), TFieldNameProblem::None);
  EXPECT_EQ(CheckFieldNameText(""), TFieldNameProblem::Blank);
  EXPECT_EQ(CheckFieldNameText("#x"), TFieldNameProblem::FirstCharacter);
  EXPECT_EQ(CheckFieldNameText(std::string(61, 'a')), TFieldNameProblem::TooLong);
  EXPECT_TRUE(SameFieldName("  price", "PRICE "));
  EXPECT_TRUE(SameFieldName("\xE9t\xE9", "\xC9T\xC9")); // Windows-1252 letters
  EXPECT_TRUE(IsSystemFieldName("RECORDID"));
  EXPECT_FALSE(IsSystemFieldName("RecordIDs"));
  EXPECT_EQ(DeclaredSizeLimit(ftcString, fstWideString), 256);
  EXPECT_EQ(DeclaredSizeLimit(ftcBytes, fstWideString), 512);
  EXPECT_TRUE(HasDeclaredSize(ftcVarBytes));
  EXPECT_FALSE(HasDeclaredSize(ftcBCD));
}

} // namespace
} // namespace nexora

#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/error_codes.h"
#include "storage/field_def.h"

namespace nexora {

class TDataEngine;

// The rules a set of field definitions obeys: what table creation checks,
// what the structure check of an opened table checks, and the layout both compute.
// Each rule lives here once; CheckTableDefinition and TDataFile::VerifyStructure call
// the same functions. Pure functions over their arguments; any thread.

inline constexpr std::int32_t MaxFieldCount = 1024;
inline constexpr std::int32_t MaxBlobFieldCount = 128;
inline constexpr std::int32_t MaxSecondaryIndexCount = 30;
inline constexpr std::uint32_t MinIndexPageSize = 1024;
inline constexpr std::uint32_t MaxIndexPageSize = 16384;
inline constexpr std::uint32_t MinBlobBlockSize = 64;
inline constexpr std::uint32_t MaxBlobBlockSize = 65536;
inline constexpr std::size_t MaxTablePasswordLength = 128;
inline constexpr std::int32_t MaxRecordSize = 65534;
// User fields start here in a record; bytes 0 to 24 hold status, free-chain link,
// RecordID and RecordHash.
inline constexpr std::uint16_t FirstFieldRecordOffset = 25;
inline constexpr std::uint16_t MaxDeclaredSize = 512;
inline constexpr std::uint16_t MaxDeclaredWideSize = 256;

inline constexpr std::string_view RecordIDFieldName = "RecordID";
inline constexpr std::string_view RecordHashFieldName = "RecordHash";

// --- names
enum class TFieldNameProblem : std::uint8_t { None, Blank, FirstCharacter, TooLong };

// A letter A-Z or a-z, "_" or a character code 128 to 254 (also the rule for index names).
bool IsValidNameFirstCharacter(char c);
// The name, blanks trimmed: not empty, a valid first character, at most 60 characters.
TFieldNameProblem CheckFieldNameText(std::string_view name);
// The same for a definition's stored name, whose length byte may claim more than the 60
// characters its field holds (too long).
TFieldNameProblem CheckFieldName(const TFieldDef &definition);
// "RecordID" or "RecordHash", without regard to case and surrounding blanks.
bool IsSystemFieldName(std::string_view name);
// The form under which two field names are the same name: blanks trimmed, upper-cased
// by the table code page (Windows-1252).
std::string FieldNameKey(std::string_view name);
bool SameFieldName(std::string_view a, std::string_view b);

// --- sizes
// String, bytes and variable-bytes fields carry a declared size; all others have 0.
bool HasDeclaredSize(std::uint8_t type);
// The largest declared size of such a field: 256 for a wide string, else 512.
std::uint16_t DeclaredSizeLimit(std::uint8_t type, std::uint8_t subtype);
// Physical decimals := decimals; physical size by ComputePhysicalSize.
void ComputeFieldPhysical(TFieldDef &definition);
// A running record offset rounded up to the next multiple of 8.
constexpr std::int32_t RoundRecordSize(std::int32_t runningOffset) { return (runningOffset + 7) / 8 * 8; }

// --- default, minimum and maximum texts
inline constexpr std::string_view CurrentDateText = "CURRENT_DATE";
inline constexpr std::string_view CurrentTimeText = "CURRENT_TIME";
inline constexpr std::string_view CurrentTimestampText = "CURRENT_TIMESTAMP";
inline constexpr std::string_view CurrentGuidText = "CURRENT_GUID";

// Whether text is a valid default, minimum or maximum text for a field of the type. The
// empty text always is; a BLOB field accepts nothing else; string, bytes and
// variable-bytes fields, and types outside the table of type codes, accept any text.
bool IsValidValueText(std::uint8_t type, std::string_view text);

// The parsers behind IsValidValueText; record code parses default texts with them.
// Surrounding blanks are ignored. Keywords (CURRENT_...) are not parsed here.
// Year-month-day digits separated by "-", a valid date: its day number.
std::optional<std::int32_t> ParseDateText(std::string_view text);
// Hours ":" minutes, optionally ":" seconds and "." milliseconds (0 to 999, as a number),
// optionally "AM" or "PM" (after an optional blank): milliseconds since midnight.
std::optional<std::int32_t> ParseTimeText(std::string_view text);
// A date, a time, or a date and a time separated by a blank: day number x 86,400,000 +
// milliseconds; a time alone lies on 1899-12-30 (day number 693594).
std::optional<double> ParseDateTimeText(std::string_view text);
// "TRUE" or "FALSE", without regard to case.
std::optional<bool> ParseBooleanText(std::string_view text);
// An optional sign and decimal digits, within [minimum, maximum].
std::optional<std::int64_t> ParseIntegerText(std::string_view text, std::int64_t minimum, std::int64_t maximum);
// An optional sign, digits with "." as decimal separator, an optional exponent; finite.
std::optional<double> ParseFloatText(std::string_view text);
// Whether text equals the keyword without regard to case and surrounding blanks.
bool IsKeywordText(std::string_view text, std::string_view keyword);

// --- table creation
// The table-level values that table creation checks beside the field definitions.
struct TTableSettings {
  std::uint32_t IndexPageSize = 4096;
  std::int32_t SecondaryIndexCount = 0;
  std::uint32_t BlobBlockSize = 512;
  bool Encrypted = false;
  std::string Password;
  std::uint32_t LocaleId = 0;
};

// The first rule that a definition broke; Code 0 when none.
struct TDefinitionFailure {
  TErrorCode Code = NEXORA_NONE;
  // 1-based position of the field, 0 for a table-level rule.
  std::int32_t FieldPosition = 0;
  // The field's name (blanks trimmed) for field-level rules.
  std::string FieldName;
  explicit operator bool() const { return Code != NEXORA_NONE; }
};

// The one validation routine of table creation, rules in this order, the
// first broken one answered:
//   1 to 1024 fields                                         9492 NEXORA_FLDLIMIT
//   index page size 1024 to 16384                            9487 NEXORA_INDEXLIMIT
//   at most 30 secondary indexes                             9487
//   BLOB block size 64 to 65536                              9498 NEXORA_BLOBLIMIT
//   encrypted: password trimmed, 1 to 128 characters         10015 NEXORA_INVALIDPASSWORD
//   locale 0 or one the system supports                      15878 NEXORA_CANNOTLOADLDDRV
// then for each field in order:
//   name trimmed (stored trimmed), CheckFieldName, not a
//   system name, not another field's name (the first of two
//   equal names is refused, as for numbers)                  10038 NEXORA_INVALIDFIELDNAME
//   field number not shared with another definition         10000 NEXORA_INVALIDFLDTYPE
//   type code not 0                                          10000
//   types 1, 9, 15: declared size 1 to DeclaredSizeLimit     10000 (other types: set to 0)
//   default, minimum and maximum texts IsValidValueText      10006 NEXORA_INVALIDVCHKSTRUCT
//   compression level 0, or 1 to 9 on a BLOB field           10000
// after which the field's decimals become 0 unless it is BCD, its physical size and
// decimals are computed and its record offset is the running offset (from 25), which
// grows by physical size + 1. The definitions are changed in place (also when a later
// field fails). BLOB count and record size limits are SetFieldDefs' (9498, 9477).
TDefinitionFailure CheckTableDefinition(const TTableSettings &settings, std::span<TFieldDef> fields);

// Raises the failure's code with the table, database and (for field rules) field names.
[[noreturn]] void RaiseDefinitionFailure(TDataEngine &engine, const TDefinitionFailure &failure,
                                         const std::string &tableName, const std::string &databaseName);

} // namespace nexora

#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/data_engine.h"
#include "storage/field_value.h"
#include "storage/record_hash.h"

namespace nexora {

// What preparing a new record needs to know of its table. The references must outlive
// the calls.
struct TNewRecordTable {
  TDataEngine &Engine;
  TFieldDefList Fields;
  std::uint32_t LocaleId = 0;
  std::string TableName{};
  std::string DatabaseName{};
};

// The moment a record is prepared at: today's day number and the time of day.
struct TRecordClock {
  std::int32_t Today = 0;
  std::int32_t Now = 0;
  // The local clock; raises std::system_error when it cannot be read.
  static TRecordClock Local();
};

// The steps of preparing a record at insert that belong to the record image; the
// inserting cursor runs them in this order around its own steps (the caller's values
// after ApplyDefaults, unique keys and allocation after FinishNewRecord). Every
// function works on the caller's whole-record image from the caller's thread.

// Zeroes the image and writes the default of every non-BLOB field with a default text:
// "CURRENT_GUID" (strings), "CURRENT_DATE", "CURRENT_TIME" and "CURRENT_TIMESTAMP" (any
// case, where the type takes them) from the clock, else the literal (field_literals.h;
// BCD with precision 32 and the field's decimals). A default that is not valid for its
// type raises 10006 (NEXORA_INVALIDVCHKSTRUCT) with the field's name.
void ApplyDefaults(const TNewRecordTable &table, std::span<std::uint8_t> image, const TRecordClock &clock);

// Gives each null auto-increment field (type 6, subtype 29) NextSerial(lastAutoInc);
// a given value stays. Returns the largest auto-increment value the record holds
// (lastAutoInc when it holds none larger), for the header.
std::int32_t AssignAutoIncrements(const TNewRecordTable &table, std::span<std::uint8_t> image,
                                  std::int32_t lastAutoInc);

// Checks every field in field order: a required field must not be null (9732
// NEXORA_REQDERR), a value must not be below the minimum text (9730 NEXORA_MINVALERR) nor
// above the maximum text (9731 NEXORA_MAXVALERR). Strings compare in the table's locale
// and are checked even when empty; other null values are not compared; bytes, variable
// bytes and BLOB fields have no range. The raise names the field, table and database.
// A minimum or maximum text not valid for the type raises 10006.
void CheckConstraints(const TNewRecordTable &table, std::span<const std::uint8_t> image, const TRecordClock &clock);

// Status 0, bytes 1 to 4 zero, the record ID, then the record hash.
void FinishNewRecord(const TNewRecordTable &table, std::span<std::uint8_t> image, std::int32_t recordID);

// The number after `last` in the table's ID and auto-increment series: 2147483647 is
// followed by 1.
std::int32_t NextSerial(std::int32_t last);

} // namespace nexora

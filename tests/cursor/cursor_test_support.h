#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cursor/data_cursor.h"
#include "storage/field_values.h"
#include "storage/index_file.h"
#include "tables/table_test_support.h"

namespace nexora::testing {

// The people table: Id (integer, the primary index), Code (integer, unique, descending),
// Name (string of 20, non-unique, case-insensitive), Note (string of 30, no index), Bio (a
// memo in the text index) and Photo (a compressed BLOB).
enum TPeopleField : std::int16_t { Id = 1, Code = 2, Name = 3, Note = 4, Bio = 5, Photo = 6 };

inline TTableDefinition PeopleDefinition() {
  TTableDefinition definition;
  definition.Fields = {FieldDefOf("Id", ftcInteger, 0, Id),         FieldDefOf("Code", ftcInteger, 0, Code),
                       FieldDefOf("Name", ftcString, 20, Name),     FieldDefOf("Note", ftcString, 30, Note),
                       FieldDefOf("Bio", ftcBlob, 0, Bio, fstMemo), FieldDefOf("Photo", ftcBlob, 0, Photo, fstNone, 6)};
  definition.TextIndexFields = {Bio};
  definition.BlobBlockSize = 128;
  TIndexDef primary;
  primary.SetName("ById");
  primary.SetFields({Id});
  primary.SetUnique(true);
  definition.PrimaryIndex = primary;
  TIndexDef byCode;
  byCode.SetName("ByCode");
  byCode.SetFields({Code});
  byCode.SetUnique(true);
  byCode.SetDescending(true);
  TIndexDef byName;
  byName.SetName("ByName");
  byName.SetFields({Name});
  byName.SetCaseInsensitive(true);
  definition.SecondaryIndexes = {byCode, byName};
  return definition;
}

// One person as the tests write and read them.
struct TPerson {
  std::int64_t Id = 0;
  std::int64_t Code = 0;
  std::string Name;
  std::string Note{};
  std::string Bio{};
  TBytes Photo{};
  bool operator==(const TPerson &) const = default;
};

// Writes the person into an image for an insert or an edit; BLOB values are opened for
// writing (temporary: a cancel drops them) and replaced, to be written at post.
inline void WritePerson(TDataCursor &cursor, std::span<std::uint8_t> image, const TPerson &person) {
  WriteFieldValue(cursor.FieldDef(Id), image, person.Id, 0);
  WriteFieldValue(cursor.FieldDef(Code), image, person.Code, 0);
  WriteFieldValue(cursor.FieldDef(Name), image, person.Name, 0);
  WriteFieldValue(cursor.FieldDef(Note), image, person.Note, 0);
  const TBytes bio(person.Bio.begin(), person.Bio.end());
  for (const auto &[field, value] : {std::pair{Bio, &bio}, std::pair{Photo, &person.Photo}}) {
    cursor.OpenBlob(field, image, TBlobMode::ReadWrite, true);
    cursor.TruncateBlob(field, image, 0);
    cursor.WriteBlob(field, image, static_cast<std::int32_t>(value->size()), value->data(), 0);
  }
}

// Reads a person from an image, BLOB values included.
inline TPerson ReadPerson(TDataCursor &cursor, std::span<const std::uint8_t> stored) {
  std::vector<std::uint8_t> image(stored.begin(), stored.end());
  const auto text = [&](TPeopleField field) {
    const TFieldValue value = ReadFieldValue(cursor.FieldDef(field), image);
    return IsNull(value) ? std::string() : std::get<std::string>(value);
  };
  const auto blob = [&](TPeopleField field) {
    TBytes value(static_cast<std::size_t>(cursor.OpenBlob(field, image, TBlobMode::Read)));
    cursor.ReadBlob(field, image, static_cast<std::int32_t>(value.size()), value.data(), 0);
    cursor.CloseBlob(field, image);
    return value;
  };
  const TBytes bio = blob(Bio);
  return TPerson{std::get<std::int64_t>(ReadFieldValue(cursor.FieldDef(Id), image)),
                 std::get<std::int64_t>(ReadFieldValue(cursor.FieldDef(Code), image)),
                 text(Name),
                 text(Note),
                 std::string(bio.begin(), bio.end()),
                 blob(Photo)};
}

// A database directory with the people table and an open cursor on it.
class TPeopleTable {
public:
  explicit TPeopleTable(const std::string &path, bool create = true)
      : session_(engine_.NewSession()), directory_(OpenDirectory(session_, "people db", path)) {
    if (create) {
      directory_.CreateTable("people", PeopleDefinition());
    }
  }
  TTestEngine &Engine() { return engine_; }
  TDataSession &Session() { return session_; }
  TDataDirectory &Directory() { return directory_; }

  std::unique_ptr<TDataCursor> OpenCursor() {
    auto cursor = std::make_unique<TDataCursor>(directory_);
    cursor->SetTableName("people");
    cursor->Open();
    return cursor;
  }

private:
  TTestEngine engine_;
  TDataSession &session_;
  TDataDirectory &directory_;
};

// Inserts the person; a refused insert drops the values it opened.
inline void Insert(TDataCursor &cursor, const TPerson &person) {
  std::vector<std::uint8_t> image = cursor.InitNewRecord();
  WritePerson(cursor, image, person);
  try {
    cursor.InsertRecord(image);
  } catch (...) {
    cursor.CloseRecordBlobs(image);
    throw;
  }
}

// The people of the active index from first to last, by Next.
inline std::vector<TPerson> Walk(TDataCursor &cursor) {
  std::vector<TPerson> people;
  std::vector<std::uint8_t> image(cursor.RecordSize());
  cursor.First();
  while (cursor.Next(image.data()) == NEXORA_NONE) {
    people.push_back(ReadPerson(cursor, image));
  }
  return people;
}

// The same from last to first, by Prior.
inline std::vector<TPerson> WalkBack(TDataCursor &cursor) {
  std::vector<TPerson> people;
  std::vector<std::uint8_t> image(cursor.RecordSize());
  cursor.Last();
  while (cursor.Prior(image.data()) == NEXORA_NONE) {
    people.push_back(ReadPerson(cursor, image));
  }
  return people;
}

} // namespace nexora::testing

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cursor/cursor_test_support.h"

namespace nexora {
namespace {

using testing::Id;
using testing::Insert;
using testing::Name;
using testing::RaisedCode;
using testing::ReadPerson;
using testing::TPeopleTable;
using testing::TPerson;
using testing::TTempDir;

class CursorNavigation : public ::testing::Test {
protected:
  std::vector<std::uint8_t> Image() { return std::vector<std::uint8_t>(cursor_->RecordSize(), 0xAB); }
  void InsertIds(std::initializer_list<std::int64_t> ids) {
    for (const std::int64_t id : ids) {
      Insert(*cursor_, {id, 1000 - id, "name " + std::to_string(id), ""});
    }
  }
  std::int64_t CurrentId() { return ReadPerson(*cursor_, cursor_->CurrentRecord()).Id; }

  TTempDir dir_;
  TPeopleTable people_{dir_.File("")};
  std::unique_ptr<TDataCursor> cursor_ = people_.OpenCursor();
};

TEST_F(CursorNavigation, AnEmptyTableHasNoRecordEitherWay) {
  EXPECT_TRUE(cursor_->Bof());
  EXPECT_TRUE(cursor_->Eof());
  std::vector<std::uint8_t> image = Image();
  EXPECT_EQ(cursor_->Next(image.data()), NEXORA_EOF);
  EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0; }));
  image = Image();
  EXPECT_EQ(cursor_->Prior(image.data()), NEXORA_BOF);
  EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(cursor_->GetRecordCount(), 0);
  EXPECT_EQ(cursor_->GetRecNo(), 0);
  EXPECT_EQ(cursor_->GetCurrentRecord(image.data(), false), NEXORA_NOCURRREC);
}

TEST_F(CursorNavigation, NextAfterFirstDeliversTheFirstAndPriorAfterLastTheLast) {
  InsertIds({30, 10, 20});
  std::vector<std::uint8_t> image = Image();
  cursor_->First();
  EXPECT_TRUE(cursor_->Bof());
  ASSERT_EQ(cursor_->Next(image.data()), NEXORA_NONE);
  EXPECT_EQ(ReadPerson(*cursor_, image).Id, 10);
  cursor_->Last();
  EXPECT_TRUE(cursor_->Eof());
  ASSERT_EQ(cursor_->Prior(image.data()), NEXORA_NONE);
  EXPECT_EQ(ReadPerson(*cursor_, image).Id, 30);
  // Next on the last record reports the end and stays; Prior then gives the last one itself.
  EXPECT_EQ(cursor_->Next(image.data()), NEXORA_EOF);
  EXPECT_TRUE(cursor_->Eof());
  ASSERT_EQ(cursor_->Prior(image.data()), NEXORA_NONE);
  EXPECT_EQ(ReadPerson(*cursor_, image).Id, 30);
  ASSERT_EQ(cursor_->Prior(image.data()), NEXORA_NONE);
  EXPECT_EQ(ReadPerson(*cursor_, image).Id, 20);
}

TEST_F(CursorNavigation, OneRecord) {
  InsertIds({5});
  std::vector<std::uint8_t> image = Image();
  cursor_->First();
  ASSERT_EQ(cursor_->Next(image.data()), NEXORA_NONE);
  EXPECT_EQ(ReadPerson(*cursor_, image).Id, 5);
  EXPECT_EQ(cursor_->Next(image.data()), NEXORA_EOF);
  EXPECT_EQ(cursor_->GetRecordCount(), 1);
}

TEST_F(CursorNavigation, SetRecNo) {
  InsertIds({4, 2, 3, 1});
  const struct {
    std::int32_t RecNo;
    bool Landed;
    bool Bof;
    bool Eof;
    std::int64_t Id;
  } cases[] = {{0, false, true, false, 1}, {-3, false, true, false, 1}, {5, false, false, true, 4},
               {1, true, false, false, 1}, {3, true, false, false, 3},  {4, true, false, false, 4}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.RecNo);
    EXPECT_EQ(cursor_->SetRecNo(c.RecNo), c.Landed);
    EXPECT_EQ(cursor_->Bof(), c.Bof);
    EXPECT_EQ(cursor_->Eof(), c.Eof);
    EXPECT_EQ(CurrentId(), c.Id);
    if (c.Landed) {
      EXPECT_EQ(cursor_->GetRecNo(), c.RecNo);
    }
  }
}

TEST_F(CursorNavigation, IndexesOrderTheirKeys) {
  Insert(*cursor_, {1, 50, "beta", ""});
  Insert(*cursor_, {2, 70, "Alpha", ""});
  Insert(*cursor_, {3, 60, "ALPHA", ""});
  Insert(*cursor_, {4, 40, "alpha", ""});
  const auto ids = [&] {
    std::vector<std::int64_t> result;
    for (const TPerson &person : testing::Walk(*cursor_)) {
      result.push_back(person.Id);
    }
    return result;
  };
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{1, 2, 3, 4}));
  cursor_->SetIndexName("BYCODE");
  EXPECT_EQ(cursor_->IndexNumber(), 1);
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{2, 3, 1, 4})); // descending codes
  cursor_->SetIndexName("ByName");
  // Equal names without regard to case, in record-ID order, then "beta".
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{2, 3, 4, 1}));
  cursor_->SetIndexName("");
  EXPECT_EQ(cursor_->IndexNumber(), 0);
  EXPECT_EQ(RaisedCode([&] { cursor_->SetIndexName("nope"); }), NEXORA_INVALIDINDEXNAME);
  EXPECT_EQ(cursor_->IndexNumber(), 0);
  cursor_->SetIndexNumber(TDataCursor::NaturalOrder);
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{1, 2, 3, 4}));
}

TEST_F(CursorNavigation, SwitchingIndexesKeepsTheCurrentRecord) {
  const std::int64_t codes[] = {10, 50, 30, 20, 40};
  for (std::int64_t id = 1; id <= 5; ++id) {
    Insert(*cursor_, {id, codes[id - 1], "n", ""});
  }
  ASSERT_TRUE(cursor_->SetRecNo(5));
  cursor_->SetIndexName("ByCode");
  EXPECT_EQ(CurrentId(), 5);
  EXPECT_EQ(cursor_->GetRecNo(), 2);
}

TEST_F(CursorNavigation, BookmarksFindTheirRecordOrTheNextOne) {
  InsertIds({1, 2, 3});
  ASSERT_TRUE(cursor_->SetRecNo(2));
  const std::vector<std::uint8_t> second = cursor_->GetBookmark();
  ASSERT_TRUE(cursor_->SetRecNo(1));
  const std::vector<std::uint8_t> first = cursor_->GetBookmark();
  EXPECT_LT(cursor_->CompareBookmarks(first, second), 0);
  cursor_->Last();
  EXPECT_TRUE(cursor_->GotoBookmark(second, false));
  EXPECT_EQ(CurrentId(), 2);
  std::vector<std::uint8_t> image(cursor_->CurrentRecord().begin(), cursor_->CurrentRecord().end());
  cursor_->DeleteRecord(image);
  EXPECT_FALSE(cursor_->GotoBookmark(second, false));
  EXPECT_EQ(CurrentId(), 3);
}

TEST_F(CursorNavigation, ManyKeysSpanManyPages) {
  std::vector<std::int64_t> ids;
  for (std::int64_t id = 1; id <= 2000; ++id) {
    ids.push_back((id * 7919) % 2003);
  }
  for (const std::int64_t id : ids) {
    Insert(*cursor_, {id, -id, "n", ""});
  }
  std::sort(ids.begin(), ids.end());
  const std::vector<TPerson> forward = testing::Walk(*cursor_);
  ASSERT_EQ(forward.size(), ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    ASSERT_EQ(forward[i].Id, ids[i]);
  }
  const std::vector<TPerson> backward = testing::WalkBack(*cursor_);
  ASSERT_EQ(backward.size(), ids.size());
  EXPECT_EQ(backward.front().Id, ids.back());
  for (const std::int32_t recNo : {1, 2, 777, 1999, 2000}) {
    ASSERT_TRUE(cursor_->SetRecNo(recNo));
    EXPECT_EQ(CurrentId(), ids[static_cast<std::size_t>(recNo - 1)]);
    EXPECT_EQ(cursor_->GetRecNo(), recNo);
  }
}

TEST_F(CursorNavigation, ATableWhoseIndexFileWasDeletedIsRebuiltOnRecordID) {
  InsertIds({30, 10, 20});
  cursor_->Close();
  std::filesystem::remove(dir_.File("people.idx"));
  cursor_->Open();
  EXPECT_EQ(cursor_->IndexNumber(), 0);
  EXPECT_EQ(cursor_->IndexName(), "");
  // RecordID order is insertion order.
  std::vector<std::int64_t> ids;
  for (const TPerson &person : testing::Walk(*cursor_)) {
    ids.push_back(person.Id);
  }
  EXPECT_EQ(ids, (std::vector<std::int64_t>{30, 10, 20}));
  EXPECT_EQ(cursor_->GetRecordCount(), 3);
  // The rebuilt file opens again with its structure check.
  cursor_->Close();
  cursor_->Open();
  EXPECT_EQ(cursor_->GetRecordCount(), 3);
}

TEST_F(CursorNavigation, RangesRestrictMovesCountsAndRecordNumbers) {
  const char *names[] = {"bob", "Anna", "carl", "ANNA", "anna", "dora", "bob", "anna"};
  for (std::int64_t id = 1; id <= 8; ++id) {
    Insert(*cursor_, {id, id * 10, names[id - 1], ""});
  }
  const auto ids = [&] {
    std::vector<std::int64_t> result;
    for (const TPerson &person : testing::Walk(*cursor_)) {
      result.push_back(person.Id);
    }
    return result;
  };
  const auto imageOf = [&](const TPerson &person) {
    std::vector<std::uint8_t> image(cursor_->RecordSize(), 0);
    WriteFieldValue(cursor_->FieldDef(Id), image, person.Id, 0);
    WriteFieldValue(cursor_->FieldDef(testing::Code), image, person.Code, 0);
    WriteFieldValue(cursor_->FieldDef(Name), image, person.Name, 0);
    return image;
  };
  // Unique primary index: whole keys from Id 3 to Id 6.
  cursor_->SetRange(false, imageOf({3, 0, "", ""}).data(), 0, imageOf({6, 0, "", ""}).data(), 0);
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{3, 4, 5, 6}));
  EXPECT_EQ(cursor_->GetRecordCount(), 4);
  ASSERT_TRUE(cursor_->SetRecNo(2));
  EXPECT_EQ(CurrentId(), 4);
  EXPECT_FALSE(cursor_->SetRecNo(5));
  EXPECT_TRUE(cursor_->Eof());
  std::vector<std::uint8_t> image = Image();
  cursor_->Last();
  ASSERT_EQ(cursor_->Prior(image.data()), NEXORA_NONE);
  EXPECT_EQ(ReadPerson(*cursor_, image).Id, 6);
  // An inverted range holds nothing.
  cursor_->SetRange(false, imageOf({6, 0, "", ""}).data(), 0, imageOf({3, 0, "", ""}).data(), 0);
  EXPECT_EQ(cursor_->GetRecordCount(), 0);
  EXPECT_TRUE(cursor_->Bof() && cursor_->Eof());
  cursor_->CancelRange();
  EXPECT_EQ(cursor_->GetRecordCount(), 8);

  // Non-unique case-insensitive index: every "anna" in record-ID order, by the first field.
  cursor_->SetIndexName("ByName");
  cursor_->SetRange(false, imageOf({0, 0, "anna", ""}).data(), 1, imageOf({0, 0, "ANNA", ""}).data(), 1);
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{2, 4, 5, 8}));
  EXPECT_EQ(cursor_->GetRecordCount(), 4);
  // Descending codes: from 60 down to 30.
  cursor_->SetIndexName("ByCode");
  EXPECT_FALSE(cursor_->RangeActive());
  cursor_->SetRange(false, imageOf({0, 60, "", ""}).data(), 0, imageOf({0, 30, "", ""}).data(), 0);
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{6, 5, 4, 3}));
  // A record inserted inside the range is counted and visited.
  cursor_->CancelRange();
  cursor_->SetIndexName("ByName");
  cursor_->SetRange(false, imageOf({0, 0, "anna", ""}).data(), 1, imageOf({0, 0, "anna", ""}).data(), 1);
  Insert(*cursor_, {9, 90, "Anna", ""});
  EXPECT_EQ(cursor_->GetRecordCount(), 5);
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{2, 4, 5, 8, 9}));
}

TEST_F(CursorNavigation, MovesReadAheadAlongTheRecordsTheyWillVisit) {
  for (std::int64_t id = 1; id <= 3000; ++id) {
    Insert(*cursor_, {id, -id, "n", ""});
  }
  for (const std::uint8_t index : {std::uint8_t{0}, TDataCursor::NaturalOrder}) {
    SCOPED_TRACE(static_cast<int>(index));
    // A fresh cursor on a fresh table object: every record comes from the file.
    cursor_ = people_.OpenCursor();
    cursor_->SetIndexNumber(index);
    std::int32_t records = 0;
    cursor_->First();
    while (cursor_->Next() == NEXORA_NONE) {
      ++records;
    }
    ASSERT_EQ(records, 3000);
    const TCacheStatistics &statistics = cursor_->Table().DataFile().Statistics();
    EXPECT_GT(cursor_->ReadAheadDecisions(), 0);
    // Records were asked for many at a time, and read in few transfers.
    EXPECT_GT(cursor_->ReadAheadRequested(), 4 * cursor_->ReadAheadDecisions());
    EXPECT_LT(statistics.ReadTransfers, records / 4);
  }
}

TEST_F(CursorNavigation, TableNamesAndClosedCursors) {
  TDataCursor other(people_.Directory());
  other.SetTableName("/some/where/PEOPLE.DAT");
  EXPECT_EQ(other.TableName(), "PEOPLE");
  other.SetTableName(std::string(70, 'x'));
  EXPECT_EQ(other.TableName().size(), 60u);
  other.SetTableName("people");
  EXPECT_EQ(other.GetBlobBlockSize(), 128);
  EXPECT_EQ(cursor_->FieldOrigin(Name), "people.Name");
  other.SetExclusive(true);
  EXPECT_EQ(RaisedCode([&] { other.Open(); }), NEXORA_OSEACCES);
  EXPECT_FALSE(other.IsOpen());
  cursor_->Close();
  cursor_->Close();
  other.Open();
  EXPECT_TRUE(other.IsOpen());
}

} // namespace
} // namespace nexora

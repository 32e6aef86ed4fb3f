#include <gtest/gtest.h>

#include <vector>

#include "cursor/cursor_test_support.h"
#include "storage/record_layout.h"
#include "storage/table_locks.h"
#include "support/little_endian.h"

namespace nexora {
namespace {

using testing::Code;
using testing::Id;
using testing::Insert;
using testing::RaisedCode;
using testing::ReadPerson;
using testing::TPeopleTable;
using testing::TPerson;
using testing::TTempDir;

class CursorWriting : public ::testing::Test {
protected:
  std::vector<std::uint8_t> Current() { return {cursor_->CurrentRecord().begin(), cursor_->CurrentRecord().end()}; }
  std::int64_t KeysIn(std::int32_t index) {
    TIndexFile &file = cursor_->Table().IndexFile();
    return file.Root(index) == 0 ? 0 : TCountedTree(file, index).KeyCount();
  }
  std::pair<testing::TBytes, testing::TBytes> Snapshot() {
    return {testing::ReadBytes(dir_.File("people.dat")), testing::ReadBytes(dir_.File("people.idx"))};
  }

  TTempDir dir_;
  TPeopleTable people_{dir_.File("")};
  std::unique_ptr<TDataCursor> cursor_ = people_.OpenCursor();
};

TEST_F(CursorWriting, AUniqueKeyViolationChangesNothing) {
  Insert(*cursor_, {1, 10, "a", ""});
  Insert(*cursor_, {2, 20, "b", ""});
  const auto before = Snapshot();
  const struct {
    TPerson Person;
    const char *Index;
  } cases[] = {{{1, 30, "c", ""}, "Primary"}, {{3, 20, "c", ""}, "ByCode"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Index);
    try {
      Insert(*cursor_, c.Person);
      ADD_FAILURE() << "no key violation";
    } catch (const ENEXORAEngineError &error) {
      EXPECT_EQ(error.ErrorCode(), NEXORA_KEYVIOL);
      EXPECT_EQ(error.IndexName(), c.Index);
    }
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(cursor_->GetRecordCount(), 2);
    for (std::int32_t index = 0; index <= 2; ++index) {
      EXPECT_EQ(KeysIn(index), 2);
    }
  }
  // The failed write released its locks: another session can write at once.
  TDataTable &table = cursor_->Table();
  EXPECT_EQ(table.LockEntry()->HeldLocks(), 0);
  EXPECT_FALSE(table.RecordLocked(3));
}

TEST_F(CursorWriting, ModifyKeepsEveryIndexInStep) {
  Insert(*cursor_, {1, 10, "zed", ""});
  Insert(*cursor_, {2, 20, "amy", ""});
  ASSERT_TRUE(cursor_->SetRecNo(1));
  std::vector<std::uint8_t> image = Current();
  ASSERT_EQ(cursor_->GetCurrentRecord(image.data(), true), NEXORA_NONE);
  EXPECT_TRUE(cursor_->Table().RecordLocked(1));
  testing::WritePerson(*cursor_, image, {5, 5, "bob", "changed"});
  cursor_->ModifyRecord(image, true);
  EXPECT_EQ(ReadPerson(*cursor_, cursor_->CurrentRecord()), (TPerson{5, 5, "bob", "changed"}));
  EXPECT_EQ(cursor_->GetRecNo(), 2); // the record moved behind Id 2
  cursor_->SetIndexName("ByName");
  std::vector<std::string> names;
  for (const TPerson &person : testing::Walk(*cursor_)) {
    names.push_back(person.Name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"amy", "bob"}));
  EXPECT_FALSE(cursor_->Table().RecordLocked(1));
}

TEST_F(CursorWriting, DeletedRecordNumbersAreReused) {
  for (std::int64_t id = 1; id <= 3; ++id) {
    Insert(*cursor_, {id, id, "n", ""});
  }
  ASSERT_TRUE(cursor_->SetRecNo(2));
  cursor_->DeleteRecord(Current());
  EXPECT_EQ(ReadPerson(*cursor_, cursor_->CurrentRecord()).Id, 3);
  EXPECT_EQ(cursor_->Table().DataFile().GetFreeRecordHead(), 2);
  std::vector<std::uint8_t> image = cursor_->InitNewRecord();
  testing::WritePerson(*cursor_, image, {9, 9, "new", ""});
  cursor_->InsertRecord(image);
  EXPECT_EQ(LoadU32(image.data() + RecordChainOffset), 2u);
  EXPECT_EQ(cursor_->Table().DataFile().GetNextRecordNumber(), 4);
  // Deleting every record leaves every index without a root.
  cursor_->First();
  while (cursor_->GetRecordCount() > 0) {
    cursor_->First();
    ASSERT_EQ(cursor_->Next(nullptr), NEXORA_NONE);
    cursor_->DeleteRecord(Current());
  }
  for (std::int32_t index = 0; index <= 2; ++index) {
    EXPECT_EQ(cursor_->Table().IndexFile().Root(index), 0);
  }
  EXPECT_TRUE(cursor_->Bof() && cursor_->Eof());
}

TEST_F(CursorWriting, FieldsOfImages) {
  std::vector<std::uint8_t> image = cursor_->InitNewRecord();
  std::vector<std::uint8_t> value;
  // A null field still hands out its stored bytes.
  EXPECT_TRUE(cursor_->GetField(testing::Name, image, value));
  EXPECT_EQ(value, std::vector<std::uint8_t>(21, 0));
  const std::string longText = "a name far longer than twenty characters";
  cursor_->SetField(
      testing::Name, image,
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(longText.data()), longText.size()));
  EXPECT_FALSE(cursor_->GetField(testing::Name, image, value));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(value.data())), longText.substr(0, 20));
  const std::string blanks = "bob  ";
  cursor_->SetField(
      testing::Note, image,
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(blanks.data()), blanks.size()));
  cursor_->GetField(testing::Note, image, value);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(value.data())), "bob");
  cursor_->SetField(testing::Note, image, std::nullopt);
  EXPECT_TRUE(cursor_->GetField(testing::Note, image, value));
  EXPECT_EQ(RaisedCode([&] { cursor_->GetField(0, image, value); }), NEXORA_OUTOFRANGE);
  EXPECT_EQ(RaisedCode([&] { cursor_->GetField(7, image, value); }), NEXORA_OUTOFRANGE);
}

TEST_F(CursorWriting, ReadOnlyCursorsCannotWrite) {
  cursor_->Close();
  cursor_->SetReadOnly(true);
  cursor_->Open();
  EXPECT_EQ(RaisedCode([&] { Insert(*cursor_, {1, 1, "x", ""}); }), NEXORA_OSEACCES);
}

TEST_F(CursorWriting, TheErrorHookDecidesAboutAFailedWrite) {
  Insert(*cursor_, {1, 10, "a", ""});
  TDataEngine &engine = people_.Engine().Engine();
  int beforeTriggers = 0;
  int afterTriggers = 0;
  engine.Hooks().Trigger = [&](TTriggerKind kind, TDataSession *, std::uint8_t *, std::uint8_t *, std::int32_t,
                               TDataCursor *, TDataDirectory *) {
    (kind == TTriggerKind::BeforeInsert ? beforeTriggers : afterTriggers)++;
  };
  std::vector<TDataAction> answers;
  engine.Hooks().Error = [&](TErrorHookKind, TDataSession *, TDataAction &action, const std::exception &,
                             std::uint8_t *image, std::int32_t, TDataCursor *cursor, TDataDirectory *) {
    action = answers.front();
    answers.erase(answers.begin());
    if (action == TDataAction::daRetry) {
      // Mend the record so that the second attempt goes through.
      WriteFieldValue(cursor->FieldDef(Id), std::span<std::uint8_t>(image, cursor->RecordSize()), std::int64_t{2}, 0);
    }
  };
  answers = {TDataAction::daRetry};
  Insert(*cursor_, {1, 20, "b", ""});
  EXPECT_EQ(beforeTriggers, 2);
  EXPECT_EQ(afterTriggers, 1);
  EXPECT_EQ(cursor_->GetRecordCount(), 2);

  answers = {TDataAction::daAbort};
  Insert(*cursor_, {1, 30, "c", ""});
  EXPECT_EQ(cursor_->GetRecordCount(), 2);
  EXPECT_EQ(afterTriggers, 1);

  answers = {TDataAction::daFail};
  EXPECT_EQ(RaisedCode([&] { Insert(*cursor_, {1, 30, "c", ""}); }), NEXORA_KEYVIOL);
}

TEST_F(CursorWriting, AStaleEditIsRefusedUnderBothProtocols) {
  for (const TLockProtocol protocol : {lpPessimistic, lpOptimistic}) {
    SCOPED_TRACE(protocol == lpPessimistic ? "pessimistic" : "optimistic");
    Insert(*cursor_, {1, 10, "a", ""});
    people_.Session().SetLockProtocol(protocol);
    auto other = people_.OpenCursor();
    ASSERT_TRUE(cursor_->SetRecNo(1));
    const std::vector<std::uint8_t> stale = Current();
    ASSERT_TRUE(other->SetRecNo(1));
    std::vector<std::uint8_t> edited(other->CurrentRecord().begin(), other->CurrentRecord().end());
    ASSERT_EQ(other->GetCurrentRecord(edited.data(), true), NEXORA_NONE);
    testing::WritePerson(*other, edited, {1, 10, "a", "by the other"});
    other->ModifyRecord(edited, true);

    std::vector<std::uint8_t> image = stale;
    if (protocol == lpPessimistic) {
      // The edit begins with the record lock and a look at the stored record.
      EXPECT_EQ(RaisedCode([&] { cursor_->GetCurrentRecord(image.data(), true); }), NEXORA_KEYORRECDELETED);
      EXPECT_FALSE(cursor_->Table().RecordLocked(1));
    } else {
      EXPECT_EQ(RaisedCode([&] { cursor_->DeleteRecord(stale); }), NEXORA_KEYORRECDELETED);
      EXPECT_EQ(cursor_->GetRecordCount(), 1);
    }
    // Read afresh, the record carries the other cursor's change.
    EXPECT_EQ(cursor_->GetCurrentRecord(image.data(), false), NEXORA_NONE);
    EXPECT_EQ(ReadPerson(*cursor_, image).Note, "by the other");
    cursor_->DeleteRecord(image);
    EXPECT_EQ(cursor_->GetRecordCount(), 0);
  }
}

} // namespace
} // namespace nexora

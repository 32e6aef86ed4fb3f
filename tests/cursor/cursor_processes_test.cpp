#include <gtest/gtest.h>

#include <random>

#include "cursor/cursor_test_support.h"
#include "storage/table_locks.h"

namespace nexora {
namespace {

using testing::Insert;
using testing::RaisedCode;
using testing::ReadPerson;
using testing::TChildProcess;
using testing::TPeopleTable;
using testing::TPerson;
using testing::TTempDir;

// A person whose fields all carry the same version, so that a record mixed from two
// writes shows.
TPerson Versioned(std::int64_t id, int version) {
  return {id, -id * 7, "p" + std::to_string(id) + "-" + std::to_string(version), "v" + std::to_string(version)};
}

bool Whole(const TPerson &person) {
  const std::string version = person.Note.substr(1);
  return person.Code == -person.Id * 7 && person.Name == "p" + std::to_string(person.Id) + "-" + version;
}

class CursorProcesses : public ::testing::Test {
protected:
  std::string Path() const { return dir_.File(""); }
  std::vector<std::uint8_t> Current(TDataCursor &cursor) {
    return {cursor.CurrentRecord().begin(), cursor.CurrentRecord().end()};
  }

  TTempDir dir_;
  TPeopleTable people_{Path()};
  std::unique_ptr<TDataCursor> cursor_ = people_.OpenCursor();
};

TEST_F(CursorProcesses, AReaderNeverSeesATornRecordAndThenSeesTheWritersChanges) {
  for (std::int64_t id = 1; id <= 60; ++id) {
    Insert(*cursor_, Versioned(id, 0));
  }
  const std::string done = dir_.File("writer.done");
  TChildProcess writer([&](TChildProcess &self) {
    TPeopleTable people(Path(), false);
    auto cursor = people.OpenCursor();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> kind(0, 2);
    self.Signal();
    for (int step = 1; step <= 1500; ++step) {
      const std::int32_t count = cursor->GetRecordCount();
      const int roll = count < 20 ? 0 : kind(random);
      if (roll == 0) {
        const std::int64_t id = 1000 + step;
        Insert(*cursor, Versioned(id, step));
        continue;
      }
      cursor->SetRecNo(std::uniform_int_distribution<std::int32_t>(1, count)(random));
      std::vector<std::uint8_t> image = Current(*cursor);
      if (roll == 1) {
        if (cursor->GetCurrentRecord(image.data(), true) != NEXORA_NONE) {
          return 3;
        }
        testing::WritePerson(*cursor, image, Versioned(ReadPerson(*cursor, image).Id, step));
        cursor->ModifyRecord(image, true);
      } else {
        cursor->DeleteRecord(image);
      }
    }
    testing::LogLine(done, "done");
    return 0;
  });
  ASSERT_TRUE(writer.Wait());
  int walks = 0;
  std::size_t seen = 0;
  while (!testing::FileExists(done) || walks < 2) {
    people_.Session().SetStrictChangeDetection(walks % 2 == 1);
    for (const TPerson &person : testing::Walk(*cursor_)) {
      ASSERT_TRUE(Whole(person)) << person.Name << " / " << person.Note;
      ++seen;
    }
    ++walks;
  }
  ASSERT_EQ(writer.Join(), 0);
  EXPECT_GT(seen, 0u);
  // The next strict operation sees exactly what a fresh reader of the files sees.
  people_.Session().SetStrictChangeDetection(true);
  TPeopleTable fresh(Path(), false);
  auto freshCursor = fresh.OpenCursor();
  EXPECT_EQ(testing::Walk(*cursor_), testing::Walk(*freshCursor));
  EXPECT_EQ(cursor_->GetRecordCount(), freshCursor->GetRecordCount());
}

TEST_F(CursorProcesses, StrictDetectionNeverDeliversARecordDeletedElsewhere) {
  for (std::int64_t id = 1; id <= 5; ++id) {
    Insert(*cursor_, Versioned(id, 0));
  }
  people_.Session().SetStrictChangeDetection(true);
  std::vector<std::uint8_t> image(cursor_->RecordSize());
  cursor_->First();
  ASSERT_EQ(cursor_->Next(image.data()), NEXORA_NONE);
  ASSERT_EQ(cursor_->Next(image.data()), NEXORA_NONE);
  ASSERT_EQ(ReadPerson(*cursor_, image).Id, 2);
  TChildProcess deleter([&](TChildProcess &) {
    TPeopleTable people(Path(), false);
    auto cursor = people.OpenCursor();
    cursor->SetRecNo(3);
    cursor->DeleteRecord(Current(*cursor));
    return 0;
  });
  ASSERT_EQ(deleter.Join(), 0);
  // Every record of the table is cached here, yet the deleted one is not delivered.
  ASSERT_EQ(cursor_->Next(image.data()), NEXORA_NONE);
  EXPECT_EQ(ReadPerson(*cursor_, image).Id, 4);
  EXPECT_EQ(cursor_->GetRecordCount(), 4);
  EXPECT_EQ(cursor_->Table().LockEntry()->HeldLocks(), 0);
}

TEST_F(CursorProcesses, AnExclusiveCursorTakesNoLocks) {
  cursor_->Close();
  cursor_->SetExclusive(true);
  cursor_->Open();
  EXPECT_EQ(cursor_->Table().LockEntry(), nullptr);
  Insert(*cursor_, Versioned(1, 0));
  // Other processes are kept out by the files' sharing modes.
  TChildProcess other([&](TChildProcess &) {
    TPeopleTable people(Path(), false);
    return RaisedCode([&] { people.OpenCursor(); }) == NEXORA_OSEACCES ? 0 : 1;
  });
  EXPECT_EQ(other.Join(), 0);
  EXPECT_EQ(cursor_->GetRecordCount(), 1);
}

TEST_F(CursorProcesses, ABookmarkOfARecordDeletedElsewhereLandsOnTheNextRecord) {
  for (std::int64_t id = 1; id <= 3; ++id) {
    Insert(*cursor_, Versioned(id, 0));
  }
  ASSERT_TRUE(cursor_->SetRecNo(2));
  const std::vector<std::uint8_t> bookmark = cursor_->GetBookmark();
  TChildProcess deleter([&](TChildProcess &) {
    TPeopleTable people(Path(), false);
    auto cursor = people.OpenCursor();
    cursor->SetRecNo(2);
    cursor->DeleteRecord(Current(*cursor));
    return 0;
  });
  ASSERT_EQ(deleter.Join(), 0);
  people_.Session().SetStrictChangeDetection(true);
  EXPECT_FALSE(cursor_->GotoBookmark(bookmark, false));
  EXPECT_EQ(ReadPerson(*cursor_, cursor_->CurrentRecord()).Id, 3);
  EXPECT_EQ(cursor_->GetRecordCount(), 2);
}

TEST_F(CursorProcesses, AnEditStaleSinceAnotherProcessWroteIsRefused) {
  Insert(*cursor_, Versioned(1, 0));
  for (const TLockProtocol protocol : {lpPessimistic, lpOptimistic}) {
    SCOPED_TRACE(protocol == lpPessimistic ? "pessimistic" : "optimistic");
    people_.Session().SetLockProtocol(protocol);
    people_.Session().SetStrictChangeDetection(true);
    ASSERT_TRUE(cursor_->SetRecNo(1));
    std::vector<std::uint8_t> image = Current(*cursor_);
    if (protocol == lpOptimistic) {
      ASSERT_EQ(cursor_->GetCurrentRecord(image.data(), true), NEXORA_NONE);
    }
    TChildProcess writer([&](TChildProcess &) {
      TPeopleTable people(Path(), false);
      auto cursor = people.OpenCursor();
      cursor->SetRecNo(1);
      std::vector<std::uint8_t> edited = Current(*cursor);
      cursor->GetCurrentRecord(edited.data(), true);
      testing::WritePerson(*cursor, edited, Versioned(1, protocol + 10));
      cursor->ModifyRecord(edited, true);
      return 0;
    });
    ASSERT_EQ(writer.Join(), 0);
    if (protocol == lpPessimistic) {
      EXPECT_EQ(RaisedCode([&] { cursor_->GetCurrentRecord(image.data(), true); }), NEXORA_KEYORRECDELETED);
      EXPECT_FALSE(cursor_->Table().RecordLocked(1));
    } else {
      testing::WritePerson(*cursor_, image, Versioned(1, 99));
      EXPECT_EQ(RaisedCode([&] { cursor_->ModifyRecord(image, true); }), NEXORA_KEYORRECDELETED);
    }
    EXPECT_EQ(cursor_->GetCurrentRecord(image.data(), false), NEXORA_NONE);
    EXPECT_EQ(ReadPerson(*cursor_, image).Note, "v" + std::to_string(protocol + 10));
  }
}

} // namespace
} // namespace nexora

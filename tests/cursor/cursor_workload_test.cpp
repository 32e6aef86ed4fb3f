#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "cursor/cursor_test_support.h"
#include "storage/index_keys.h"
#include "support/short_text.h"

namespace nexora {
namespace {

using testing::ReadPerson;
using testing::TPeopleTable;
using testing::TPerson;
using testing::TTempDir;

// What the table must hold: people by Id with the record ID each got at insert.
struct TModelRow {
  TPerson Person;
  std::int32_t RecordID = 0;
};

// The words biographies are made of.
const std::vector<std::string> Vocabulary = {"red", "green", "blue", "cyan", "gold", "grey", "pink", "teal"};

class CursorWorkload : public ::testing::Test {
protected:
  TPerson RandomPerson(std::int64_t id, int step) {
    std::uniform_int_distribution<std::size_t> wordOf(0, Vocabulary.size() - 1);
    std::uniform_int_distribution<int> words(0, 4);
    std::string bio;
    for (int i = words(random_); i > 0; --i) {
      bio += (bio.empty() ? "" : " ") + Vocabulary[wordOf(random_)];
    }
    // Photos from nothing to several blocks, compressible and not.
    std::uniform_int_distribution<std::size_t> photoSize(0, 900);
    testing::TBytes photo(photoSize(random_));
    for (std::size_t i = 0; i < photo.size(); ++i) {
      photo[i] = static_cast<std::uint8_t>(step % 3 == 0 ? random_() : i / 50);
    }
    return TPerson{id, codes_(random_), names_[nameOf_(random_)], "step " + std::to_string(step), bio, photo};
  }

  // The text index holds exactly the words of every biography under its record ID.
  void VerifyTextIndex() {
    TIndexFile &index = cursor_->Table().IndexFile();
    std::vector<std::uint8_t> key(TextKeyLength);
    for (const auto &[id, row] : model_) {
      for (const std::string &word : Vocabulary) {
        BuildTextKey(0, testing::Bio, word, row.RecordID, key.data());
        TKeyPath path;
        const bool indexed =
            index.Root(TextIndexSlot) != 0 && TCountedTree(index, TextIndexSlot).KeyExists(key.data(), path);
        const bool expected = (" " + row.Person.Bio + " ").find(" " + word + " ") != std::string::npos;
        ASSERT_EQ(indexed, expected) << "Id " << id << " word " << word;
      }
    }
  }

  std::vector<TModelRow> InOrder(std::uint8_t index) const {
    std::vector<TModelRow> rows;
    for (const auto &[id, row] : model_) {
      rows.push_back(row);
    }
    if (index == 1) {
      std::sort(rows.begin(), rows.end(),
                [](const TModelRow &a, const TModelRow &b) { return a.Person.Code > b.Person.Code; });
    } else if (index == 2) {
      std::sort(rows.begin(), rows.end(), [](const TModelRow &a, const TModelRow &b) {
        const std::string left = UpperText1252(a.Person.Name);
        const std::string right = UpperText1252(b.Person.Name);
        return left != right ? left < right : a.RecordID < b.RecordID;
      });
    }
    return rows;
  }

  bool CodeTaken(std::int64_t code) const {
    return std::any_of(model_.begin(), model_.end(),
                       [&](const auto &entry) { return entry.second.Person.Code == code; });
  }

  // Stands on the person with that Id through the primary index.
  void StandOn(std::int64_t id) {
    cursor_->SetIndexNumber(0);
    const auto rank = std::distance(model_.begin(), model_.find(id));
    ASSERT_TRUE(cursor_->SetRecNo(static_cast<std::int32_t>(rank + 1)));
    ASSERT_EQ(ReadPerson(*cursor_, cursor_->CurrentRecord()).Id, id);
  }

  void Verify() {
    for (const std::uint8_t index : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}}) {
      SCOPED_TRACE(static_cast<int>(index));
      cursor_->SetIndexNumber(index);
      const std::vector<TModelRow> expected = InOrder(index);
      const std::vector<TPerson> walked = testing::Walk(*cursor_);
      ASSERT_EQ(walked.size(), expected.size());
      for (std::size_t i = 0; i < walked.size(); ++i) {
        ASSERT_EQ(walked[i], expected[i].Person) << "position " << i;
      }
      ASSERT_EQ(cursor_->GetRecordCount(), static_cast<std::int32_t>(expected.size()));
      if (expected.empty()) {
        continue;
      }
      std::uniform_int_distribution<std::size_t> pick(0, expected.size() - 1);
      for (int probe = 0; probe < 3; ++probe) {
        const std::size_t at = pick(random_);
        ASSERT_TRUE(cursor_->SetRecNo(static_cast<std::int32_t>(at + 1)));
        ASSERT_EQ(cursor_->GetRecNo(), static_cast<std::int32_t>(at + 1));
        ASSERT_EQ(ReadPerson(*cursor_, cursor_->CurrentRecord()), expected[at].Person);
        const std::vector<std::uint8_t> bookmark = cursor_->GetBookmark();
        cursor_->First();
        ASSERT_TRUE(cursor_->GotoBookmark(bookmark, false));
        ASSERT_EQ(ReadPerson(*cursor_, cursor_->CurrentRecord()), expected[at].Person);
      }
    }
    // Deleted records' numbers are taken again before the file grows.
    ASSERT_EQ(cursor_->Table().DataFile().GetNextRecordNumber() - 1, static_cast<std::int32_t>(peak_));
  }

  TTempDir dir_;
  TPeopleTable people_{dir_.File("")};
  std::unique_ptr<TDataCursor> cursor_ = people_.OpenCursor();
  std::map<std::int64_t, TModelRow> model_;
  std::size_t peak_ = 0;
  std::int32_t lastRecordID_ = 0;
  std::mt19937 random_{20261211};
  const std::vector<std::string> names_ = {"anna", "Anna", "ANNA",  "bob",   "Bob",
                                           "carl", "dora", "Émile", "émile", "zoe"};
  std::uniform_int_distribution<std::int64_t> codes_{-3000, 3000};
  std::uniform_int_distribution<std::size_t> nameOf_{0, 9};
};

TEST_F(CursorWorkload, TenThousandWritesAgreeWithTheModel) {
  std::uniform_int_distribution<std::int64_t> ids(1, 1500);
  std::uniform_int_distribution<int> kind(0, 99);
  int violations = 0;
  for (int step = 1; step <= 10000; ++step) {
    const int roll = kind(random_);
    const std::int64_t id = ids(random_);
    const bool exists = model_.contains(id);
    TPerson person = RandomPerson(id, step);
    if (roll < 50 || model_.empty()) {
      const bool violates = exists || CodeTaken(person.Code);
      try {
        testing::Insert(*cursor_, person);
        ASSERT_FALSE(violates) << "step " << step;
        model_[id] = {person, ++lastRecordID_};
        peak_ = std::max(peak_, model_.size());
      } catch (const ENEXORAEngineError &error) {
        ASSERT_TRUE(violates) << "step " << step << ": " << error.what();
        ASSERT_EQ(error.ErrorCode(), NEXORA_KEYVIOL);
        ++violations;
      }
    } else {
      auto target = model_.lower_bound(id);
      if (target == model_.end()) {
        target = model_.begin();
      }
      StandOn(target->first);
      std::vector<std::uint8_t> image(cursor_->CurrentRecord().begin(), cursor_->CurrentRecord().end());
      if (roll < 75) {
        ASSERT_EQ(cursor_->GetCurrentRecord(image.data(), true), NEXORA_NONE);
        person.Id = target->first;
        const bool violates = person.Code != target->second.Person.Code && CodeTaken(person.Code);
        testing::WritePerson(*cursor_, image, person);
        try {
          cursor_->ModifyRecord(image, true);
          ASSERT_FALSE(violates) << "step " << step;
          target->second.Person = person;
        } catch (const ENEXORAEngineError &error) {
          ASSERT_TRUE(violates) << "step " << step << ": " << error.what();
          cursor_->CancelEdit();
          cursor_->CloseRecordBlobs(image);
          ++violations;
        }
      } else {
        cursor_->DeleteRecord(image);
        model_.erase(target);
      }
    }
    if (step % 250 == 0) {
      SCOPED_TRACE(step);
      Verify();
      if (step % 1000 == 0) {
        VerifyTextIndex();
      }
      if (HasFatalFailure()) {
        return;
      }
    }
  }
  EXPECT_GT(violations, 0);
  EXPECT_GT(model_.size(), 100u);

  // Every record and BLOB block given back is taken again: the same people fit again
  // without the files growing.
  const std::int32_t records = cursor_->Table().DataFile().GetNextRecordNumber();
  const std::int32_t blocks = cursor_->Table().BlobFile().NextBlockNumber();
  cursor_->SetIndexNumber(0);
  while (cursor_->GetRecordCount() > 0) {
    ASSERT_TRUE(cursor_->SetRecNo(1));
    cursor_->DeleteRecord(std::vector<std::uint8_t>(cursor_->CurrentRecord().begin(), cursor_->CurrentRecord().end()));
  }
  for (const auto &[id, row] : model_) {
    testing::Insert(*cursor_, row.Person);
  }
  EXPECT_EQ(cursor_->Table().DataFile().GetNextRecordNumber(), records);
  EXPECT_EQ(cursor_->Table().BlobFile().NextBlockNumber(), blocks);
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <functional>

#include "cursor/cursor_test_support.h"

namespace nexora {
namespace {

using testing::Insert;
using testing::ReadPerson;
using testing::TPeopleTable;
using testing::TPerson;
using testing::TTempDir;

// Accepts the people whose Id the predicate likes.
class TIdFilter : public TCursorFilter {
public:
  explicit TIdFilter(std::function<bool(std::int64_t)> likes) : likes_(std::move(likes)) {}
  bool Accepts(const TDataCursor &cursor, std::span<const std::uint8_t> image) override {
    return likes_(std::get<std::int64_t>(ReadFieldValue(cursor.FieldDef(testing::Id), image)));
  }

private:
  std::function<bool(std::int64_t)> likes_;
};

struct TFilterCase {
  const char *Name;
  std::int64_t Divisor;
  // TableFilterIndexThreshhold: percent of visible records up to which moves use a key list.
  std::uint8_t Threshold;
  bool KeyList;
};

class CursorFilters : public ::testing::TestWithParam<TFilterCase> {
protected:
  std::vector<std::int64_t> Ids() {
    std::vector<std::int64_t> ids;
    for (const TPerson &person : testing::Walk(*cursor_)) {
      ids.push_back(person.Id);
    }
    return ids;
  }

  TTempDir dir_;
  TPeopleTable people_{dir_.File("")};
  std::unique_ptr<TDataCursor> cursor_ = people_.OpenCursor();
};

TEST_P(CursorFilters, OnlyAcceptedRecordsAreVisibleInEveryOrder) {
  const TFilterCase &c = GetParam();
  people_.Engine().Engine().Settings().TableFilterIndexThreshhold = c.Threshold;
  for (std::int64_t id = 1; id <= 400; ++id) {
    Insert(*cursor_, {(id * 37) % 401, -id, "n", ""});
  }
  cursor_->AddFilter(std::make_shared<TIdFilter>([&](std::int64_t id) { return id % c.Divisor == 0; }));
  EXPECT_EQ(cursor_->UsesKeyList(), c.KeyList);
  std::vector<std::int64_t> expected;
  for (std::int64_t id = 1; id <= 400; ++id) {
    if (id % c.Divisor == 0) {
      expected.push_back(id);
    }
  }
  EXPECT_EQ(Ids(), expected);
  EXPECT_EQ(cursor_->GetRecordCount(), static_cast<std::int32_t>(expected.size()));
  // Descending codes visit them in insertion order.
  cursor_->SetIndexName("ByCode");
  std::vector<std::int64_t> byCode = Ids();
  std::sort(byCode.begin(), byCode.end());
  EXPECT_EQ(byCode, expected);
  cursor_->SetIndexNumber(0);
  // Looking for a hidden record lands on the next visible one.
  std::vector<std::uint8_t> image(cursor_->RecordSize(), 0);
  WriteFieldValue(cursor_->FieldDef(testing::Id), image, expected.front() + 1, 0);
  EXPECT_FALSE(cursor_->FindKey(cursor_->BuildKey(image).data(), true));
  EXPECT_EQ(ReadPerson(*cursor_, cursor_->CurrentRecord()).Id, expected[1]);
  // Bookmarks and backward walks see the same set.
  const std::vector<std::uint8_t> bookmark = cursor_->GetBookmark();
  cursor_->Last();
  EXPECT_TRUE(cursor_->GotoBookmark(bookmark, false));
  std::vector<std::int64_t> backward;
  for (const TPerson &person : testing::WalkBack(*cursor_)) {
    backward.push_back(person.Id);
  }
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, expected);
  // A new accepted record joins, a new hidden one does not.
  Insert(*cursor_, {1000 * c.Divisor, 5000, "n", ""});
  Insert(*cursor_, {1000 * c.Divisor + 1, 5001, "n", ""});
  expected.push_back(1000 * c.Divisor);
  EXPECT_EQ(Ids(), expected);
  EXPECT_EQ(cursor_->GetRecordCount(), static_cast<std::int32_t>(expected.size()));
  cursor_->ClearFilters();
  EXPECT_EQ(cursor_->GetRecordCount(), 402);
}

INSTANTIATE_TEST_SUITE_P(BitmapOrKeyList, CursorFilters,
                         ::testing::Values(TFilterCase{"half through the index", 2, 1, false},
                                           TFilterCase{"few through a key list", 100, 5, true}),
                         [](const auto &info) { return std::string(info.param.KeyList ? "KeyList" : "Bitmap"); });

} // namespace
} // namespace nexora

// Particular cases of the counted tree: a split balanced by packed bytes, keys it does not
// hold, and damaged trees.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "counted_tree_test_support.h"
#include "engine/engine_error.h"

namespace nexora {
namespace {

using testing::CheckTree;
using testing::RaisedCode;
using testing::TBytes;
using testing::TTreeEntries;
using testing::TTreeFixture;
using testing::TTreeOptions;

// Long keys at the smallest page size: three entries per page, so a few keys make a deep tree.
constexpr TTreeOptions LongKeys{1024, true, false, icNone, false, 300};

std::string Repeated(char c, std::size_t n) { return std::string(n, c); }

TEST(CountedTreeSplit, CompressedLeafIsBalancedByPackedBytes) {
  TTreeFixture fixture({1024, true, false, icDuplicateByte, false, 200});
  TKeyPath path;
  // Three keys of 200 distinct characters, then six that share all but their number and
  // pack into a few bytes each: the page fits. A fourth long key in front makes ten
  // entries, and the first five of them no longer fit one page.
  std::vector<TBytes> keys;
  for (const char c : {'b', 'c', 'd'}) {
    keys.push_back(fixture.Key(Repeated(c, 200), 0, static_cast<std::int32_t>(keys.size() + 1)));
  }
  for (std::int32_t i = 1; i <= 6; ++i) {
    keys.push_back(fixture.Key(Repeated('z', 200), i, static_cast<std::int32_t>(keys.size() + 1)));
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    fixture.Tree().InsertKey(keys[i].data(), static_cast<std::int32_t>(i + 1), path);
  }
  ASSERT_EQ(path.Depth, 1);
  const TBytes first = fixture.Key(Repeated('a', 200), 0, 10);
  fixture.Tree().InsertKey(first.data(), 10, path);
  ASSERT_EQ(path.Depth, 2);
  TTreeEntries entries;
  ASSERT_NO_FATAL_FAILURE(CheckTree(fixture, entries));
  ASSERT_EQ(entries.size(), 10U);
  const TPinnedPage root = fixture.Pin(fixture.File().Root(TTreeFixture::IndexNumber));
  ASSERT_EQ(root->EntryCount(), 2);
  // By count the left page would keep five entries; by bytes it keeps the four long ones.
  EXPECT_EQ(root->SubtreeCount(0), 4);
  EXPECT_EQ(root->SubtreeCount(1), 6);
}

// A tree of long keys (several levels) and its keys in order.
class CountedTreeDamage : public ::testing::Test {
protected:
  CountedTreeDamage() {
    for (std::int32_t i = 0; i < 60; ++i) {
      keys_.push_back(fixture_.Key(std::to_string(100 + i), i, i + 1));
      fixture_.Tree().InsertKey(keys_.back().data(), i + 1, path_);
    }
  }
  TErrorCode Raised(const std::function<void()> &call) { return RaisedCode(call); }
  // The pages of the leftmost path, root first.
  std::vector<std::int32_t> LeftmostPath() {
    fixture_.Tree().Find(keys_.front().data(), path_);
    std::vector<std::int32_t> pages;
    for (std::int32_t level = 0; level < path_.Depth; ++level) {
      pages.push_back(path_.At(level).Page);
    }
    return pages;
  }
  TBytes Entries() {
    TTreeEntries entries;
    CheckTree(fixture_, entries);
    TBytes flat;
    for (const auto &[key, record] : entries) {
      flat.insert(flat.end(), key.begin(), key.end());
      flat.push_back(static_cast<std::uint8_t>(record));
    }
    return flat;
  }

  TTreeFixture fixture_{LongKeys};
  std::vector<TBytes> keys_;
  TKeyPath path_;
};

TEST_F(CountedTreeDamage, MissingKeysAreRefusedAndChangeNothing) {
  ASSERT_GE(LeftmostPath().size(), 3U);
  const TBytes before = Entries();
  const TBytes absent = fixture_.Key("999", 0, 99);
  EXPECT_FALSE(fixture_.Tree().KeyExists(absent.data(), path_));
  EXPECT_EQ(Raised([&] { fixture_.Tree().DeleteKey(absent.data(), path_); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(Raised([&] { fixture_.Tree().ReplaceKey(absent.data(), keys_[0].data(), 1, path_); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(Entries(), before);
  EXPECT_EQ(fixture_.Tree().KeyCount(), 60);
}

TEST(CountedTreeEmpty, DeleteFromAnEmptyIndexIsRefused) {
  TTreeFixture fixture(LongKeys);
  TKeyPath path;
  const TBytes key = fixture.Key("1", 1, 1);
  EXPECT_EQ(RaisedCode([&] { fixture.Tree().DeleteKey(key.data(), path); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(fixture.Tree().KeyCount(), 0);
  EXPECT_EQ(fixture.Tree().KeyAt(1, path, nullptr), std::nullopt);
  EXPECT_EQ(fixture.Tree().Find(key.data(), path).Ordinal, 1);
}

// One kind of damage on the leftmost path: given the fixture and the path's pages.
struct TDamageCase {
  const char *name;
  std::function<void(TTreeFixture &, const std::vector<std::int32_t> &)> damage;
};

void PrintTo(const TDamageCase &c, std::ostream *out) { *out << c.name; }

class CountedTreeDamaged : public CountedTreeDamage, public ::testing::WithParamInterface<TDamageCase> {};

TEST_P(CountedTreeDamaged, EveryOperationOnThePathRaisesIndexCorrupt) {
  const std::vector<std::int32_t> pages = LeftmostPath();
  ASSERT_GE(pages.size(), 3U);
  GetParam().damage(fixture_, pages);
  TCountedTree &tree = fixture_.Tree();
  const TBytes smallest = fixture_.Key("0", 0, 1000);
  EXPECT_EQ(Raised([&] { tree.Find(keys_[0].data(), path_); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(Raised([&] { tree.InsertKey(smallest.data(), 1000, path_); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(Raised([&] { tree.DeleteKey(keys_[0].data(), path_); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(Raised([&] { tree.ReplaceKey(keys_[0].data(), smallest.data(), 1, path_); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(Raised([&] { tree.KeyAt(1, path_, nullptr); }), NEXORA_INDEXCORRUPT);
}

// Edits page n of the fixture's index in the cache.
void Edit(TTreeFixture &fixture, std::int32_t n, const std::function<void(TPage &)> &edit) { edit(*fixture.Pin(n)); }

INSTANTIATE_TEST_SUITE_P(
    Cases, CountedTreeDamaged,
    ::testing::Values(TDamageCase{"RootOfABranchKind",
                                  [](TTreeFixture &f, const auto &pages) {
                                    Edit(f, pages[0], [](TPage &p) { p.SetKind(TPageKind::Branch); });
                                  }},
                      TDamageCase{"RootKindBelowTheRoot",
                                  [](TTreeFixture &f, const auto &pages) {
                                    Edit(f, pages[1], [](TPage &p) { p.SetKind(TPageKind::RootBranch); });
                                  }},
                      TDamageCase{"RawPageOnThePath",
                                  [](TTreeFixture &f, const auto &pages) {
                                    Edit(f, pages[1], [](TPage &p) { p.SetKind(TPageKind::Raw); });
                                  }},
                      TDamageCase{"ChildPointsToTheRoot",
                                  [](TTreeFixture &f, const auto &pages) {
                                    Edit(f, pages[1], [&](TPage &p) { p.SetPointer(0, pages[0]); });
                                  }},
                      TDamageCase{"CycleOfChildPointers",
                                  [](TTreeFixture &f, const auto &pages) {
                                    Edit(f, pages[1], [&](TPage &p) { p.SetPointer(0, pages[1]); });
                                  }},
                      TDamageCase{"ChildBeyondTheFile",
                                  [](TTreeFixture &f, const auto &pages) {
                                    Edit(f, pages[0],
                                         [&](TPage &p) { p.SetPointer(0, f.File().NextPageNumber() + 5); });
                                  }},
                      TDamageCase{"EmptyPageOnThePath",
                                  [](TTreeFixture &f, const auto &pages) {
                                    const TPinnedPage empty{f.File(), f.File().AllocatePage(TTreeFixture::IndexNumber)};
                                    empty->SetKind(TPageKind::Branch);
                                    Edit(f, pages[0], [&](TPage &p) { p.SetPointer(0, empty->Number()); });
                                  }}),
    [](const ::testing::TestParamInfo<TDamageCase> &info) { return std::string(info.param.name); });

TEST_F(CountedTreeDamage, CountsBeyondTheKeysBelowAreRefusedByOrdinal) {
  const std::vector<std::int32_t> pages = LeftmostPath();
  Edit(fixture_, pages[0], [](TPage &p) { p.SetSubtreeCount(0, 1000000); });
  EXPECT_EQ(Raised([&] { fixture_.Tree().KeyAt(500000, path_, nullptr); }), NEXORA_INDEXCORRUPT);
}

} // namespace
} // namespace nexora

// Random inserts, replacements and deletes against an ordered model, with the whole tree
// checked after every batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "counted_tree_test_support.h"

namespace nexora {
namespace {

using testing::CheckTree;
using testing::TBytes;
using testing::TTreeEntries;
using testing::TTreeFixture;
using testing::TTreeOptions;

struct TRandomCase {
  const char *name;
  TTreeOptions options;
  // Share of inserts while the tree grows; it shrinks with the complement afterwards.
  double growth = 0.6;
};

void PrintTo(const TRandomCase &c, std::ostream *out) { *out << c.name; }

constexpr std::int32_t Operations = 20000;
constexpr std::int32_t Batch = 500;
constexpr std::int32_t RunLength = 20;

class CountedTreeRandom : public ::testing::TestWithParam<TRandomCase> {
protected:
  CountedTreeRandom() : fixture_(GetParam().options), model_(TKeyLess{&fixture_}) {}

  struct TKeyLess {
    const TTreeFixture *fixture;
    bool operator()(const TBytes &a, const TBytes &b) const { return fixture->Compare(a, b) < 0; }
  };
  using TModel = std::map<TBytes, std::int32_t, TKeyLess>;

  // A key over a small alphabet, so that keys share prefixes and end in zeros (unique
  // indexes then also meet keys they already hold); one in five texts may fill the field,
  // so that packed entry sizes differ widely.
  TBytes RandomKey(std::int32_t recordID) {
    static constexpr char Alphabet[] = "aAbBcCzZ";
    const std::size_t size = GetParam().options.stringSize;
    const bool anyLength = std::uniform_int_distribution<int>(0, 4)(random_) == 0;
    std::uniform_int_distribution<std::size_t> length(0, anyLength ? size : std::min<std::size_t>(size, 10));
    std::uniform_int_distribution<std::size_t> letter(0, sizeof Alphabet - 2);
    std::string text(length(random_), ' ');
    for (char &c : text) {
      c = Alphabet[letter(random_)];
    }
    return fixture_.Key(text, std::uniform_int_distribution<std::int32_t>(-3, 3)(random_), recordID);
  }

  TTreeSearch Find(const TBytes &key) { return fixture_.Tree().Find(key.data(), path_); }

  // Inserts a new key unless a unique index holds it already (as the writer's check does).
  void Insert() {
    const std::int32_t record = ++lastRecord_;
    const TBytes key = RandomKey(record);
    const bool held = model_.count(key) != 0;
    ASSERT_EQ(fixture_.Tree().KeyExists(key.data(), path_), held);
    if (held) {
      return;
    }
    fixture_.Tree().InsertKey(key.data(), record, path_);
    model_.emplace(key, record);
    keys_.push_back(key);
    ExpectPathOn(key, record);
  }

  // A random held key: its index in keys_.
  std::size_t RandomHeld() { return std::uniform_int_distribution<std::size_t>(0, keys_.size() - 1)(random_); }

  void Delete(std::size_t i) {
    fixture_.Tree().DeleteKey(keys_[i].data(), path_);
    model_.erase(keys_[i]);
    keys_[i] = std::move(keys_.back());
    keys_.pop_back();
  }

  // Deletes a held key and up to RunLength - 1 keys after it.
  void DeleteRun() {
    auto at = model_.find(keys_[RandomHeld()]);
    for (std::int32_t i = 0; i < RunLength && at != model_.end(); ++i) {
      fixture_.Tree().DeleteKey(at->first.data(), path_);
      at = model_.erase(at);
    }
    keys_.clear();
    for (const auto &entry : model_) {
      keys_.push_back(entry.first);
    }
  }

  void Replace() {
    const std::size_t i = RandomHeld();
    const std::int32_t record = model_.at(keys_[i]);
    const TBytes key = RandomKey(record);
    if (model_.count(key) != 0) {
      return;
    }
    fixture_.Tree().ReplaceKey(keys_[i].data(), key.data(), record, path_);
    model_.erase(keys_[i]);
    model_.emplace(key, record);
    keys_[i] = key;
    ExpectPathOn(key, record);
  }

  // After an insert the path stands on the key.
  void ExpectPathOn(const TBytes &key, std::int32_t record) {
    const TPinnedPage leaf = fixture_.Pin(path_.Leaf().Page);
    ASSERT_TRUE(leaf->IsLeaf());
    ASSERT_LT(path_.Leaf().Slot, leaf->EntryCount());
    EXPECT_EQ(TBytes(leaf->Key(path_.Leaf().Slot), leaf->Key(path_.Leaf().Slot) + key.size()), key);
    EXPECT_EQ(leaf->RecordNumber(path_.Leaf().Slot), record);
  }

  // The tree's structure, its keys against the model, and ordinals both ways.
  void CheckAgainstModel() {
    TTreeEntries entries;
    ASSERT_NO_FATAL_FAILURE(CheckTree(fixture_, entries));
    ASSERT_EQ(entries.size(), model_.size());
    ASSERT_TRUE(std::equal(entries.begin(), entries.end(), model_.begin(),
                           [](const auto &a, const auto &b) { return a.first == b.first && a.second == b.second; }));
    TCountedTree &tree = fixture_.Tree();
    const auto count = static_cast<std::int64_t>(model_.size());
    ASSERT_EQ(tree.KeyCount(), count);
    TBytes key(static_cast<std::size_t>(fixture_.Layout().KeyLength));
    std::int64_t ordinal = 1;
    for (const auto &[held, record] : model_) {
      const TTreeSearch search = Find(held);
      ASSERT_TRUE(search.Exact);
      ASSERT_EQ(search.Ordinal, ordinal);
      ASSERT_EQ(tree.KeyAt(ordinal, path_, key.data()), std::optional<std::int32_t>(record));
      ASSERT_EQ(key, held);
      ++ordinal;
    }
    EXPECT_EQ(tree.KeyAt(0, path_, nullptr), std::nullopt);
    EXPECT_EQ(tree.KeyAt(count + 1, path_, nullptr), std::nullopt);
    // Keys the index does not hold fall between their neighbours.
    for (int i = 0; i < 20; ++i) {
      const TBytes absent = RandomKey(lastRecord_ + 1);
      const auto rank = static_cast<std::int64_t>(std::distance(model_.begin(), model_.lower_bound(absent)));
      const TTreeSearch search = Find(absent);
      ASSERT_EQ(search.Exact, model_.count(absent) != 0);
      ASSERT_EQ(search.Ordinal, rank + 1);
    }
  }

  TTreeFixture fixture_;
  TModel model_;
  std::vector<TBytes> keys_;
  std::mt19937 random_{20240611};
  std::int32_t lastRecord_ = 0;
  TKeyPath path_;
};

TEST_P(CountedTreeRandom, StaysConsistentWithAnOrderedModel) {
  // The tree grows for the first part, then shrinks; replacements throughout.
  for (std::int32_t op = 1; op <= Operations; ++op) {
    const double insertShare = op < Operations * 3 / 5 ? GetParam().growth : 1 - GetParam().growth;
    const double draw = std::uniform_real_distribution<double>(0, 1)(random_);
    if (keys_.empty() || draw < insertShare) {
      ASSERT_NO_FATAL_FAILURE(Insert());
    } else if (draw < insertShare + 0.1) {
      ASSERT_NO_FATAL_FAILURE(Replace());
    } else {
      Delete(RandomHeld());
    }
    if (op % Batch == 0) {
      ASSERT_NO_FATAL_FAILURE(CheckAgainstModel()) << "after operation " << op;
    }
  }
  // Runs of neighbouring keys empty whole leaves, so that branch pages merge, redistribute
  // and the root collapses; small trees are checked after every run.
  while (!model_.empty()) {
    DeleteRun();
    if (model_.size() < Batch || model_.size() % Batch < RunLength) {
      ASSERT_NO_FATAL_FAILURE(CheckAgainstModel()) << model_.size() << " keys left";
    }
  }
  EXPECT_EQ(fixture_.File().Root(TTreeFixture::IndexNumber), 0);
  std::int32_t freePages = 0;
  for (std::int32_t n = fixture_.File().FreePageHead(); n != 0; n = fixture_.Pin(n)->Next()) {
    ASSERT_LT(freePages++, fixture_.File().NextPageNumber());
  }
  EXPECT_EQ(freePages, fixture_.File().NextPageNumber() - 1);
  EXPECT_GT(freePages, 1);
}

// Every packing mode at both page sizes, unique and not, ascending and descending; case-
// insensitive strings; long keys that leave branches room for only three entries (their
// trees are deep already with few keys).
INSTANTIATE_TEST_SUITE_P(
    Configurations, CountedTreeRandom,
    ::testing::Values(
        TRandomCase{"Small_Unique_Plain", {1024, true, false, icNone, false, 20}},
        TRandomCase{"Small_NonUnique_Descending_Duplicate", {1024, false, true, icDuplicateByte, false, 20}},
        TRandomCase{"Small_Unique_Descending_Trailing", {1024, true, true, icTrailingByte, false, 20}},
        TRandomCase{"Small_NonUnique_Full", {1024, false, false, icFull, false, 20}},
        TRandomCase{"Large_NonUnique_Plain", {4096, false, false, icNone, false, 100}},
        TRandomCase{"Large_Unique_Duplicate", {4096, true, false, icDuplicateByte, false, 100}},
        TRandomCase{"Large_NonUnique_Descending_Trailing", {4096, false, true, icTrailingByte, false, 100}},
        TRandomCase{"Large_Unique_Descending_Full", {4096, true, true, icFull, false, 100}},
        TRandomCase{"Small_CaseInsensitive_NonUnique_Full", {1024, false, false, icFull, true, 20}},
        TRandomCase{"Large_CaseInsensitive_Unique_Plain", {4096, true, false, icNone, true, 100}},
        TRandomCase{"Small_LongKeys_NonUnique_Plain", {1024, false, false, icNone, false, 300}, 0.53},
        TRandomCase{"Small_LongKeys_Unique_Descending_Full", {1024, true, true, icFull, false, 300}, 0.53}),
    [](const ::testing::TestParamInfo<TRandomCase> &info) { return std::string(info.param.name); });

} // namespace
} // namespace nexora

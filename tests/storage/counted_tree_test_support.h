#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "index_test_support.h"
#include "storage/counted_tree.h"

namespace nexora::testing {

// What a tree index is built over: page size, key options and the size of its string field.
struct TTreeOptions {
  std::int32_t pageSize = 1024;
  bool unique = true;
  bool descending = false;
  std::uint8_t compression = icNone;
  bool caseInsensitive = false;
  std::uint16_t stringSize = 20;
};

// An in-memory index file whose secondary index 1 is on (string, integer) with the given
// options, the tree over it, and the keys of that index built from field values.
class TTreeFixture {
public:
  static constexpr std::int32_t IndexNumber = 1;

  explicit TTreeFixture(const TTreeOptions &options) {
    context_.pageSize = options.pageSize;
    stringField_ = context_.Add(ftcString, options.stringSize);
    integerField_ = context_.Add(ftcInteger);
    file_ = std::make_unique<TIndexFile>(engine_, "tree.idx", true, owner_, context_);
    file_->CreateFile();
    file_->SetIndexDef(PrimaryIndexSlot, TIndexFile::DefaultPrimaryIndexDef());
    file_->SetIndexDef(TextIndexSlot, TIndexFile::TextIndexDef({}));
    TIndexDef def = MakeIndexDef("ByText", {stringField_, integerField_}, options.unique, options.compression);
    def.SetDescending(options.descending);
    def.SetCaseInsensitive(options.caseInsensitive);
    file_->AddIndex(def);
    layout_ = file_->KeyLayout(IndexNumber);
    tree_ = std::make_unique<TCountedTree>(*file_, IndexNumber);
  }
  ~TTreeFixture() { file_->CloseFile(); }
  TTreeFixture(const TTreeFixture &) = delete;
  TTreeFixture &operator=(const TTreeFixture &) = delete;

  // The key of a record holding text and number (the ID is the non-unique suffix).
  TBytes Key(const std::string &text, std::int32_t number, std::int32_t recordID) const {
    TBytes record(context_.RecordSize(), 0);
    StoreLittleEndian(record.data() + RecordIDOffset, recordID);
    const TFieldDef &stringDef = *context_.FieldDef(stringField_);
    record[stringDef.RecordOffset()] = FieldIndicatorValue;
    std::memcpy(record.data() + stringDef.RecordOffset() + 1, text.data(), text.size());
    const TFieldDef &integerDef = *context_.FieldDef(integerField_);
    record[integerDef.RecordOffset()] = FieldIndicatorValue;
    StoreLittleEndian(record.data() + integerDef.RecordOffset() + 1, number);
    TBytes key(static_cast<std::size_t>(layout_.KeyLength));
    BuildKey(layout_, record, key.data());
    return key;
  }
  int Compare(const TBytes &a, const TBytes &b) const {
    return CompareKeys(layout_, a.data(), b.data(), layout_.KeyLength);
  }
  TPinnedPage Pin(std::int32_t n) { return {*file_, file_->PinPage(nullptr, IndexNumber, n)}; }

  TIndexFile &File() { return *file_; }
  TCountedTree &Tree() { return *tree_; }
  const TKeyLayout &Layout() const { return layout_; }

private:
  TDataEngine engine_;
  TTestCacheOwner owner_;
  TTestIndexContext context_;
  std::int16_t stringField_ = 0;
  std::int16_t integerField_ = 0;
  std::unique_ptr<TIndexFile> file_;
  TKeyLayout layout_;
  std::unique_ptr<TCountedTree> tree_;
};

// Leaf entries of a tree in order: key and record number.
using TTreeEntries = std::vector<std::pair<TBytes, std::int32_t>>;

// Walks the tree of the fixture's index level by level and checks every structural rule:
// root and inner kinds, no empty page, no root branch with a needless single entry, one page kind per level, the level
// chains, strictly ascending keys along each level, every branch key equal to its child's first key and every subtree
// count equal to its child's total. Then the free-page list: no page twice, none in the tree, all empty, and with the
// tree it covers every page of the file. Appends the leaf entries to entries.
inline void CheckTree(TTreeFixture &fixture, TTreeEntries &entries) {
  TIndexFile &file = fixture.File();
  const std::size_t keyLength = static_cast<std::size_t>(fixture.Layout().KeyLength);
  std::set<std::int32_t> treePages;
  std::vector<std::int32_t> level;
  if (file.Root(TTreeFixture::IndexNumber) != 0) {
    level.push_back(file.Root(TTreeFixture::IndexNumber));
  }
  // Per page of the next level: the key and count its parent's entry gives.
  std::vector<std::pair<TBytes, std::int32_t>> expected;
  for (std::int32_t depth = 0; !level.empty(); ++depth) {
    ASSERT_LT(depth, MaxTreeDepth);
    std::vector<std::int32_t> children;
    std::vector<std::pair<TBytes, std::int32_t>> childExpected;
    std::optional<bool> leafLevel;
    TBytes previousKey;
    for (std::size_t i = 0; i < level.size(); ++i) {
      const std::int32_t n = level[i];
      ASSERT_TRUE(treePages.insert(n).second) << "page " << n << " twice in the tree";
      const TPinnedPage page = fixture.Pin(n);
      ASSERT_EQ(page->IsRoot(), depth == 0) << "page " << n;
      ASSERT_GT(page->EntryCount(), 0) << "page " << n;
      ASSERT_FALSE(page->IsOverFull()) << "page " << n;
      if (!leafLevel) {
        leafLevel = page->IsLeaf();
      }
      ASSERT_EQ(page->IsLeaf(), *leafLevel) << "page " << n;
      EXPECT_EQ(page->Previous(), i == 0 ? 0 : level[i - 1]) << "page " << n;
      EXPECT_EQ(page->Next(), i + 1 == level.size() ? 0 : level[i + 1]) << "page " << n;
      // A root branch has two entries unless one already fills half of it.
      if (depth == 0 && page->IsBranch()) {
        EXPECT_TRUE(page->EntryCount() >= 2 || 2 * page->EntryCount() >= page->Capacity()) << "root " << n;
      }
      if (depth > 0) {
        EXPECT_EQ(std::memcmp(page->Key(0), expected[i].first.data(), keyLength), 0) << "first key of page " << n;
        EXPECT_EQ(page->SubtreeTotal(), expected[i].second) << "count of page " << n;
      }
      for (std::int32_t e = 0; e < page->EntryCount(); ++e) {
        TBytes key(page->Key(e), page->Key(e) + keyLength);
        if (!previousKey.empty()) {
          ASSERT_LT(fixture.Compare(previousKey, key), 0) << "order in page " << n << " entry " << e;
        }
        if (*leafLevel) {
          entries.emplace_back(key, page->RecordNumber(e));
        } else {
          children.push_back(page->ChildPage(e));
          childExpected.emplace_back(key, page->SubtreeCount(e));
        }
        previousKey = std::move(key);
      }
    }
    level = std::move(children);
    expected = std::move(childExpected);
  }
  std::set<std::int32_t> freePages;
  for (std::int32_t n = file.FreePageHead(); n != 0;) {
    ASSERT_TRUE(n >= 1 && n < file.NextPageNumber()) << "free page " << n;
    ASSERT_EQ(treePages.count(n), 0U) << "free page " << n << " in the tree";
    ASSERT_TRUE(freePages.insert(n).second) << "free page " << n << " twice";
    const TPinnedPage page = fixture.Pin(n);
    EXPECT_EQ(page->KeyCount(), 0) << "free page " << n;
    n = page->Next();
  }
  EXPECT_EQ(treePages.size() + freePages.size(), static_cast<std::size_t>(file.NextPageNumber() - 1));
}

} // namespace nexora::testing

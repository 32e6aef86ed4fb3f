#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "index_test_support.h"

namespace nexora {
namespace {

using testing::MakeIndexDef;
using testing::RaisedCode;
using testing::TBytes;

// Pages of slot 1 with a chosen geometry, written and read back through the file.
class IndexPage : public testing::TIndexFileTest {
protected:
  // Slot 1 gets key length k directly, as a stored definition would give it.
  void UseGeometry(std::int32_t k, bool unique, std::uint8_t compression) {
    TIndexDef def = MakeIndexDef("Keys", {integerField}, unique, compression);
    def.SetKeyLength(static_cast<std::uint16_t>(k));
    file->SetIndexDef(1, def);
    file->SetSecondaryCount(1);
  }
  // A new page of slot 1 of the given kind, filled with the keys (record numbers 1, 2, ...).
  std::int32_t WritePage(TPageKind kind, const std::vector<TBytes> &keys) {
    TPage *page = file->AllocatePage(1);
    page->SetKind(kind);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      page->InsertEntry(page->EntryCount(), keys[i].data(), static_cast<std::int32_t>(i + 1),
                        static_cast<std::int32_t>(10 * (i + 1)));
    }
    const std::int32_t n = page->Number();
    file->ReleaseBuffer(page);
    return n;
  }
  std::vector<TBytes> ReadKeys(std::int32_t n, std::int32_t k) {
    TPage *page = file->PinPage(nullptr, 1, n);
    std::vector<TBytes> keys;
    for (std::int32_t i = 0; i < page->EntryCount(); ++i) {
      keys.emplace_back(page->Key(i), page->Key(i) + k);
      EXPECT_EQ(page->Pointer(i), i + 1);
      if (page->IsBranch()) {
        EXPECT_EQ(page->SubtreeCount(i), 10 * (i + 1));
      }
    }
    file->ReleaseBuffer(page);
    return keys;
  }
};

// Sorted keys of length k with shared prefixes, zero tails and distinct ID suffixes.
std::vector<TBytes> SampleKeys(std::int32_t k, std::int32_t count) {
  std::vector<TBytes> keys;
  for (std::int32_t i = 0; i < count; ++i) {
    TBytes key(static_cast<std::size_t>(k), 0);
    key[0] = 1;
    key[1] = static_cast<std::uint8_t>('A' + i / 4);
    if (k > 6) {
      key[2] = static_cast<std::uint8_t>('a' + i % 4);
      std::fill(key.begin() + 3, key.begin() + 3 + (i % 3), static_cast<std::uint8_t>('x'));
    }
    key[static_cast<std::size_t>(k - 1)] = static_cast<std::uint8_t>(i + 1);
    keys.push_back(key);
  }
  return keys;
}

struct TPackingCase {
  const char *Name;
  TPageKind Kind;
  std::int32_t KeyLength;
  bool Unique;
  std::uint8_t Compression;
};

class PackingRoundTrip : public IndexPage, public ::testing::WithParamInterface<TPackingCase> {};

TEST_P(PackingRoundTrip, KeepsEveryEntry) {
  const TPackingCase &c = GetParam();
  for (const bool encrypted : {false, true}) {
    Create(encrypted);
    UseGeometry(c.KeyLength, c.Unique, c.Compression);
    const std::vector<TBytes> keys = SampleKeys(c.KeyLength, 40);
    const std::int32_t n = WritePage(c.Kind, keys);
    Reopen(encrypted);
    EXPECT_EQ(ReadKeys(n, c.KeyLength), keys) << (encrypted ? "encrypted" : "plain");
    file->CloseFile();
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryMode, PackingRoundTrip,
    ::testing::Values(TPackingCase{"PlainLeaf", TPageKind::Leaf, 12, true, icNone},
                      TPackingCase{"DuplicateBytes", TPageKind::Leaf, 12, true, icDuplicateByte},
                      TPackingCase{"TrailingBytesUnique", TPageKind::RootLeaf, 12, true, icTrailingByte},
                      TPackingCase{"TrailingBytesNonUnique", TPageKind::Leaf, 12, false, icTrailingByte},
                      TPackingCase{"TrailingBytesShortKey", TPageKind::Leaf, 4, true, icTrailingByte},
                      TPackingCase{"FullUnique", TPageKind::Leaf, 12, true, icFull},
                      TPackingCase{"FullNonUnique", TPageKind::Leaf, 12, false, icFull},
                      TPackingCase{"FullShortKey", TPageKind::Leaf, 6, false, icFull},
                      TPackingCase{"Branch", TPageKind::RootBranch, 12, true, icFull}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST_F(IndexPage, NonUniqueIntegerLeafHolds314KeysOf9Bytes) {
  Create();
  file->AddIndex(MakeIndexDef("ByNumber", {integerField}, false));
  EXPECT_EQ(file->IndexDef(1).KeyLength(), 9);
  TPage *page = file->AllocatePage(1);
  page->SetKind(TPageKind::Leaf);
  EXPECT_EQ(page->Capacity(), 314);
  const std::vector<TBytes> keys = SampleKeys(9, 315);
  for (std::int32_t i = 0; i < 314; ++i) {
    page->InsertEntry(i, keys[static_cast<std::size_t>(i)].data(), i + 1);
  }
  EXPECT_FALSE(page->IsOverFull());
  EXPECT_TRUE(page->IsFull());
  page->InsertEntry(314, keys[314].data(), 315);
  EXPECT_TRUE(page->IsOverFull());
  page->RemoveEntry(0);
  EXPECT_FALSE(page->IsOverFull());
  file->ReleaseBuffer(page);
}

TEST_F(IndexPage, DuplicateBytePackingStoresAAACAsLeadByteCAndRecord) {
  Create();
  // A unique index on a 2-character string: key length 1 + 3 = 4.
  file->AddIndex(MakeIndexDef("Code", {shortStringField}, true, icDuplicateByte));
  ASSERT_EQ(file->IndexDef(1).KeyLength(), 4);
  TPage *page = file->AllocatePage(1);
  page->SetKind(TPageKind::RootLeaf);
  page->InsertEntry(0, reinterpret_cast<const std::uint8_t *>("AAAB"), 1);
  page->InsertEntry(1, reinterpret_cast<const std::uint8_t *>("AAAC"), 2);
  EXPECT_EQ(page->DuplicateBytes(1), 3);
  EXPECT_EQ(page->PackedSize(), 9 + 6);
  file->ReleaseBuffer(page);
  Save();
  const TBytes bytes = PageBytes(1);
  const TBytes expected{3, 2,   0,   0,   0,   0, 0, 0, 0, 0, 0, 15, 0, // root leaf, 2 keys, 15 packed bytes
                        0, 'A', 'A', 'A', 'B', 1, 0, 0, 0,              // first entry whole
                        3, 'C', 2,   0,   0,   0};                      // lead byte 3, the byte C, record 2
  EXPECT_EQ(TBytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

TEST_F(IndexPage, FullPackingSizesFollowLeadAndTrailCounts) {
  Create();
  UseGeometry(12, false, icFull);
  TPage *page = file->AllocatePage(1);
  page->SetKind(TPageKind::Leaf);
  const TBytes first{1, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 1};
  const TBytes second{1, 'A', 'B', 'D', 'E', 0, 0, 0, 0, 0, 0, 2};
  page->InsertEntry(0, first.data(), 1);
  page->InsertEntry(1, second.data(), 2);
  // First: d = 0, t = 4 zeros before the suffix; second: d = 3, t = 3.
  EXPECT_EQ(page->TrailingBytes(0), 4);
  EXPECT_EQ(page->DuplicateBytes(1), 3);
  EXPECT_EQ(page->TrailingBytes(1), 3);
  EXPECT_EQ(page->PackedSize(), (12 - 0 - 4 + 6) + (12 - 3 - 3 + 6));
  file->ReleaseBuffer(page);
}

TEST_F(IndexPage, PagesOfTheWrongKindAreCorrupt) {
  Create();
  UseGeometry(12, true, icNone);
  const std::int32_t leaf = WritePage(TPageKind::Leaf, SampleKeys(12, 3));
  TPage *raw = file->AllocatePage(1);
  raw->SetKind(TPageKind::Raw);
  const std::int32_t rawNumber = raw->Number();
  file->ReleaseBuffer(raw);
  Reopen();
  EXPECT_EQ(RaisedCode([&] { file->PinPage(nullptr, 1, rawNumber); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(RaisedCode([&] { file->PinRawPage(leaf); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(RaisedCode([&] { file->PinPage(nullptr, 1, 0); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(RaisedCode([&] { file->PinPage(nullptr, 1, 3); }), NEXORA_INDEXCORRUPT);
  file->CloseFile();
  Patch(IndexFirstPageOffset + (leaf - 1) * context.pageSize + static_cast<std::int64_t>(PageKindOffset), {9});
  file->OpenFile();
  EXPECT_EQ(RaisedCode([&] { file->PinPage(nullptr, 1, leaf); }), NEXORA_INDEXCORRUPT);
  EXPECT_EQ(file->CachedCount(), 1);
  EXPECT_EQ(RaisedCode([&] { file->FlushBuffers(false); }), NEXORA_NONE) << "the refused page was released";
}

struct TDamageCase {
  const char *Name;
  std::uint8_t Compression;
  std::size_t Offset; // in the page
  TBytes Bytes;
};

class DamagedPage : public IndexPage, public ::testing::WithParamInterface<TDamageCase> {};

TEST_P(DamagedPage, IsCorruptNotACrash) {
  const TDamageCase &c = GetParam();
  Create();
  UseGeometry(12, true, c.Compression);
  const std::int32_t n = WritePage(TPageKind::Leaf, SampleKeys(12, 5));
  Save();
  file->CloseFile();
  Patch(IndexFirstPageOffset + (n - 1) * context.pageSize + static_cast<std::int64_t>(c.Offset), c.Bytes);
  file->OpenFile();
  EXPECT_EQ(RaisedCode([&] { file->PinPage(nullptr, 1, n); }), NEXORA_INDEXCORRUPT);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedPage,
    ::testing::Values(TDamageCase{"CountBeyondPlainPage", icNone, PageKeyCountOffset, {0xFF, 0x7F}},
                      TDamageCase{"CountBeyondPackedSize", icDuplicateByte, PageKeyCountOffset, {50, 0}},
                      TDamageCase{"PackedSizeBeyondPayload", icFull, PagePackedSizeOffset, {0xFF, 0xFF}},
                      TDamageCase{"LeadInFirstEntry", icDuplicateByte, PageHeaderSize, {4}},
                      TDamageCase{"TrailBeyondKey", icTrailingByte, PageHeaderSize, {200}}),
    [](const auto &info) { return std::string(info.param.Name); });

} // namespace
} // namespace nexora

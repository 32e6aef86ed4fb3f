#include <gtest/gtest.h>

#include <numeric>

#include "cursor/cursor_test_support.h"
#include "storage/index_keys.h"
#include "storage/record_layout.h"
#include "support/little_endian.h"

namespace nexora {
namespace {

using testing::RaisedCode;
using testing::TBytes;
using testing::TChildProcess;
using testing::TTempDir;
using testing::TTestEngine;

enum TDocField : std::int16_t { DocId = 1, Body = 2, Packed = 3 };

TTableDefinition DocsDefinition() {
  TTableDefinition definition;
  definition.Fields = {testing::FieldDefOf("Id", ftcInteger, 0, DocId),
                       testing::FieldDefOf("Body", ftcBlob, 0, Body, fstMemo),
                       testing::FieldDefOf("Packed", ftcBlob, 0, Packed, fstNone, 6)};
  definition.BlobBlockSize = 256;
  return definition;
}

TBytes Text(std::size_t size, char seed) {
  TBytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(seed + i % 7);
  }
  return bytes;
}

class CursorBlobs : public ::testing::Test {
protected:
  CursorBlobs() {
    directory_.CreateTable("docs", DocsDefinition());
    cursor_ = Open(directory_);
  }
  static std::unique_ptr<TDataCursor> Open(TDataDirectory &directory) {
    auto cursor = std::make_unique<TDataCursor>(directory);
    cursor->SetTableName("docs");
    cursor->Open();
    return cursor;
  }
  // Inserts a document with the given values (none: the field stays null).
  void InsertDoc(std::int64_t id, const TBytes &body, const TBytes &packed) {
    std::vector<std::uint8_t> image = cursor_->InitNewRecord();
    WriteFieldValue(cursor_->FieldDef(DocId), image, id, 0);
    for (const auto &[field, value] : {std::pair{Body, &body}, std::pair{Packed, &packed}}) {
      if (!value->empty()) {
        cursor_->OpenBlob(field, image, TBlobMode::ReadWrite);
        cursor_->WriteBlob(field, image, static_cast<std::int32_t>(value->size()), value->data(), 0);
      }
    }
    cursor_->InsertRecord(image);
  }
  TBytes ReadWhole(TDataCursor &cursor, std::int16_t field) {
    std::vector<std::uint8_t> image(cursor.CurrentRecord().begin(), cursor.CurrentRecord().end());
    const std::int32_t size = cursor.OpenBlob(field, image, TBlobMode::Read);
    TBytes value(static_cast<std::size_t>(size));
    EXPECT_EQ(cursor.ReadBlob(field, image, size, value.data(), 0), size);
    cursor.CloseBlob(field, image);
    return value;
  }
  std::vector<std::uint8_t> Current() { return {cursor_->CurrentRecord().begin(), cursor_->CurrentRecord().end()}; }

  TTempDir dir_;
  TTestEngine engine_;
  TDataDirectory &directory_ = OpenDirectory(engine_.NewSession(), "docs db", dir_.File(""));
  std::unique_ptr<TDataCursor> cursor_;
};

TEST_F(CursorBlobs, ValuesWrittenAtPostReadBack) {
  InsertDoc(1, Text(1000, 'a'), Text(10000, 'k'));
  InsertDoc(2, {}, Text(5, 'z'));
  ASSERT_TRUE(cursor_->SetRecNo(1));
  EXPECT_EQ(ReadWhole(*cursor_, Body), Text(1000, 'a'));
  EXPECT_EQ(ReadWhole(*cursor_, Packed), Text(10000, 'k'));
  // 10000 compressible bytes take far fewer blocks than 10000 / 238.
  EXPECT_LT(cursor_->Table().BlobFile().NextBlockNumber(), 12);
  ASSERT_TRUE(cursor_->SetRecNo(2));
  std::vector<std::uint8_t> image = Current();
  EXPECT_EQ(image[cursor_->FieldDef(Body).RecordOffset()], FieldIndicatorNull);
  EXPECT_EQ(cursor_->OpenBlob(Body, image, TBlobMode::Read), 0);
  EXPECT_EQ(image[cursor_->FieldDef(Body).RecordOffset()], FieldIndicatorNull);
  std::uint8_t byte = 0;
  EXPECT_EQ(cursor_->ReadBlob(Body, image, 1, &byte, 0), 0);
}

TEST_F(CursorBlobs, HandlesCountOpensAndReadsStopAtTheEnd) {
  InsertDoc(1, Text(100, 'a'), {});
  ASSERT_TRUE(cursor_->SetRecNo(1));
  std::vector<std::uint8_t> image = Current();
  const std::size_t slot = cursor_->FieldDef(Body).RecordOffset() + 1;
  const std::uint32_t firstBlock = LoadU32(image.data() + slot);
  EXPECT_EQ(cursor_->OpenBlob(Body, image, TBlobMode::Read), 100);
  EXPECT_EQ(cursor_->OpenBlob(Body, image, TBlobMode::Read), 100);
  EXPECT_LT(static_cast<std::int32_t>(LoadU32(image.data() + slot)), 0);
  TBytes out(100);
  EXPECT_EQ(cursor_->ReadBlob(Body, image, 100, out.data(), 100), 0);
  EXPECT_EQ(cursor_->ReadBlob(Body, image, 100, out.data(), 90), 10);
  EXPECT_EQ(out[0], Text(100, 'a')[90]);
  cursor_->CloseBlob(Body, image);
  EXPECT_LT(static_cast<std::int32_t>(LoadU32(image.data() + slot)), 0);
  cursor_->CloseBlob(Body, image);
  EXPECT_EQ(LoadU32(image.data() + slot), firstBlock);
  EXPECT_EQ(RaisedCode([&] { cursor_->ReadBlob(Body, image, 1, out.data(), 0); }), NEXORA_INVALIDBLOBHANDLE);
  // A handle of another cursor (or one already closed) is refused.
  std::vector<std::uint8_t> copied = image;
  cursor_->OpenBlob(Body, image, TBlobMode::Read);
  copied = image;
  cursor_->CloseBlob(Body, image);
  EXPECT_EQ(RaisedCode([&] { cursor_->OpenBlob(Body, copied, TBlobMode::Read); }), NEXORA_INVALIDBLOBOFFSET);
}

TEST_F(CursorBlobs, The129thOpenValueIsRefused) {
  InsertDoc(1, Text(10, 'a'), {});
  ASSERT_TRUE(cursor_->SetRecNo(1));
  std::vector<std::vector<std::uint8_t>> images(129, Current());
  for (std::size_t i = 0; i < 128; ++i) {
    ASSERT_EQ(cursor_->OpenBlob(Body, images[i], TBlobMode::Read), 10);
  }
  EXPECT_EQ(RaisedCode([&] { cursor_->OpenBlob(Body, images[128], TBlobMode::Read); }), NEXORA_OPENBLOBLIMIT);
  EXPECT_EQ(cursor_->OpenBlobCount(), 128u);
  EXPECT_EQ(cursor_->GetBlobLength(Body, images[0]), 10);
}

TEST_F(CursorBlobs, ModifyAndDeleteRewriteAndFreeChains) {
  InsertDoc(1, Text(2000, 'a'), {});
  ASSERT_TRUE(cursor_->SetRecNo(1));
  std::vector<std::uint8_t> image = Current();
  ASSERT_EQ(cursor_->GetCurrentRecord(image.data(), true), NEXORA_NONE);
  cursor_->OpenBlob(Body, image, TBlobMode::ReadWrite);
  cursor_->TruncateBlob(Body, image, 300);
  cursor_->ModifyRecord(image, true);
  const TBytes original = Text(2000, 'a');
  EXPECT_EQ(ReadWhole(*cursor_, Body), TBytes(original.begin(), original.begin() + 300));
  const std::int32_t blocks = cursor_->Table().BlobFile().NextBlockNumber();
  cursor_->DeleteRecord(Current());
  EXPECT_NE(cursor_->Table().BlobFile().GetFreeBlock(), 0);
  InsertDoc(2, Text(2000, 'b'), {});
  EXPECT_EQ(cursor_->Table().BlobFile().NextBlockNumber(), blocks);
  ASSERT_TRUE(cursor_->SetRecNo(1));
  EXPECT_EQ(ReadWhole(*cursor_, Body), Text(2000, 'b'));
}

TEST_F(CursorBlobs, AValueRewrittenByAnotherProcessIsReloaded) {
  InsertDoc(1, Text(600, 'a'), {});
  cursor_->Close();
  cursor_->Open();
  ASSERT_TRUE(cursor_->SetRecNo(1));
  std::vector<std::uint8_t> image = Current();
  TChildProcess writer([&](TChildProcess &) {
    TTestEngine engine;
    TDataDirectory &directory = OpenDirectory(engine.NewSession(), "docs db", dir_.File(""));
    auto cursor = Open(directory);
    cursor->SetRecNo(1);
    std::vector<std::uint8_t> edited(cursor->CurrentRecord().begin(), cursor->CurrentRecord().end());
    cursor->GetCurrentRecord(edited.data(), true);
    const TBytes value = Text(700, 'q');
    cursor->OpenBlob(Body, edited, TBlobMode::ReadWrite);
    cursor->WriteBlob(Body, edited, 700, value.data(), 0);
    cursor->ModifyRecord(edited, true);
    return 0;
  });
  ASSERT_EQ(writer.Join(), 0);
  // The image still names the old BLOB ID; the open notices and takes the record's new slot.
  const std::int32_t size = cursor_->OpenBlob(Body, image, TBlobMode::Read);
  ASSERT_EQ(size, 700);
  TBytes value(700);
  cursor_->ReadBlob(Body, image, 700, value.data(), 0);
  EXPECT_EQ(value, Text(700, 'q'));
}

TEST_F(CursorBlobs, ACopiedRecordGetsValuesOfItsOwn) {
  InsertDoc(1, Text(500, 'a'), Text(3000, 'p'));
  std::vector<std::uint8_t> copy(cursor_->RecordSize());
  cursor_->First();
  EXPECT_EQ(cursor_->CopyCurrentRecord(copy), NEXORA_NOCURRREC); // before the first record
  ASSERT_TRUE(cursor_->SetRecNo(1));
  ASSERT_EQ(cursor_->CopyCurrentRecord(copy), NEXORA_NONE);
  EXPECT_EQ(cursor_->GetBlobLength(Body, copy), 500);
  WriteFieldValue(cursor_->FieldDef(DocId), copy, std::int64_t{2}, 0);
  cursor_->InsertRecord(copy);
  // Changing the copy's value leaves the original's chain alone.
  ASSERT_TRUE(cursor_->SetRecNo(2));
  std::vector<std::uint8_t> image = Current();
  ASSERT_EQ(cursor_->GetCurrentRecord(image.data(), true), NEXORA_NONE);
  cursor_->OpenBlob(Body, image, TBlobMode::ReadWrite);
  cursor_->TruncateBlob(Body, image, 10);
  cursor_->ModifyRecord(image, true);
  EXPECT_EQ(ReadWhole(*cursor_, Body).size(), 10u);
  EXPECT_EQ(ReadWhole(*cursor_, Packed), Text(3000, 'p'));
  ASSERT_TRUE(cursor_->SetRecNo(1));
  EXPECT_EQ(ReadWhole(*cursor_, Body), Text(500, 'a'));
  cursor_->ClearRecord(copy);
  EXPECT_TRUE(std::all_of(copy.begin(), copy.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(CursorBlobs, TheTextIndexFollowsAMemoThroughEveryWrite) {
  cursor_->Close();
  directory_.DeleteTable("docs");
  TTableDefinition definition = DocsDefinition();
  definition.TextIndexFields = {Body};
  directory_.CreateTable("docs", definition);
  cursor_->Open();
  const auto indexed = [&](std::string_view word) {
    std::vector<std::uint8_t> key(TextKeyLength);
    BuildTextKey(0, Body, word, 1, key.data());
    TKeyPath path;
    TIndexFile &index = cursor_->Table().IndexFile();
    return index.Root(TextIndexSlot) != 0 && TCountedTree(index, TextIndexSlot).KeyExists(key.data(), path);
  };
  const std::string first = "hello wide world";
  InsertDoc(1, TBytes(first.begin(), first.end()), {});
  EXPECT_TRUE(indexed("hello"));
  EXPECT_TRUE(indexed("WORLD"));
  EXPECT_FALSE(indexed("there"));

  ASSERT_TRUE(cursor_->SetRecNo(1));
  std::vector<std::uint8_t> image = Current();
  ASSERT_EQ(cursor_->GetCurrentRecord(image.data(), true), NEXORA_NONE);
  const std::string second = "hello there";
  cursor_->OpenBlob(Body, image, TBlobMode::ReadWrite);
  cursor_->TruncateBlob(Body, image, 0);
  cursor_->WriteBlob(Body, image, static_cast<std::int32_t>(second.size()),
                     reinterpret_cast<const std::uint8_t *>(second.data()), 0);
  cursor_->ModifyRecord(image, true);
  EXPECT_TRUE(indexed("hello"));
  EXPECT_TRUE(indexed("there"));
  EXPECT_FALSE(indexed("world"));

  cursor_->DeleteRecord(Current());
  EXPECT_FALSE(indexed("hello"));
  EXPECT_FALSE(indexed("there"));
  EXPECT_EQ(cursor_->Table().IndexFile().Root(TextIndexSlot), 0);
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <memory>

#include "file_test_support.h"
#include "record_test_support.h"
#include "storage/field_values.h"
#include "storage/record_allocation.h"
#include "storage/record_layout.h"
#include "test_data_owner.h"

namespace nexora {
namespace {

using testing::Field;
using testing::Laid;
using TBytes = std::vector<std::uint8_t>;

// A table of one integer and one string field (record size 48) in a temporary
// directory, created through the data file as the table object creates it.
class RecordTable : public ::testing::Test {
protected:
  void Create(const std::string &password = {}) {
    file_ = std::make_unique<TDataFile>(engine_, dir_.File("items.dat"), false, owner_);
    file_->CreateFile();
    const TDigest check = password.empty() ? TDigest{} : owner_.SetPassword(password);
    file_->SetTableInfo(0, 0, 0, 0, 1024, 4096, "", check, password.empty() ? 0 : 1);
    file_->SetFieldDefs(fields_);
    file_->WriteHeader(true);
    file_->WriteFieldDefs();
  }

  // Inserts a record holding `value` and returns its number.
  std::int32_t Insert(std::int64_t value) {
    TRecord *record = AllocateRecord(*file_, nullptr);
    EXPECT_NE(record, nullptr);
    TBytes image(record->Image().size(), 0);
    WriteFieldValue(fields_[0], image, value, 0);
    WriteFieldValue(fields_[1], image, std::string("item"), 0);
    record->SetData(image.data(), static_cast<std::int32_t>(image.size()));
    const std::int32_t number = record->Number();
    file_->ReleaseBuffer(record);
    return number;
  }

  void Delete(std::int32_t number) {
    TBuffer *buffer = file_->GetBuffer(nullptr, 0, number, false, TReadDirection::None);
    ReleaseRecord(*file_, dynamic_cast<TRecord &>(*buffer));
    file_->ReleaseBuffer(buffer);
  }

  // The file's bytes of record n.
  TBytes FileRecord(std::int32_t n) {
    const TBytes bytes = testing::ReadBytes(dir_.File("items.dat"));
    const auto start = static_cast<std::size_t>(file_->GetFirstOffset()) + static_cast<std::size_t>(n - 1) * 48;
    return TBytes(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(start + 48));
  }

  TDataEngine engine_;
  testing::TTempDir dir_;
  TTestDataOwner owner_{engine_};
  std::vector<TFieldDef> fields_ = Laid({Field(ftcInteger), Field(ftcString, fstNone, 10)});
  std::unique_ptr<TDataFile> file_;
};

TEST_F(RecordTable, AccessorsReadHeaderBytesAndOnlyTheOwnNumberLeavesTheRecordClean) {
  Create();
  Insert(5);
  file_->FlushBuffers(false);
  file_->FreeBuffers();
  auto &record = dynamic_cast<TRecord &>(*file_->GetBuffer(nullptr, 0, 1, false, TReadDirection::None));
  EXPECT_FALSE(record.Dirty());
  record.SetOwnNumber(1);
  EXPECT_EQ(record.ChainWord(), 1);
  EXPECT_FALSE(record.Dirty());
  record.SetRecordID(0x01020304);
  EXPECT_TRUE(record.Dirty());
  EXPECT_EQ(TBytes(record.Data() + 1, record.Data() + 9), (TBytes{1, 0, 0, 0, 4, 3, 2, 1}));
  TDigest hash;
  hash.fill(0xC3);
  record.SetRecordHash(hash);
  EXPECT_EQ(record.RecordHash(), hash);
  EXPECT_EQ(record.Data()[9], 0xC3);
  EXPECT_EQ(record.Data()[25], 1); // the integer's indicator follows the hash
  record.SetStatus(RecordStatusDeleted);
  EXPECT_TRUE(record.Deleted());
  file_->ReleaseBuffer(&record);
}

TEST_F(RecordTable, EncryptedRecordsAreCipheredInTheFileAndClearInTheCache) {
  Create("secret");
  Insert(5);
  file_->FlushBuffers(false);
  TBytes clear(48, 0);
  WriteFieldValue(fields_[0], clear, std::int64_t{5}, 0);
  WriteFieldValue(fields_[1], clear, std::string("item"), 0);
  const TBytes stored = FileRecord(1);
  EXPECT_NE(stored, clear);
  TBytes deciphered = stored;
  engine_.DecryptBuffer(owner_.CryptoContext(), deciphered.data(), 48);
  EXPECT_EQ(deciphered, clear);

  // Read back from the file straight into the buffer.
  file_->FreeBuffers();
  auto &record = dynamic_cast<TRecord &>(*file_->GetBuffer(nullptr, 0, 1, false, TReadDirection::None));
  EXPECT_TRUE(record.SameData(clear.data(), 48));
  // And through an image handed over by the cache.
  std::fill_n(record.Data(), 48, 0);
  record.LoadImage(stored.data());
  EXPECT_TRUE(record.SameData(clear.data(), 48));
  TBytes image(48);
  record.StoreImage(image.data());
  EXPECT_EQ(image, stored);
  EXPECT_TRUE(record.SameData(clear.data(), 48)); // storing leaves the cached copy clear
  file_->ReleaseBuffer(&record);
}

TEST_F(RecordTable, UnencryptedRecordsAreStoredAsTheyAre) {
  Create();
  Insert(5);
  file_->FlushBuffers(false);
  TBytes clear(48, 0);
  WriteFieldValue(fields_[0], clear, std::int64_t{5}, 0);
  WriteFieldValue(fields_[1], clear, std::string("item"), 0);
  EXPECT_EQ(FileRecord(1), clear);
}

TEST_F(RecordTable, DeletedRecordsAreReusedLastInFirstOut) {
  Create();
  for (std::int64_t i = 1; i <= 8; ++i) {
    EXPECT_EQ(Insert(i), i);
  }
  EXPECT_EQ(file_->GetRecordCount(), 8);
  Delete(3);
  Delete(7);
  EXPECT_EQ(file_->GetFreeRecordHead(), 7);
  EXPECT_EQ(file_->GetRecordCount(), 6);
  file_->FlushBuffers(false);
  EXPECT_EQ(FileRecord(7)[0], RecordStatusDeleted);
  EXPECT_EQ(LoadLittleEndian<std::int32_t>(FileRecord(7).data() + 1), 3);
  EXPECT_EQ(LoadLittleEndian<std::int32_t>(FileRecord(3).data() + 1), 0);

  EXPECT_EQ(Insert(70), 7);
  EXPECT_EQ(file_->GetFreeRecordHead(), 3);
  EXPECT_EQ(Insert(30), 3);
  EXPECT_EQ(file_->GetFreeRecordHead(), 0);
  EXPECT_EQ(Insert(90), 9);
  EXPECT_EQ(file_->GetNextRecordNumber(), 10);
  EXPECT_EQ(file_->GetRecordCount(), 9);
}

TEST_F(RecordTable, DeletingTheOnlyRecordStartsTheChainAtIt) {
  Create();
  Insert(1);
  Delete(1);
  EXPECT_EQ(file_->GetFreeRecordHead(), 1);
  EXPECT_EQ(file_->GetRecordCount(), 0);
  file_->FlushBuffers(false);
  EXPECT_EQ(FileRecord(1)[0], RecordStatusDeleted);
  EXPECT_EQ(LoadLittleEndian<std::int32_t>(FileRecord(1).data() + 1), 0);
}

TEST_F(RecordTable, AChainHeadNamingALiveRecordIsCorruptionNotReuse) {
  Create();
  Insert(1);
  Insert(2);
  file_->SetFreeRecord(2);
  EXPECT_EQ(testing::RaisedCode([&] { AllocateRecord(*file_, nullptr); }), NEXORA_FILECORRUPT);
  EXPECT_EQ(file_->GetFreeRecordHead(), 2);
  EXPECT_EQ(file_->GetRecordCount(), 2);
  TBuffer *live = file_->GetBuffer(nullptr, 0, 2, false, TReadDirection::None);
  EXPECT_EQ(ReadFieldValue(fields_[0], dynamic_cast<TRecord &>(*live).Image()), TFieldValue{std::int64_t{2}});
  EXPECT_EQ(live->PinCount(), 1);
  file_->ReleaseBuffer(live);
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>

#include "crypto/md5.h"
#include "engine/data_engine.h"
#include "engine/engine_error.h"
#include "file_test_support.h"
#include "storage/data_file.h"
#include "storage/field_def_rules.h"
#include "support/date_time.h"
#include "test_data_owner.h"

namespace nexora {
namespace {

using testing::RaisedCode;
using testing::TBytes;

TFieldDef Field(std::uint16_t number, std::string_view name, std::uint8_t type, std::uint16_t size = 0,
                std::uint8_t subtype = 0) {
  TFieldDef field;
  field.SetNumber(number);
  field.SetName(name);
  field.SetType(type);
  field.SetSubtype(subtype);
  field.SetDeclaredSize(size);
  return field;
}

// The definitions after the creation routine has checked them and laid them out.
std::vector<TFieldDef> Laid(std::vector<TFieldDef> fields) {
  const TDefinitionFailure failure = CheckTableDefinition(TTableSettings{}, fields);
  EXPECT_FALSE(failure) << "code " << failure.Code << " at field " << failure.FieldPosition;
  return fields;
}

// Four fields: Name string(10) at 25, Amount float at 37, Notes memo at 46, Count
// integer at 55; running offset 60, record size 64.
std::vector<TFieldDef> OrderFields() {
  return Laid({Field(1, "Name", ftcString, 10), Field(2, "Amount", ftcFloat), Field(3, "Notes", ftcBlob, 0, fstMemo),
               Field(4, "Count", ftcInteger)});
}

void Patch(const std::string &path, std::size_t offset, const TBytes &bytes) {
  TBytes file = testing::ReadBytes(path);
  std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(offset));
  testing::WriteBytes(path, file);
}

TBytes LE32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::uint32_t FileU32(const TBytes &file, std::size_t offset) { return LoadU32(file.data() + offset); }
std::uint16_t FileU16(const TBytes &file, std::size_t offset) { return LoadU16(file.data() + offset); }

class DataFileTest : public ::testing::Test {
protected:
  std::unique_ptr<TDataFile> NewFile(const std::string &path, TTestDataOwner &owner) {
    return std::make_unique<TDataFile>(engine_, path, false, owner);
  }

  // Creation as the table object runs it: CreateFile, SetTableInfo, SetFieldDefs,
  // WriteHeader (forced), WriteFieldDefs; then `records` records of bytes 0x11, 0x22, ...
  // appended through the cache and flushed, and the file closed.
  void Create(const std::string &path, const std::vector<TFieldDef> &fields, std::int32_t records = 0,
              const std::string &password = {}) {
    TTestDataOwner owner(engine_);
    auto file = NewFile(path, owner);
    file->CreateFile();
    TDigest check{};
    if (!password.empty()) {
      check = owner.SetPassword(password);
    }
    file->SetTableInfo(0, 2, 7, 41, 1024, 4096, "Customer orders", check, password.empty() ? 0 : 1);
    file->SetFieldDefs(fields);
    EXPECT_TRUE(file->WriteHeader(true));
    file->WriteFieldDefs();
    AppendRecords(*file, records);
    file->WriteHeader(false);
    file->CloseFile();
  }

  static void AppendRecords(TDataFile &file, std::int32_t records) {
    for (std::int32_t i = 0; i < records; ++i) {
      TBuffer *record = file.GetBuffer(nullptr, 0, file.GetBufferCount() + 1, false, TReadDirection::None);
      TBytes image(static_cast<std::size_t>(file.GetRecordSize()), static_cast<std::uint8_t>(0x11 * (i + 1)));
      record->SetData(image.data(), static_cast<std::int32_t>(image.size()));
      file.ReleaseBuffer(record);
      file.NextRecordID();
      file.IncRecordCount();
    }
    file.FlushBuffers(false);
  }

  TErrorCode OpenCode(const std::string &path, TTestDataOwner &owner) {
    auto file = NewFile(path, owner);
    const TErrorCode code = RaisedCode([&] { file->OpenFile(); });
    if (code != NEXORA_NONE) {
      EXPECT_FALSE(file->IsOpen());
    }
    return code;
  }

  testing::TTempDir dir_;
  TDataEngine engine_;
  TTestDataOwner owner_{engine_};
};

// --- opening checks

TEST_F(DataFileTest, VersionBytesAndSignatureAreCheckedOnOpen) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  EXPECT_EQ(OpenCode(path, owner_), NEXORA_NONE);

  Patch(path, DataHeader::Version, {5});
  EXPECT_EQ(OpenCode(path, owner_), NEXORA_OLDVERSION);
  Patch(path, DataHeader::Version, {7});
  EXPECT_EQ(OpenCode(path, owner_), NEXORA_BADSIGNATURE);
  Patch(path, DataHeader::Version, {0xFF});
  EXPECT_EQ(OpenCode(path, owner_), NEXORA_BADSIGNATURE);

  Patch(path, DataHeader::Version, {6});
  const TDigest foreign = DigestText("SOMEONE_ELSE");
  Patch(path, DataHeader::Signature, TBytes(foreign.begin(), foreign.end()));
  EXPECT_EQ(OpenCode(path, owner_), NEXORA_BADSIGNATURE);
}

TEST_F(DataFileTest, ErrorsCarryTheOwnersNames) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  Patch(path, DataHeader::Version, {5});
  auto file = NewFile(path, owner_);
  try {
    file->OpenFile();
    ADD_FAILURE() << "opened";
  } catch (const ENEXORAEngineError &error) {
    EXPECT_EQ(error.ErrorCode(), NEXORA_OLDVERSION);
    EXPECT_EQ(error.TableName(), "orders");
    EXPECT_EQ(error.DatabaseName(), "/data");
  }
}

TEST_F(DataFileTest, CustomSignatureOpensOnlyUnderItselfUnlessCreatedUnderTheDefault) {
  const std::string custom = dir_.File("custom.dat");
  const std::string standard = dir_.File("standard.dat");
  Create(standard, OrderFields());
  engine_.SetEngineSignature("ACME_ENGINE");
  Create(custom, OrderFields());

  // Under the custom signature both open.
  EXPECT_EQ(OpenCode(custom, owner_), NEXORA_NONE);
  EXPECT_EQ(OpenCode(standard, owner_), NEXORA_NONE);
  const TDigest stored = TDataFile::ReadClosedHeader(engine_, custom).Signature();
  EXPECT_TRUE(SameDigest(stored, DigestText("ACME_ENGINE")));

  // Under the default, the custom table is refused.
  engine_.SetEngineSignature("NEXORA_SIG");
  EXPECT_EQ(OpenCode(custom, owner_), NEXORA_BADSIGNATURE);
  EXPECT_EQ(OpenCode(standard, owner_), NEXORA_NONE);
  // And under a third signature too.
  engine_.SetEngineSignature("OTHER");
  EXPECT_EQ(OpenCode(custom, owner_), NEXORA_BADSIGNATURE);
  EXPECT_EQ(OpenCode(standard, owner_), NEXORA_NONE);
}

TEST_F(DataFileTest, FieldCountAbove1024IsHeaderCorruption) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  Patch(path, DataHeader::FieldCount, {0x01, 0x04}); // 1025
  EXPECT_EQ(OpenCode(path, owner_), NEXORA_HEADERCORRUPT);
  Patch(path, DataHeader::FieldCount, {0x00, 0x04}); // 1024: passes the count check, then
  // the definition area is far shorter than 1024 definitions.
  EXPECT_EQ(OpenCode(path, owner_), NEXORA_READERR);
}

// --- record sizes and definitions

TEST_F(DataFileTest, TwelveStringsOfTenGiveRecordSize176) {
  std::vector<TFieldDef> fields;
  for (std::uint16_t i = 1; i <= 12; ++i) {
    fields.push_back(Field(i, "S" + std::to_string(i), ftcString, 10));
  }
  fields = Laid(fields);
  EXPECT_EQ(fields[11].RecordOffset(), 25 + 11 * 12);
  TDataFile file(engine_, dir_.File("strings.dat"), false, owner_);
  file.CreateFile();
  file.SetFieldDefs(fields);
  EXPECT_EQ(file.GetRecordSize(), 176);
  EXPECT_EQ(file.GetBufferSize(), 176);
  EXPECT_EQ(file.GetPayloadSize(), 176);
  EXPECT_EQ(file.GetFirstOffset(), 512 + 768 * 12);
  // The cache limit with the default settings: 32768 / (176 + 36).
  EXPECT_EQ(file.GetMaxBuffers(), 154);
  EXPECT_EQ(file.Capacity(), 154);
  EXPECT_EQ(file.DefaultReadAhead(), 77);
  EXPECT_EQ(file.GetScanDepth(), 4);
  EXPECT_EQ(file.GetGrowthStep(), 64);
}

TEST_F(DataFileTest, OneStringOf512GivesRecordSize544) {
  TDataFile file(engine_, dir_.File("long.dat"), false, owner_);
  file.CreateFile();
  file.SetFieldDefs(Laid({Field(1, "Text", ftcString, 512)}));
  EXPECT_EQ(file.GetRecordSize(), 544);
}

TEST_F(DataFileTest, OversizedRecordIsRefused) {
  std::vector<TFieldDef> fields;
  for (std::uint16_t i = 1; i <= 128; ++i) {
    fields.push_back(Field(i, "S" + std::to_string(i), ftcString, 512));
  }
  fields = Laid(fields);
  TDataFile file(engine_, dir_.File("huge.dat"), false, owner_);
  file.CreateFile();
  EXPECT_EQ(RaisedCode([&] { file.SetFieldDefs(fields); }), NEXORA_RECTOOBIG);
}

TEST_F(DataFileTest, AtMost128BlobFields) {
  std::vector<TFieldDef> fields;
  for (std::uint16_t i = 1; i <= 129; ++i) {
    fields.push_back(Field(i, "B" + std::to_string(i), ftcBlob));
  }
  fields = Laid(fields);
  TDataFile file(engine_, dir_.File("blobs.dat"), false, owner_);
  file.CreateFile();
  file.SetFieldDefs(std::span<const TFieldDef>(fields).first(128));
  EXPECT_EQ(file.GetBlobFieldCount(), 128);
  EXPECT_EQ(RaisedCode([&] { file.SetFieldDefs(fields); }), NEXORA_BLOBLIMIT);
}

TEST_F(DataFileTest, SystemFieldsAndLookups) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  auto file = NewFile(path, owner_);
  file->OpenFile();

  const TFieldDef *id = file->GetFieldDef(-1);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->Name(), "RecordID");
  EXPECT_EQ(id->Type(), ftcInteger);
  EXPECT_EQ(id->Subtype(), 0);
  EXPECT_EQ(id->DeclaredSize(), 0);
  EXPECT_EQ(id->PhysicalSize(), 4);
  EXPECT_EQ(id->RecordOffset(), 5);
  const TFieldDef *hash = file->FindFieldDef(-2);
  ASSERT_NE(hash, nullptr);
  EXPECT_EQ(hash->Name(), "RecordHash");
  EXPECT_EQ(hash->Type(), ftcBytes);
  EXPECT_EQ(hash->Subtype(), fstRecordHash);
  EXPECT_EQ(hash->DeclaredSize(), 16);
  EXPECT_EQ(hash->PhysicalSize(), 16);
  EXPECT_EQ(hash->RecordOffset(), 9);

  EXPECT_EQ(file->GetFieldNumber("recordid"), -1);
  EXPECT_EQ(file->GetFieldNumber("RECORDHASH"), -2);
  EXPECT_EQ(file->GetFieldNumber("notes"), 3);
  EXPECT_EQ(file->GetFieldNumber("Missing"), 0);
  EXPECT_EQ(file->FindFieldDefByName("AMOUNT"), file->GetFieldDef(2));
  EXPECT_EQ(file->FindFieldDefByName("Missing"), nullptr);
  EXPECT_EQ(file->GetFieldDef(0), nullptr);
  EXPECT_EQ(file->GetFieldDef(5), nullptr);
  EXPECT_EQ(file->FindFieldDef(4)->Name(), "Count");
  EXPECT_EQ(file->FindFieldDef(9), nullptr);
}

TEST_F(DataFileTest, AlterFieldDefChangesOnlyTheDescriptiveParts) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  {
    auto file = NewFile(path, owner_);
    file->OpenFile();
    EXPECT_FALSE(file->DefinitionsChanged());
    TFieldDef changed = Field(1, "Customer", ftcInteger, 99, fstFixedChar);
    changed.SetDescription("Who ordered");
    changed.SetRequired(true);
    changed.SetDefault("n/a");
    changed.SetRecordOffset(300);
    file->AlterFieldDef(1, changed);
    EXPECT_TRUE(file->DefinitionsChanged());
    EXPECT_FALSE(file->HeaderChanged());
    EXPECT_EQ(RaisedCode([&] { file->AlterFieldDef(5, changed); }), NEXORA_OUTOFRANGE);
    file->WriteFieldDefs();
    EXPECT_FALSE(file->DefinitionsChanged());
  }
  auto file = NewFile(path, owner_);
  file->OpenFile();
  const TFieldDef &field = *file->GetFieldDef(1);
  EXPECT_EQ(field.Name(), "Customer");
  EXPECT_EQ(field.Description(), "Who ordered");
  EXPECT_EQ(field.Subtype(), fstFixedChar);
  EXPECT_TRUE(field.Required());
  EXPECT_EQ(field.Default(), "n/a");
  EXPECT_EQ(field.Type(), ftcString);
  EXPECT_EQ(field.DeclaredSize(), 10);
  EXPECT_EQ(field.PhysicalSize(), 11);
  EXPECT_EQ(field.RecordOffset(), 25);
  EXPECT_FALSE(file->CheckStructure());
}

// --- header values

TEST_F(DataFileTest, IdentifiersWrapAfter2147483647) {
  TDataFile file(engine_, dir_.File("ids.dat"), false, owner_);
  file.CreateFile();
  EXPECT_EQ(file.NextRecordID(), 1);
  EXPECT_EQ(file.NextRecordID(), 2);
  file.SetLastRecordID(std::numeric_limits<std::int32_t>::max() - 1);
  EXPECT_EQ(file.NextRecordID(), 2147483647);
  EXPECT_EQ(file.NextRecordID(), 1);
  EXPECT_EQ(file.GetLastRecordID(), 1);

  EXPECT_EQ(file.NextBlobID(), 1);
  EXPECT_EQ(file.GetLastBlobID(), 1U);
}

TEST_F(DataFileTest, BlobIdentifierWrapsAfter2147483647) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  Patch(path, DataHeader::LastBlobID, LE32(2147483646));
  auto file = NewFile(path, owner_);
  file->OpenFile();
  EXPECT_EQ(file->NextBlobID(), 2147483647);
  EXPECT_TRUE(file->HeaderChanged());
  EXPECT_EQ(file->NextBlobID(), 1);
}

TEST_F(DataFileTest, SetterGivenTheStoredValueLeavesThePendingFlag) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields(), 2);
  auto file = NewFile(path, owner_);
  file->OpenFile();
  ASSERT_FALSE(file->HeaderChanged());

  file->SetLastAutoInc(file->GetLastAutoInc());
  file->SetRecordCount(file->GetRecordCount());
  file->SetLastRecordID(file->GetLastRecordID());
  file->SetFreeRecord(file->GetFreeRecordHead());
  EXPECT_FALSE(file->HeaderChanged());
  EXPECT_FALSE(file->WriteHeader(false));

  file->SetLastAutoInc(42);
  EXPECT_TRUE(file->HeaderChanged());
  EXPECT_EQ(file->GetLastAutoInc(), 42);
  EXPECT_TRUE(file->WriteHeader(false));
  EXPECT_FALSE(file->HeaderChanged());
}

TEST_F(DataFileTest, RecordCountAndFreeRecord) {
  TDataFile file(engine_, dir_.File("counts.dat"), false, owner_);
  file.CreateFile();
  file.SetFieldDefs(OrderFields());
  EXPECT_EQ(file.GetNextRecordNumber(), 1);
  EXPECT_EQ(file.GetFreeRecord(), 1);
  AppendRecords(file, 3);
  EXPECT_EQ(file.GetNextRecordNumber(), 4);
  EXPECT_EQ(file.GetBufferCount(), 3);
  EXPECT_EQ(file.GetRecordCount(), 3);
  EXPECT_EQ(file.GetFreeRecord(), 4);
  file.SetFreeRecord(2);
  file.DecRecordCount();
  EXPECT_EQ(file.GetFreeRecord(), 2);
  EXPECT_EQ(file.GetFreeRecordHead(), 2);
  EXPECT_EQ(file.GetRecordCount(), 2);
  file.SetRecordCount(7);
  EXPECT_EQ(file.GetRecordCount(), 7);
}

TEST_F(DataFileTest, LastWriteTimeIsStoredMinus693594AndReadBackAsLocalTime) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  double stored = -649763.0; // 2020-01-01 00:00
  TBytes bytes(8);
  std::memcpy(bytes.data(), &stored, 8);
  Patch(path, DataHeader::LastWriteTime, bytes);
  auto file = NewFile(path, owner_);
  file->OpenFile();
  EXPECT_EQ(file->Header().StoredLastWriteTime(), -649763.0);
  EXPECT_EQ(file->GetLastWriteTime(), 43831.0);

  // Subtracting and adding 693594.0 may move the last bits: within a millisecond.
  const double millisecond = 1.0 / 86'400'000;
  const double before = LocalDayCountNow() - millisecond;
  file->WriteHeader(true);
  const double after = LocalDayCountNow() + millisecond;
  EXPECT_GE(file->GetLastWriteTime(), before);
  EXPECT_LE(file->GetLastWriteTime(), after);
  file->CloseFile();
  const TBytes image = testing::ReadBytes(path);
  std::memcpy(&stored, image.data() + DataHeader::LastWriteTime, 8);
  EXPECT_LT(stored, 0.0);
  EXPECT_GE(stored + 693594.0, before);
  EXPECT_LE(stored + 693594.0, after);
}

TEST_F(DataFileTest, WriteHeaderTouchAndReload) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  auto file = NewFile(path, owner_);
  file->OpenFile();
  const std::uint32_t counter = file->GetChangeCounter();
  EXPECT_FALSE(file->WriteHeader(false));
  EXPECT_EQ(file->GetChangeCounter(), counter);

  owner_.markedWritten = 0;
  EXPECT_TRUE(file->WriteHeader(true));
  EXPECT_EQ(file->GetChangeCounter(), counter + 1);
  EXPECT_EQ(owner_.markedWritten, 1);
  EXPECT_FALSE(file->ReloadHeader());

  file->TouchHeader();
  EXPECT_EQ(file->GetChangeCounter(), counter + 2);
  EXPECT_TRUE(file->HeaderChanged());
  EXPECT_EQ(owner_.markedWritten, 2);
  // The touch never reached the file: reloading moves the counter back.
  EXPECT_TRUE(file->ReloadHeader());
  EXPECT_EQ(file->GetChangeCounter(), counter + 1);
  EXPECT_FALSE(file->HeaderChanged());

  // Another opener's write is seen as a moved counter.
  TTestDataOwner other(engine_);
  auto second = NewFile(path, other);
  second->OpenFile();
  second->SetLastAutoInc(99);
  second->WriteHeader(false);
  EXPECT_TRUE(file->ReloadHeader());
  EXPECT_EQ(file->GetLastAutoInc(), 99);
}

TEST_F(DataFileTest, EmptyTableFileIsHeaderAndDefinitionsOnly) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields());
  EXPECT_EQ(std::filesystem::file_size(path), 512U + 768U * 4);
  const TDataFileHeader header = TDataFile::ReadClosedHeader(engine_, path);
  EXPECT_EQ(header.NextRecordNumber(), 1);
  EXPECT_EQ(header.RecordCount(), 0);
}

TEST_F(DataFileTest, EmptyFileTruncatesAndResetsCounters) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields(), 3);
  EXPECT_EQ(std::filesystem::file_size(path), 512U + 768U * 4 + 3U * 64);
  {
    auto file = NewFile(path, owner_);
    file->OpenFile();
    file->SetFreeRecord(2);
    file->EmptyFile();
    EXPECT_TRUE(file->HeaderChanged());
    EXPECT_EQ(file->GetChangeCounter(), 0U);
    EXPECT_EQ(file->GetNextRecordNumber(), 1);
    EXPECT_EQ(file->GetRecordCount(), 0);
    EXPECT_EQ(file->GetLastRecordID(), 0);
    EXPECT_EQ(file->GetLastAutoInc(), 0);
    EXPECT_EQ(file->GetFreeRecordHead(), 0);
    EXPECT_EQ(file->GetFieldCount(), 4);
    EXPECT_EQ(file->GetBlobBlockSize(), 1024U);
    EXPECT_TRUE(file->WriteHeader(false));
    EXPECT_EQ(file->GetChangeCounter(), 1U);
  }
  EXPECT_EQ(std::filesystem::file_size(path), 512U + 768U * 4);
  auto file = NewFile(path, owner_);
  file->OpenFile();
  EXPECT_FALSE(file->CheckStructure());
}

TEST_F(DataFileTest, HeaderAndDefinitionsOnDiskByteByByte) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields(), 3);
  const TBytes file = testing::ReadBytes(path);
  ASSERT_EQ(file.size(), 512U + 4 * 768 + 3 * 64);

  // Header: two writes (creation forced, then the records' header).
  EXPECT_EQ(FileU32(file, 0), 2U);
  EXPECT_EQ(FileU32(file, 4), 0U);
  EXPECT_EQ(file[8], 6);
  const TBytes signature = {0x8a, 0x94, 0x7c, 0x98, 0xcd, 0xdd, 0xe0, 0x9f,
                            0x7b, 0x66, 0x9b, 0x66, 0xf5, 0xb5, 0xbf, 0x7e}; // MD5("NEXORA_SIG")
  EXPECT_EQ(TBytes(file.begin() + 9, file.begin() + 25), signature);
  EXPECT_EQ(FileU32(file, 25), 0U);  // free-record head
  EXPECT_EQ(FileU32(file, 29), 4U);  // next physical record number
  EXPECT_EQ(FileU32(file, 33), 3U);  // last record ID
  EXPECT_EQ(FileU32(file, 37), 41U); // last auto-increment value
  EXPECT_EQ(FileU32(file, 41), 3U);  // record count
  EXPECT_EQ(FileU16(file, 45), 64);  // record size: ceil8(25 + 12 + 9 + 9 + 5)
  EXPECT_EQ(FileU16(file, 47), 4);   // field count
  EXPECT_EQ(FileU16(file, 49), 1);   // BLOB field count
  EXPECT_EQ(FileU32(file, 51), 1024U);
  EXPECT_EQ(FileU32(file, 55), 0U);
  EXPECT_EQ(FileU32(file, 59), 4096U);
  double stored = 0;
  std::memcpy(&stored, file.data() + 63, 8);
  EXPECT_NEAR(stored + 693594.0, LocalDayCountNow(), 1.0 / 24);
  EXPECT_EQ(file[71], 15);
  EXPECT_EQ(std::string(file.begin() + 72, file.begin() + 87), "Customer orders");
  EXPECT_EQ(file[172], 0);
  EXPECT_EQ(TBytes(file.begin() + 173, file.begin() + 189), TBytes(16, 0));
  EXPECT_EQ(FileU32(file, 189), 0U);
  EXPECT_EQ(FileU16(file, 193), 2);
  EXPECT_EQ(FileU16(file, 195), 7);
  EXPECT_EQ(file[197], 1); // the pending flag as it stood at the write
  EXPECT_EQ(TBytes(file.begin() + 198, file.begin() + 512), TBytes(314, 0));

  // Definitions at 512, 768 bytes each.
  const auto def = [&](int position, std::size_t offset) { return 512 + (position - 1) * 768 + offset; };
  EXPECT_EQ(FileU16(file, def(1, 0)), 1);
  EXPECT_EQ(file[def(1, 2)], 4);
  EXPECT_EQ(std::string(file.begin() + static_cast<long>(def(1, 3)), file.begin() + static_cast<long>(def(1, 7))),
            "Name");
  EXPECT_EQ(file[def(1, 164)], 1);
  EXPECT_EQ(FileU16(file, def(1, 166)), 10);
  EXPECT_EQ(FileU16(file, def(1, 169)), 11);
  EXPECT_EQ(FileU16(file, def(1, 172)), 25);
  EXPECT_EQ(FileU16(file, def(2, 0)), 2);
  EXPECT_EQ(file[def(2, 164)], 7);
  EXPECT_EQ(FileU16(file, def(2, 166)), 0);
  EXPECT_EQ(FileU16(file, def(2, 169)), 8);
  EXPECT_EQ(FileU16(file, def(2, 172)), 37);
  EXPECT_EQ(file[def(3, 164)], 3);
  EXPECT_EQ(file[def(3, 165)], 22);
  EXPECT_EQ(FileU16(file, def(3, 169)), 8);
  EXPECT_EQ(FileU16(file, def(3, 172)), 46);
  EXPECT_EQ(file[def(4, 164)], 6);
  EXPECT_EQ(FileU16(file, def(4, 169)), 4);
  EXPECT_EQ(FileU16(file, def(4, 172)), 55);
  EXPECT_EQ(TBytes(file.begin() + static_cast<long>(def(4, 480)), file.begin() + static_cast<long>(def(4, 768))),
            TBytes(288, 0));

  // Records after the definitions.
  const std::size_t firstRecord = 512 + 4 * 768;
  EXPECT_EQ(file[firstRecord], 0x11);
  EXPECT_EQ(file[firstRecord + 64], 0x22);
  EXPECT_EQ(file[firstRecord + 2 * 64 + 63], 0x33);
}

TEST_F(DataFileTest, RecordsReadBackThroughTheCache) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields(), 5);
  auto file = NewFile(path, owner_);
  file->OpenFile();
  EXPECT_EQ(file->GetBufferCount(), 5);
  EXPECT_EQ(file->GetEndOffset(), 512 + 4 * 768 + 5 * 64);
  TBuffer *record = file->GetBuffer(nullptr, 0, 4, true, TReadDirection::Forward);
  EXPECT_EQ(record->Data()[0], 0x44);
  file->ReleaseBuffer(record);
  EXPECT_EQ(RaisedCode([&] { file->GetBuffer(nullptr, 0, 0, false, TReadDirection::None); }), NEXORA_FILECORRUPT);
}

// --- encryption

TEST_F(DataFileTest, EncryptedDefinitionsRoundTrip) {
  const std::string path = dir_.File("secret.dat");
  const std::vector<TFieldDef> fields = OrderFields();
  Create(path, fields, 0, "open sesame");

  const TBytes file = testing::ReadBytes(path);
  EXPECT_EQ(file[DataHeader::Encrypted], 1);
  EXPECT_EQ(file[DataHeader::Version], 6); // the header is never encrypted
  EXPECT_EQ(file[71], 15);
  TBytes clear;
  for (const TFieldDef &field : fields) {
    clear.insert(clear.end(), field.Bytes(), field.Bytes() + TFieldDef::Size);
  }
  const TBytes area(file.begin() + 512, file.end());
  ASSERT_EQ(area.size(), clear.size());
  EXPECT_NE(area, clear);

  // The area is one buffer: deciphered whole with the password's key, it is the clear
  // definitions.
  const TDigest key = DigestText("open sesame");
  TCryptoContext context = engine_.CryptoInit(key.data(), 16);
  TBytes deciphered = area;
  engine_.DecryptBuffer(context.Data, deciphered.data(), static_cast<std::int32_t>(deciphered.size()));
  EXPECT_EQ(deciphered, clear);
  // The check value is the digest enciphered with its own key.
  TDigest check;
  std::copy_n(file.begin() + DataHeader::PasswordCheck, 16, check.begin());
  engine_.DecryptBuffer(context.Data, check.data(), 16);
  EXPECT_TRUE(SameDigest(check, key));
  FreeCryptoContext(context);

  // The right password among others opens it.
  TTestDataOwner right(engine_);
  right.passwords = {"wrong", "open sesame"};
  {
    auto opened = NewFile(path, right);
    opened->OpenFile();
    EXPECT_TRUE(opened->IsEncrypted());
    EXPECT_EQ(right.matchCalls, 1);
    EXPECT_EQ(opened->GetFieldDef(3)->Name(), "Notes");
    EXPECT_FALSE(opened->CheckStructure());
  }
  // A wrong password (or none) does not.
  TTestDataOwner wrong(engine_);
  wrong.passwords = {"Open Sesame"};
  EXPECT_EQ(OpenCode(path, wrong), NEXORA_NOTSUFFTABLERIGHTS);
  TTestDataOwner none(engine_);
  EXPECT_EQ(OpenCode(path, none), NEXORA_NOTSUFFTABLERIGHTS);
  // An unencrypted table never asks.
  const std::string plain = dir_.File("plain.dat");
  Create(plain, fields);
  EXPECT_EQ(OpenCode(plain, none), NEXORA_NONE);
  EXPECT_EQ(none.matchCalls, 1);
}

TEST_F(DataFileTest, EncryptedDefinitionsNeedAKey) {
  TDataFile file(engine_, dir_.File("nokey.dat"), false, owner_);
  file.CreateFile();
  file.SetTableInfo(0, 0, 0, 0, 512, 4096, "", DigestText("x"), 1);
  file.SetFieldDefs(OrderFields());
  EXPECT_EQ(RaisedCode([&] { file.WriteFieldDefs(); }), NEXORA_NOTSUFFTABLERIGHTS);
}

// --- closed tables and the older format

TEST_F(DataFileTest, ReadClosedHeaderOfTheCurrentFormat) {
  const std::string path = dir_.File("orders.dat");
  Create(path, OrderFields(), 2);
  const TDataFileHeader header = TDataFile::ReadClosedHeader(engine_, path);
  EXPECT_EQ(header.BlobBlockSize(), 1024U);
  EXPECT_EQ(header.RecordCount(), 2);
  EXPECT_EQ(header.Description(), "Customer orders");

  Patch(path, DataHeader::Version, {7});
  EXPECT_EQ(RaisedCode([&] { TDataFile::ReadClosedHeader(engine_, path); }), NEXORA_BADSIGNATURE);
  Patch(path, DataHeader::Version, {6});
  const TDigest foreign = DigestText("SOMEONE_ELSE");
  Patch(path, DataHeader::Signature, TBytes(foreign.begin(), foreign.end()));
  EXPECT_EQ(RaisedCode([&] { TDataFile::ReadClosedHeader(engine_, path); }), NEXORA_BADSIGNATURE);
  EXPECT_EQ(RaisedCode([&] { TDataFile::ReadClosedHeader(engine_, dir_.File("missing.dat")); }), NEXORA_OSENOENT);
}

TEST_F(DataFileTest, OlderFormatHeaderIsMappedButDoesNotOpen) {
  const std::string path = dir_.File("old.dat");
  TBytes old(200, 0);
  const auto put32 = [&](std::size_t offset, std::uint32_t value) { StoreU32(old.data() + offset, value); };
  const auto put16 = [&](std::size_t offset, std::uint16_t value) { StoreU16(old.data() + offset, value); };
  put32(0, 17);   // change counter
  put32(4, 1024); // BLOB block size
  old[8] = 5;     // version
  put32(9, 3);    // free-record head
  put32(13, 11);  // next physical record number
  put32(17, 250); // last record ID
  put16(21, 120); // record size
  put16(23, 6);   // field count
  put16(25, 2);   // BLOB field count
  const double time = -649763.0;
  std::memcpy(old.data() + 27, &time, 8);
  WriteShortText(old.data() + 35, 51, "Old customers");
  put16(103, 0x0409);
  put16(105, 0x0001);
  put16(107, 3);
  put16(109, 4);
  put32(112, 77); // last BLOB ID
  testing::WriteBytes(path, old);

  const TDataFileHeader header = TDataFile::ReadClosedHeader(engine_, path);
  EXPECT_EQ(header.BlobBlockSize(), 1024U);
  EXPECT_EQ(header.IndexPageSize(), 4096U);
  EXPECT_EQ(header.RecordCount(), 0);
  EXPECT_EQ(header.ChangeCounter(), 17U);
  EXPECT_EQ(header.Version(), 5);
  EXPECT_TRUE(SameDigest(header.Signature(), engine_.SignatureDigest()));
  EXPECT_EQ(header.FreeRecordHead(), 3);
  EXPECT_EQ(header.NextRecordNumber(), 11);
  EXPECT_EQ(header.LastRecordID(), 250);
  EXPECT_EQ(header.LastAutoInc(), 250);
  EXPECT_EQ(header.RecordSize(), 120);
  EXPECT_EQ(header.FieldCount(), 6);
  EXPECT_EQ(header.BlobFieldCount(), 2);
  EXPECT_EQ(header.StoredLastWriteTime(), -649763.0);
  EXPECT_EQ(header.Description(), "Old customers");
  EXPECT_FALSE(header.Encrypted());
  EXPECT_TRUE(SameDigest(header.PasswordCheck(), TDigest{}));
  EXPECT_EQ(header.LocaleId(), 0x00010409U);
  EXPECT_EQ(header.UserMajorVersion(), 3);
  EXPECT_EQ(header.UserMinorVersion(), 4);
  EXPECT_EQ(header.LastBlobID(), 77U);
  for (std::size_t offset = DataHeader::Reserved198; offset < DataHeader::Size; ++offset) {
    ASSERT_EQ(header.U8(offset), 0) << offset;
  }

  // Opening refuses it as an older version, although its header is not 512 bytes.
  EXPECT_EQ(OpenCode(path, owner_), NEXORA_OLDVERSION);

  // An encrypted older table keeps no description: the scrambling key is unknown.
  old[86] = 1;
  testing::WriteBytes(path, old);
  const TDataFileHeader encrypted = TDataFile::ReadClosedHeader(engine_, path);
  EXPECT_TRUE(encrypted.Encrypted());
  EXPECT_EQ(encrypted.Description(), "");
}

// --- structure check

class DataFileStructureTest : public DataFileTest {
protected:
  void SetUp() override { Create(path_, OrderFields(), 2); }

  TStructureCheck Check() {
    auto file = NewFile(path_, owner_);
    file->OpenFile();
    const TStructureCheck check = file->CheckStructure();
    const TErrorCode code = RaisedCode([&] { file->VerifyStructure(); });
    EXPECT_EQ(code, check.Problem == TStructureProblem::None     ? NEXORA_NONE
                    : check.Problem == TStructureProblem::Locale ? NEXORA_CANNOTLOADLDDRV
                                                                 : NEXORA_HEADERCORRUPT);
    return check;
  }
  std::size_t DefinitionOffset(int position, std::size_t offset) const { return 512 + (position - 1) * 768 + offset; }

  std::string path_ = dir_.File("orders.dat");
};

TEST_F(DataFileStructureTest, ValidTablePasses) { EXPECT_EQ(Check().Problem, TStructureProblem::None); }

TEST_F(DataFileStructureTest, BadRecordOffset) {
  Patch(path_, DefinitionOffset(2, TFieldDef::RecordOffsetOffset), {38, 0});
  const TStructureCheck check = Check();
  EXPECT_EQ(check.Problem, TStructureProblem::FieldOffset);
  EXPECT_EQ(check.Field, 2);
  EXPECT_EQ(StructureProblemMessage(check), "Invalid field offset for field Amount in table header");
}

TEST_F(DataFileStructureTest, BadNextRecordNumber) {
  Patch(path_, DataHeader::NextRecordNumber, LE32(5));
  const TStructureCheck check = Check();
  EXPECT_EQ(check.Problem, TStructureProblem::RecordCount);
  EXPECT_EQ(StructureProblemMessage(check), "Physical record count not correct");
}

TEST_F(DataFileStructureTest, FreeHeadBeyondTheRecords) {
  Patch(path_, DataHeader::FreeRecordHead, LE32(2));
  EXPECT_EQ(Check().Problem, TStructureProblem::None);
  Patch(path_, DataHeader::FreeRecordHead, LE32(3));
  EXPECT_EQ(Check().Problem, TStructureProblem::FreeRecord);
  Patch(path_, DataHeader::FreeRecordHead, LE32(0xFFFFFFFF));
  EXPECT_EQ(Check().Problem, TStructureProblem::FreeRecord);
}

TEST_F(DataFileStructureTest, RecordAreaNotWholeRecords) {
  TBytes file = testing::ReadBytes(path_);
  file.resize(file.size() + 10, 0);
  testing::WriteBytes(path_, file);
  EXPECT_EQ(Check().Problem, TStructureProblem::RecordAlignment);
}

TEST_F(DataFileStructureTest, RecordSizeNotTheRoundedOffset) {
  Patch(path_, DataHeader::RecordSize, {72, 0});
  EXPECT_EQ(Check().Problem, TStructureProblem::RecordLength);
}

TEST_F(DataFileStructureTest, FieldRules) {
  struct TCase {
    const char *what;
    int position;
    std::size_t offset;
    TBytes bytes;
    TStructureProblem problem;
    int field; // the field found at fault: the first of two that share a name or number
  };
  const std::vector<TCase> cases = {
      {"blank name", 1, TFieldDef::NameOffset, {0}, TStructureProblem::FieldNameBlank, 1},
      {"first character", 1, TFieldDef::NameOffset + 1, {'1'}, TStructureProblem::FieldNameFirstCharacter, 1},
      {"too long", 1, TFieldDef::NameOffset, {61}, TStructureProblem::FieldNameTooLong, 1},
      {"duplicate name", 2, TFieldDef::NameOffset, {4, 'n', 'A', 'M', 'E'}, TStructureProblem::FieldNameDuplicate, 1},
      {"type 0", 4, TFieldDef::TypeOffset, {0}, TStructureProblem::FieldTypeUnknown, 4},
      {"duplicate number", 4, TFieldDef::NumberOffset, {3, 0}, TStructureProblem::FieldNumber, 3},
      {"string too long", 1, TFieldDef::DeclaredSizeOffset, {0x01, 0x02}, TStructureProblem::FieldLength, 1},
      {"float with a size", 2, TFieldDef::DeclaredSizeOffset, {8, 0}, TStructureProblem::FieldLength, 2},
      {"default", 4, TFieldDef::DefaultOffset, {3, 'a', 'b', 'c'}, TStructureProblem::DefaultValue, 4},
      {"minimum", 2, TFieldDef::MinimumOffset, {3, '1', ',', '5'}, TStructureProblem::MinimumValue, 2},
      {"maximum", 3, TFieldDef::MaximumOffset, {1, 'x'}, TStructureProblem::MaximumValue, 3},
      {"decimals", 4, TFieldDef::DecimalsOffset, {2}, TStructureProblem::FieldDecimals, 4},
      {"number not the position", 4, TFieldDef::NumberOffset, {9, 0}, TStructureProblem::FieldNumber, 4},
  };
  const TBytes original = testing::ReadBytes(path_);
  for (const TCase &c : cases) {
    testing::WriteBytes(path_, original);
    Patch(path_, DefinitionOffset(c.position, c.offset), c.bytes);
    const TStructureCheck check = Check();
    EXPECT_EQ(check.Problem, c.problem) << c.what;
    EXPECT_EQ(check.Field, c.field) << c.what;
  }
  testing::WriteBytes(path_, original);
  Patch(path_, DefinitionOffset(1, TFieldDef::NameOffset), {0});
  EXPECT_EQ(StructureProblemMessage(Check()), "Invalid field name (blank) for field # 1 in table header");
}

TEST_F(DataFileStructureTest, PhysicalSizeIsRecomputed) {
  // A damaged physical size is recomputed before the offsets are followed.
  Patch(path_, DefinitionOffset(1, TFieldDef::PhysicalSizeOffset), {99, 0});
  EXPECT_EQ(Check().Problem, TStructureProblem::None);
}

TEST_F(DataFileStructureTest, UnavailableLocale) {
  Patch(path_, DataHeader::LocaleId, LE32(0xBEEF));
  ASSERT_FALSE(TDataEngine::IsLocaleAvailable(0xBEEF));
  EXPECT_EQ(RaisedCode([&] { NewFile(path_, owner_)->OpenFile(); }), NEXORA_CANNOTLOADLDDRV);
}

TEST_F(DataFileStructureTest, BlobFieldCountOnlyForVerification) {
  Patch(path_, DataHeader::BlobFieldCount, {2, 0});
  auto file = NewFile(path_, owner_);
  file->OpenFile();
  EXPECT_EQ(file->CheckStructure(false).Problem, TStructureProblem::None);
  EXPECT_EQ(file->CheckStructure(true).Problem, TStructureProblem::BlobFieldCount);
}

} // namespace
} // namespace nexora

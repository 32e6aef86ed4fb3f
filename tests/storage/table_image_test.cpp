#include <gtest/gtest.h>

#include <memory>

#include "file_test_support.h"
#include "record_test_support.h"
#include "storage/field_values.h"
#include "storage/record_allocation.h"
#include "storage/record_hash.h"
#include "test_data_owner.h"

namespace nexora {
namespace {

using testing::Field;
using testing::Laid;
using TBytes = std::vector<std::uint8_t>;

std::uint32_t U32(const TBytes &bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}
std::uint16_t U16(const TBytes &bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// A table of four fields written through the data file and the record code, closed,
// and read back as bytes: header offsets and one record image against values worked
// out by hand.
TEST(TableImage, WrittenTableMatchesTheFormatByteByByte) {
  TDataEngine engine;
  testing::TTempDir dir;
  TTestDataOwner owner(engine);
  // Slots: integer at 25 (1 + 4), string of 10 at 30 (1 + 11), date at 42 (1 + 4),
  // boolean at 47 (1 + 2); running offset 50, record size 56.
  const std::vector<TFieldDef> fields =
      Laid({Field(ftcInteger), Field(ftcString, fstNone, 10), Field(ftcDate), Field(ftcBoolean)});
  const std::string path = dir.File("orders.dat");
  {
    TDataFile file(engine, path, false, owner);
    file.CreateFile();
    file.SetTableInfo(0x0409, 2, 7, 0, 1024, 4096, "Orders", TDigest{}, 0);
    file.SetFieldDefs(fields);
    file.WriteHeader(true);
    file.WriteFieldDefs();

    TRecord *record = AllocateRecord(file, nullptr);
    ASSERT_NE(record, nullptr);
    TBytes image(record->Image().begin(), record->Image().end());
    WriteFieldValue(fields[0], image, std::int64_t{1}, 0);
    WriteFieldValue(fields[1], image, std::string("Anna  "), 0);
    WriteFieldValue(fields[2], image, TDateValue{737425}, 0);
    WriteFieldValue(fields[3], image, true, 0);
    record->SetData(image.data(), static_cast<std::int32_t>(image.size()));
    record->SetRecordID(file.NextRecordID());
    StoreRecordHash(file.FieldDefs(), std::span<std::uint8_t>(record->Data(), 56));
    file.ReleaseBuffer(record);
    file.FlushBuffers(false);
    file.WriteHeader(false);
    file.CloseFile();
  }

  const TBytes bytes = testing::ReadBytes(path);
  const std::size_t firstRecord = 512 + 768 * 4;
  ASSERT_EQ(bytes.size(), firstRecord + 56);
  EXPECT_EQ(bytes[8], 6); // version
  EXPECT_TRUE(std::equal(bytes.begin() + 9, bytes.begin() + 25, DigestText("NEXORA_SIG").begin()));
  EXPECT_EQ(U32(bytes, 25), 0u);    // free-record head
  EXPECT_EQ(U32(bytes, 29), 2u);    // next physical record number
  EXPECT_EQ(U32(bytes, 33), 1u);    // last record ID
  EXPECT_EQ(U32(bytes, 41), 1u);    // record count
  EXPECT_EQ(U16(bytes, 45), 56);    // record size
  EXPECT_EQ(U16(bytes, 47), 4);     // field count
  EXPECT_EQ(U16(bytes, 49), 0);     // BLOB field count
  EXPECT_EQ(U32(bytes, 51), 1024u); // BLOB block size
  EXPECT_EQ(U32(bytes, 59), 4096u); // index page size
  EXPECT_EQ(bytes[71], 6);          // description length
  EXPECT_EQ(std::string(bytes.begin() + 72, bytes.begin() + 78), "Orders");
  EXPECT_EQ(bytes[172], 0);            // not encrypted
  EXPECT_EQ(U32(bytes, 189), 0x0409u); // locale
  EXPECT_EQ(U16(bytes, 193), 2);       // user major version
  EXPECT_EQ(U16(bytes, 195), 7);       // user minor version
  // The second definition: number 2, name "F2", type 1, size 10, physical 11, offset 30.
  const std::size_t def2 = 512 + 768;
  EXPECT_EQ(U16(bytes, def2 + 0), 2);
  EXPECT_EQ(bytes[def2 + 2], 2);
  EXPECT_EQ(std::string(bytes.begin() + def2 + 3, bytes.begin() + def2 + 5), "F2");
  EXPECT_EQ(bytes[def2 + 164], 1);
  EXPECT_EQ(U16(bytes, def2 + 166), 10);
  EXPECT_EQ(U16(bytes, def2 + 169), 11);
  EXPECT_EQ(U16(bytes, def2 + 172), 30);

  const TBytes record(bytes.begin() + static_cast<long>(firstRecord), bytes.end());
  TBytes expected(56, 0);
  expected[5] = 1; // record ID 1
  const std::uint8_t integer[] = {0x01, 0x01, 0x00, 0x00, 0x00};
  std::copy(std::begin(integer), std::end(integer), expected.begin() + 25);
  const std::string anna = "\x01"
                           "Anna"; // trailing blanks removed
  std::copy(anna.begin(), anna.end(), expected.begin() + 30);
  const std::uint8_t date[] = {0x01, 0x91, 0x40, 0x0B, 0x00};
  std::copy(std::begin(date), std::end(date), expected.begin() + 42);
  const std::uint8_t boolean[] = {0x01, 0x01, 0x00};
  std::copy(std::begin(boolean), std::end(boolean), expected.begin() + 47);
  const TDigest hash = DigestBytes(expected.data() + 25, 56 - 25);
  std::copy(hash.begin(), hash.end(), expected.begin() + 9);
  EXPECT_EQ(record, expected);
}

} // namespace
} // namespace nexora

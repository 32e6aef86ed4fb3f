#include <gtest/gtest.h>

#include <numeric>

#include "crypto/md5.h"
#include "record_test_support.h"
#include "storage/field_values.h"
#include "storage/record_hash.h"
#include "storage/record_layout.h"

namespace nexora {
namespace {

using testing::Field;
using testing::Laid;
using testing::RecordSizeOf;
using TBytes = std::vector<std::uint8_t>;

TDigest StoredHash(const TBytes &image) {
  TDigest hash;
  std::copy_n(image.begin() + 9, 16, hash.begin());
  return hash;
}

TEST(RecordHash, TableWithoutBlobsDigestsBytes25ToTheEnd) {
  const auto fields = Laid({Field(ftcInteger), Field(ftcString, fstNone, 10)});
  TBytes image(RecordSizeOf(fields));
  std::iota(image.begin(), image.end(), std::uint8_t{1});
  StoreRecordHash(fields, image);
  EXPECT_EQ(StoredHash(image), DigestBytes(image.data() + 25, image.size() - 25));
  // Header bytes are not covered.
  image[0] = 1;
  image[5] = 99;
  EXPECT_EQ(ComputeRecordHash(fields, image), StoredHash(image));
}

// A table with a BLOB field between an integer and a string, plus padding.
class BlobTableHash : public ::testing::Test {
protected:
  BlobTableHash() : fields_(Laid({Field(ftcInteger), Field(ftcBlob), Field(ftcString, fstNone, 5)})) {
    image_.assign(RecordSizeOf(fields_), 0);
    WriteFieldValue(fields_[0], image_, std::int64_t{42}, 0);
    WriteFieldValue(fields_[1], image_, TBlobSlotValue{3}, 0);
    WriteFieldValue(fields_[2], image_, std::string("abc"), 0);
  }
  std::vector<TFieldDef> fields_;
  TBytes image_;
};

TEST_F(BlobTableHash, EqualsTheDigestOfAScratchImageWithoutBlobSlots) {
  TBytes scratch = image_;
  std::fill_n(scratch.begin() + fields_[1].RecordOffset(), 9, 0);
  EXPECT_EQ(ComputeRecordHash(fields_, image_), DigestBytes(scratch.data() + 25, scratch.size() - 25));
}

TEST_F(BlobTableHash, BlobSlotAndPaddingDoNotCountOtherFieldsDo) {
  const TDigest before = ComputeRecordHash(fields_, image_);
  WriteFieldValue(fields_[1], image_, TBlobSlotValue{17}, 0);
  image_[fields_[1].RecordOffset() + 6] = 0x5A; // the BLOB ID
  image_.back() = 0x77;                         // padding
  EXPECT_EQ(ComputeRecordHash(fields_, image_), before);
  WriteFieldValue(fields_[0], image_, std::int64_t{43}, 0);
  EXPECT_NE(ComputeRecordHash(fields_, image_), before);
  WriteFieldValue(fields_[0], image_, std::int64_t{42}, 0);
  WriteFieldValue(fields_[2], image_, std::monostate{}, 0);
  EXPECT_NE(ComputeRecordHash(fields_, image_), before);
}

TEST_F(BlobTableHash, HiddenFieldsDoNotCount) {
  fields_[2].Bytes()[TFieldDef::HiddenOffset] = 1;
  const TDigest before = ComputeRecordHash(fields_, image_);
  WriteFieldValue(fields_[2], image_, std::string("xyz"), 0);
  EXPECT_EQ(ComputeRecordHash(fields_, image_), before);
}

TEST_F(BlobTableHash, DamagedOffsetRaises) {
  fields_[2].SetRecordOffset(static_cast<std::uint16_t>(image_.size()));
  EXPECT_THROW(ComputeRecordHash(fields_, image_), std::out_of_range);
}

} // namespace
} // namespace nexora

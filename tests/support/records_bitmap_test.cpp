#include "support/records_bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

namespace nexora {
namespace {

TRecordsBitmap BitmapWith(std::int32_t size, std::initializer_list<std::int32_t> records) {
  TRecordsBitmap bitmap(size);
  for (const std::int32_t recNo : records) {
    bitmap.Set(recNo);
  }
  return bitmap;
}

std::vector<std::int32_t> SetRecordsOf(const TRecordsBitmap &bitmap) {
  std::vector<std::int32_t> records;
  for (std::int32_t recNo = 1; recNo <= bitmap.Size(); ++recNo) {
    if (bitmap.Test(recNo)) {
      records.push_back(recNo);
    }
  }
  return records;
}

// Straightforward bit-by-bit searches to check the word-skipping ones against.
std::int32_t NaiveFindNext(const TRecordsBitmap &bitmap, std::int32_t from, std::int32_t n) {
  for (std::int32_t recNo = from + 1; recNo <= bitmap.Size(); ++recNo) {
    if (bitmap.Test(recNo) && --n == 0) {
      return recNo;
    }
  }
  return 0;
}

std::int32_t NaiveFindPrior(const TRecordsBitmap &bitmap, std::int32_t from, std::int32_t n) {
  for (std::int32_t recNo = from - 1; recNo >= 1; --recNo) {
    if (bitmap.Test(recNo) && --n == 0) {
      return recNo;
    }
  }
  return 0;
}

TEST(RecordsBitmapTest, SetTestClearAndOutOfRange) {
  TRecordsBitmap bitmap(40);
  bitmap.Set(1);
  bitmap.Set(32);
  bitmap.Set(33);
  bitmap.Set(40);
  bitmap.Set(0);
  bitmap.Set(41);
  bitmap.Set(-5);
  EXPECT_EQ(SetRecordsOf(bitmap), (std::vector<std::int32_t>{1, 32, 33, 40}));
  EXPECT_FALSE(bitmap.Test(0));
  EXPECT_FALSE(bitmap.Test(41));
  bitmap.Clear(32);
  bitmap.Clear(41);
  EXPECT_EQ(SetRecordsOf(bitmap), (std::vector<std::int32_t>{1, 33, 40}));
  EXPECT_EQ(bitmap.Count(), 3);
}

class RecordsBitmapSizeTest : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(RecordsBitmapSizeTest, SetAllCoversExactlyTheRecords) {
  const std::int32_t size = GetParam();
  TRecordsBitmap bitmap(size);
  bitmap.SetAll();
  EXPECT_EQ(bitmap.Count(), size);
  EXPECT_EQ(bitmap.FindNext(0), size == 0 ? 0 : 1);
  EXPECT_EQ(bitmap.FindPrior(size + 1), size);
  EXPECT_EQ(bitmap.FindNext(size), 0);
  EXPECT_EQ(bitmap.FindPrior(1), 0);
  EXPECT_EQ(bitmap.FindNext(0, size + 1), 0);
  bitmap.ClearAll();
  EXPECT_EQ(bitmap.Count(), 0);
  EXPECT_EQ(bitmap.FindNext(0), 0);
  EXPECT_EQ(bitmap.FindPrior(size + 1), 0);
}

TEST_P(RecordsBitmapSizeTest, ShrinkThenGrowLeavesNewRecordsClear) {
  const std::int32_t size = GetParam();
  TRecordsBitmap bitmap(size + 40);
  bitmap.SetAll();
  bitmap.SetSize(size);
  EXPECT_EQ(bitmap.Count(), size);
  bitmap.SetSize(size + 40);
  EXPECT_EQ(bitmap.Count(), size);
  EXPECT_EQ(bitmap.FindNext(size), 0);
  EXPECT_EQ(bitmap.FindPrior(size + 41), size);
}

TEST_P(RecordsBitmapSizeTest, SearchesAgreeWithNaiveOnRandomBitmaps) {
  const std::int32_t size = GetParam();
  std::mt19937 random(12345u + static_cast<unsigned>(size));
  for (const int percent : {3, 50, 97}) {
    TRecordsBitmap bitmap(size);
    std::bernoulli_distribution chance(percent / 100.0);
    for (std::int32_t recNo = 1; recNo <= size; ++recNo) {
      if (chance(random)) {
        bitmap.Set(recNo);
      }
    }
    for (std::int32_t from = 0; from <= size + 1; ++from) {
      for (const std::int32_t n : {1, 2, 3, 31, 33, 70}) {
        ASSERT_EQ(bitmap.FindNext(from, n), NaiveFindNext(bitmap, from, n))
            << "size " << size << " from " << from << " n " << n;
        ASSERT_EQ(bitmap.FindPrior(from, n), NaiveFindPrior(bitmap, from, n))
            << "size " << size << " from " << from << " n " << n;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordsBitmapSizeTest, ::testing::Values(0, 1, 31, 32, 33, 64, 65, 95, 200));

struct SearchCase {
  const char *name;
  std::int32_t from;
  std::int32_t n;
  std::int32_t next;
  std::int32_t prior;
};

// Records 31, 32, 33, 64, 65 and 95 of 95: set bits on both sides of every word boundary.
TEST(RecordsBitmapTest, SearchesAcrossWordBoundaries) {
  const TRecordsBitmap bitmap = BitmapWith(95, {31, 32, 33, 64, 65, 95});
  const SearchCase cases[] = {
      {"from start", 0, 1, 31, 0},
      {"last of word 0", 30, 1, 31, 0},
      {"word 0 to word 1", 31, 1, 32, 0},
      {"inside word 1", 32, 1, 33, 31},
      {"word 1 to word 2", 33, 1, 64, 32},
      {"skip a word", 33, 2, 65, 31},
      {"n across words", 0, 5, 65, 0},
      {"n to the last", 0, 6, 95, 0},
      {"n past the end", 0, 7, 0, 0},
      {"end of word 2", 64, 1, 65, 33},
      {"start of word 3", 65, 1, 95, 64},
      {"prior two words back", 65, 3, 0, 32},
      {"at the last", 95, 1, 0, 65},
      {"after the last", 96, 1, 0, 95},
      {"after the last, n", 96, 6, 0, 31},
      {"after the last, too far", 96, 7, 0, 0},
      {"n zero", 10, 0, 0, 0},
      {"far beyond", 1000, 1, 0, 95},
      {"far before", -7, 1, 31, 0},
  };
  for (const SearchCase &c : cases) {
    EXPECT_EQ(bitmap.FindNext(c.from, c.n), c.next) << c.name;
    EXPECT_EQ(bitmap.FindPrior(c.from, c.n), c.prior) << c.name;
  }
}

TEST(RecordsBitmapTest, AndOrOfEqualSizes) {
  TRecordsBitmap left = BitmapWith(70, {1, 32, 33, 64, 70});
  const TRecordsBitmap right = BitmapWith(70, {2, 32, 64, 65});
  TRecordsBitmap both;
  both.Assign(left);
  both.And(right);
  EXPECT_EQ(SetRecordsOf(both), (std::vector<std::int32_t>{32, 64}));
  left.Or(right);
  EXPECT_EQ(SetRecordsOf(left), (std::vector<std::int32_t>{1, 2, 32, 33, 64, 65, 70}));
}

TEST(RecordsBitmapTest, AndOrWithAShorterBitmap) {
  const TRecordsBitmap shorter = BitmapWith(33, {1, 33});
  TRecordsBitmap anded = BitmapWith(70, {1, 2, 33, 34, 70});
  anded.And(shorter);
  EXPECT_EQ(anded.Size(), 70);
  EXPECT_EQ(SetRecordsOf(anded), (std::vector<std::int32_t>{1, 33}));

  TRecordsBitmap ored = BitmapWith(70, {34, 70});
  ored.Or(shorter);
  EXPECT_EQ(ored.Size(), 70);
  EXPECT_EQ(SetRecordsOf(ored), (std::vector<std::int32_t>{1, 33, 34, 70}));
}

TEST(RecordsBitmapTest, OrWithALongerBitmapIgnoresItsExtraRecords) {
  TRecordsBitmap longer(70);
  longer.SetAll();
  TRecordsBitmap ored = BitmapWith(33, {5});
  ored.Or(longer);
  EXPECT_EQ(ored.Size(), 33);
  EXPECT_EQ(ored.Count(), 33);
  EXPECT_EQ(ored.FindNext(33), 0);
  ored.SetSize(70);
  EXPECT_EQ(ored.Count(), 33);
  EXPECT_FALSE(ored.Test(34));
}

TEST(RecordsBitmapTest, AssignCopiesSizeAndBitsIndependently) {
  const TRecordsBitmap source = BitmapWith(50, {3, 40, 50});
  TRecordsBitmap target = BitmapWith(10, {1, 2});
  target.Assign(source);
  EXPECT_EQ(target.Size(), 50);
  EXPECT_EQ(SetRecordsOf(target), SetRecordsOf(source));
  target.Clear(40);
  EXPECT_TRUE(source.Test(40));
}

} // namespace
} // namespace nexora

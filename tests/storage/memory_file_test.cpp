#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "engine/data_engine.h"
#include "storage/memory_file.h"

namespace nexora {
namespace {

constexpr std::int64_t Top = std::numeric_limits<std::int64_t>::max();

class MemoryFileTest : public ::testing::Test {
protected:
  TDataEngine engine_;
  TMemoryFile file_{engine_, "mem"};
  std::int32_t handle_ = file_.CreateHandle();
};

// Each step runs on the ranges the steps before it left.
struct TRangeStep {
  bool Lock;
  std::int64_t Offset;
  std::int64_t Length;
  bool Expected;
};

TEST_F(MemoryFileTest, RangeLocksRefuseEveryOverlap) {
  const TRangeStep steps[] = {
      {true, 100, 10, true},                              // 100..109
      {true, 109, 1, false},                              // overlaps the predecessor's end
      {true, 110, 1, true},                               // right after it
      {true, 100, 1, false},                              // same start
      {true, 95, 5, true},                                // 95..99, right before 100
      {true, 90, 6, false},                               // runs into the successor at 95
      {true, 0, 0, false},                                // empty range
      {true, -1, 1, false},                               // negative offset
      {true, Top, 2, false},                              // past 2^63 - 1
      {true, Top, 1, true},                               // the very last byte
      {true, Top - 1, 2, false},                          // reaches it
      {false, 100, 10, true},    {false, 100, 10, false}, // already released
      {true, 105, 1, true},                               // the freed range is free
      {true, 95, 5, false},                               // still held
  };
  for (const TRangeStep &step : steps) {
    SCOPED_TRACE(::testing::Message() << (step.Lock ? "lock " : "unlock ") << step.Offset << "/" << step.Length);
    const bool result =
        step.Lock ? file_.LockRegion(step.Length, step.Offset) : file_.UnlockRegion(step.Length, step.Offset);
    EXPECT_EQ(result, step.Expected);
  }
}

TEST_F(MemoryFileTest, LastCloseReleasesTheRanges) {
  ASSERT_TRUE(file_.LockRegion(10, 100));
  file_.CloseHandle(handle_);
  file_.OpenHandle();
  EXPECT_TRUE(file_.LockRegion(10, 100));
}

TEST_F(MemoryFileTest, WritePastAChunkBoundaryAllocatesZeroedChunks) {
  const std::uint8_t tail[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(file_.Seek(handle_, 0, 70000), 70000);
  ASSERT_EQ(file_.Write(handle_, tail, 10), 10);
  EXPECT_EQ(file_.GetSize(), 70010);
  EXPECT_EQ(file_.AllocatedSize(), 2 * TMemoryFile::ChunkSize);

  std::uint8_t back[20] = {};
  file_.Seek(handle_, 0, 70000);
  EXPECT_EQ(file_.Read(handle_, back, 20), 10);
  EXPECT_TRUE(std::equal(tail, tail + 10, back));
  std::uint8_t gap[4] = {9, 9, 9, 9};
  file_.Seek(handle_, 0, 65534);
  ASSERT_EQ(file_.Read(handle_, gap, 4), 4);
  EXPECT_EQ(gap[0] | gap[1] | gap[2] | gap[3], 0);
}

TEST_F(MemoryFileTest, ZeroByteWriteTruncatesAndTheCutBytesReadAsZero) {
  std::vector<std::uint8_t> ones(100, 0xFF);
  ASSERT_EQ(file_.Write(handle_, ones.data(), 100), 100);
  file_.Seek(handle_, 0, 10);
  ASSERT_EQ(file_.Write(handle_, nullptr, 0), 0);
  EXPECT_EQ(file_.GetSize(), 10);

  const std::uint8_t one = 7;
  file_.Seek(handle_, 0, 50);
  ASSERT_EQ(file_.Write(handle_, &one, 1), 1);
  std::vector<std::uint8_t> back(51);
  file_.Seek(handle_, 0, 0);
  ASSERT_EQ(file_.Read(handle_, back.data(), 51), 51);
  EXPECT_EQ(back[9], 0xFF);
  EXPECT_EQ(std::count(back.begin() + 10, back.begin() + 50, 0), 40);
  EXPECT_EQ(back[50], 7);
}

TEST_F(MemoryFileTest, EachHandleKeepsItsOwnPosition) {
  const std::int32_t other = file_.OpenHandle();
  const std::uint8_t bytes[3] = {1, 2, 3};
  file_.Write(handle_, bytes, 3);
  EXPECT_EQ(file_.Seek(handle_, 1, 0), 3);
  EXPECT_EQ(file_.Seek(other, 1, 0), 0);
  EXPECT_EQ(file_.Seek(other, 2, -1), 2);
  EXPECT_EQ(file_.Seek(other, 1, -3), -1); // before the start: refused, position kept
  EXPECT_EQ(file_.Seek(other, 1, 0), 2);
}

TEST_F(MemoryFileTest, WriteBeyondTheTableSizeLimitFails) {
  const std::uint8_t byte = 1;
  file_.Seek(handle_, 0, engine_.Limits().MaxTableFileSize);
  EXPECT_EQ(file_.Write(handle_, &byte, 1), -1);
  EXPECT_EQ(file_.AllocatedSize(), 0);
}

TEST_F(MemoryFileTest, CreatingAnewDropsTheContent) {
  const std::uint8_t byte = 1;
  file_.Write(handle_, &byte, 1);
  file_.CloseHandle(handle_);
  file_.CreateHandle();
  EXPECT_EQ(file_.GetSize(), 0);
  EXPECT_EQ(file_.AllocatedSize(), 0);
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/engine_error.h"
#include "platform/os/posix_io.h"
#include "test_buffer_file.h"
#include "test_support/raised_code.h"

namespace nexora {
namespace {

namespace fs = std::filesystem;
constexpr std::int32_t BufferSize = 100;

// The byte every position of buffer n holds in the fixture's file.
std::uint8_t Fill(std::int32_t n) { return static_cast<std::uint8_t>(n * 3 + 1); }

using testing::RaisedCode;

// A file of 20 buffers on disk, opened through the test file kind.
class BufferCache : public ::testing::Test {
protected:
  static constexpr std::int32_t Count = 20;

  void SetUp() override {
    char pattern[] = "/tmp/nexora-cache-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "table.dat").string();
    std::vector<std::uint8_t> bytes(TTestBufferFile::HeaderSize + Count * BufferSize);
    std::memcpy(bytes.data(), &Count, sizeof Count);
    for (std::int32_t n = 1; n <= Count; ++n) {
      std::fill_n(bytes.begin() + TTestBufferFile::HeaderSize + (n - 1) * BufferSize, BufferSize, Fill(n));
    }
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file_ = std::make_unique<TTestBufferFile>(engine_, path_, owner_, BufferSize);
    file_->OpenFile();
    file_->ReadHeader();
  }

  void TearDown() override {
    ClearOSFaults();
    file_.reset();
    fs::remove_all(dir_);
  }

  // Sets the cache limit and starts the cache afresh.
  void Limit(std::int32_t maxBuffers, std::int32_t readAhead = 1) {
    file_->maxBuffers = maxBuffers;
    file_->readAhead = readAhead;
    file_->ResetCache();
  }

  TBuffer *Get(std::int32_t n, TReadDirection direction = TReadDirection::None) {
    return file_->GetBuffer(nullptr, 0, n, direction != TReadDirection::None, direction);
  }

  // Fetches and releases buffer n; true when that took a read from the file.
  bool TouchReads(std::int32_t n) {
    const auto before = file_->Statistics().ReadTransfers;
    file_->ReleaseBuffer(Get(n));
    return file_->Statistics().ReadTransfers != before;
  }

  std::uint8_t FileByte(std::int64_t offset) {
    std::ifstream in(path_, std::ios::binary);
    in.seekg(offset);
    return static_cast<std::uint8_t>(in.get());
  }

  std::int64_t BufferOffset(std::int32_t n) const { return TTestBufferFile::HeaderSize + (n - 1) * BufferSize; }

  fs::path dir_;
  std::string path_;
  TDataEngine engine_;
  TTestCacheOwner owner_;
  std::unique_ptr<TTestBufferFile> file_;
};

TEST_F(BufferCache, HitsComeFromTheCacheWithoutReading) {
  Limit(8);
  TBuffer *first = Get(5);
  EXPECT_EQ(first->Number(), 5);
  EXPECT_EQ(first->Data()[0], Fill(5));
  EXPECT_EQ(first->PinCount(), 1);
  file_->ReleaseBuffer(first);
  file_->ReleaseBuffer(first); // never below 0
  EXPECT_EQ(first->PinCount(), 0);
  EXPECT_FALSE(TouchReads(5));
  EXPECT_EQ(file_->Statistics().ReadTransfers, 1);
  EXPECT_EQ(file_->Statistics().Requests, 2);
}

TEST_F(BufferCache, BufferZeroIsCorruption) {
  Limit(8);
  EXPECT_EQ(RaisedCode([&] { Get(0); }), NEXORA_FILECORRUPT);
}

TEST_F(BufferCache, OnePastTheEndIsCreatedWithoutReading) {
  Limit(8);
  TBuffer *appended = Get(Count + 1);
  EXPECT_EQ(appended->Number(), Count + 1);
  EXPECT_EQ(appended->Data()[0], 0);
  EXPECT_EQ(file_->GetBufferCount(), Count + 1);
  EXPECT_EQ(file_->Statistics().ReadTransfers, 0);
  EXPECT_EQ(file_->GetEndOffset(), BufferOffset(Count + 2));
  file_->ReleaseBuffer(appended);
}

TEST_F(BufferCache, TwoPastTheEndReadsPastTheFile) {
  Limit(8);
  EXPECT_EQ(RaisedCode([&] { Get(Count + 2); }), NEXORA_READERR);
  // Where short reads are accepted, the buffer that did not come is corruption instead.
  owner_.exclusive = true;
  owner_.written = true;
  EXPECT_EQ(RaisedCode([&] { Get(Count + 2); }), NEXORA_FILECORRUPT);
}

TEST_F(BufferCache, CapacityGrowsWhenEveryBufferIsPinned) {
  Limit(2);
  file_->growthStep = 3;
  TBuffer *a = Get(1);
  TBuffer *b = Get(2);
  TBuffer *c = Get(3);
  EXPECT_EQ(c->Data()[0], Fill(3));
  EXPECT_EQ(file_->Capacity(), 5);
  EXPECT_EQ(a->Data()[0], Fill(1));
  EXPECT_EQ(b->Data()[0], Fill(2));
}

TEST_F(BufferCache, EvictsTheLeastRecentlyUsedCleanBuffer) {
  Limit(3);
  for (std::int32_t n : {1, 2, 3}) {
    ASSERT_TRUE(TouchReads(n));
  }
  EXPECT_FALSE(TouchReads(1)); // 1 becomes the most recent; 2 is now the oldest
  EXPECT_TRUE(TouchReads(4));  // evicts 2
  EXPECT_EQ(file_->CachedCount(), 3);
  EXPECT_FALSE(TouchReads(1));
  EXPECT_FALSE(TouchReads(3));
  EXPECT_TRUE(TouchReads(2)); // evicts 4, the oldest now
  EXPECT_FALSE(TouchReads(1));
}

TEST_F(BufferCache, DirtyBuffersAreFlushedBeforeEvictionOutsideTransactions) {
  Limit(2);
  for (std::int32_t n : {1, 2}) {
    TBuffer *buffer = Get(n);
    buffer->Data()[0] = 0xEE;
    buffer->MarkDirty();
    file_->ReleaseBuffer(buffer);
  }
  file_->ReleaseBuffer(Get(3));
  EXPECT_EQ(file_->Statistics().WriteTransfers, 1);
  EXPECT_EQ(FileByte(BufferOffset(1)), 0xEE);
  EXPECT_EQ(FileByte(BufferOffset(2)), 0xEE);
  EXPECT_EQ(file_->Capacity(), 2);

  // Inside a transaction nothing is written here: the capacity grows instead.
  owner_.inTransaction = true;
  TBuffer *dirty = Get(3);
  dirty->MarkDirty();
  file_->ReleaseBuffer(dirty);
  TBuffer *other = Get(4);
  other->MarkDirty();
  file_->ReleaseBuffer(other);
  file_->ReleaseBuffer(Get(5));
  EXPECT_EQ(file_->Statistics().WriteTransfers, 1);
  EXPECT_GT(file_->Capacity(), 2);
}

TEST_F(BufferCache, DirtyRunsAreWrittenOneTransferEach) {
  Limit(16);
  for (std::int32_t n : {5, 6, 7, 9}) {
    TBuffer *buffer = Get(n);
    std::fill_n(buffer->Data(), BufferSize, static_cast<std::uint8_t>(0xA0 + n));
    buffer->MarkDirty();
    file_->ReleaseBuffer(buffer);
  }
  EXPECT_TRUE(file_->FlushBuffers(false));
  EXPECT_EQ(file_->Statistics().WriteTransfers, 2);
  for (std::int32_t n : {5, 6, 7, 9}) {
    EXPECT_EQ(FileByte(BufferOffset(n)), 0xA0 + n);
    EXPECT_EQ(FileByte(BufferOffset(n) + BufferSize - 1), 0xA0 + n);
  }
  EXPECT_EQ(FileByte(BufferOffset(8)), Fill(8));
  EXPECT_EQ(owner_.markedWritten, 2);
  EXPECT_FALSE(file_->FlushBuffers(false)) << "everything is clean now";
}

TEST_F(BufferCache, PinnedDirtyBufferAtAPlainFlushIsCorruption) {
  Limit(8);
  TBuffer *buffer = Get(3);
  buffer->MarkDirty();
  EXPECT_EQ(RaisedCode([&] { file_->FlushBuffers(false); }), NEXORA_FILECORRUPT);
  EXPECT_FALSE(file_->FlushBuffers(true)) << "an evicting flush skips it";
}

TEST_F(BufferCache, BackwardReadBringsTheRunEndingAtTheBufferInOneTransfer) {
  Limit(16, 4);
  TBuffer *buffer = Get(10, TReadDirection::Backward);
  EXPECT_EQ(buffer->Data()[0], Fill(10));
  EXPECT_EQ(file_->Statistics().ReadTransfers, 1);
  EXPECT_EQ(file_->Statistics().Reads, 4);
  file_->ReleaseBuffer(buffer);
  for (std::int32_t n = 7; n <= 10; ++n) {
    EXPECT_FALSE(TouchReads(n)) << n;
  }
  EXPECT_TRUE(TouchReads(6));
}

TEST_F(BufferCache, ReadAheadStopsAtTheEnds) {
  Limit(32, 8);
  file_->ReleaseBuffer(Get(17, TReadDirection::Forward));
  EXPECT_EQ(file_->Statistics().Reads, Count - 17 + 1);
  file_->ReleaseBuffer(Get(2, TReadDirection::Backward));
  EXPECT_EQ(file_->Statistics().Reads, Count - 17 + 1 + 2) << "a backward run never reaches the header";
  EXPECT_EQ(file_->Statistics().ReadTransfers, 2);
}

TEST_F(BufferCache, ReadRunRefreshesCleanBuffersAndKeepsDirtyOnes) {
  Limit(16, 4);
  file_->ReleaseBuffer(Get(3));
  TBuffer *dirty = Get(4);
  dirty->Data()[0] = 0x44;
  dirty->MarkDirty();
  file_->ReleaseBuffer(dirty);
  // Another writer changes buffers 3 and 4 in the file.
  {
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    for (std::int32_t n : {3, 4}) {
      out.seekp(BufferOffset(n));
      out.put(static_cast<char>(0x77));
    }
  }
  file_->ReleaseBuffer(Get(2, TReadDirection::Forward));
  EXPECT_EQ(Get(3)->Data()[0], 0x77);
  EXPECT_EQ(Get(4)->Data()[0], 0x44);
  EXPECT_TRUE(Get(4)->Dirty());
}

TEST_F(BufferCache, ChangedTableReturnsNoBufferOnAMiss) {
  Limit(8);
  file_->ReleaseBuffer(Get(1));
  owner_.tableChanged = true;
  TDataCursor *cursor = reinterpret_cast<TDataCursor *>(&owner_); // any cursor: only its identity is passed on
  EXPECT_EQ(file_->GetBuffer(cursor, 0, 2, false, TReadDirection::None), nullptr);
  TBuffer *hit = file_->GetBuffer(cursor, 0, 1, false, TReadDirection::None);
  EXPECT_NE(hit, nullptr) << "hits need no check";
  file_->ReleaseBuffer(hit);
  owner_.strictChangeDetection = true;
  EXPECT_NE(file_->GetBuffer(cursor, 0, 2, false, TReadDirection::None), nullptr);
}

TEST_F(BufferCache, FailedWriteRaises9218AndKeepsTheBufferDirty) {
  Limit(8);
  TBuffer *buffer = Get(2);
  buffer->Data()[0] = 0x99;
  buffer->MarkDirty();
  file_->ReleaseBuffer(buffer);
  InjectOSFault(TOSCall::Write, 1, EIO);
  EXPECT_EQ(RaisedCode([&] { file_->FlushBuffers(false); }), NEXORA_WRITEERR);
  EXPECT_TRUE(buffer->Dirty());
  EXPECT_EQ(FileByte(BufferOffset(2)), Fill(2));
  EXPECT_TRUE(file_->FlushBuffers(false));
  EXPECT_EQ(FileByte(BufferOffset(2)), 0x99);
}

TEST_F(BufferCache, AcceptedShortReadKeepsOnlyTheBuffersReceived) {
  Limit(16, 8);
  owner_.exclusive = true;
  owner_.written = true;
  file_->SetBufferCount(Count + 5); // five buffers appended in the cache are not in the file yet
  TBuffer *last = Get(Count - 2, TReadDirection::Forward);
  EXPECT_EQ(last->Data()[0], Fill(Count - 2));
  file_->ReleaseBuffer(last);
  EXPECT_EQ(file_->CachedCount(), 3);
  EXPECT_EQ(file_->Statistics().Reads, 3);
  EXPECT_EQ(RaisedCode([&] { Get(Count + 1, TReadDirection::Forward); }), NEXORA_FILECORRUPT);
  EXPECT_EQ(file_->CachedCount(), 3);
}

TEST_F(BufferCache, FailedReadLeavesTheCacheAsItWas) {
  Limit(16, 4);
  file_->ReleaseBuffer(Get(1));
  InjectOSFault(TOSCall::Read, 1, EIO);
  EXPECT_EQ(RaisedCode([&] { Get(8, TReadDirection::Forward); }), NEXORA_READERR);
  EXPECT_EQ(file_->CachedCount(), 1);
  EXPECT_FALSE(TouchReads(1));
  TBuffer *again = Get(8, TReadDirection::Forward);
  EXPECT_EQ(again->Data()[0], Fill(8));
  EXPECT_EQ(file_->CachedCount(), 5);
}

TEST_F(BufferCache, KindWithABufferHeaderLoadsThroughTheTransferArea) {
  TTestBufferFile headed(engine_, path_, owner_, BufferSize, BufferSize - 10);
  headed.OpenFile();
  headed.ReadHeader();
  headed.maxBuffers = 8;
  headed.readAhead = 4;
  headed.ResetCache();
  TBuffer *buffer = headed.GetBuffer(nullptr, 0, 6, true, TReadDirection::Backward);
  EXPECT_EQ(buffer->DataSize(), BufferSize - 10);
  EXPECT_EQ(buffer->Data()[0], Fill(6));
  headed.ReleaseBuffer(buffer);
  EXPECT_EQ(headed.Statistics().ReadTransfers, 1);
  for (std::int32_t n = 3; n <= 5; ++n) {
    TBuffer *cached = headed.GetBuffer(nullptr, 0, n, false, TReadDirection::None);
    EXPECT_EQ(cached->Data()[BufferSize - 11], Fill(n));
    headed.ReleaseBuffer(cached);
  }
  EXPECT_EQ(headed.Statistics().ReadTransfers, 1);
}

TEST_F(BufferCache, TrimEvictsDownToTheLimit) {
  Limit(4);
  file_->growthStep = 4;
  std::vector<TBuffer *> pinned;
  for (std::int32_t n = 1; n <= 6; ++n) {
    pinned.push_back(Get(n));
  }
  EXPECT_EQ(file_->Capacity(), 8);
  for (TBuffer *buffer : pinned) {
    file_->ReleaseBuffer(buffer);
  }
  file_->TrimBuffers();
  EXPECT_EQ(file_->CachedCount(), 4);
  EXPECT_EQ(file_->Capacity(), 4);
  EXPECT_TRUE(TouchReads(1)) << "the oldest went first";
  EXPECT_FALSE(TouchReads(6));
}

TEST_F(BufferCache, FileFullAt9479) {
  Limit(8);
  engine_.Start("nexora.lck");
  file_->SetBufferCount(40'000'000); // 64 + 40,000,000 x 100 bytes is beyond 4,000,000,000
  EXPECT_EQ(RaisedCode([&] { Get(40'000'001); }), NEXORA_TABLEFULL);
  file_->SetBufferCount(39'999'998);
  file_->ReleaseBuffer(Get(39'999'999));
}

TEST_F(BufferCache, EmptyFileTruncatesAtTheFirstBuffer) {
  Limit(8);
  file_->EmptyFile();
  EXPECT_EQ(fs::file_size(path_), static_cast<std::uintmax_t>(TTestBufferFile::HeaderSize));
  EXPECT_EQ(owner_.markedWritten, 1);
  EXPECT_EQ(file_->GetBufferCount(), 0);
}

struct TLimitCase {
  std::int32_t Payload;
  std::int32_t SizeLimit;
  std::int32_t CountLimit;
  std::int32_t Expected;
};

class CacheLimitFormula : public ::testing::TestWithParam<TLimitCase> {};

TEST_P(CacheLimitFormula, DividesTheByteLimitByBufferAndOverhead) {
  const TLimitCase &c = GetParam();
  TDataEngine engine;
  engine.Settings().MaxTableDataBufferSize = c.SizeLimit;
  engine.Settings().MaxTableDataBufferCount = c.CountLimit;
  TTestCacheOwner owner;
  TTestBufferFile file(engine, "/nonexistent/limit.dat", owner, c.Payload);
  EXPECT_EQ(file.GetMaxBuffers(), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheLimitFormula,
                         ::testing::Values(TLimitCase{176, 32768, 8192, 154}, // the defaults
                                           TLimitCase{0, 32768, 8192, 8192},  // no payload: the count
                                           TLimitCase{40000, 32768, 8192, 1}, // at least one
                                           TLimitCase{4, 32768, 100, 100}));  // at most the count

} // namespace
} // namespace nexora

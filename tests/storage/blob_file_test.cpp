#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crypto/md5.h"
#include "engine/engine_error.h"
#include "file_test_support.h"
#include "storage/blob_file.h"
#include "storage/record_layout.h"
#include "test_buffer_file.h"

namespace nexora {
namespace {

using testing::RaisedCode;
using testing::ReadBytes;
using testing::TBytes;
using testing::TTempDir;

// A table owner whose cipher context the test chooses.
class TCipherOwner : public TTestCacheOwner {
public:
  void *CryptoContext() const override { return cipher; }
  void *cipher = nullptr;
};

class TTestBlobContext : public TBlobFileContext {
public:
  std::int32_t BlobBlockSize() const override { return blockSize; }
  std::int32_t blockSize = 512;
};

// Bytes that differ from block to block, so that a misplaced piece shows.
TBytes Pattern(std::size_t length, std::uint8_t seed = 1) {
  TBytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  }
  return bytes;
}

// The block header fields as they lie in an unencrypted file.
struct TDiskBlock {
  std::int32_t Previous;
  std::int32_t Next;
  std::uint16_t BytesUsed;
  std::int32_t BlobID;
  std::int32_t ValueSize;
  bool operator==(const TDiskBlock &) const = default;
};

std::ostream &operator<<(std::ostream &out, const TDiskBlock &block) {
  return out << "{prev " << block.Previous << ", next " << block.Next << ", used " << block.BytesUsed << ", id "
             << block.BlobID << ", size " << block.ValueSize << "}";
}

// A BLOB file in a fresh directory, created with its header written.
class BlobFile : public ::testing::Test {
protected:
  void SetUp() override { Create(); }

  void Create() {
    file_ = MakeFile();
    file_->CreateFile();
    file_->WriteHeader(true);
  }
  std::unique_ptr<TBlobFile> MakeFile() { return std::make_unique<TBlobFile>(engine_, path_, false, owner_, context_); }
  // Writes blocks and header, then opens the file afresh with an empty cache.
  void Reopen() {
    Flush();
    file_ = MakeFile();
    file_->OpenFile();
  }
  void Flush() {
    file_->FlushBuffers(false);
    file_->WriteHeader(false);
  }
  std::int32_t Write(std::int32_t first, std::int32_t id, const TBytes &value, std::uint8_t level = 0) {
    return file_->WriteValue(first, id, value, level);
  }
  TBytes Read(std::int32_t first, std::int32_t id, std::uint8_t level = 0) {
    TBytes value;
    EXPECT_EQ(file_->ReadValue(nullptr, first, id, level, value), TBlobReadResult::Read);
    return value;
  }
  std::int64_t BlockOffset(std::int32_t n) const {
    return BlobHeaderSize + static_cast<std::int64_t>(n - 1) * context_.blockSize;
  }
  TBytes BlockBytes(std::int32_t n) const {
    const TBytes file = ReadBytes(path_);
    const auto start = file.begin() + BlockOffset(n);
    return TBytes(start, start + context_.blockSize);
  }
  TDiskBlock DiskBlock(std::int32_t n) const {
    const TBytes block = BlockBytes(n);
    return {LoadLittleEndian<std::int32_t>(&block[BlockPreviousOffset]),
            LoadLittleEndian<std::int32_t>(&block[BlockNextOffset]),
            LoadLittleEndian<std::uint16_t>(&block[BlockBytesUsedOffset]),
            LoadLittleEndian<std::int32_t>(&block[BlockBlobIDOffset]),
            LoadLittleEndian<std::int32_t>(&block[BlockValueSizeOffset])};
  }
  template <typename T> void Patch(std::int64_t offset, T value) {
    std::uint8_t bytes[sizeof(T)];
    StoreLittleEndian(bytes, value);
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(offset);
    out.write(reinterpret_cast<const char *>(bytes), sizeof(T));
  }
  std::int32_t FreeHead() const {
    return LoadLittleEndian<std::int32_t>(file_->HeaderImage().data() + BlobFreeBlockOffset);
  }
  std::int64_t FileSize() const { return static_cast<std::int64_t>(std::filesystem::file_size(path_)); }

  TTempDir dir_;
  std::string path_ = dir_.File("table.blb");
  TDataEngine engine_;
  TCipherOwner owner_;
  TTestBlobContext context_;
  std::unique_ptr<TBlobFile> file_;
};

TEST_F(BlobFile, ThousandBytesTakeThreeBlocksAndARewriteWithHundredFreesTwo) {
  const TBytes value = Pattern(1000);
  ASSERT_EQ(Write(0, 7, value), 1);
  Flush();
  EXPECT_EQ(FileSize(), 512 + 3 * 512);
  EXPECT_EQ(file_->NextBlockNumber(), 4);
  EXPECT_EQ(FreeHead(), 0);
  // Block 1: previous 0, next 2, 494 bytes used (0x01EE), ID 7, value size 1000 (0x03E8).
  const TBytes first = BlockBytes(1);
  EXPECT_EQ(TBytes(first.begin(), first.begin() + BlockHeaderSize),
            (TBytes{0, 0, 0, 0, 2, 0, 0, 0, 0xEE, 0x01, 7, 0, 0, 0, 0xE8, 0x03, 0, 0}));
  EXPECT_EQ(DiskBlock(2), (TDiskBlock{1, 3, 494, 7, 0}));
  EXPECT_EQ(DiskBlock(3), (TDiskBlock{2, 0, 12, 7, 0}));
  EXPECT_TRUE(std::equal(value.begin(), value.begin() + 494, first.begin() + BlockHeaderSize));
  const TBytes last = BlockBytes(3);
  EXPECT_TRUE(std::equal(value.end() - 12, value.end(), last.begin() + BlockHeaderSize));

  const TBytes shorter = Pattern(100, 9);
  ASSERT_EQ(Write(1, 8, shorter), 1);
  Flush();
  EXPECT_EQ(FileSize(), 512 + 3 * 512);
  EXPECT_EQ(DiskBlock(1), (TDiskBlock{0, 0, 100, 8, 100}));
  // Freed in chain order: block 2 first (free list was empty), then block 3 on top of it.
  EXPECT_EQ(FreeHead(), 3);
  EXPECT_EQ(DiskBlock(3), (TDiskBlock{2, 2, 12, 8, 0}));
  EXPECT_EQ(DiskBlock(2), (TDiskBlock{1, 0, 494, 8, 0}));
  EXPECT_EQ(Read(1, 8), shorter);

  // The free list is used last-in first-out before the file grows.
  const TBytes next = Pattern(600, 3);
  ASSERT_EQ(Write(0, 9, next), 3);
  Flush();
  EXPECT_EQ(DiskBlock(3), (TDiskBlock{0, 2, 494, 9, 600}));
  EXPECT_EQ(DiskBlock(2), (TDiskBlock{3, 0, 106, 9, 0}));
  EXPECT_EQ(FreeHead(), 0);
  EXPECT_EQ(file_->GetFreeBlock(), 4);
  EXPECT_EQ(Write(0, 10, Pattern(1)), 4);
  EXPECT_EQ(file_->NextBlockNumber(), 5);
}

TEST_F(BlobFile, ValuesOfEverySizeReadBack) {
  struct TCase {
    std::int32_t blockSize;
    std::size_t length;
    std::int32_t blocks;
  };
  const TCase cases[] = {{512, 0, 0},      {512, 1, 1}, {512, 494, 1}, {512, 495, 2},   {512, 988, 2},    {512, 989, 3},
                         {512, 20000, 41}, {64, 46, 1}, {64, 47, 2},   {64, 4600, 100}, {65536, 65519, 2}};
  for (const TCase &test : cases) {
    SCOPED_TRACE(::testing::Message() << "block size " << test.blockSize << ", length " << test.length);
    context_.blockSize = test.blockSize;
    Create();
    const TBytes value = Pattern(test.length, static_cast<std::uint8_t>(test.length));
    const std::int32_t first = Write(0, 42, value);
    EXPECT_EQ(first, test.blocks == 0 ? 0 : 1);
    EXPECT_EQ(file_->NextBlockNumber(), test.blocks + 1);
    EXPECT_EQ(Read(first, 42), value);
    Reopen();
    EXPECT_EQ(Read(first, 42), value);
    EXPECT_EQ(FileSize(), BlobHeaderSize + static_cast<std::int64_t>(test.blocks) * test.blockSize);
  }
}

TEST_F(BlobFile, RewritesReuseExtendAndFreeTheOldChain) {
  const std::int32_t first = Write(0, 1, Pattern(300));
  const TBytes longer = Pattern(2000, 5);
  ASSERT_EQ(Write(first, 2, longer), first);
  EXPECT_EQ(file_->NextBlockNumber(), 6);
  Reopen();
  EXPECT_EQ(Read(first, 2), longer);
  EXPECT_EQ(DiskBlock(5), (TDiskBlock{4, 0, 2000 - 4 * 494, 2, 0}));

  // An empty value frees the whole chain: the last block ends up at the head.
  EXPECT_EQ(Write(first, 3, {}), 0);
  EXPECT_EQ(FreeHead(), 5);
  Reopen();
  EXPECT_EQ(DiskBlock(1).Next, 0);
  EXPECT_EQ(DiskBlock(2).Next, 1);
  EXPECT_EQ(DiskBlock(5).Next, 4);
  EXPECT_EQ(DiskBlock(5).BlobID, 3);
  EXPECT_TRUE(Read(0, 3).empty());
}

TEST_F(BlobFile, CompressedFieldsStoreAZlibStream) {
  TBytes value(10000);
  for (std::size_t i = 0; i < value.size(); ++i) {
    value[i] = static_cast<std::uint8_t>("nexora blob "[i % 12]);
  }
  const std::int32_t first = Write(0, 5, value, 6);
  Reopen();
  const TBytes stored = Read(first, 5, 0);
  ASSERT_LT(stored.size(), value.size());
  EXPECT_EQ(DiskBlock(first).ValueSize, static_cast<std::int32_t>(stored.size()));
  ASSERT_GE(stored.size(), 2u);
  EXPECT_EQ(stored[0], 0x78);
  EXPECT_EQ((stored[0] * 256 + stored[1]) % 31, 0);
  EXPECT_EQ(engine_.Decompress(stored.data(), static_cast<std::int32_t>(stored.size())), value);
  EXPECT_EQ(Read(first, 5, 6), value);

  const std::int32_t plain = Write(0, 6, value, 0);
  EXPECT_EQ(Read(plain, 6, 0), value);
  Flush();
  EXPECT_EQ(DiskBlock(plain).ValueSize, 10000);

  const std::int32_t blocks = file_->NextBlockNumber();
  EXPECT_EQ(Write(0, 7, {}, 6), 0);
  EXPECT_EQ(file_->NextBlockNumber(), blocks);
  EXPECT_TRUE(Read(0, 7, 6).empty());
}

TEST_F(BlobFile, EncryptedBlocksAndHeaderAreCipheredOnDisk) {
  const TDigest key = DigestText("secret");
  TCryptoContext cipher = engine_.CryptoInit(key.data(), static_cast<std::int32_t>(key.size()));
  owner_.cipher = cipher.Data;
  Create();
  const TBytes value = Pattern(1000);
  const std::int32_t first = Write(0, 11, value);
  Reopen();
  EXPECT_EQ(Read(first, 11), value);

  const TBytes disk = ReadBytes(path_);
  const auto &header = file_->HeaderImage();
  EXPECT_FALSE(std::equal(header.begin(), header.begin() + 32, disk.begin()));
  EXPECT_NE(DiskBlock(1), (TDiskBlock{0, 2, 494, 11, 1000}));
  const TBytes block = BlockBytes(1);
  EXPECT_FALSE(std::equal(value.begin(), value.begin() + 64, block.begin() + BlockHeaderSize));

  // Without the key the header does not decipher to a version and signature.
  owner_.cipher = nullptr;
  file_ = MakeFile();
  const TErrorCode code = RaisedCode([&] { file_->OpenFile(); });
  EXPECT_TRUE(code == NEXORA_OLDVERSION || code == NEXORA_BADSIGNATURE) << code;
  EXPECT_FALSE(file_->IsOpen());
  FreeCryptoContext(cipher);
}

TEST_F(BlobFile, OpenChecksVersionAndSignature) {
  struct TCase {
    const char *name;
    std::function<void()> damage;
    TErrorCode code;
  };
  const TCase cases[] = {
      {"version 5", [this] { Patch<std::uint8_t>(BlobVersionOffset, 5); }, NEXORA_OLDVERSION},
      {"version 7", [this] { Patch<std::uint8_t>(BlobVersionOffset, 7); }, NEXORA_BADSIGNATURE},
      {"version 255", [this] { Patch<std::uint8_t>(BlobVersionOffset, 255); }, NEXORA_BADSIGNATURE},
      {"foreign signature", [this] { Patch<std::uint8_t>(BlobSignatureOffset + 3, 0xAA); }, NEXORA_BADSIGNATURE},
      {"header cut short", [this] { std::filesystem::resize_file(path_, 100); }, NEXORA_READERR},
  };
  for (const TCase &test : cases) {
    SCOPED_TRACE(test.name);
    Create();
    file_.reset();
    test.damage();
    file_ = MakeFile();
    EXPECT_EQ(RaisedCode([&] { file_->OpenFile(); }), test.code);
    EXPECT_FALSE(file_->IsOpen());
  }
}

TEST_F(BlobFile, StandardSignatureOpensUnderAnyEngineSignature) {
  Write(0, 1, Pattern(10));
  Flush();
  engine_.SetEngineSignature("OTHER_SIG");
  EXPECT_EQ(RaisedCode([&] { Reopen(); }), NEXORA_NONE);

  Create(); // now signed with the digest of "OTHER_SIG"
  engine_.SetEngineSignature("THIRD_SIG");
  EXPECT_EQ(RaisedCode([&] { Reopen(); }), NEXORA_BADSIGNATURE);
}

TEST_F(BlobFile, BlockSizeOutsideTheFormatIsRefused) {
  for (const std::int32_t size : {0, 18, 63, 65537}) {
    SCOPED_TRACE(size);
    context_.blockSize = size;
    auto file = MakeFile();
    EXPECT_EQ(RaisedCode([&] { file->CreateFile(); }), NEXORA_HEADERCORRUPT);
    EXPECT_EQ(RaisedCode([&] { file->OpenFile(); }), NEXORA_HEADERCORRUPT);
  }
}

// A value of 1000 bytes in blocks 1 -> 2 -> 3 under ID 7, damaged on disk and reopened.
class DamagedChain : public BlobFile {
protected:
  void SetUp() override {
    BlobFile::SetUp();
    first_ = Write(0, 7, Pattern(1000));
    Flush();
    file_.reset();
  }
  void Reopened() {
    file_ = MakeFile();
    file_->OpenFile();
  }
  std::int64_t Field(std::int32_t block, std::size_t offset) const { return BlockOffset(block) + offset; }

  std::int32_t first_ = 0;
};

TEST_F(DamagedChain, ReadingReportsTheDamage) {
  struct TCase {
    const char *name;
    std::function<void()> damage;
    TErrorCode code; // NEXORA_NONE: the chain is reported as changed
  };
  const TCase cases[] = {
      {"block 2 points back to block 1", [this] { Patch(Field(2, BlockNextOffset), 1); }, NEXORA_MEMOCORRUPT},
      {"block 1 points to itself", [this] { Patch(Field(1, BlockNextOffset), 1); }, NEXORA_MEMOCORRUPT},
      {"next beyond the file", [this] { Patch(Field(2, BlockNextOffset), 9); }, NEXORA_MEMOCORRUPT},
      {"negative next", [this] { Patch(Field(1, BlockNextOffset), -5); }, NEXORA_MEMOCORRUPT},
      {"negative value size", [this] { Patch(Field(1, BlockValueSizeOffset), -1); }, NEXORA_MEMOCORRUPT},
      {"chain ends early", [this] { Patch(Field(2, BlockNextOffset), 0); }, NEXORA_ENDOFBLOB},
      {"empty middle block", [this] { Patch<std::uint16_t>(Field(2, BlockBytesUsedOffset), 0); }, NEXORA_ENDOFBLOB},
      {"value size larger than the file", [this] { Patch(Field(1, BlockValueSizeOffset), 0x7FFFFFFF); },
       NEXORA_ENDOFBLOB},
      {"last block cut short", [this] { std::filesystem::resize_file(path_, 512 + 2 * 512 + 10); }, NEXORA_READERR},
      {"foreign ID in block 2", [this] { Patch(Field(2, BlockBlobIDOffset), 99); }, NEXORA_NONE},
      {"foreign ID in block 1", [this] { Patch(Field(1, BlockBlobIDOffset), 99); }, NEXORA_NONE},
  };
  for (const TCase &test : cases) {
    SCOPED_TRACE(test.name);
    SetUp();
    test.damage();
    Reopened();
    TBytes value;
    TBlobReadResult result = TBlobReadResult::Read;
    EXPECT_EQ(RaisedCode([&] { result = file_->ReadValue(nullptr, first_, 7, 0, value); }), test.code);
    if (test.code == NEXORA_NONE) {
      EXPECT_EQ(result, TBlobReadResult::Changed);
      EXPECT_TRUE(value.empty());
    }
    file_.reset();
  }
}

TEST_F(DamagedChain, FirstBlockOutsideTheFileIsCorrupt) {
  Reopened();
  for (const std::int32_t first : {-1, 4, 1000}) {
    SCOPED_TRACE(first);
    TBytes value;
    EXPECT_EQ(RaisedCode([&] { file_->ReadValue(nullptr, first, 7, 0, value); }), NEXORA_MEMOCORRUPT);
    EXPECT_EQ(RaisedCode([&] { file_->FreeChain(first, 7); }), NEXORA_MEMOCORRUPT);
  }
}

TEST_F(DamagedChain, LoopingChainIsNeitherFreedNorRewritten) {
  Patch(Field(3, BlockNextOffset), 2);
  Reopened();
  EXPECT_EQ(RaisedCode([&] { file_->FreeChain(first_, 8); }), NEXORA_MEMOCORRUPT);
  EXPECT_EQ(FreeHead(), 0) << "nothing freed before the whole chain was checked";
  EXPECT_EQ(RaisedCode([&] { Write(first_, 8, Pattern(3000)); }), NEXORA_MEMOCORRUPT);
  EXPECT_EQ(file_->NextBlockNumber(), 4) << "the loop is found before the file grows";
}

TEST_F(DamagedChain, CompressedValueThatDoesNotInflate) {
  Reopened();
  TBytes value;
  EXPECT_EQ(RaisedCode([&] { file_->ReadValue(nullptr, first_, 7, 6, value); }), NEXORA_UNCOMPRESS);
}

TEST_F(BlobFile, HeaderWritesCountAndKeepThePendingFlag) {
  EXPECT_FALSE(file_->WriteHeader(false));
  const std::uint32_t counter = file_->GetChangeCounter();
  Write(0, 1, Pattern(10)); // appending a block changes the header
  EXPECT_TRUE(file_->WriteHeader(false));
  EXPECT_EQ(file_->GetChangeCounter(), counter + 1);
  EXPECT_EQ(ReadBytes(path_)[BlobPendingOffset], 1);
  EXPECT_TRUE(file_->WriteHeader(true));
  EXPECT_EQ(file_->GetChangeCounter(), counter + 2);
  EXPECT_EQ(ReadBytes(path_)[BlobPendingOffset], 0);

  owner_.written = false;
  file_->TouchHeader();
  EXPECT_TRUE(owner_.written);
  EXPECT_EQ(file_->GetChangeCounter(), counter + 3);
  EXPECT_TRUE(file_->WriteHeader(false));
  EXPECT_FALSE(file_->ReloadHeader());
  EXPECT_EQ(file_->GetChangeCounter(), counter + 4);
  EXPECT_EQ(file_->HeaderImage()[BlobPendingOffset], 0);

  // Another opener's header write moves the counter this file sees on reloading.
  auto other = MakeFile();
  other->OpenFile();
  other->TouchHeader();
  other->WriteHeader(false);
  EXPECT_TRUE(file_->ReloadHeader());
  EXPECT_EQ(file_->GetChangeCounter(), counter + 6);
}

TEST_F(BlobFile, EmptyFileStartsOver) {
  Write(0, 1, Pattern(2000));
  Write(0, 2, Pattern(10));
  Flush();
  file_->EmptyFile();
  EXPECT_EQ(FileSize(), 512);
  EXPECT_EQ(file_->NextBlockNumber(), 1);
  EXPECT_EQ(FreeHead(), 0);
  EXPECT_EQ(file_->CachedCount(), 0);
  EXPECT_TRUE(file_->WriteHeader(false));
  EXPECT_EQ(file_->GetChangeCounter(), 1u);
  const TBytes value = Pattern(700);
  EXPECT_EQ(Write(0, 3, value), 1);
  Reopen();
  EXPECT_EQ(Read(1, 3), value);
  EXPECT_EQ(FileSize(), 512 + 2 * 512);
}

TEST_F(BlobFile, FreeBlockHeadMustLieInsideTheFile) {
  struct TCase {
    std::int32_t blocks;
    std::int32_t head;
    bool valid;
  };
  const TCase cases[] = {{0, 0, true}, {0, 1, false}, {3, 0, true},  {3, 1, true},
                         {3, 3, true}, {3, 4, false}, {3, -1, false}};
  for (const TCase &test : cases) {
    SCOPED_TRACE(::testing::Message() << test.blocks << " blocks, head " << test.head);
    Create();
    if (test.blocks > 0) {
      Write(0, 1, Pattern(static_cast<std::size_t>(test.blocks) * 494));
    }
    file_->SetFreeBlock(test.head);
    EXPECT_EQ(RaisedCode([&] { file_->VerifyStructure(); }), test.valid ? NEXORA_NONE : NEXORA_HEADERCORRUPT);
    if (!test.valid) {
      EXPECT_EQ(RaisedCode([&] { Write(0, 2, Pattern(10)); }), NEXORA_HEADERCORRUPT);
    }
  }
}

TEST_F(BlobFile, BlocksTransferValueBytesInsideThePayload) {
  EXPECT_EQ(file_->GetPayloadSize(), 494);
  EXPECT_EQ(file_->GetFirstOffset(), 512);
  EXPECT_EQ(file_->GetMaxBuffers(), 32768 / (494 + 56));

  auto *block = static_cast<TBlock *>(file_->GetBuffer(nullptr, 0, 1, false, TReadDirection::None));
  const TBytes source = Pattern(494);
  block->WriteValue(source.data(), 10, 20);
  EXPECT_EQ(block->BytesUsed(), 30);
  TBytes target(494);
  EXPECT_EQ(block->ReadValue(target.data(), 0, 100), 30);
  EXPECT_EQ(block->ReadValue(target.data(), 25, 10), 5);
  EXPECT_EQ(block->ReadValue(target.data(), 40, 10), 0);
  EXPECT_EQ(RaisedCode([&] { block->WriteValue(source.data(), 0, 495); }), NEXORA_INVALIDBLOBLEN);
  EXPECT_EQ(RaisedCode([&] { block->WriteValue(source.data(), 490, 10); }), NEXORA_INVALIDBLOBLEN);
  EXPECT_EQ(RaisedCode([&] { block->ReadValue(target.data(), -1, 10); }), NEXORA_INVALIDBLOBLEN);

  block->SetNext(5);
  file_->ReleaseBuffer(block);
  file_->FlushBuffers(false);
  ASSERT_FALSE(block->Dirty());
  block->SetNext(5);
  EXPECT_FALSE(block->Dirty()) << "the same value changes nothing";
  block->SetBlobID(3);
  EXPECT_TRUE(block->Dirty());
  block->Clear(0);
  EXPECT_EQ(block->Next(), 0);
  EXPECT_EQ(block->BlobID(), 0);
  EXPECT_EQ(block->BytesUsed(), 0);
}

} // namespace
} // namespace nexora

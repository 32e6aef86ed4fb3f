#include "storage/blob_file.h"

#include <algorithm>
#include <limits>

#include "crypto/md5.h"
#include "storage/record_layout.h"

namespace nexora {

namespace {

// Holds one pinned block and releases it when replaced or destroyed.
class TBlockPin {
public:
  TBlockPin(TBlobFile &file, TBlock *block) : file_(file), block_(block) {}
  ~TBlockPin() { file_.ReleaseBuffer(block_); }
  TBlockPin(const TBlockPin &) = delete;
  TBlockPin &operator=(const TBlockPin &) = delete;

  TBlock *operator->() const { return block_; }
  TBlock &operator*() const { return *block_; }
  explicit operator bool() const { return block_ != nullptr; }
  void Reset(TBlock *block) {
    file_.ReleaseBuffer(block_);
    block_ = block;
  }

private:
  TBlobFile &file_;
  TBlock *block_;
};

constexpr auto MaxValueLength = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

} // namespace

TBlobFile::TBlobFile(TDataEngine &engine, std::string name, bool inMemory, TBufferCacheOwner &owner,
                     const TBlobFileContext &context)
    : TBufferedFile(engine, std::move(name), inMemory, owner), context_(context) {}

void TBlobFile::TakeBlockSize() {
  const std::int32_t blockSize = context_.BlobBlockSize();
  if (blockSize < BlobMinBlockSize || blockSize > BlobMaxBlockSize) {
    RaiseError(NEXORA_HEADERCORRUPT);
  }
  blockSize_ = blockSize;
}

void TBlobFile::CreateFile() {
  // Blocks of an earlier size must be gone before the size changes.
  FreeBuffers();
  TakeBlockSize();
  TEngineFile::CreateFile();
  header_.fill(0);
  header_[BlobVersionOffset] = CurrentTableVersion;
  const TDigest &signature = Engine().SignatureDigest();
  std::copy(signature.begin(), signature.end(), header_.begin() + BlobSignatureOffset);
  SetHeaderInt(BlobNextBlockOffset, 1);
  header_[BlobPendingOffset] = 1;
  ResetCache();
}

void TBlobFile::OpenFile() {
  if (IsOpen()) {
    return;
  }
  FreeBuffers();
  TakeBlockSize();
  TEngineFile::OpenFile();
  try {
    ReadHeader();
    CheckHeader();
  } catch (...) {
    CloseFile();
    throw;
  }
  ResetCache();
}

void TBlobFile::CloseFile() {
  FreeBuffers();
  TEngineFile::CloseFile();
}

std::unique_ptr<TBuffer> TBlobFile::NewBuffer() { return std::make_unique<TBlock>(*this); }

void TBlobFile::RaiseCorrupt() const { RaiseError(NEXORA_MEMOCORRUPT); }

void TBlobFile::AddBufferCount() {
  SetHeaderInt(BlobNextBlockOffset, NextBlockNumber() + 1);
  header_[BlobPendingOffset] = 1;
}

std::int32_t TBlobFile::GetMaxBuffers() const {
  const TEngineSettings &settings = Engine().Settings();
  return CacheLimit(settings.MaxTableBlobBufferSize, settings.MaxTableBlobBufferCount, BlobBufferOverhead);
}

std::uint32_t TBlobFile::GetChangeCounter() const {
  return LoadLittleEndian<std::uint32_t>(header_.data() + BlobChangeCounterOffset);
}

std::int32_t TBlobFile::GetReadAhead(TDataCursor * /*cursor*/, TReadDirection /*direction*/) {
  return blocksNeeded_ > 0 ? std::min(blocksNeeded_, DefaultReadAhead()) : DefaultReadAhead();
}

void TBlobFile::ReadHeader() {
  std::array<std::uint8_t, BlobHeaderSize> image{};
  ReadArea(0, image.data(), BlobHeaderSize, Cipher());
  header_ = image;
  header_[BlobPendingOffset] = 0;
}

bool TBlobFile::WriteHeader(bool force) {
  if (!force && header_[BlobPendingOffset] == 0) {
    return false;
  }
  StoreLittleEndian(header_.data() + BlobChangeCounterOffset, GetChangeCounter() + 1);
  std::array<std::uint8_t, BlobHeaderSize> image = header_;
  WriteArea(0, image.data(), BlobHeaderSize, Cipher());
  header_[BlobPendingOffset] = 0;
  return true;
}

void TBlobFile::TouchHeader() {
  StoreLittleEndian(header_.data() + BlobChangeCounterOffset, GetChangeCounter() + 1);
  header_[BlobPendingOffset] = 1;
  CacheOwner().MarkWritten();
}

void TBlobFile::EmptyFile() {
  // Cached blocks lie beyond the new end; a later flush must not write them back.
  FreeBuffers();
  TBufferedFile::EmptyFile();
  header_[BlobVersionOffset] = CurrentTableVersion;
  StoreLittleEndian<std::uint32_t>(header_.data() + BlobChangeCounterOffset, 0);
  SetHeaderInt(BlobNextBlockOffset, 1);
  SetHeaderInt(BlobFreeBlockOffset, 0);
  header_[BlobPendingOffset] = 1;
}

void TBlobFile::VerifyStructure() {
  const std::int32_t head = HeaderInt(BlobFreeBlockOffset);
  if (NextBlockNumber() < 1 || (head != 0 && !IsValidBlock(head))) {
    RaiseError(NEXORA_HEADERCORRUPT);
  }
}

void TBlobFile::CheckHeader() {
  TDigest signature{};
  std::copy_n(header_.begin() + BlobSignatureOffset, signature.size(), signature.begin());
  if (const TErrorCode code = Engine().CheckTableIdentity(header_[BlobVersionOffset], signature)) {
    RaiseError(code);
  }
}

bool TBlobFile::ReloadHeader() {
  const std::uint32_t before = GetChangeCounter();
  ReadHeader();
  return GetChangeCounter() != before;
}

std::int32_t TBlobFile::GetFreeBlock() const {
  const std::int32_t head = HeaderInt(BlobFreeBlockOffset);
  return head != 0 ? head : NextBlockNumber();
}

void TBlobFile::SetFreeBlock(std::int32_t block) {
  if (HeaderInt(BlobFreeBlockOffset) != block) {
    SetHeaderInt(BlobFreeBlockOffset, block);
    header_[BlobPendingOffset] = 1;
  }
}

std::int32_t TBlobFile::NextBlockNumber() const { return HeaderInt(BlobNextBlockOffset); }

bool TBlobFile::IsValidBlock(std::int32_t n) const { return n >= 1 && n < NextBlockNumber(); }

void TBlobFile::SetHeaderInt(std::size_t offset, std::int32_t value) {
  StoreLittleEndian(header_.data() + offset, value);
}

std::int32_t TBlobFile::HeaderInt(std::size_t offset) const {
  return LoadLittleEndian<std::int32_t>(header_.data() + offset);
}

std::uint8_t *TBlobFile::ImageArea() {
  imageArea_.resize(static_cast<std::size_t>(blockSize_));
  return imageArea_.data();
}

TBlock *TBlobFile::PinChainBlock(TDataCursor *cursor, std::int32_t n, TBlockSet &seen, bool readAhead) {
  // Every block is checked against the blocks this walk has already passed: a chain that
  // returns to any earlier block loops, however long the loop.
  if (!IsValidBlock(n) || !seen.insert(n).second) {
    RaiseCorrupt();
  }
  return static_cast<TBlock *>(
      GetBuffer(cursor, 0, n, readAhead, readAhead ? TReadDirection::Forward : TReadDirection::None));
}

TBlock *TBlobFile::AllocateBlock(TBlockSet &seen) {
  const std::int32_t head = HeaderInt(BlobFreeBlockOffset);
  if (head != 0 && !IsValidBlock(head)) {
    RaiseError(NEXORA_HEADERCORRUPT);
  }
  const std::int32_t n = head != 0 ? head : NextBlockNumber();
  // A free list that leads into the chain being written is damaged.
  if (!seen.insert(n).second) {
    RaiseCorrupt();
  }
  auto *block = static_cast<TBlock *>(GetBuffer(nullptr, 0, n, false, TReadDirection::None));
  if (head != 0) {
    SetFreeBlock(block->Next());
  }
  block->Clear(0);
  block->MarkDirty();
  return block;
}

void TBlobFile::FreeBlock(TBlock &block) {
  block.SetNext(HeaderInt(BlobFreeBlockOffset));
  SetFreeBlock(block.Number());
}

std::vector<std::int32_t> TBlobFile::CollectChain(std::int32_t first, TBlockSet &seen) {
  std::vector<std::int32_t> blocks;
  for (std::int32_t n = first; n != 0;) {
    TBlockPin block(*this, PinChainBlock(nullptr, n, seen, false));
    blocks.push_back(n);
    n = block->Next();
  }
  return blocks;
}

void TBlobFile::FreeBlocks(const std::vector<std::int32_t> &blocks, std::int32_t blobID) {
  for (const std::int32_t n : blocks) {
    TBlockPin block(*this, static_cast<TBlock *>(GetBuffer(nullptr, 0, n, false, TReadDirection::None)));
    block->SetBlobID(blobID);
    FreeBlock(*block);
  }
}

void TBlobFile::FreeChain(std::int32_t firstBlock, std::int32_t blobID) {
  TBlockSet seen;
  FreeBlocks(CollectChain(firstBlock, seen), blobID);
}

TBlobReadResult TBlobFile::ReadValue(TDataCursor *cursor, std::int32_t firstBlock, std::int32_t blobID,
                                     std::uint8_t compressionLevel, std::vector<std::uint8_t> &value) {
  value.clear();
  if (firstBlock == 0) {
    return TBlobReadResult::Read;
  }
  TBlockSet seen;
  TBlockPin current(*this, PinChainBlock(cursor, firstBlock, seen, false));
  if (!current || current->BlobID() != blobID) {
    return TBlobReadResult::Changed;
  }
  const std::int32_t size = current->ValueSize();
  const std::int32_t payload = GetPayloadSize();
  if (size < 0) {
    RaiseCorrupt();
  }
  // No chain holds more than every block of the file: refuse before allocating.
  if (size > static_cast<std::int64_t>(GetBufferCount()) * payload) {
    RaiseError(NEXORA_ENDOFBLOB);
  }
  value.resize(static_cast<std::size_t>(size));
  struct TReadAheadReset {
    std::int32_t &blocksNeeded;
    ~TReadAheadReset() { blocksNeeded = 0; }
  } readAheadReset{blocksNeeded_};

  std::int32_t copied = 0;
  while (copied < size) {
    if (current->BlobID() != blobID) {
      value.clear();
      return TBlobReadResult::Changed;
    }
    const std::int32_t asked = std::min(payload, size - copied);
    const std::int32_t got = current->ReadValue(value.data() + copied, 0, asked);
    copied += got;
    if (got < asked || copied == size || current->Next() == 0) {
      break;
    }
    blocksNeeded_ = (size - copied + payload - 1) / payload;
    TBlock *next = PinChainBlock(cursor, current->Next(), seen, true);
    if (next == nullptr) {
      value.clear();
      return TBlobReadResult::Changed;
    }
    current.Reset(next);
  }
  if (copied < size) {
    RaiseError(NEXORA_ENDOFBLOB);
  }
  if (compressionLevel != 0 && size > 0) {
    value = Engine().Decompress(value.data(), size);
  }
  return TBlobReadResult::Read;
}

std::int32_t TBlobFile::WriteValue(std::int32_t firstBlock, std::int32_t blobID, std::span<const std::uint8_t> value,
                                   std::uint8_t compressionLevel) {
  if (value.size() > MaxValueLength) {
    RaiseError(NEXORA_INVALIDBLOBLEN);
  }
  std::vector<std::uint8_t> compressed;
  std::span<const std::uint8_t> stored = value;
  if (compressionLevel != 0 && !value.empty()) {
    compressed = Engine().Compress(value.data(), static_cast<std::int32_t>(value.size()), compressionLevel);
    stored = compressed;
  }
  if (stored.size() > MaxValueLength) {
    RaiseError(NEXORA_INVALIDBLOBLEN);
  }
  const auto size = static_cast<std::int32_t>(stored.size());
  if (size == 0) {
    if (firstBlock != 0) {
      FreeChain(firstBlock, blobID);
    }
    return 0;
  }

  const std::int32_t payload = GetPayloadSize();
  TBlockSet seen;
  TBlockPin current(*this, firstBlock != 0 ? PinChainBlock(nullptr, firstBlock, seen, false) : AllocateBlock(seen));
  const std::int32_t first = current->Number();
  current->SetPrevious(0);
  current->SetBlobID(blobID);
  current->SetValueSize(size);
  std::int32_t written = 0;
  for (;;) {
    const std::int32_t piece = std::min(payload, size - written);
    current->WriteValue(stored.data() + written, 0, piece);
    written += piece;
    if (written == size) {
      break;
    }
    // The old chain is reused while it lasts, then the chain grows from the free list.
    TBlock *next = current->Next() != 0 ? PinChainBlock(nullptr, current->Next(), seen, false) : AllocateBlock(seen);
    current->SetNext(next->Number());
    next->SetPrevious(current->Number());
    next->SetBlobID(blobID);
    next->SetValueSize(0);
    current.Reset(next);
  }
  if (current->Next() != 0) {
    const std::vector<std::int32_t> rest = CollectChain(current->Next(), seen);
    current->SetNext(0);
    current.Reset(nullptr);
    FreeBlocks(rest, blobID);
  }
  return first;
}

} // namespace nexora

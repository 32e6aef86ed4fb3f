#include "storage/blob_block.h"

#include <algorithm>
#include <cstring>

#include "storage/blob_file.h"
#include "storage/record_layout.h"

namespace nexora {

namespace {

template <typename T> void SetHeaderField(TBlock &block, T &field, T value) {
  if (field != value) {
    field = value;
    block.MarkDirty();
  }
}

} // namespace

TBlock::TBlock(TBlobFile &owner) : TBuffer(owner), file_(owner) {}

void TBlock::Assign(const TBuffer &other) {
  TBuffer::Assign(other);
  if (const auto *block = dynamic_cast<const TBlock *>(&other)) {
    previous_ = block->previous_;
    next_ = block->next_;
    bytesUsed_ = block->bytesUsed_;
    blobID_ = block->blobID_;
    valueSize_ = block->valueSize_;
  }
}

void TBlock::Clear(std::int32_t indexNumber) {
  TBuffer::Clear(indexNumber);
  previous_ = next_ = blobID_ = valueSize_ = 0;
  bytesUsed_ = 0;
}

void TBlock::LoadParts(const std::uint8_t *image) {
  previous_ = LoadLittleEndian<std::int32_t>(image + BlockPreviousOffset);
  next_ = LoadLittleEndian<std::int32_t>(image + BlockNextOffset);
  bytesUsed_ = LoadLittleEndian<std::uint16_t>(image + BlockBytesUsedOffset);
  blobID_ = LoadLittleEndian<std::int32_t>(image + BlockBlobIDOffset);
  valueSize_ = LoadLittleEndian<std::int32_t>(image + BlockValueSizeOffset);
  std::memcpy(Data(), image + BlockHeaderSize, static_cast<std::size_t>(DataSize()));
  SetDirty(false);
}

void TBlock::LoadImage(const std::uint8_t *image) {
  void *cipher = file_.Cipher();
  if (cipher == nullptr) {
    LoadParts(image);
    return;
  }
  std::uint8_t *clear = file_.ImageArea();
  std::memcpy(clear, image, static_cast<std::size_t>(file_.GetBufferSize()));
  file_.Engine().DecryptBuffer(cipher, clear, file_.GetBufferSize());
  LoadParts(clear);
}

void TBlock::StoreImage(std::uint8_t *image) {
  StoreLittleEndian(image + BlockPreviousOffset, previous_);
  StoreLittleEndian(image + BlockNextOffset, next_);
  StoreLittleEndian(image + BlockBytesUsedOffset, bytesUsed_);
  StoreLittleEndian(image + BlockBlobIDOffset, blobID_);
  StoreLittleEndian(image + BlockValueSizeOffset, valueSize_);
  std::memcpy(image + BlockHeaderSize, Data(), static_cast<std::size_t>(DataSize()));
  if (void *cipher = file_.Cipher()) {
    file_.Engine().EncryptBuffer(cipher, image, file_.GetBufferSize());
  }
  SetDirty(false);
}

bool TBlock::SameAs(const TBuffer &other) const {
  const auto *block = dynamic_cast<const TBlock *>(&other);
  return block != nullptr && previous_ == block->previous_ && next_ == block->next_ &&
         bytesUsed_ == block->bytesUsed_ && blobID_ == block->blobID_ && valueSize_ == block->valueSize_ &&
         TBuffer::SameAs(other);
}

void TBlock::SetPrevious(std::int32_t previous) { SetHeaderField(*this, previous_, previous); }
void TBlock::SetNext(std::int32_t next) { SetHeaderField(*this, next_, next); }
void TBlock::SetBytesUsed(std::uint16_t bytesUsed) { SetHeaderField(*this, bytesUsed_, bytesUsed); }
void TBlock::SetBlobID(std::int32_t blobID) { SetHeaderField(*this, blobID_, blobID); }
void TBlock::SetValueSize(std::int32_t valueSize) { SetHeaderField(*this, valueSize_, valueSize); }

void TBlock::CheckRange(std::int32_t position, std::int32_t count) const {
  if (position < 0 || count < 0 || count > DataSize() - position) {
    file_.RaiseError(NEXORA_INVALIDBLOBLEN);
  }
}

std::int32_t TBlock::ReadValue(void *destination, std::int32_t position, std::int32_t count) const {
  CheckRange(position, count);
  // A damaged header may claim more bytes than the payload holds.
  const std::int32_t used = std::min<std::int32_t>(bytesUsed_, DataSize());
  const std::int32_t copied = std::clamp(used - position, 0, count);
  if (copied > 0) {
    std::memcpy(destination, Data() + position, static_cast<std::size_t>(copied));
  }
  return copied;
}

void TBlock::WriteValue(const void *source, std::int32_t position, std::int32_t count) {
  CheckRange(position, count);
  if (count > 0) {
    std::memcpy(Data() + position, source, static_cast<std::size_t>(count));
  }
  MarkDirty();
  SetBytesUsed(static_cast<std::uint16_t>(position + count));
}

} // namespace nexora

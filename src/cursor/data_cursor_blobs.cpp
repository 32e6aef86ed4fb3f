#include <algorithm>
#include <cstring>
#include <limits>

#include "cursor/data_cursor.h"
#include "cursor/data_cursor_operation.h"
#include "storage/record_layout.h"
#include "support/little_endian.h"

namespace nexora {

namespace {

// The value bytes of field n's slot in an image.
std::uint8_t *SlotValue(const TFieldDef &def, std::span<std::uint8_t> image) {
  return image.data() + def.RecordOffset() + 1;
}
const std::uint8_t *SlotValue(const TFieldDef &def, std::span<const std::uint8_t> image) {
  return image.data() + def.RecordOffset() + 1;
}

std::int32_t SlotReference(const TFieldDef &def, std::span<const std::uint8_t> image) {
  return static_cast<std::int32_t>(LoadU32(SlotValue(def, image) + BlobSlotFirstBlockOffset));
}

// Puts a block number and BLOB ID into the slot; the indicator follows the block number.
void StoreBlockReference(const TFieldDef &def, std::span<std::uint8_t> image, std::int32_t firstBlock,
                         std::int32_t blobID) {
  StoreU32(SlotValue(def, image) + BlobSlotFirstBlockOffset, static_cast<std::uint32_t>(firstBlock));
  StoreU32(SlotValue(def, image) + BlobSlotBlobIDOffset, static_cast<std::uint32_t>(blobID));
  image[def.RecordOffset()] = firstBlock != 0 ? FieldIndicatorValue : FieldIndicatorNull;
}

} // namespace

TBlobBuffer *TDataCursor::FindBlob(std::int32_t reference) const {
  if (reference >= 0) {
    return nullptr;
  }
  const auto found =
      std::find_if(blobs_.begin(), blobs_.end(), [&](const auto &buffer) { return buffer->Handle == reference; });
  return found == blobs_.end() ? nullptr : found->get();
}

TBlobBuffer &TDataCursor::ResolveBlob(std::int16_t number, std::span<const std::uint8_t> image) {
  TBlobBuffer *buffer = FindBlob(SlotReference(FieldDef(number), image));
  if (buffer == nullptr) {
    RaiseIfError(NEXORA_INVALIDBLOBHANDLE);
  }
  return *buffer;
}

void TDataCursor::StoreHandle(const TBlobBuffer &buffer, std::span<std::uint8_t> image) const {
  StoreU32(SlotValue(buffer.Field, image) + BlobSlotFirstBlockOffset, static_cast<std::uint32_t>(buffer.Handle));
  image[buffer.Field.RecordOffset()] = buffer.Value.empty() ? FieldIndicatorNull : FieldIndicatorValue;
}

void TDataCursor::AddBlob(std::unique_ptr<TBlobBuffer> buffer, std::span<std::uint8_t> image) {
  buffer->OpenCount = 1;
  // Handles are negative and unique among this cursor's open values.
  do {
    lastBlobHandle_ = lastBlobHandle_ == std::numeric_limits<std::int32_t>::max() ? 1 : lastBlobHandle_ + 1;
  } while (FindBlob(-lastBlobHandle_) != nullptr);
  buffer->Handle = -lastBlobHandle_;
  StoreHandle(*buffer, image);
  blobs_.push_back(std::move(buffer));
}

void TDataCursor::FreeBlob(const TBlobBuffer &buffer) {
  std::erase_if(blobs_, [&](const auto &owned) { return owned.get() == &buffer; });
}

std::int32_t TDataCursor::OpenBlob(std::int16_t number, std::span<std::uint8_t> image, TBlobMode mode, bool temporary) {
  return Operation([&] {
    const TFieldDef &def = FieldDef(number);
    if (def.Type() != ftcBlob) {
      RaiseIfError(NEXORA_INVALIDBLOBHANDLE, def.Name());
    }
    const std::int32_t reference = SlotReference(def, image);
    if (TBlobBuffer *open = FindBlob(reference)) {
      if (mode == TBlobMode::ReadWrite && open->Temporary && !temporary) {
        open->Temporary = false;
      } else {
        ++open->OpenCount;
      }
      return static_cast<std::int32_t>(open->Value.size());
    }
    if (reference < 0) {
      RaiseIfError(NEXORA_INVALIDBLOBOFFSET);
    }
    if (blobs_.size() >= MaxOpenBlobs) {
      RaiseIfError(NEXORA_OPENBLOBLIMIT);
    }
    auto buffer = std::make_unique<TBlobBuffer>(*this, def);
    buffer->FirstBlock = reference;
    buffer->BlobID = static_cast<std::int32_t>(LoadU32(SlotValue(def, image) + BlobSlotBlobIDOffset));
    buffer->RecordNumber = static_cast<std::int32_t>(LoadU32(image.data() + RecordChainOffset));
    buffer->Mode = mode;
    buffer->Temporary = temporary;
    LoadBlob(*buffer, number, image);
    AddBlob(std::move(buffer), image);
    return static_cast<std::int32_t>(blobs_.back()->Value.size());
  });
}

void TDataCursor::LoadBlob(TBlobBuffer &buffer, std::int16_t number, std::span<std::uint8_t> image) {
  TBlobFile &file = table_->BlobFile();
  const std::uint8_t level = buffer.Field.CompressionLevel();
  if (file.ReadValue(this, buffer.FirstBlock, buffer.BlobID, level, buffer.Value) == TBlobReadResult::Read) {
    buffer.Modified = false;
    return;
  }
  // The chain was rewritten since the image was read: take the record's current slot.
  if (buffer.RecordNumber < 1 || buffer.RecordNumber > PhysicalRecordCount()) {
    RaiseIfError(NEXORA_KEYORRECDELETED);
  }
  std::vector<std::uint8_t> stored(recordSize_);
  ReadRecordImage(buffer.RecordNumber, TReadDirection::None, stored);
  if (IsDeletedImage(stored) || LoadU32(stored.data() + RecordIDOffset) != LoadU32(image.data() + RecordIDOffset)) {
    RaiseIfError(NEXORA_KEYORRECDELETED);
  }
  const std::size_t slot = buffer.Field.RecordOffset();
  std::copy_n(stored.begin() + static_cast<std::ptrdiff_t>(slot), 1 + 8,
              image.begin() + static_cast<std::ptrdiff_t>(slot));
  buffer.FirstBlock = SlotReference(FieldDef(number), image);
  buffer.BlobID = static_cast<std::int32_t>(LoadU32(SlotValue(buffer.Field, image) + BlobSlotBlobIDOffset));
  if (file.ReadValue(this, buffer.FirstBlock, buffer.BlobID, level, buffer.Value) != TBlobReadResult::Read) {
    RaiseIfError(NEXORA_MEMOCORRUPT);
  }
  buffer.Modified = false;
}

std::int32_t TDataCursor::ReadBlob(std::int16_t number, std::span<const std::uint8_t> image, std::int32_t count,
                                   std::uint8_t *destination, std::int32_t offset) {
  const TBlobBuffer &buffer = ResolveBlob(number, image);
  const auto size = static_cast<std::int32_t>(buffer.Value.size());
  if (offset < 0 || count < 0 || offset >= size) {
    return 0;
  }
  const std::int32_t copied = std::min(count, size - offset);
  std::copy_n(buffer.Value.begin() + offset, copied, destination);
  return copied;
}

void TDataCursor::WriteBlob(std::int16_t number, std::span<std::uint8_t> image, std::int32_t count,
                            const std::uint8_t *source, std::int32_t offset) {
  TBlobBuffer &buffer = ResolveBlob(number, image);
  if (buffer.Mode != TBlobMode::ReadWrite || count <= 0 || offset < 0) {
    return;
  }
  buffer.Modified = true;
  const auto end = static_cast<std::size_t>(offset) + static_cast<std::size_t>(count);
  if (end > buffer.Value.size()) {
    buffer.Value.resize(end);
  }
  std::copy_n(source, count, buffer.Value.begin() + offset);
  StoreHandle(buffer, image);
}

void TDataCursor::TruncateBlob(std::int16_t number, std::span<std::uint8_t> image, std::int32_t size) {
  TBlobBuffer &buffer = ResolveBlob(number, image);
  if (buffer.Mode != TBlobMode::ReadWrite || size < 0) {
    return;
  }
  buffer.Modified = true;
  buffer.Value.resize(static_cast<std::size_t>(size));
  StoreHandle(buffer, image);
}

std::int32_t TDataCursor::GetBlobLength(std::int16_t number, std::span<const std::uint8_t> image) {
  return static_cast<std::int32_t>(ResolveBlob(number, image).Value.size());
}

void TDataCursor::CloseBlob(std::int16_t number, std::span<std::uint8_t> image) {
  TBlobBuffer &buffer = ResolveBlob(number, image);
  if (buffer.OpenCount > 0) {
    --buffer.OpenCount;
  }
  if (buffer.OpenCount > 0) {
    return;
  }
  StoreBlockReference(buffer.Field, image, buffer.FirstBlock, buffer.BlobID);
  FreeBlob(buffer);
}

void TDataCursor::FreeBlobs(bool all) {
  for (auto at = blobs_.size(); at-- > 0;) {
    if (all || blobs_[at]->Temporary) {
      blobs_.erase(blobs_.begin() + static_cast<std::ptrdiff_t>(at));
    }
  }
}

void TDataCursor::CloseRecordBlobs(std::span<std::uint8_t> image) {
  for (const TFieldDef &def : fields_) {
    if (def.Type() != ftcBlob) {
      continue;
    }
    if (TBlobBuffer *buffer = FindBlob(SlotReference(def, image)); buffer && (!buffer->Modified || buffer->Temporary)) {
      StoreBlockReference(def, image, buffer->FirstBlock, buffer->BlobID);
      FreeBlob(*buffer);
    }
  }
}

void TDataCursor::WriteRecordBlobs(std::span<std::uint8_t> image, std::int32_t recordNumber) {
  TDataFile &data = table_->DataFile();
  for (const TFieldDef &def : fields_) {
    if (def.Type() != ftcBlob) {
      continue;
    }
    const std::int32_t reference = SlotReference(def, image);
    TBlobBuffer *buffer = FindBlob(reference);
    if (buffer == nullptr) {
      if (reference < 0) {
        RaiseIfError(NEXORA_INVALIDBLOBOFFSET);
      }
      continue;
    }
    if (buffer->RecordNumber != 0 && buffer->RecordNumber != recordNumber) {
      // A value opened on another record cannot be written into this one.
      RaiseIfError(NEXORA_MEMOCORRUPT);
    }
    if (buffer->Modified) {
      buffer->BlobID = data.NextBlobID();
      buffer->FirstBlock =
          table_->BlobFile().WriteValue(buffer->FirstBlock, buffer->BlobID, buffer->Value, def.CompressionLevel());
      buffer->Modified = false;
    }
    StoreBlockReference(def, image, buffer->FirstBlock, buffer->BlobID);
    FreeBlob(*buffer);
  }
}

void TDataCursor::FreeRecordBlobChains(std::span<const std::uint8_t> image) {
  TDataFile &data = table_->DataFile();
  for (const TFieldDef &def : fields_) {
    const std::int32_t first = def.Type() == ftcBlob ? SlotReference(def, image) : 0;
    if (first > 0) {
      // Under a new ID, so that a reader still holding the old one sees the value is gone.
      table_->BlobFile().FreeChain(first, data.NextBlobID());
    }
  }
}

} // namespace nexora

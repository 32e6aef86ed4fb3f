#pragma once

#include <cstdint>

#include "storage/buffer.h"

namespace nexora {

class TBlobFile;

// One cached block of a BLOB file: the 18-byte block header held apart from the payload
// of B - 18 value bytes (the buffer's content). Owned by its file's cache. Loading and
// storing the file image deciphers and enciphers the whole B bytes with the table's key
// when the table is encrypted; in memory a block is always clear. Setting a header field
// to a different value marks the block dirty.
// Raises 10029 (NEXORA_INVALIDBLOBLEN) for a value transfer outside the payload.
// Used by the thread that owns the table.
class TBlock : public TBuffer {
public:
  explicit TBlock(TBlobFile &owner);

  // Copies the header too when the other buffer is a block.
  void Assign(const TBuffer &other) override;
  // Zeroes header and payload, not dirty.
  void Clear(std::int32_t indexNumber) override;
  void LoadImage(const std::uint8_t *image) override;
  void StoreImage(std::uint8_t *image) override;
  // Equal header and payload.
  bool SameAs(const TBuffer &other) const override;

  std::int32_t Previous() const { return previous_; }
  void SetPrevious(std::int32_t previous);
  std::int32_t Next() const { return next_; }
  void SetNext(std::int32_t next);
  std::uint16_t BytesUsed() const { return bytesUsed_; }
  void SetBytesUsed(std::uint16_t bytesUsed);
  std::int32_t BlobID() const { return blobID_; }
  void SetBlobID(std::int32_t blobID);
  std::int32_t ValueSize() const { return valueSize_; }
  void SetValueSize(std::int32_t valueSize);

  // Copies up to count value bytes from payload position `position`, never beyond the
  // bytes used; returns the number copied.
  std::int32_t ReadValue(void *destination, std::int32_t position, std::int32_t count) const;
  // Copies count bytes to payload position `position` and sets bytes used to position + count.
  void WriteValue(const void *source, std::int32_t position, std::int32_t count);

private:
  // 10029 unless position and count lie inside the payload.
  void CheckRange(std::int32_t position, std::int32_t count) const;
  void LoadParts(const std::uint8_t *image);

  TBlobFile &file_;
  std::int32_t previous_ = 0;
  std::int32_t next_ = 0;
  std::uint16_t bytesUsed_ = 0;
  std::int32_t blobID_ = 0;
  std::int32_t valueSize_ = 0;
};

} // namespace nexora

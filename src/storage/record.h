#pragma once

#include <cstdint>
#include <span>

#include "crypto/md5.h"
#include "storage/buffer.h"

namespace nexora {

// One record image of a data file held in the cache (layout in record_layout.h). The
// payload is the whole R-byte image and the cached copy is always clear: loading an
// image (LoadImage, LoadedInPlace) deciphers the whole image and StoreImage enciphers
// the copy it hands out, with the owner's cipher context when the table is encrypted.
// Owned by its data file's cache; used by the thread that uses the table.
class TRecord : public TBuffer {
public:
  explicit TRecord(TBufferedFile &owner);

  void LoadImage(const std::uint8_t *image) override;
  void StoreImage(std::uint8_t *image) override;
  void LoadedInPlace() override;

  std::uint8_t Status() const;
  // Marks the record dirty.
  void SetStatus(std::uint8_t status);
  bool Deleted() const;
  // Bytes 1 to 4: the next deleted record of the free chain, or in memory the record's
  // own physical number.
  std::int32_t ChainWord() const;
  // For chaining deleted records: marks the record dirty.
  void SetChainWord(std::int32_t next);
  // For the in-memory own number of a live record: leaves the dirty state alone.
  void SetOwnNumber(std::int32_t number);
  std::int32_t RecordID() const;
  void SetRecordID(std::int32_t recordID);
  TDigest RecordHash() const;
  void SetRecordHash(const TDigest &hash);

  std::span<std::uint8_t> Image() { return {Data(), static_cast<std::size_t>(DataSize())}; }
  std::span<const std::uint8_t> Image() const { return {Data(), static_cast<std::size_t>(DataSize())}; }

private:
  void Decipher(std::uint8_t *image);
};

} // namespace nexora

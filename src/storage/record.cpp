#include "storage/record.h"

#include <algorithm>
#include <cstring>

#include "storage/buffered_file.h"
#include "storage/record_layout.h"

namespace nexora {

TRecord::TRecord(TBufferedFile &owner) : TBuffer(owner) {}

void TRecord::Decipher(std::uint8_t *image) {
  if (void *context = Owner().CacheOwner().CryptoContext()) {
    Owner().Engine().DecryptBuffer(context, image, DataSize());
  }
}

void TRecord::LoadImage(const std::uint8_t *image) {
  TBuffer::LoadImage(image);
  Decipher(Data());
}

void TRecord::LoadedInPlace() {
  TBuffer::LoadedInPlace();
  Decipher(Data());
}

void TRecord::StoreImage(std::uint8_t *image) {
  TBuffer::StoreImage(image);
  if (void *context = Owner().CacheOwner().CryptoContext()) {
    Owner().Engine().EncryptBuffer(context, image, DataSize());
  }
}

std::uint8_t TRecord::Status() const { return Data()[RecordStatusOffset]; }

void TRecord::SetStatus(std::uint8_t status) {
  Data()[RecordStatusOffset] = status;
  MarkDirty();
}

bool TRecord::Deleted() const { return Status() == RecordStatusDeleted; }

std::int32_t TRecord::ChainWord() const { return LoadLittleEndian<std::int32_t>(Data() + RecordChainOffset); }

void TRecord::SetChainWord(std::int32_t next) {
  StoreLittleEndian(Data() + RecordChainOffset, next);
  MarkDirty();
}

void TRecord::SetOwnNumber(std::int32_t number) { StoreLittleEndian(Data() + RecordChainOffset, number); }

std::int32_t TRecord::RecordID() const { return LoadLittleEndian<std::int32_t>(Data() + RecordIDOffset); }

void TRecord::SetRecordID(std::int32_t recordID) {
  StoreLittleEndian(Data() + RecordIDOffset, recordID);
  MarkDirty();
}

TDigest TRecord::RecordHash() const {
  TDigest hash;
  std::memcpy(hash.data(), Data() + RecordHashOffset, RecordHashSize);
  return hash;
}

void TRecord::SetRecordHash(const TDigest &hash) {
  std::memcpy(Data() + RecordHashOffset, hash.data(), RecordHashSize);
  MarkDirty();
}

} // namespace nexora

#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "crypto/md5.h"
#include "support/little_endian.h"
#include "support/short_text.h"

namespace nexora {

// The 512-byte header at the start of a table's data file, never encrypted.
// All integers little-endian. Every offset of the current header and of the older
// 127-byte header (version byte below 6) is named here and nowhere else.
namespace DataHeader {
inline constexpr std::size_t Size = 512;

inline constexpr std::size_t ChangeCounter = 0;     // 4, unsigned, +1 at every header write
inline constexpr std::size_t Reserved4 = 4;         // 4, zero
inline constexpr std::size_t Version = 8;           // 1, 6
inline constexpr std::size_t Signature = 9;         // 16, MD5 of the engine signature text
inline constexpr std::size_t FreeRecordHead = 25;   // 4, signed, 0 = no deleted record
inline constexpr std::size_t NextRecordNumber = 29; // 4, signed, records in the file + 1
inline constexpr std::size_t LastRecordID = 33;     // 4, signed
inline constexpr std::size_t LastAutoInc = 37;      // 4, signed
inline constexpr std::size_t RecordCount = 41;      // 4, signed, records not deleted
inline constexpr std::size_t RecordSize = 45;       // 2, unsigned, multiple of 8, <= 65534
inline constexpr std::size_t FieldCount = 47;       // 2, unsigned, 1 to 1024
inline constexpr std::size_t BlobFieldCount = 49;   // 2, unsigned, <= 128
inline constexpr std::size_t BlobBlockSize = 51;    // 4, unsigned, 64 to 65536
inline constexpr std::size_t LastBlobID = 55;       // 4, unsigned
inline constexpr std::size_t IndexPageSize = 59;    // 4, unsigned, 1024 to 16384
inline constexpr std::size_t LastWriteTime = 63;    // 8, double: local day count - 693594.0
inline constexpr std::size_t Description = 71;      // 101, length-prefixed, 0 to 100
inline constexpr std::size_t DescriptionField = 101;
inline constexpr std::size_t Encrypted = 172;        // 1, 1 = encrypted
inline constexpr std::size_t PasswordCheck = 173;    // 16, enciphered password digest
inline constexpr std::size_t LocaleId = 189;         // 4, unsigned, 0 = "ANSI Standard"
inline constexpr std::size_t UserMajorVersion = 193; // 2, unsigned
inline constexpr std::size_t UserMinorVersion = 195; // 2, unsigned
inline constexpr std::size_t PendingChanges = 197;   // 1, the live pending-changes flag
inline constexpr std::size_t Reserved198 = 198;      // 314, zero

inline constexpr std::size_t MaxDescriptionLength = 100;
} // namespace DataHeader

// The older header (version byte below 6): 127 bytes, read only by ReadClosedHeader,
// which maps these values into a current header image.
namespace OldDataHeader {
inline constexpr std::size_t Size = 127;

inline constexpr std::size_t ChangeCounter = 0;     // 4 -> 0
inline constexpr std::size_t BlobBlockSize = 4;     // 4 -> 51
inline constexpr std::size_t Version = 8;           // 1 -> 8, unchanged
inline constexpr std::size_t FreeRecordHead = 9;    // 4 -> 25
inline constexpr std::size_t NextRecordNumber = 13; // 4 -> 29
inline constexpr std::size_t LastRecordID = 17;     // 4 -> 33 and 37
inline constexpr std::size_t RecordSize = 21;       // 2 -> 45
inline constexpr std::size_t FieldCount = 23;       // 2 -> 47
inline constexpr std::size_t BlobFieldCount = 25;   // 2 -> 49
inline constexpr std::size_t LastWriteTime = 27;    // 8 -> 63, unchanged
inline constexpr std::size_t Description = 35;      // 51, length-prefixed, <= 50 -> 71
inline constexpr std::size_t DescriptionField = 51;
inline constexpr std::size_t Encrypted = 86;         // 1 -> 172
inline constexpr std::size_t Password = 87;          // 16, length-prefixed, not mapped
inline constexpr std::size_t LanguageId = 103;       // 2 -> 189 low half
inline constexpr std::size_t SortId = 105;           // 2 -> 189 high half
inline constexpr std::size_t UserMajorVersion = 107; // 2 -> 193
inline constexpr std::size_t UserMinorVersion = 109; // 2 -> 195
inline constexpr std::size_t LastBlobID = 112;       // 4 -> 55

// What the mapped image holds where the older header has nothing.
inline constexpr std::uint32_t MappedIndexPageSize = 4096;
} // namespace OldDataHeader

// The 512-byte header image with typed access by offset. A plain value: no checks, no
// flags; TDataFile adds the rules (pending-changes flag, counters).
class TDataFileHeader {
public:
  TDataFileHeader() { bytes_.fill(0); }

  std::uint8_t *Bytes() { return bytes_.data(); }
  const std::uint8_t *Bytes() const { return bytes_.data(); }
  void Clear() { bytes_.fill(0); }

  std::uint8_t U8(std::size_t offset) const { return bytes_[offset]; }
  void SetU8(std::size_t offset, std::uint8_t value) { bytes_[offset] = value; }
  std::uint16_t U16(std::size_t offset) const { return LoadU16(bytes_.data() + offset); }
  void SetU16(std::size_t offset, std::uint16_t value) { StoreU16(bytes_.data() + offset, value); }
  std::uint32_t U32(std::size_t offset) const { return LoadU32(bytes_.data() + offset); }
  void SetU32(std::size_t offset, std::uint32_t value) { StoreU32(bytes_.data() + offset, value); }
  std::int32_t I32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
  void SetI32(std::size_t offset, std::int32_t value) { SetU32(offset, static_cast<std::uint32_t>(value)); }
  double F64(std::size_t offset) const { return std::bit_cast<double>(LoadU64(bytes_.data() + offset)); }
  void SetF64(std::size_t offset, double value) {
    StoreU64(bytes_.data() + offset, std::bit_cast<std::uint64_t>(value));
  }
  TDigest Digest(std::size_t offset) const {
    TDigest digest;
    std::memcpy(digest.data(), bytes_.data() + offset, digest.size());
    return digest;
  }
  void SetDigest(std::size_t offset, const TDigest &digest) {
    std::memcpy(bytes_.data() + offset, digest.data(), digest.size());
  }
  std::string Text(std::size_t offset, std::size_t fieldSize) const {
    return ReadShortText(bytes_.data() + offset, fieldSize);
  }
  void SetText(std::size_t offset, std::size_t fieldSize, std::string_view text) {
    WriteShortText(bytes_.data() + offset, fieldSize, text);
  }

  // The named values.
  std::uint32_t ChangeCounter() const { return U32(DataHeader::ChangeCounter); }
  std::uint8_t Version() const { return U8(DataHeader::Version); }
  TDigest Signature() const { return Digest(DataHeader::Signature); }
  std::int32_t FreeRecordHead() const { return I32(DataHeader::FreeRecordHead); }
  std::int32_t NextRecordNumber() const { return I32(DataHeader::NextRecordNumber); }
  std::int32_t LastRecordID() const { return I32(DataHeader::LastRecordID); }
  std::int32_t LastAutoInc() const { return I32(DataHeader::LastAutoInc); }
  std::int32_t RecordCount() const { return I32(DataHeader::RecordCount); }
  std::uint16_t RecordSize() const { return U16(DataHeader::RecordSize); }
  std::uint16_t FieldCount() const { return U16(DataHeader::FieldCount); }
  std::uint16_t BlobFieldCount() const { return U16(DataHeader::BlobFieldCount); }
  std::uint32_t BlobBlockSize() const { return U32(DataHeader::BlobBlockSize); }
  std::uint32_t LastBlobID() const { return U32(DataHeader::LastBlobID); }
  std::uint32_t IndexPageSize() const { return U32(DataHeader::IndexPageSize); }
  // As stored: the local day count minus 693594.0 (see DecodeHeaderTime).
  double StoredLastWriteTime() const { return F64(DataHeader::LastWriteTime); }
  std::string Description() const { return Text(DataHeader::Description, DataHeader::DescriptionField); }
  bool Encrypted() const { return U8(DataHeader::Encrypted) != 0; }
  TDigest PasswordCheck() const { return Digest(DataHeader::PasswordCheck); }
  std::uint32_t LocaleId() const { return U32(DataHeader::LocaleId); }
  std::uint16_t UserMajorVersion() const { return U16(DataHeader::UserMajorVersion); }
  std::uint16_t UserMinorVersion() const { return U16(DataHeader::UserMinorVersion); }
  bool PendingChanges() const { return U8(DataHeader::PendingChanges) != 0; }

private:
  std::array<std::uint8_t, DataHeader::Size> bytes_;
};

} // namespace nexora

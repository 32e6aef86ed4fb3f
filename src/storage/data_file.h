#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/md5.h"
#include "storage/buffered_file.h"
#include "storage/data_file_header.h"
#include "storage/data_file_owner.h"
#include "storage/field_def.h"

namespace nexora {

// What the structure check of a data file found first; None when nothing.
// Each problem but Locale is 8961 (NEXORA_HEADERCORRUPT); Locale is 15878.
enum class TStructureProblem : std::uint8_t {
  None,
  Locale,
  FieldNameBlank,
  FieldNameFirstCharacter,
  FieldNameTooLong,
  FieldNameDuplicate,
  FieldTypeUnknown,
  FieldLength,
  DefaultValue,
  MinimumValue,
  MaximumValue,
  FieldDecimals,
  FieldOffset,
  FieldNumber,
  RecordLength,    // record size is not the rounded running offset
  RecordAlignment, // the record area is not a whole number of records
  RecordCount,     // next physical record number is not records in the file + 1
  FreeRecord,      // free-record head outside 0 .. records in the file
  BlobFieldCount,  // only when checking for verification
};

struct TStructureCheck {
  TStructureProblem Problem = TStructureProblem::None;
  // 1-based position of the field for field-level problems, else 0.
  std::int32_t Field = 0;
  std::string FieldName;
  explicit operator bool() const { return Problem != TStructureProblem::None; }
};

// The verification text of a problem, e.g. "Invalid field offset for field
// Name in table header"; empty for None.
std::string StructureProblemMessage(const TStructureCheck &check);

// One table's data file: the 512-byte header, the field definitions (768
// bytes each, at offset 512) and the records, which are the buffers of its cache
// (record size R; record n at 512 + 768 x F + (n - 1) x R; n from 1 to the next
// physical record number - 1).
//
// Holds the header image (the pending-changes flag at image offset 197 is the live flag)
// and the definitions in memory from SetFieldDefs or OpenFile until CloseFile. Header
// values change in memory and reach the file at the next WriteHeader. Every failure
// raises the engine error with the owner's table and database names. Owned by the table
// object; used by its session's thread.
class TDataFile : public TBufferedFile {
public:
  // Signature text every engine accepts besides its own.

  TDataFile(TDataEngine &engine, std::string name, bool inMemory, TDataFileOwner &owner);
  ~TDataFile() override;

  // --- names in errors: the owner's
  std::string GetErrorName() const override;
  std::string GetErrorDatabaseName() const override;

  // --- file lifecycle
  // Creates the file; header image := zeros, version 6, the digest of the engine's
  // current signature text, next physical record number 1, pending-changes flag set.
  // No definitions until SetFieldDefs.
  void CreateFile() override;
  // Opens the file, clears image and definitions, ReadHeader, CheckHeader (12035,
  // 12036, 8961), then for an encrypted table the owner's MatchPassword (10498 when no
  // password matches), 15878 for a locale the system does not have, ReadFieldDefs and
  // ResetCache. Nothing when already open. A failure leaves the file closed.
  void OpenFile() override;
  // Frees the definitions and the cached buffers and closes the file.
  void CloseFile() override;

  // --- buffer geometry (buffers are records)
  // The cache's buffers are records.
  std::unique_ptr<TBuffer> NewBuffer() override;
  [[noreturn]] void RaiseCorrupt() const override; // 8962 NEXORA_FILECORRUPT
  // 9479 unless the record count is below the engine's maximum and the end offset is
  // within the maximum file size.
  void CheckGrowth() override;
  // Next physical record number + 1; sets the pending-changes flag.
  void AddBufferCount() override;
  // CacheLimit(MaxTableDataBufferSize, MaxTableDataBufferCount, 36).
  std::int32_t GetMaxBuffers() const override;
  // Half the current capacity, at least 1.
  std::int32_t GetDefaultReadAhead() const override;
  // How many records the reading cursor expects to need from the next miss on (see
  // SetReadAheadWanted), at most the default read-ahead; the default without a wish.
  std::int32_t GetReadAhead(TDataCursor *cursor, TReadDirection direction) override;
  // The reading cursor's wish for its next request; 0 withdraws it.
  void SetReadAheadWanted(std::int32_t count) { readAheadWanted_ = count; }
  std::int32_t GetBufferSize() const override;  // R
  std::int32_t GetPayloadSize() const override; // R
  std::int64_t GetFirstOffset() const override; // 512 + 768 x F
  std::int32_t GetBufferCount() const override; // next physical record number - 1
  std::uint32_t GetChangeCounter() const override;
  std::int32_t GetScanDepth() const override;  // 4
  std::int32_t GetGrowthStep() const override; // 64

  // --- header
  // Reads 512 bytes at offset 0 into the image (9217 when short); clears the
  // pending-changes flag.
  void ReadHeader() override;
  // When forced or changes are pending: change counter + 1, last-write time := now,
  // writes the image, marks the owner written, clears the flag; true. Else false.
  bool WriteHeader(bool force) override;
  // Change counter + 1 in memory, pending-changes flag set, owner marked written.
  void TouchHeader() override;
  // Truncates at the first record, then change counter, free-record head, last record
  // ID, last auto-increment value and record count := 0, next physical record number
  // := 1; pending-changes flag set. Definitions and other values stay.
  void EmptyFile() override;
  // The structure check: 15878 for an unavailable locale, 8961 for any other
  // problem CheckStructure finds.
  void VerifyStructure() override;
  // The header checks of opening: version byte not 6: 12035 below 7, else 12036; a
  // signature neither the engine's nor "NEXORA_SIG"'s: 12036; more than 1024 fields:
  // 8961.
  void CheckHeader() override;
  // Re-reads the header (clearing the pending-changes flag); whether the change counter
  // differs from the one held before.
  bool ReloadHeader() override;

  // The structure check without raising, first problem first. Recomputes each
  // definition's physical size and decimals in memory. With verification, also checks
  // the BLOB field count against the BLOB definitions.
  TStructureCheck CheckStructure(bool verification = false);

  // The header of a closed table, read through a fresh shared TEngineFile: 512 bytes at
  // offset 0. Version 7 or more: 12036; version 6: the signature rule (12036); below 6
  // (the older 127-byte header): its values mapped into a current image (OldDataHeader),
  // with the engine's signature digest, record count 0, index page size 4096 and a zero
  // password check value. Errors name the file as table.
  static TDataFileHeader ReadClosedHeader(TDataEngine &engine, const std::string &path, bool inMemory = false,
                                          const std::string &databaseName = {});

  // --- table creation and definitions
  // Stores the values and sets the pending-changes flag.
  void SetTableInfo(std::uint32_t localeId, std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
                    std::int32_t lastAutoInc, std::uint32_t blobBlockSize, std::uint32_t indexPageSize,
                    std::string_view description, const TDigest &passwordCheck, std::uint8_t encrypted);
  // Installs the definitions (already carrying physical sizes and record offsets) and
  // computes the record size: 9492 above 1024 definitions, 9498 at the 129th BLOB
  // field, 9477 when the rounded size exceeds 65534. Sets the pending-changes and
  // definitions-changed flags and resizes the cache.
  void SetFieldDefs(std::span<const TFieldDef> definitions);
  // The definition area (F x 768 bytes at 512) in one transfer; deciphered (reading) or
  // enciphered (writing) as one buffer with the owner's CryptoContext when the table is
  // encrypted (10498 when the owner has no key). WriteFieldDefs writes only when the
  // definitions changed, then flushes to disk when the owner forces flushes and clears
  // the definitions-changed flag.
  void ReadFieldDefs();
  void WriteFieldDefs();
  // -1 and -2: the system fields; 1 to F: the definition at that position; else null.
  const TFieldDef *GetFieldDef(std::int16_t number) const;
  // -1 and -2: the system fields; else the first definition whose stored field number
  // equals the number, or null.
  const TFieldDef *FindFieldDef(std::int16_t number) const;
  // "RecordID" and "RecordHash" first, then the definitions, names compared without
  // regard to case (SameFieldName); null when none.
  const TFieldDef *FindFieldDefByName(std::string_view name) const;
  // The field number of the named field (-1, -2 for the system fields); 0 when none.
  std::int16_t GetFieldNumber(std::string_view name) const;
  // Replaces, at position 1 to F, the field number, name, subtype, description,
  // required flag, minimum, maximum and default texts; sets the definitions-changed
  // flag. Type, sizes and offsets stay. 9985 for a position outside 1 to F.
  void AlterFieldDef(std::int32_t position, const TFieldDef &definition);
  std::span<const TFieldDef> FieldDefs() const { return fields_; }
  bool DefinitionsChanged() const { return definitionsChanged_; }
  static const TFieldDef &RecordIDFieldDef();
  static const TFieldDef &RecordHashFieldDef();

  // --- header values
  const TDataFileHeader &Header() const { return header_; }
  bool HeaderChanged() const { return header_.PendingChanges(); }
  std::uint8_t GetVersion() const { return header_.Version(); }
  std::uint16_t GetFieldCount() const { return header_.FieldCount(); }
  std::uint16_t GetBlobFieldCount() const { return header_.BlobFieldCount(); }
  std::uint16_t GetRecordSize() const { return header_.RecordSize(); }
  std::uint32_t GetBlobBlockSize() const { return header_.BlobBlockSize(); }
  std::uint32_t GetIndexPageSize() const { return header_.IndexPageSize(); }
  bool IsEncrypted() const { return header_.Encrypted(); }
  TDigest GetPasswordCheck() const { return header_.PasswordCheck(); }
  std::uint32_t GetLocaleId() const { return header_.LocaleId(); }
  std::uint16_t GetUserMajorVersion() const { return header_.UserMajorVersion(); }
  std::uint16_t GetUserMinorVersion() const { return header_.UserMinorVersion(); }
  std::string GetDescription() const { return header_.Description(); }
  // The local day count of the last header write: the stored value + 693594.0.
  double GetLastWriteTime() const;
  std::int32_t GetNextRecordNumber() const { return header_.NextRecordNumber(); }
  std::int32_t GetRecordCount() const { return header_.RecordCount(); }
  void IncRecordCount();
  void DecRecordCount();
  void SetRecordCount(std::int32_t count);
  std::int32_t GetLastRecordID() const { return header_.LastRecordID(); }
  void SetLastRecordID(std::int32_t id);
  // Last record ID + 1 (2147483647 is followed by 1), stored; pending flag set.
  std::int32_t NextRecordID();
  std::int32_t GetLastAutoInc() const { return header_.LastAutoInc(); }
  void SetLastAutoInc(std::int32_t value);
  std::uint32_t GetLastBlobID() const { return header_.LastBlobID(); }
  // Last BLOB ID + 1 (2147483647 is followed by 1), stored; pending flag set.
  std::int32_t NextBlobID();
  // The free-record head when not 0, else the next physical record number: the number
  // a new record takes.
  std::int32_t GetFreeRecord() const;
  // The free-record head as stored (0 = no deleted record waiting).
  std::int32_t GetFreeRecordHead() const { return header_.FreeRecordHead(); }
  void SetFreeRecord(std::int32_t record);

private:
  void SetPending() { header_.SetU8(DataHeader::PendingChanges, 1); }
  // ReadHeader, returning the bytes received (fewer than 512 only when allowed).
  std::int32_t ReadHeaderImage(bool allowShort);
  // Stores a signed header value and sets the pending flag, unless it is already stored.
  void SetHeaderI32(std::size_t offset, std::int32_t value);
  // The cipher context for the definition area: null when the table is not encrypted.
  void *DefinitionsContext() const;
  std::int64_t DefinitionAreaSize() const;

  TDataFileOwner &dataOwner_;
  std::int32_t readAheadWanted_ = 0;
  TDataFileHeader header_;
  std::vector<TFieldDef> fields_;
  bool definitionsChanged_ = false;
  // Scratch area of the definition transfers, released after each use.
  std::vector<std::uint8_t> scratch_;
};

} // namespace nexora

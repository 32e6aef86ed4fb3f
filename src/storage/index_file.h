#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/buffered_file.h"
#include "storage/index_def.h"
#include "storage/index_file_context.h"
#include "storage/index_file_format.h"
#include "storage/index_keys.h"
#include "storage/index_page.h"
#include "storage/text_index_words.h"

namespace nexora {

// A table's index file: the 512-byte header with the roots of the 32 index slots, the
// 24576-byte definition area and the pages of every index's B-tree, with the LIFO list
// of free pages and the full-text parameters. Owns its header and definition images and,
// through the buffered file, the page cache. The page size is taken from the context at
// create and open and stays fixed until the next one; the context and the cache owner
// must outlive the object. Used by the thread of the session that owns the table.
//
// Pages are reached through PinPage (tree pages) and PinRawPage (full-text parameters),
// which bind them to their index's geometry; AllocatePage and ReleasePage move pages
// between the trees and the free list. Every pinned page is given back with ReleaseBuffer.
//
// Errors (with the table and database names; index errors also with the index name, or
// "Primary"): 12035/12036 for a foreign version or signature, 8961 for a damaged header
// or definition (the failed rule in the error's detail), 8965 for a damaged page, page 0
// or a page of the wrong kind, the definition errors of AddIndex and AddPrimaryIndex, and
// the file layer's read and write errors.
class TIndexFile : public TBufferedFile {
public:
  TIndexFile(TDataEngine &engine, std::string name, bool inMemory, TBufferCacheOwner &owner,
             const TIndexFileContext &context);

  // Creates the file: header version 6, the engine's signature digest, next page 1,
  // definitions zero, changes pending (written by the next WriteHeader and WriteIndexDefs).
  void CreateFile() override;
  // Opens, reads and checks the header (more than 30 secondary indexes: 8961), reads the
  // definitions and sizes the cache; closed again when anything is refused.
  void OpenFile() override;
  // Frees the cache (unwritten pages are lost) and closes.
  void CloseFile() override;

  std::unique_ptr<TBuffer> NewBuffer() override;
  [[noreturn]] void RaiseCorrupt() const override;
  void AddBufferCount() override;
  std::int32_t GetMaxBuffers() const override;
  std::int32_t GetBufferSize() const override { return pageSize_; }
  std::int32_t GetPayloadSize() const override { return pageSize_ - PageHeaderSize; }
  std::int64_t GetFirstOffset() const override { return IndexFirstPageOffset; }
  std::int32_t GetBufferCount() const override { return NextPageNumber() - 1; }
  std::uint32_t GetChangeCounter() const override;
  std::int32_t GetScanDepth() const override { return IndexScanDepth; }
  std::int32_t GetGrowthStep() const override { return IndexGrowthStep; }
  std::int32_t GetDefaultReadAhead() const override { return 1; }
  std::int32_t GetReadAhead(TDataCursor *cursor, TReadDirection direction) override;
  // Reads the 512-byte header, deciphered, and clears the pending-changes flag.
  void ReadHeader() override;
  // When forced or pending: counts the write, writes the header (enciphered), marks the
  // table written and clears the flag. Whether it wrote.
  bool WriteHeader(bool force) override;
  void TouchHeader() override;
  // Truncates after the definition area, frees the cache and resets the header: version
  // 6, change counter 0, next page 1, no free page, every root and data root 0; the
  // definitions stay.
  void EmptyFile() override;
  // 8961 (detail: the failed rule) unless the free-page head, every definition of slots
  // 0 to count and slot 31 hold the structural rules.
  void VerifyStructure() override;
  // Version and signature: 12035 for an older version, 12036 for a newer one or a
  // foreign signature.
  void CheckHeader() override;
  bool ReloadHeader() override;

  // --- definitions
  // Reads slots 0 to count and slot 31 from the definition area, deciphered.
  void ReadIndexDefs();
  // When forced or changed: writes slots 0 to count and slot 31 (the rest zero), enciphered;
  // flushes when the session forces flushes. Whether it wrote.
  bool WriteIndexDefs(bool force);
  const TIndexDef &IndexDef(std::int32_t slot) const;
  bool IndexDefsChanged() const { return defsChanged_; }
  // Slot 0 holds a primary index given by the table's creator (not the default one).
  bool HasUserPrimaryIndex() const;
  // 9993 when a user primary index exists, 9487 beyond 128 key fields, 12292 for a BLOB
  // key field, 10038 for an unknown one, 10026 for a key length outside 1 to the page's
  // limit. Slot 0 takes the definition with an empty name and its computed key length.
  void AddPrimaryIndex(const TIndexDef &def);
  // 9487 with 30 secondary indexes or beyond 128 key fields, 10010 for an empty name, 10022
  // for an invalid first character, 10027 for a name in use, then the key checks of
  // AddPrimaryIndex. The definition goes into slot count + 1 with its computed key length.
  void AddIndex(const TIndexDef &def);
  // Replaces a slot (0 to 31) directly, zeroing bytes 516 and 518 on; its root becomes 0.
  void SetIndexDef(std::int32_t slot, const TIndexDef &def);
  // Slots 1 to count: later slots and their roots move down. Slot 0: the default primary
  // index is restored when a user primary index exists. 10022 for any other slot.
  void DeleteIndex(std::int32_t slot);
  // Copies name, key field numbers and per-field descending bytes into slot 0 to count.
  void RenameIndex(std::int32_t slot, const TIndexDef &def);
  // Any of slots 0 to count has that name (without regard to case).
  bool FindIndexName(std::string_view name) const;
  // The default primary index: empty name, on "RecordID" alone, unique, key length 5.
  static TIndexDef DefaultPrimaryIndexDef();
  // The full-text definition of slot 31 over the given string or memo fields: "Sys Text",
  // key length 68, full compression, full-text flag set.
  static TIndexDef TextIndexDef(const std::vector<std::int16_t> &fieldNumbers);
  // The key layout of a slot; 8961 when its definition cannot give one.
  TKeyLayout KeyLayout(std::int32_t slot) const;
  // The geometry pages of that slot are packed with (zero for a number that is no slot).
  TPageGeometry PageGeometry(std::int32_t indexNumber) const;

  // --- roots and counters (each setter given a new value sets the pending-changes flag)
  std::int32_t Root(std::int32_t slot) const;
  void SetRoot(std::int32_t slot, std::int32_t page);
  std::int32_t DataRoot(std::int32_t slot) const;
  void SetDataRoot(std::int32_t slot, std::int32_t page);
  std::int32_t FreePageHead() const;
  void SetFreePageHead(std::int32_t page);
  std::int32_t SecondaryCount() const;
  void SetSecondaryCount(std::int32_t count);
  std::int32_t NextPageNumber() const;
  std::int32_t PageSize() const { return pageSize_; }
  // The header as it stands in memory, in clear.
  const std::array<std::uint8_t, IndexHeaderSize> &HeaderImage() const { return header_; }

  // --- pages
  // Page n of the tree of index indexNumber, pinned and unpacked: 8965 for page 0, a page
  // beyond the file, a kind that is not a tree kind or entries that do not fit the
  // index. Null when the table changed under the cursor.
  TPage *PinPage(TDataCursor *cursor, std::int32_t indexNumber, std::int32_t n, bool readAhead = false,
                 TReadDirection direction = TReadDirection::None);
  // Page n of the full-text parameters chain, pinned: 8965 unless it is a raw page.
  TPage *PinRawPage(std::int32_t n);
  // The free-page head, or a new page at the end, pinned and cleared for the index.
  TPage *AllocatePage(std::int32_t indexNumber);
  // Gives a pinned page to the free list (the caller still releases it).
  void ReleasePage(TPage &page);

  // --- full-text parameters (slot 31's data root)
  // The stored parameters, the defaults when slot 31's data root is 0; 8965 for a
  // damaged chain.
  TTextIndexParams ReadTextIndexParams();
  // Stores them over the chain from slot 31's data root, allocating and linking raw pages
  // as needed (the data root is set when there was none).
  void WriteTextIndexParams(const TTextIndexParams &params);

private:
  friend class TPage;

  // Takes the page size from the context: 8961 outside 1024 to 16384.
  void TakePageSize();
  void SetHeaderInt(std::size_t offset, std::int32_t value);
  std::int32_t HeaderInt(std::size_t offset) const;
  void SetPending() { header_[IndexPendingOffset] = 1; }
  bool IsValidPage(std::int32_t n) const { return n >= 1 && n < NextPageNumber(); }
  void CheckSlot(std::int32_t slot, std::int32_t last) const;
  // The key length of a new definition, after the field checks; raises as AddPrimaryIndex.
  std::uint16_t CheckNewKey(const TIndexDef &def, std::string_view errorName) const;
  void SetSlot(std::int32_t slot, const TIndexDef &def);
  [[noreturn]] void RaiseIndexError(TErrorCode code, std::string_view indexName) const;
  [[noreturn]] void RaiseStructure(const std::string &detail) const;
  void VerifyDefinition(std::int32_t slot) const;
  void VerifyTextIndexDefinition() const;
  void *Cipher() const { return CacheOwner().CryptoContext(); }
  // A P-byte area for deciphering a page image before it is split.
  std::uint8_t *ImageArea();

  const TIndexFileContext &context_;
  std::int32_t pageSize_ = IndexMinPageSize;
  std::array<std::uint8_t, IndexHeaderSize> header_{};
  std::array<TIndexDef, IndexSlotCount> defs_{};
  bool defsChanged_ = false;
  std::vector<std::uint8_t> imageArea_;
};

} // namespace nexora

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cursor/blob_buffer.h"
#include "cursor/cursor_filter.h"
#include "engine/engine_hooks.h"
#include "engine/error_codes.h"
#include "storage/buffered_file.h"
#include "storage/counted_tree.h"
#include "storage/data_directory.h"
#include "storage/index_keys.h"
#include "storage/new_record.h"
#include "support/records_bitmap.h"
#include "support/safe_object.h"

namespace nexora {

// One user's handle on one table: the table name and open options, the active index, the
// position in it, a private copy of the current record and the write path that keeps every
// index in step. Files, caches and table-wide counters belong to the shared TDataTable of
// the cursor's directory; other sessions and processes are met only through the files, the
// change counters and the locks.
//
// Position: in index order the ordinal of the current key among all keys of the active
// index, the leaf page holding it and its slot there; in natural order (index 255) the
// physical record number within the records bitmap. BOF set alone means the cursor stands
// before its first visible record, EOF set alone after its last one, both set that there
// is none.
//
// Every public operation runs between BeginOperation (change detection, strict or lazy by
// the session) and EndOperation (the read lock taken for it is released), also when it
// fails; a walk that finds the table changed by another party re-finds its position and
// starts again.
//
// Requires its directory to outlive it; used by the thread of its session. Raises 10022 for
// an unknown index name, 9985 for a field number out of range, 11013 for a write on a
// read-only cursor, 9729 to 9732 and 8708 from the write checks, 8965 for a damaged index,
// and whatever the table object, its files and its locks raise. Next, Prior and
// GetCurrentRecord return their end statuses instead of raising them.
class TDataCursor : public TSafeObject {
public:
  static constexpr std::uint8_t NaturalOrder = 255;
  static constexpr std::uint8_t NoIndexChosen = 128;

  explicit TDataCursor(TDataDirectory &directory);
  // Closes the cursor.
  ~TDataCursor() override;
  TDataCursor(const TDataCursor &) = delete;
  TDataCursor &operator=(const TDataCursor &) = delete;

  // --- lifecycle (data_cursor_lifecycle.cpp)
  // Keeps the bare name: no directory part, no data extension, at most 60 characters.
  void SetTableName(std::string_view name);
  const std::string &TableName() const { return tableName_; }
  void SetExclusive(bool value) { exclusive_ = value; }
  bool Exclusive() const { return exclusive_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool ReadOnly() const { return readOnly_; }
  bool ForcedReadOnly() const { return forcedReadOnly_; }
  // Open in natural order instead of the primary index.
  void SetNaturalOrderAtOpen(bool value) { naturalOrderAtOpen_ = value; }
  // Open without the structure checks of the table's files, so that verification and
  // repair tools can open a damaged table (on by default).
  void SetCheckStructure(bool value) { checkStructure_ = value; }
  bool IsOpen() const { return open_; }
  // Opens the table, rebuilds a lost index file, chooses the primary index (or natural
  // order) and stands before the first record. A failure leaves the cursor closed.
  void Open();
  void Close();
  void SetIndexName(std::string_view name);
  void SetIndexNumber(std::uint8_t number);
  // Makes the index active without repositioning.
  void AssignIndex(std::uint8_t number);
  void LoadIndexInfo();
  std::uint8_t IndexNumber() const { return indexNumber_; }
  const std::string &IndexName() const { return indexName_; }
  // The table's BLOB block size; read from the data file header when the cursor is closed.
  std::int32_t GetBlobBlockSize();
  // Raises a nonzero code with the cursor's table name and the directory's name.
  void RaiseIfError(TErrorCode code, const std::string &detail = {}) const;
  TDataDirectory &Directory() const { return directory_; }
  TDataTable &Table() const { return *table_; }
  std::uint16_t FieldCount() const { return fieldCount_; }
  std::uint16_t RecordSize() const { return recordSize_; }
  const TFieldDef &FieldDef(std::int16_t number) const;
  // "table.field" of field 1 to FieldCount(), cut to 100 characters: the origin the table
  // component shows for the field.
  const std::string &FieldOrigin(std::int16_t number) const;

  // --- navigation (data_cursor_navigation.cpp)
  void First();
  void Last();
  // 0 with the record copied into buffer (when given); 8706 (Next) or 8705 (Prior) at the
  // end, with buffer zeroed.
  TErrorCode Next(std::uint8_t *buffer = nullptr);
  TErrorCode Prior(std::uint8_t *buffer = nullptr);
  std::int32_t GetRecordCount();
  // 1-based within the range; 0 without a position (always in natural order).
  std::int32_t GetRecNo();
  // True when the cursor landed on that number; below 1 ends on BOF, past the count on EOF.
  bool SetRecNo(std::int32_t recNo);
  std::uint16_t GetBookmarkSize() const;
  std::vector<std::uint8_t> GetBookmark() const;
  // True when the cursor stands on the bookmark's record (always with acceptNearest).
  bool GotoBookmark(std::span<const std::uint8_t> bookmark, bool acceptNearest);
  int CompareBookmarks(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const;
  // Positions on the key, or with nearest on the first key not less than it; exact match.
  bool FindKey(const std::uint8_t *key, bool nearest);
  // The active index's key of a record image (key-length bytes).
  std::vector<std::uint8_t> BuildKey(std::span<const std::uint8_t> image) const;
  int CompareKeys(const std::uint8_t *a, const std::uint8_t *b, std::int32_t length) const;
  // Restricts the cursor to the keys from start to end: each given as key bytes
  // (keysGiven) or as a record image to build the key from, or null for no bound. Only the
  // first fieldCount key fields count when fieldCount is 1 to the key field count - 1 (or,
  // in a non-unique index, any count; 0 there means all fields): the rest of the key is
  // filled so that every key with those leading fields lies in the range.
  void SetRange(bool keysGiven, const std::uint8_t *start, std::int32_t startFieldCount, const std::uint8_t *end,
                std::int32_t endFieldCount);
  void CancelRange();
  bool RangeActive() const { return rangeActive_; }
  // --- filters (data_cursor_filters.cpp): records every filter accepts stay visible
  void AddFilter(std::shared_ptr<TCursorFilter> filter);
  void ClearFilters();
  // Whether moves use the sorted list of the visible records' keys instead of the index
  // pages (few records pass the filters).
  bool UsesKeyList() const { return keyListIndex_ == indexNumber_ && indexNumber_ != NaturalOrder; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  std::int32_t KeyLength() const { return layout_.KeyLength; }
  // Read-ahead decisions taken on cache misses during moves, and the records they asked for.
  std::int32_t ReadAheadDecisions() const { return readAheadDecisions_; }
  std::int32_t ReadAheadRequested() const { return readAheadRequested_; }

  // --- retrieval and change detection (data_cursor_retrieval.cpp)
  void BeginOperation();
  void EndOperation();
  void SaveChangeCounters();
  bool CountersChanged() const;
  void Resynchronize();
  // Strict detection now, then the end of that operation.
  void Refresh();
  // 0 with the record copied into buffer; 8705, 8706 or 8709 (no record either way) with
  // buffer zeroed. With lockForEdit the record is checked (and locked under the
  // pessimistic protocol) for an edit; a changed or deleted record raises 8708.
  TErrorCode GetCurrentRecord(std::uint8_t *buffer, bool lockForEdit);
  // The current record copy (zeros when there is none).
  std::span<const std::uint8_t> CurrentRecord() const { return current_; }
  // Reads field 1 to FieldCount() of an image: whether it is null, and its value bytes
  // (4 for a BLOB reference), copied also when null. 9985 for another number.
  bool GetField(std::int16_t number, std::span<const std::uint8_t> image, std::vector<std::uint8_t> &value) const;
  // Writes a field into an image by the field layer's rules (strings cut, trimmed and
  // cased); no value makes it null. 9985 for a number outside 1 to FieldCount().
  void SetField(std::int16_t number, std::span<std::uint8_t> image,
                std::optional<std::span<const std::uint8_t>> value) const;

  // --- BLOBs (data_cursor_blobs.cpp); field n's slot in the caller's record image
  static constexpr std::size_t MaxOpenBlobs = 128;
  // Opens (or opens once more) the value and returns its size. The whole value is loaded;
  // a chain rewritten by another party makes the record be read again into the image.
  std::int32_t OpenBlob(std::int16_t number, std::span<std::uint8_t> image, TBlobMode mode, bool temporary = false);
  // Bytes copied from the value at offset (fewer at its end).
  std::int32_t ReadBlob(std::int16_t number, std::span<const std::uint8_t> image, std::int32_t count,
                        std::uint8_t *destination, std::int32_t offset);
  void WriteBlob(std::int16_t number, std::span<std::uint8_t> image, std::int32_t count, const std::uint8_t *source,
                 std::int32_t offset);
  void TruncateBlob(std::int16_t number, std::span<std::uint8_t> image, std::int32_t size);
  std::int32_t GetBlobLength(std::int16_t number, std::span<const std::uint8_t> image);
  // Drops one handle; the last one frees the value (unwritten changes are lost) and puts
  // the first block number back into the slot.
  void CloseBlob(std::int16_t number, std::span<std::uint8_t> image);
  // Frees every open value, or only the temporary ones.
  void FreeBlobs(bool all);
  // Closes every value of the image that is open and not modified, or temporary.
  void CloseRecordBlobs(std::span<std::uint8_t> image);
  std::size_t OpenBlobCount() const { return blobs_.size(); }

  // --- writing (data_cursor_writing.cpp)
  // An image with the fields' defaults (record-size bytes).
  std::vector<std::uint8_t> InitNewRecord() const;
  void ClearRecord(std::span<std::uint8_t> image) const;
  // A copy of the current record for a new one: every non-null value but auto-increment
  // fields, BLOB values as new temporary values of the image; 8709 without a current record.
  TErrorCode CopyCurrentRecord(std::span<std::uint8_t> image);
  // Adds the record; the caller's image receives the physical record number.
  void InsertRecord(std::span<std::uint8_t> image, bool reposition = true);
  // Replaces the current record with the image; wasLocked: the edit began with
  // GetCurrentRecord(lockForEdit), whose record lock is released here.
  void ModifyRecord(std::span<std::uint8_t> image, bool wasLocked, bool reposition = true);
  // Deletes the current record; image is the caller's copy of it (checked against it).
  void DeleteRecord(std::span<const std::uint8_t> image, bool reposition = true);
  void CancelEdit();

private:
  // --- lifecycle helpers
  void CloseOnFailure();
  void LoadFieldDescriptors();
  void RebuildLostIndex();
  std::int32_t IndexCount() const;
  // --- positions
  TCountedTree Tree();
  void SetNoRecords();
  void StandOnKey(std::int64_t ordinal, const TKeyPath &path, const std::uint8_t *key, std::int32_t recordNumber);
  void SeekFirstKey();
  void SeekLastKey();
  // Steps by keys (index order) or bitmap bits (natural order) without reading.
  void MoveBy(std::int32_t steps);
  bool RecordVisible() const;
  void SkipInvisible(TReadDirection direction);
  void Reposition();
  bool FindKeyPositioned(const std::uint8_t *key, bool nearest, bool keepCracks);
  void RebuildSets();
  void StandOnOrdinal(std::int64_t ordinal);
  // A leaf page of the active index, pinned; a page the cache could not give because the
  // table changed, or one left without keys, throws ETableChanged (the walk restarts).
  TPinnedPage PinLeaf(std::int32_t pageNumber);
  // Copies record n's stored image (read ahead in that direction on a miss). A request the
  // cache refuses because another party changed the table is asked once more, and then
  // reads the file; a second refusal throws ETableChanged.
  void ReadRecordImage(std::int32_t number, TReadDirection direction, std::span<std::uint8_t> image);
  // With filters, moves on from a key whose record they hide (step +1 or -1); false, with
  // no records left, when none is visible that way.
  bool SettleOnFilteredRecord(std::int32_t step);
  // How many records a move in that direction will read from the current one on: in index
  // order the leaf's entries whose record numbers continue it one by one, in natural order
  // the bitmap's records ahead across short gaps; at most the data file's read-ahead.
  std::int32_t ReadAheadCount(TReadDirection direction);
  // --- ranges (data_cursor_ranges.cpp)
  std::vector<std::uint8_t> RangeKey(const std::uint8_t *source, bool keysGiven, std::int32_t fieldCount, bool high);
  void ClearRange();
  void ComputeRangeBounds();
  // --- filters
  bool Filtered() const { return !filters_.empty(); }
  void ComputeFilterBitmap();
  // Clears the bits of records whose keys lie outside the range.
  void RestrictBitmapToRange();
  void BuildKeyList();
  void StandOnKeyListEntry(std::int32_t position);
  bool FindInKeyList(const std::uint8_t *key, bool nearest);
  std::int32_t RecordCount() const;
  std::int32_t RecNo() const;
  // Copies the current record into buffer (when given) for status 0, else zeroes it.
  TErrorCode DeliverRecord(std::uint8_t *buffer, TErrorCode status) const;
  // The physical record number of the position, 0 when there is none.
  std::int32_t CurrentRecordNumber() const;
  std::int32_t PhysicalRecordCount() const;
  std::int32_t TableRecordCount() const;
  // Runs a walk, re-finding the position and starting again when the table changed.
  template <typename TWalk> auto Walk(TWalk &&walk);
  // Runs an operation between BeginOperation and EndOperation.
  template <typename TBody> auto Operation(TBody &&body);
  // --- retrieval helpers
  void ReadCurrentRecord(TReadDirection direction);
  bool DetectChangesStrict();
  bool SkipsChangeDetection() const { return exclusive_ || forcedReadOnly_; }
  // --- writing helpers
  template <typename TWrite>
  void WriteFrame(TTriggerKind before, TTriggerKind after, TErrorHookKind errorKind, std::int32_t recordNumber,
                  std::uint8_t *newImage, TWrite &&write);
  template <typename TWrite> void WithWriteLock(TWrite &&write);
  bool LockForWrite(std::int32_t recordNumber);
  // Runs body holding the record lock (taken unless already held, released after).
  template <typename TBody> void WithRecordLock(std::int32_t recordNumber, TBody &&body);
  void WriteModified(std::span<std::uint8_t> image, std::int32_t number);
  // The open value whose handle the slot holds, or null (also when it holds a block number).
  TBlobBuffer *FindBlob(std::int32_t reference) const;
  // 10030 unless the slot holds a handle of this cursor.
  TBlobBuffer &ResolveBlob(std::int16_t number, std::span<const std::uint8_t> image);
  void LoadBlob(TBlobBuffer &buffer, std::int16_t number, std::span<std::uint8_t> image);
  void StoreHandle(const TBlobBuffer &buffer, std::span<std::uint8_t> image) const;
  void FreeBlob(const TBlobBuffer &buffer);
  // Registers a value under a new handle and stores the handle in the image's slot.
  void AddBlob(std::unique_ptr<TBlobBuffer> buffer, std::span<std::uint8_t> image);
  // Writes the modified values the image's slots hold and puts first block numbers and
  // BLOB IDs back into the slots, freeing those values; every value must belong to the
  // record.
  void WriteRecordBlobs(std::span<std::uint8_t> image, std::int32_t recordNumber);
  // Frees the chains of the image's BLOB values, each under a new BLOB ID.
  void FreeRecordBlobChains(std::span<const std::uint8_t> image);
  // --- the text index (data_cursor_text_index.cpp)
  struct TFieldWords {
    std::int16_t Field = 0;
    std::vector<std::string> Words;
  };
  // A string field's text, or a memo's stored value.
  std::string FieldText(const TFieldDef &def, std::span<const std::uint8_t> image);
  // The indexed words of each field of the text index, in the definition's order.
  std::vector<TFieldWords> TextIndexWords(std::span<const std::uint8_t> image);
  void UpdateTextIndex(const std::vector<TFieldWords> &oldWords, const std::vector<TFieldWords> &newWords,
                       std::int32_t oldRecordID, std::int32_t newRecordID, std::int32_t recordNumber);
  void CheckUniqueKeys(std::span<const std::uint8_t> image, std::span<const std::uint8_t> oldImage);
  void FinishWrite(bool reposition);
  TNewRecordTable NewRecordTable() const;

  TDataDirectory &directory_;
  TDataTable *table_ = nullptr;
  std::string tableName_;
  std::uint32_t counters_[3] = {0, 0, 0};
  bool open_ = false;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool forcedReadOnly_ = false;
  bool naturalOrderAtOpen_ = false;
  bool checkStructure_ = true;
  std::vector<TFieldDef> fields_;
  std::vector<std::string> origins_;
  std::uint16_t fieldCount_ = 0;
  std::uint16_t recordSize_ = 0;
  bool hasAutoInc_ = false;
  bool hasConstraints_ = false;
  bool hasDefaults_ = false;
  // Record images: the current record, the saved copy of an edit.
  std::vector<std::uint8_t> current_;
  std::vector<std::uint8_t> saved_;
  // Position.
  std::int64_t ordinal_ = 0;
  std::int32_t leafPage_ = 0;
  std::int32_t slot_ = 0;
  std::vector<std::uint8_t> currentKey_;
  std::int32_t keyRecordNumber_ = 0;
  std::int32_t physical_ = 0;
  bool bof_ = false;
  bool eof_ = false;
  std::int64_t firstBound_ = 0;
  std::int64_t lastBound_ = 0;
  TRecordsBitmap bitmap_;
  // The active index.
  std::uint8_t indexNumber_ = NoIndexChosen;
  std::string indexName_;
  bool indexUnique_ = false;
  TKeyLayout layout_{};
  bool rangeActive_ = false;
  std::vector<std::uint8_t> rangeStart_;
  std::vector<std::uint8_t> rangeEnd_;
  std::vector<std::unique_ptr<TBlobBuffer>> blobs_;
  std::int32_t lastBlobHandle_ = 0;
  std::vector<std::shared_ptr<TCursorFilter>> filters_;
  std::int32_t visibleCount_ = 0;
  std::vector<std::vector<std::uint8_t>> keyList_;
  std::uint8_t keyListIndex_ = NoIndexChosen;
  std::int32_t keyListPosition_ = -1;
  std::int32_t readAheadDecisions_ = 0;
  std::int32_t readAheadRequested_ = 0;
};

} // namespace nexora

#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "engine/data_password.h"
#include "storage/blob_file.h"
#include "storage/data_file.h"
#include "storage/index_file.h"
#include "storage/table_definition.h"

namespace nexora {

class TDataDirectory;
class TDataSession;
class TDataTableLocks;

// How a table is opened.
struct TTableOpenMode {
  bool Exclusive = false;
  bool ReadOnly = false;
  // A temporary table: temporary extensions, files deleted when last closed.
  bool Temporary = false;
};

// One open table of one database directory of one session: its data, index and BLOB
// files with their caches, the password whose key enciphers it, and its lock state. It is
// shared by every cursor of the directory that opens the table, and it is the owner the
// three files report to (password, transaction state, flush and change-detection policy).
//
// Files: the directory path + the table name with each file's extension (a data extension
// on the name is replaced, any other kept). Other sessions and processes see this table's
// changes through the data file's change counter, which every change moves; this object
// looks at theirs whenever it newly takes a table-level lock (CheckFilesChanged).
//
// A table opened exclusively or whose files could only be opened for reading has no lock
// entry and takes no locks at all; exclusivity then rests with the system's sharing modes.
//
// Owned by its directory; requires the directory, its session and the engine to outlive
// it. Used by the thread of its session. Raises the errors of the files and their header
// checks unchanged, 10498 and 10015 for passwords, and the lock errors 10225 to 10230,
// 10241, 10242 and 10258.
class TDataTable : public TDataFileOwner, public TIndexFileContext, public TBlobFileContext {
public:
  TDataTable(TDataDirectory &directory, std::string tableName, TTableOpenMode mode = {});
  // Closes the table (uncounted); failures while closing are dropped.
  ~TDataTable() override;
  TDataTable(const TDataTable &) = delete;
  TDataTable &operator=(const TDataTable &) = delete;

  // --- lifecycle
  // Counted opens add a use. The table is read-only when asked, when a file could only be
  // opened for reading, or when its directory has no usable lock file. A missing or unreadable index file is replaced
  // by an empty one (IndexesLost()). Takes the table's lock entry unless exclusive or read-only, and re-reads the
  // headers under the table read lock, with the structure checks when asked. Any failure closes the table again and
  // passes on.
  void OpenTable(bool counted, bool checkStructure);
  // Counted closes drop a use. The files stay open while the table is in a transaction,
  // still used, or kept open by its directory (unless exclusive or uncounted); otherwise
  // pending changes of an exclusive table are written (discarded for a temporary table
  // when asked), every lock is released and the files close.
  void CloseTable(bool discardTemporary, bool uncounted);
  // Creates the three files (the BLOB file only with BLOB fields) after the definition
  // checks, leaving the table open with one use. A failure removes every file this call
  // created and leaves the table closed.
  void CreateTable(const TTableDefinition &definition);
  // Deletes the data and index files and the BLOB file when it exists; requires the table
  // to be closed.
  void DeleteTable();
  // Renames each existing file to the new table name with the same extension, or with
  // keepBackup to the backup extensions (replacing files of those names); requires the
  // table to be closed.
  void RenameTable(const std::string &newName, bool keepBackup);
  // Empties every open file and discards the caches.
  void EmptyTable();

  // --- changes
  // Writes out what an operation changed (see the class comment for the change counter);
  // only marks the headers in a transaction; nothing for a read-only table.
  void WriteChanges(bool trim, bool forceData, bool forceFlush, bool forceBlob, bool forceIndex);
  // Drops every cached buffer, optionally trims, re-reads the headers and the index
  // definitions.
  void DiscardChanges(bool trim, bool rereadHeaders, bool rereadIndexDefs);
  // Whether another party moved the data file's change counter; if so every cache is
  // emptied and the index and BLOB headers re-read.
  bool CheckFilesChanged();
  // Asks the system to write the open files to disk, unless read-only or the session
  // already flushes every change.
  void FlushToDisk();

  // --- locks (no-ops without a lock entry)
  // Each "Begin" returns whether the table's files had changed (caches then emptied).
  bool BeginRead();
  void EndRead();
  bool BeginWrite();
  void EndWrite();
  bool LockRecord(std::int32_t recordNumber);
  void UnlockRecord(std::int32_t recordNumber);
  void UnlockAllRecords(bool deferredOnly);
  bool LockTable();
  void UnlockTable();
  bool LockSemaphore(std::int32_t number);
  bool UnlockSemaphore(std::int32_t number);
  bool RecordLocked(std::int32_t recordNumber) const { return heldRecords_.contains(recordNumber); }
  bool RecordUnlockDeferred(std::int32_t recordNumber) const { return deferredRecords_.contains(recordNumber); }
  bool TableLockHeld() const { return tableLockHeld_; }

  // --- the table's part of its directory's transactions
  void StartTransaction(bool restricted);
  // Writes out the changes; restricted: under the table's own write lock, releasing its
  // transaction byte afterwards. Finally releases the deferred locks.
  void Commit(bool restricted);
  void Rollback(bool restricted);

  // --- passwords and encryption
  // Makes the session's password with that text the table's password and returns its
  // enciphered digest, the check value a new table stores.
  TDigest SetPassword(const std::string &password);
  bool MatchPassword(const TDigest &passwordCheck) override;
  void EncryptBuffer(void *bytes, std::int32_t length);
  void DecryptBuffer(void *bytes, std::int32_t length);

  // --- state
  TDataDirectory &Directory() const { return directory_; }
  TDataSession &Session() const;
  TDataEngine &Engine() const;
  const std::string &Name() const { return tableName_; }
  void SetDisplayName(std::string name) { displayName_ = std::move(name); }
  bool IsOpen() const { return open_; }
  bool Exclusive() const { return mode_.Exclusive; }
  bool ReadOnly() const { return mode_.ReadOnly; }
  bool ForcedReadOnly() const { return forcedReadOnly_; }
  bool Temporary() const { return mode_.Temporary; }
  bool IndexesLost() const { return indexesLost_; }
  // The first cursor rebuilt the lost index file.
  void IndexesRebuilt() { indexesLost_ = false; }
  std::int32_t UseCount() const { return useCount_; }
  TDataTableLocks *LockEntry() const { return lockEntry_; }
  bool HasBlobFields() const { return dataFile_.GetBlobFieldCount() > 0; }
  TDataFile &DataFile() { return dataFile_; }
  TIndexFile &IndexFile() { return indexFile_; }
  TBlobFile &BlobFile() { return blobFile_; }
  // The full name of the file with that extension.
  std::string FileName(const std::string &extension) const;
  // The same for any table name of a directory: the directory path + the name, its data
  // extension (without regard to case) replaced by the extension, any other kept.
  static std::string FileNameFor(const TDataDirectory &directory, std::string_view tableName,
                                 const std::string &extension, bool temporary = false);
  // The name the lock file lists the table under: without path and data extension.
  std::string LockName() const;

  // --- TDataFileOwner / TBufferCacheOwner
  std::string TableName() const override;
  std::string DatabaseName() const override;
  void *CryptoContext() const override;
  bool InTransaction() const override { return inTransaction_; }
  bool OpenedExclusively() const override { return mode_.Exclusive; }
  bool WrittenSinceFlush() const override { return writtenSinceFlush_; }
  void MarkWritten() override { writtenSinceFlush_ = true; }
  bool ForceFlush() const override;
  bool StrictChangeDetection() const override;
  // The cache's check on a miss: the table read lock, newly taken, finding others' changes.
  bool TableChangedFor(TDataCursor *cursor) override;

  // --- TIndexFileContext / TBlobFileContext
  std::int32_t IndexPageSize() const override { return static_cast<std::int32_t>(dataFile_.GetIndexPageSize()); }
  std::uint32_t LocaleId() const override { return dataFile_.GetLocaleId(); }
  const TFieldDef *FieldDef(std::int16_t number) const override;
  std::int32_t FieldCount() const override { return dataFile_.GetFieldCount(); }
  std::int32_t BlobBlockSize() const override { return static_cast<std::int32_t>(dataFile_.GetBlobBlockSize()); }

private:
  static std::string_view NameWithoutDataExtension(const TDataEngine &engine, std::string_view tableName,
                                                   bool temporary);
  // Names the three files and sets their options; temporary only when opening.
  void SetFileNames(bool opening);
  // Step of OpenTable: opens the index file, replacing a missing or unreadable one.
  void OpenIndexFile();
  void CreateFiles(const TTableDefinition &definition);
  void CloseFiles();
  // Writes one file's pending buffers and header; whether anything was written.
  bool WriteFileChanges(TBufferedFile &file, bool forceHeader, bool forceFlush, bool trim);
  // Releases every lock this table holds (record, table, semaphores, read, write).
  void ReleaseAllLocks();
  bool SessionReadLocksOnDemand() const;
  void SleepLockWait() const;
  bool LockDataRange(std::int64_t offset, std::int64_t length);
  // With the session's retries, LockWaitTime apart; false after the last.
  bool LockDataRangeRetrying(std::int64_t offset, std::int64_t length);
  bool UnlockDataRange(std::int64_t offset, std::int64_t length);
  [[noreturn]] void RaiseTableError(std::int32_t code) const;

  TDataDirectory &directory_;
  std::string tableName_;
  std::string displayName_;
  TTableOpenMode mode_;
  std::int32_t useCount_ = 0;
  bool open_ = false;
  bool forcedReadOnly_ = false;
  bool indexesLost_ = false;
  bool inTransaction_ = false;
  bool writtenSinceFlush_ = false;
  TDataTableLocks *lockEntry_ = nullptr;
  std::set<std::int32_t> heldRecords_;
  std::set<std::int32_t> deferredRecords_;
  bool tableLockHeld_ = false;
  bool tableLockDeferred_ = false;
  std::set<std::int32_t> semaphores_;
  TBorrowedPassword password_;
  TDataFile dataFile_;
  TIndexFile indexFile_;
  TBlobFile blobFile_;
};

} // namespace nexora

#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/session_directory.h"
#include "storage/data_table.h"
#include "storage/directory_locks.h"

namespace nexora {

// A database directory opened by a local session: the session's table objects of that
// directory (sorted by name, without regard to case), the lock-file manager and the
// directory's transactions. The directory is read-only when no writable lock file could be
// had; its tables then open and read without locks, and creating, renaming or deleting a
// table raises 11013.
//
// Owned by its session (OpenDirectory / TDataSession::CloseDirectory); the last close
// rolls back an open transaction and closes every table and the lock file. Used by the
// thread of its session. Raises 11013 for conflicting opens and for changes in a read-only
// directory, and passes on what the tables, the lock manager and the files raise.
class TDataDirectory : public TSessionDirectory {
public:
  // Opens the lock file (in memory for the "Memory" database).
  TDataDirectory(TDataSession &session, std::string path, std::string_view databaseName);
  ~TDataDirectory() override;

  // The path without its trailing separator; error messages name the directory by it.
  std::string GetDisplayName() const;
  bool ReadOnly() const { return readOnly_; }
  TDataDirectoryLocks &Locks() { return *locks_; }
  // The names of the data files in the directory (or among the memory files), without
  // extension, sorted.
  std::vector<std::string> ListTables() const;

  // --- the table registry
  // The table object of that name, or null.
  TDataTable *FindTable(std::string_view tableName) const;
  // Opens the table (counted) or adds a use of the table already open here; 11013 when
  // either this request or the open table is exclusive.
  TDataTable &OpenTable(std::string_view tableName, TTableOpenMode mode = {}, bool checkStructure = true);
  // Drops one use; the table object goes when its files close.
  void CloseTable(TDataTable &table);
  // Creates the table's files; 11013 when the table is open here, the directory is in a
  // transaction or read-only. The new table is closed afterwards.
  void CreateTable(std::string_view tableName, const TTableDefinition &definition);
  void DeleteTable(std::string_view tableName);
  void RenameTable(std::string_view tableName, std::string_view newName);
  bool TableExists(std::string_view tableName) const;
  // Raises 11013 for that table when the directory is read-only.
  void CheckWritable(std::string_view tableName) const;

  // --- transactions over all open tables, or a list of tables (restricted)
  void StartTransaction(const std::optional<std::vector<std::string>> &tableNames = std::nullopt);
  void Commit();
  void Rollback();
  bool InTransaction() const { return inTransaction_; }
  bool RestrictedTransaction() const { return restricted_; }

private:
  TDataTable &OpenTableObject(std::string_view tableName, TTableOpenMode mode, bool counted, bool checkStructure);
  std::vector<std::unique_ptr<TDataTable>>::iterator Position(std::string_view tableName);
  // 11013 when the table is open here or the directory cannot change tables.
  void CheckTableChangeAllowed(std::string_view tableName) const;
  // Frees table objects whose files closed.
  void DropClosedTables();
  // Leaves the transaction and closes tables no cursor uses any more.
  void EndTransaction();
  [[noreturn]] void RaiseAccessDenied(std::string_view tableName) const;

  std::unique_ptr<TDataDirectoryLocks> locks_;
  bool readOnly_ = false;
  bool inTransaction_ = false;
  bool restricted_ = false;
  std::vector<std::unique_ptr<TDataTable>> tables_;
  std::vector<TDataTable *> transactionTables_;
};

// The session's directory of that path (and, with matchByName, database name) with one
// more reference, or a new one (see TDataSession::DirectoryPathFor for the path rules).
TDataDirectory &OpenDirectory(TDataSession &session, std::string_view databaseName, std::string_view path,
                              bool matchByName = false, bool keepTablesOpen = false);

} // namespace nexora

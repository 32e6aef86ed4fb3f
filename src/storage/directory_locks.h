#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/engine_file.h"
#include "storage/table_locks.h"

namespace nexora {

class TDataDirectory;

// The manager of a database directory's lock file (format in lock_file_format.h): it gives
// every table name of the database a fixed slot and provides the byte-range primitives
// through which sessions and processes coordinate. The lock file is the directory path +
// the engine's lock file name, a memory file for the in-memory database.
//
// When no writable lock file can be had (a read-only directory or medium), the manager is
// unusable: every lock primitive then succeeds without locking anything, and the directory
// works read-only.
//
// Owns its lock-file object and the table list (entries in slot order; the list only grows
// and is re-read whenever the file's change counter moved). Requires its directory and the
// engine to outlive it; used by the thread of the directory's session. Raises, with the
// directory's display name: 10221 to 10224 for the guard of the table list, 9480 for a
// 4097th table name, 8962 for a lock file whose list is damaged, and the file layer's
// errors while reading or writing the list. Waits only by sleeping between non-blocking
// attempts.
class TDataDirectoryLocks {
public:
  // Opens or creates the lock file (OpenLockFile).
  explicit TDataDirectoryLocks(TDataDirectory &directory);
  ~TDataDirectoryLocks();
  TDataDirectoryLocks(const TDataDirectoryLocks &) = delete;
  TDataDirectoryLocks &operator=(const TDataDirectoryLocks &) = delete;

  // A missing lock file is created listing the directory's data files; an existing one is
  // opened for shared use (up to 11 attempts 100 ms apart) and its list read. Failures
  // leave the manager unusable; nothing is raised.
  void OpenLockFile();
  bool Unusable() const { return unusable_; }
  // The entry of that table name (without path and extension; compared without regard to
  // case, cut to 60 characters), appended to the file when new.
  TDataTableLocks &GetTableLocks(std::string_view tableName);
  // The entries in slot order.
  const std::vector<std::unique_ptr<TDataTableLocks>> &Tables() const { return tables_; }
  // The change counter as last read or written.
  std::optional<std::int32_t> ChangeCounter() const { return counterSeen_; }

  // --- region primitives; each succeeds at once when the manager is unusable
  // Locks the byte at regionStart + slot - 1 for a random slot in 1 .. 65534, drawing a new
  // slot after each refusal; retries more attempts, wait milliseconds apart.
  bool ReadLockSlot(std::int64_t regionStart, std::uint32_t retries, std::uint16_t wait, std::uint16_t &slot);
  bool ReadUnlockSlot(std::int64_t regionStart, std::uint16_t slot);
  bool AcquireRegion(std::int64_t start, std::int64_t length, std::uint32_t retries, std::uint16_t wait);
  bool ReleaseRegion(std::int64_t start, std::int64_t length);

  // --- database-wide locks of transactions (10229 / 10230 with the display name)
  // The 4096 transaction bytes; marks every entry as holding its byte (and unmarks).
  void LockAllTransactions();
  void UnlockAllTransactions();
  // The read and write regions of all 4096 slots.
  void WriteLockAllTables();
  void WriteUnlockAllTables();

  TDataEngine &Engine() const;
  std::string DisplayName() const;

private:
  // Creates the file with the directory's data files as its list; false on any failure.
  bool CreateLockFile();
  // One attempt at opening the existing file and reading its list.
  bool TryOpenExisting();
  void ReadGuardLock();
  void ReadGuardUnlock();
  void WriteGuardLock();
  void WriteGuardUnlock();
  // Both require the guard (or sole use of the file).
  void ReadTableList();
  void WriteTableList();
  void ReadAt(std::int64_t offset, void *bytes, std::int32_t count);
  [[noreturn]] void RaiseDatabaseError(std::int32_t code) const;

  TDataDirectory &directory_;
  TEngineFile lockFile_;
  std::vector<std::uint8_t> scratch_;
  std::optional<std::int32_t> counterSeen_;
  std::uint16_t guardSlot_ = 0;
  bool unusable_ = false;
  std::vector<std::unique_ptr<TDataTableLocks>> tables_;
};

} // namespace nexora

#pragma once

#include <cstdint>
#include <string>

namespace nexora {

class TDataDirectoryLocks;

// One table name of a database's lock file: its slot n (1 to 4096) and the table-level
// locks this session holds on it through the lock file. A reader locks one byte at a
// random slot of the table's 65535-byte region, a writer the whole region, and a
// transaction the table's transaction byte (offsets from the engine's lock space).
//
// Owned by the directory's lock manager, whose region primitives it uses (which succeed
// without locking when the manager is unusable). Used by the thread of its session.
// Raises with the table name and the directory's display name: 10225/10226 (read lock),
// 10227/10228 (write lock; 10227 also when the transaction byte of a write lock is
// refused), 10229/10230 (transaction byte). Waits only by sleeping between non-blocking
// attempts, with the engine's read, write and transaction settings.
class TDataTableLocks {
public:
  enum THeldLock : std::uint8_t { ReadHeld = 1, WriteHeld = 2, TransHeld = 4 };

  TDataTableLocks(TDataDirectoryLocks &manager, std::int32_t slot, std::string tableName);

  std::int32_t Slot() const { return slot_; }
  const std::string &TableName() const { return tableName_; }
  std::uint8_t HeldLocks() const { return held_; }
  bool Holds(THeldLock lock) const { return (held_ & lock) != 0; }
  // The read slot drawn for the held read lock.
  std::uint16_t ReadSlot() const { return readSlot_; }

  // True when newly taken; false when a read, write or transaction lock is already held.
  bool ReadLock();
  void ReadUnlock();
  // True when the transaction byte was newly taken (only when asked for and not held).
  // A refused region releases the transaction byte it took.
  bool WriteLock(bool withTransactionByte);
  void WriteUnlock(bool releaseTransactionByte);
  // True when newly taken.
  bool TransLock();
  void TransUnlock();
  // Marks the transaction byte as held or not without touching the file: the database-wide
  // transaction lock covers it.
  void SetTransHeld(bool held);

  // The offsets of this table's locks in the lock file.
  std::int64_t RegionStart() const;
  std::int64_t TransByte() const;

private:
  [[noreturn]] void Raise(std::int32_t code) const;

  TDataDirectoryLocks &manager_;
  std::int32_t slot_;
  std::string tableName_;
  std::uint8_t held_ = 0;
  std::uint16_t readSlot_ = 0;
};

} // namespace nexora

#include <chrono>
#include <thread>

#include "engine/data_session.h"
#include "storage/data_directory.h"
#include "storage/data_table.h"
#include "storage/table_locks.h"

namespace nexora {

bool TDataTable::LockDataRange(std::int64_t offset, std::int64_t length) {
  return dataFile_.LockRegion(true, length, offset);
}

bool TDataTable::UnlockDataRange(std::int64_t offset, std::int64_t length) {
  return dataFile_.LockRegion(false, length, offset);
}

void TDataTable::SleepLockWait() const {
  std::this_thread::sleep_for(std::chrono::milliseconds(Session().LockWaitTime()));
}

bool TDataTable::LockDataRangeRetrying(std::int64_t offset, std::int64_t length) {
  for (std::uint32_t attempt = 0; !LockDataRange(offset, length); ++attempt) {
    if (attempt == Session().LockRetryCount()) {
      return false;
    }
    SleepLockWait();
  }
  return true;
}

// --- table read and write locks

bool TDataTable::BeginRead() {
  if (lockEntry_ == nullptr || tableLockHeld_) {
    return false;
  }
  return lockEntry_->ReadLock() && CheckFilesChanged();
}

void TDataTable::EndRead() {
  if (lockEntry_ != nullptr) {
    lockEntry_->ReadUnlock();
  }
}

bool TDataTable::BeginWrite() {
  if (lockEntry_ == nullptr || tableLockHeld_) {
    return false;
  }
  // The write lock covers the whole region, this session's own read slot included: a read
  // lock still held would make the writer wait for itself.
  lockEntry_->ReadUnlock();
  return lockEntry_->WriteLock(!inTransaction_) && CheckFilesChanged();
}

void TDataTable::EndWrite() {
  if (lockEntry_ != nullptr) {
    lockEntry_->WriteUnlock(!inTransaction_);
  }
}

// --- record locks, the table lock and semaphores (in the data file)

bool TDataTable::LockRecord(std::int32_t recordNumber) {
  if (lockEntry_ == nullptr || tableLockHeld_ || tableLockDeferred_) {
    return false;
  }
  if (recordNumber <= 0 || heldRecords_.contains(recordNumber)) {
    RaiseTableError(NEXORA_RECLOCKFAILED);
  }
  if (deferredRecords_.erase(recordNumber) > 0) {
    heldRecords_.insert(recordNumber);
    return false;
  }
  // Without strict detection, locking a record is also when others' changes are looked for.
  const bool lookForChanges = !StrictChangeDetection();
  bool changed = lookForChanges && BeginRead();
  const std::int64_t offset = Engine().Limits().RecordLockTop - recordNumber;
  for (std::uint32_t attempt = 0; !LockDataRange(offset, 1); ++attempt) {
    if (lookForChanges) {
      EndRead();
    }
    if (attempt == Session().LockRetryCount()) {
      RaiseTableError(NEXORA_RECLOCKFAILED);
    }
    SleepLockWait();
    if (lookForChanges) {
      changed = BeginRead() || changed;
    }
  }
  heldRecords_.insert(recordNumber);
  return changed;
}

void TDataTable::UnlockRecord(std::int32_t recordNumber) {
  if (lockEntry_ == nullptr || tableLockHeld_ || tableLockDeferred_) {
    return;
  }
  const bool held = heldRecords_.contains(recordNumber);
  if (!held && !deferredRecords_.contains(recordNumber)) {
    RaiseTableError(NEXORA_UNLOCKFAILED);
  }
  if (inTransaction_) {
    // Others must not see the record free before the transaction ends.
    heldRecords_.erase(recordNumber);
    deferredRecords_.insert(recordNumber);
    return;
  }
  if (!UnlockDataRange(Engine().Limits().RecordLockTop - recordNumber, 1)) {
    RaiseTableError(NEXORA_UNLOCKFAILED);
  }
  heldRecords_.erase(recordNumber);
  deferredRecords_.erase(recordNumber);
}

void TDataTable::UnlockAllRecords(bool deferredOnly) {
  std::set<std::int32_t> &records = deferredOnly ? deferredRecords_ : heldRecords_;
  const std::int64_t top = Engine().Limits().RecordLockTop;
  while (!records.empty()) {
    const std::int32_t recordNumber = *records.begin();
    records.erase(records.begin());
    if (!UnlockDataRange(top - recordNumber, 1)) {
      RaiseTableError(NEXORA_UNLOCKFAILED);
    }
  }
  if (tableLockHeld_ || tableLockDeferred_) {
    const TEngineLimits &limits = Engine().Limits();
    tableLockHeld_ = false;
    tableLockDeferred_ = false;
    if (!UnlockDataRange(limits.LockTop - limits.MaxRecordCount, limits.MaxRecordCount)) {
      RaiseTableError(NEXORA_UNLOCKFAILED);
    }
  }
}

bool TDataTable::LockTable() {
  if (lockEntry_ == nullptr) {
    return false;
  }
  if (tableLockHeld_ || !heldRecords_.empty() || !deferredRecords_.empty()) {
    RaiseTableError(NEXORA_LOCKED);
  }
  bool changed = false;
  if (!tableLockDeferred_) {
    const TEngineLimits &limits = Engine().Limits();
    if (!LockDataRangeRetrying(limits.LockTop - limits.MaxRecordCount, limits.MaxRecordCount)) {
      RaiseTableError(NEXORA_LOCKED);
    }
    if (lockEntry_->HeldLocks() == 0) {
      changed = CheckFilesChanged();
    }
  }
  tableLockHeld_ = true;
  return changed;
}

void TDataTable::UnlockTable() {
  if (lockEntry_ == nullptr) {
    return;
  }
  if (!tableLockHeld_ && !tableLockDeferred_) {
    RaiseTableError(NEXORA_UNLOCKFAILED);
  }
  if (inTransaction_) {
    tableLockHeld_ = false;
    tableLockDeferred_ = true;
    return;
  }
  const TEngineLimits &limits = Engine().Limits();
  if (!UnlockDataRange(limits.LockTop - limits.MaxRecordCount, limits.MaxRecordCount)) {
    RaiseTableError(NEXORA_UNLOCKFAILED);
  }
  tableLockHeld_ = false;
  tableLockDeferred_ = false;
}

bool TDataTable::LockSemaphore(std::int32_t number) {
  if (number < 1 || number > Engine().Limits().MaxSemaphores) {
    return false;
  }
  if (lockEntry_ == nullptr) {
    return true;
  }
  if (!LockDataRangeRetrying(Engine().Limits().SemaphoreBase - number, 1)) {
    return false;
  }
  semaphores_.insert(number);
  return true;
}

bool TDataTable::UnlockSemaphore(std::int32_t number) {
  if (number < 1 || number > Engine().Limits().MaxSemaphores) {
    return false;
  }
  if (lockEntry_ == nullptr) {
    return true;
  }
  if (!UnlockDataRange(Engine().Limits().SemaphoreBase - number, 1)) {
    return false;
  }
  semaphores_.erase(number);
  return true;
}

void TDataTable::ReleaseAllLocks() {
  if (lockEntry_ == nullptr) {
    return;
  }
  UnlockAllRecords(true);
  UnlockAllRecords(false);
  for (const std::int32_t number : std::set<std::int32_t>(semaphores_)) {
    UnlockSemaphore(number);
  }
  semaphores_.clear();
  lockEntry_->ReadUnlock();
  // Inside a transaction over the whole database the transaction byte is the database's.
  lockEntry_->WriteUnlock(!directory_.InTransaction() || directory_.RestrictedTransaction());
  lockEntry_ = nullptr;
}

// --- the table's part of transactions

void TDataTable::StartTransaction(bool restricted) {
  if (mode_.ReadOnly) {
    return;
  }
  if (mode_.Exclusive) {
    WriteChanges(false, false, false, false, false);
  }
  if (lockEntry_ != nullptr) {
    if (restricted) {
      lockEntry_->TransLock();
    } else {
      lockEntry_->SetTransHeld(true);
    }
  }
  CheckFilesChanged();
  inTransaction_ = true;
}

void TDataTable::Commit(bool restricted) {
  if (!inTransaction_) {
    return;
  }
  const bool ownWriteLock = restricted && lockEntry_ != nullptr;
  if (ownWriteLock) {
    // Raises with the transaction still open.
    lockEntry_->WriteLock(false);
  }
  inTransaction_ = false;
  try {
    WriteChanges(true, false, false, false, false);
  } catch (...) {
    if (ownWriteLock) {
      lockEntry_->WriteUnlock(true);
    }
    UnlockAllRecords(true);
    throw;
  }
  if (ownWriteLock) {
    lockEntry_->WriteUnlock(true);
  }
  UnlockAllRecords(true);
}

void TDataTable::Rollback(bool restricted) {
  if (!inTransaction_) {
    return;
  }
  inTransaction_ = false;
  DiscardChanges(true, true, true);
  UnlockAllRecords(true);
  if (restricted && lockEntry_ != nullptr) {
    lockEntry_->TransUnlock();
  }
}

} // namespace nexora

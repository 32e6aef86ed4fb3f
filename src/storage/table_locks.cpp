#include "storage/table_locks.h"

#include "engine/data_engine.h"
#include "storage/directory_locks.h"

namespace nexora {

TDataTableLocks::TDataTableLocks(TDataDirectoryLocks &manager, std::int32_t slot, std::string tableName)
    : manager_(manager), slot_(slot), tableName_(std::move(tableName)) {}

std::int64_t TDataTableLocks::RegionStart() const {
  const TEngineLimits &limits = manager_.Engine().Limits();
  return limits.TableRegionBase - slot_ * limits.TableRegionLength;
}

std::int64_t TDataTableLocks::TransByte() const { return manager_.Engine().Limits().TransByteBase - slot_; }

void TDataTableLocks::Raise(std::int32_t code) const {
  manager_.Engine().RaiseError(static_cast<TErrorCode>(code),
                               TErrorNames{.DatabaseName = manager_.DisplayName(), .TableName = tableName_});
}

bool TDataTableLocks::ReadLock() {
  if (held_ != 0) {
    return false;
  }
  const TEngineSettings &settings = manager_.Engine().Settings();
  if (!manager_.ReadLockSlot(RegionStart(), settings.TableReadLockRetryCount, settings.TableReadLockWaitTime,
                             readSlot_)) {
    Raise(NEXORA_READLOCK);
  }
  held_ |= ReadHeld;
  return true;
}

void TDataTableLocks::ReadUnlock() {
  if (!Holds(ReadHeld)) {
    return;
  }
  if (!manager_.ReadUnlockSlot(RegionStart(), readSlot_)) {
    Raise(NEXORA_READUNLOCK);
  }
  held_ &= ~ReadHeld;
}

bool TDataTableLocks::WriteLock(bool withTransactionByte) {
  if (Holds(WriteHeld)) {
    return false;
  }
  const TEngineSettings &settings = manager_.Engine().Settings();
  const std::uint32_t retries = settings.TableWriteLockRetryCount;
  const std::uint16_t wait = settings.TableWriteLockWaitTime;
  bool tookTransactionByte = false;
  if (withTransactionByte && !Holds(TransHeld)) {
    if (!manager_.AcquireRegion(TransByte(), 1, retries, wait)) {
      Raise(NEXORA_WRITELOCK);
    }
    held_ |= TransHeld;
    tookTransactionByte = true;
  }
  if (!manager_.AcquireRegion(RegionStart(), manager_.Engine().Limits().TableRegionLength, retries, wait)) {
    if (tookTransactionByte) {
      manager_.ReleaseRegion(TransByte(), 1);
      held_ &= ~TransHeld;
    }
    Raise(NEXORA_WRITELOCK);
  }
  held_ |= WriteHeld;
  return tookTransactionByte;
}

void TDataTableLocks::WriteUnlock(bool releaseTransactionByte) {
  if (Holds(WriteHeld)) {
    if (!manager_.ReleaseRegion(RegionStart(), manager_.Engine().Limits().TableRegionLength)) {
      Raise(NEXORA_WRITEUNLOCK);
    }
    held_ &= ~WriteHeld;
  }
  if (releaseTransactionByte && Holds(TransHeld)) {
    if (!manager_.ReleaseRegion(TransByte(), 1)) {
      Raise(NEXORA_WRITEUNLOCK);
    }
    held_ &= ~TransHeld;
  }
}

bool TDataTableLocks::TransLock() {
  if (Holds(TransHeld)) {
    return false;
  }
  const TEngineSettings &settings = manager_.Engine().Settings();
  if (!manager_.AcquireRegion(TransByte(), 1, settings.TableTransLockRetryCount, settings.TableTransLockWaitTime)) {
    manager_.Engine().RaiseError(NEXORA_TRANSLOCK, TErrorNames{.DatabaseName = manager_.DisplayName()});
  }
  held_ |= TransHeld;
  return true;
}

void TDataTableLocks::TransUnlock() {
  if (!Holds(TransHeld)) {
    return;
  }
  if (!manager_.ReleaseRegion(TransByte(), 1)) {
    Raise(NEXORA_TRANSUNLOCK);
  }
  held_ &= ~TransHeld;
}

void TDataTableLocks::SetTransHeld(bool held) { held_ = held ? (held_ | TransHeld) : (held_ & ~TransHeld); }

} // namespace nexora

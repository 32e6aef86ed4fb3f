#include "storage/directory_locks.h"

#include <chrono>
#include <thread>

#include "engine/data_session.h"
#include "storage/data_directory.h"
#include "storage/lock_file_format.h"
#include "support/little_endian.h"
#include "support/short_text.h"

namespace nexora {

namespace {

void SleepMilliseconds(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string LockFileName(const TDataDirectory &directory) {
  return directory.Path() + directory.Session().Engine().Settings().LockFileName;
}

// The bytes past the list size that a list of these names takes.
std::int32_t EntriesSize(const std::vector<std::unique_ptr<TDataTableLocks>> &tables) {
  std::int32_t size = 0;
  for (const auto &entry : tables) {
    size += 1 + static_cast<std::int32_t>(entry->TableName().size());
  }
  return size;
}

} // namespace

TDataDirectoryLocks::TDataDirectoryLocks(TDataDirectory &directory)
    : directory_(directory), lockFile_(directory.Session().Engine(), LockFileName(directory), directory.IsMemory()) {
  lockFile_.SetDatabaseName(directory.GetDisplayName());
  OpenLockFile();
}

TDataDirectoryLocks::~TDataDirectoryLocks() {
  try {
    lockFile_.CloseFile();
  } catch (const std::exception &) {
    // Closing gives a handle back; nothing is left to undo when that fails.
  }
}

TDataEngine &TDataDirectoryLocks::Engine() const { return directory_.Session().Engine(); }

std::string TDataDirectoryLocks::DisplayName() const { return directory_.GetDisplayName(); }

void TDataDirectoryLocks::RaiseDatabaseError(std::int32_t code) const {
  Engine().RaiseError(static_cast<TErrorCode>(code), TErrorNames{.DatabaseName = DisplayName()});
}

void TDataDirectoryLocks::OpenLockFile() {
  unusable_ = false;
  bool created = false;
  if (!lockFile_.Exists()) {
    // Unusable for the moment when creation fails; a file another opener created
    // meanwhile is used below.
    created = CreateLockFile();
    unusable_ = !created;
  }
  for (int attempt = 0; attempt < LockFile::OpenAttempts && lockFile_.Exists() && !lockFile_.IsOpen(); ++attempt) {
    if (attempt > 0) {
      SleepMilliseconds(LockFile::OpenAttemptWait);
    }
    if (TryOpenExisting()) {
      break;
    }
  }
  if (!lockFile_.IsOpen()) {
    unusable_ = true;
  }
}

bool TDataDirectoryLocks::CreateLockFile() {
  try {
    lockFile_.SetExclusive(true);
    lockFile_.CreateFile();
    counterSeen_ = 0;
    tables_.clear();
    for (const std::string &name : directory_.ListTables()) {
      if (tables_.size() == MaxLockFileTables) {
        break;
      }
      tables_.push_back(std::make_unique<TDataTableLocks>(*this, static_cast<std::int32_t>(tables_.size() + 1),
                                                          CutText(name, LockFile::MaxTableNameLength)));
    }
    WriteTableList();
    lockFile_.CloseFile();
    lockFile_.SetExclusive(false);
    return true;
  } catch (const std::exception &) {
    lockFile_.CloseFile();
    lockFile_.SetExclusive(false);
    counterSeen_.reset();
    tables_.clear();
    return false;
  }
}

bool TDataDirectoryLocks::TryOpenExisting() {
  try {
    lockFile_.SetReadOnly(false);
    lockFile_.OpenFile();
    unusable_ = lockFile_.ReadOnly();
    if (!counterSeen_) {
      ReadGuardLock();
      try {
        ReadTableList();
      } catch (...) {
        ReadGuardUnlock();
        throw;
      }
      ReadGuardUnlock();
    }
    return true;
  } catch (const std::exception &) {
    lockFile_.CloseFile();
    return false;
  }
}

// --- region primitives

bool TDataDirectoryLocks::ReadLockSlot(std::int64_t regionStart, std::uint32_t retries, std::uint16_t wait,
                                       std::uint16_t &slot) {
  if (unusable_) {
    return true;
  }
  for (std::uint32_t attempt = 0;; ++attempt) {
    // A random value below 65535 where 0 counts as 1.
    const std::uint32_t drawn = Engine().Random(static_cast<std::uint32_t>(LockRegionLength));
    const std::uint16_t candidate = static_cast<std::uint16_t>(drawn == 0 ? 1 : drawn);
    if (lockFile_.LockRegion(true, 1, regionStart + candidate - 1)) {
      slot = candidate;
      return true;
    }
    if (attempt == retries) {
      return false;
    }
    SleepMilliseconds(wait);
  }
}

bool TDataDirectoryLocks::ReadUnlockSlot(std::int64_t regionStart, std::uint16_t slot) {
  return unusable_ || lockFile_.LockRegion(false, 1, regionStart + slot - 1);
}

bool TDataDirectoryLocks::AcquireRegion(std::int64_t start, std::int64_t length, std::uint32_t retries,
                                        std::uint16_t wait) {
  if (unusable_) {
    return true;
  }
  for (std::uint32_t attempt = 0;; ++attempt) {
    if (lockFile_.LockRegion(true, length, start)) {
      return true;
    }
    if (attempt == retries) {
      return false;
    }
    SleepMilliseconds(wait);
  }
}

bool TDataDirectoryLocks::ReleaseRegion(std::int64_t start, std::int64_t length) {
  return unusable_ || lockFile_.LockRegion(false, length, start);
}

// --- database-wide locks

void TDataDirectoryLocks::LockAllTransactions() {
  const TEngineLimits &limits = Engine().Limits();
  const TEngineSettings &settings = Engine().Settings();
  if (!AcquireRegion(limits.TransByteBase - limits.TransRegionLength, limits.TransRegionLength,
                     settings.TableTransLockRetryCount, settings.TableTransLockWaitTime)) {
    RaiseDatabaseError(NEXORA_TRANSLOCK);
  }
  for (const auto &entry : tables_) {
    entry->SetTransHeld(true);
  }
}

void TDataDirectoryLocks::UnlockAllTransactions() {
  const TEngineLimits &limits = Engine().Limits();
  for (const auto &entry : tables_) {
    entry->SetTransHeld(false);
  }
  if (!ReleaseRegion(limits.TransByteBase - limits.TransRegionLength, limits.TransRegionLength)) {
    RaiseDatabaseError(NEXORA_TRANSUNLOCK);
  }
}

void TDataDirectoryLocks::WriteLockAllTables() {
  const TEngineLimits &limits = Engine().Limits();
  const TEngineSettings &settings = Engine().Settings();
  if (!AcquireRegion(limits.TableRegionBase - limits.AllTablesLength, limits.AllTablesLength,
                     settings.TableWriteLockRetryCount, settings.TableWriteLockWaitTime)) {
    RaiseDatabaseError(NEXORA_TRANSLOCK);
  }
}

void TDataDirectoryLocks::WriteUnlockAllTables() {
  const TEngineLimits &limits = Engine().Limits();
  if (!ReleaseRegion(limits.TableRegionBase - limits.AllTablesLength, limits.AllTablesLength)) {
    RaiseDatabaseError(NEXORA_TRANSUNLOCK);
  }
}

// --- the table list and its guard

void TDataDirectoryLocks::ReadGuardLock() {
  if (!ReadLockSlot(Engine().Limits().LockFileHeaderBase, LockFile::GuardRetryCount, LockFile::GuardWaitTime,
                    guardSlot_)) {
    RaiseDatabaseError(NEXORA_LOCKREADLOCK);
  }
}

void TDataDirectoryLocks::ReadGuardUnlock() {
  if (!ReadUnlockSlot(Engine().Limits().LockFileHeaderBase, guardSlot_)) {
    RaiseDatabaseError(NEXORA_LOCKREADUNLOCK);
  }
}

void TDataDirectoryLocks::WriteGuardLock() {
  if (!AcquireRegion(Engine().Limits().LockFileHeaderBase, LockRegionLength, LockFile::GuardRetryCount,
                     LockFile::GuardWaitTime)) {
    RaiseDatabaseError(NEXORA_LOCKWRITELOCK);
  }
}

void TDataDirectoryLocks::WriteGuardUnlock() {
  if (!ReleaseRegion(Engine().Limits().LockFileHeaderBase, LockRegionLength)) {
    RaiseDatabaseError(NEXORA_LOCKWRITEUNLOCK);
  }
}

void TDataDirectoryLocks::ReadAt(std::int64_t offset, void *bytes, std::int32_t count) {
  TEngineFileIO io(lockFile_);
  lockFile_.Seek(0, offset);
  lockFile_.ReadBuffer(bytes, count, false);
}

void TDataDirectoryLocks::ReadTableList() {
  std::uint8_t head[LockFile::EntriesOffset];
  ReadAt(LockFile::CounterOffset, head, sizeof head);
  const std::int32_t counter = static_cast<std::int32_t>(LoadU32(head + LockFile::CounterOffset));
  if (counterSeen_ && *counterSeen_ == counter) {
    return;
  }
  const std::int32_t listSize = static_cast<std::int32_t>(LoadU32(head + LockFile::ListSizeOffset));
  const std::int64_t maxListSize =
      LockFile::ListSizeBase + MaxLockFileTables * static_cast<std::int64_t>(1 + LockFile::MaxTableNameLength);
  if (listSize < LockFile::ListSizeBase || listSize > maxListSize) {
    lockFile_.RaiseError(NEXORA_FILECORRUPT);
  }
  const std::int32_t entriesSize = listSize - LockFile::ListSizeBase;
  scratch_.resize(static_cast<std::size_t>(entriesSize));
  if (entriesSize > 0) {
    ReadAt(LockFile::EntriesOffset, scratch_.data(), entriesSize);
  }
  std::size_t slot = 0;
  for (std::int32_t at = 0; at < entriesSize; ++slot) {
    const std::int32_t length = scratch_[static_cast<std::size_t>(at)];
    if (at + 1 + length > entriesSize) {
      lockFile_.RaiseError(NEXORA_FILECORRUPT);
    }
    if (slot >= tables_.size()) {
      tables_.push_back(std::make_unique<TDataTableLocks>(
          *this, static_cast<std::int32_t>(slot + 1),
          std::string(reinterpret_cast<const char *>(scratch_.data() + at + 1), static_cast<std::size_t>(length))));
    }
    at += 1 + length;
  }
  scratch_.clear();
  counterSeen_ = counter;
}

void TDataDirectoryLocks::WriteTableList() {
  const std::int32_t counter = LockFile::NextCounter(counterSeen_.value_or(0));
  const std::int32_t entriesSize = EntriesSize(tables_);
  scratch_.resize(static_cast<std::size_t>(LockFile::EntriesOffset + entriesSize));
  StoreU32(scratch_.data() + LockFile::CounterOffset, static_cast<std::uint32_t>(counter));
  StoreU32(scratch_.data() + LockFile::ListSizeOffset,
           static_cast<std::uint32_t>(LockFile::ListSizeBase + entriesSize));
  std::size_t at = LockFile::EntriesOffset;
  for (const auto &entry : tables_) {
    const std::string &name = entry->TableName();
    scratch_[at] = static_cast<std::uint8_t>(name.size());
    std::copy(name.begin(), name.end(), scratch_.begin() + static_cast<std::ptrdiff_t>(at + 1));
    at += 1 + name.size();
  }
  {
    TEngineFileIO io(lockFile_);
    lockFile_.Seek(0, LockFile::CounterOffset);
    lockFile_.WriteBuffer(scratch_.data(), static_cast<std::int32_t>(scratch_.size()));
  }
  scratch_.clear();
  lockFile_.FlushFile();
  counterSeen_ = counter;
}

TDataTableLocks &TDataDirectoryLocks::GetTableLocks(std::string_view tableName) {
  const std::string name = CutText(TrimText(tableName), LockFile::MaxTableNameLength);
  // The guard locks nothing when the manager is unusable; there is then no list to keep up to
  // date, and a slot of this session's own is enough, since no lock takes effect.
  WriteGuardLock();
  try {
    if (lockFile_.IsOpen()) {
      ReadTableList();
    }
    for (const auto &entry : tables_) {
      if (SameText(entry->TableName(), name)) {
        WriteGuardUnlock();
        return *entry;
      }
    }
    if (static_cast<std::int64_t>(tables_.size()) >= MaxLockFileTables) {
      RaiseDatabaseError(NEXORA_DATABASEFULL);
    }
    tables_.push_back(std::make_unique<TDataTableLocks>(*this, static_cast<std::int32_t>(tables_.size() + 1), name));
    if (!unusable_) {
      try {
        WriteTableList();
      } catch (...) {
        // The name is not in the file, so it must not hold a slot here either.
        tables_.pop_back();
        throw;
      }
    }
  } catch (...) {
    WriteGuardUnlock();
    throw;
  }
  WriteGuardUnlock();
  return *tables_.back();
}

} // namespace nexora

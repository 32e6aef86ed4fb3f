#pragma once

#include <cstdint>

namespace nexora {

// Size limits and the layout of the byte-range lock space, fixed when the engine starts.
// Every process sharing a database must agree on LargeFileSupport, because the lock
// offsets count down from LockTop.
struct TEngineLimits {
  std::int64_t MaxTableFileSize;
  std::int64_t MaxRecordCount;
  std::int64_t LockTop;
  // Start of the 65535-byte region that guards the lock file's table list.
  std::int64_t LockFileHeaderBase;
  // Table n's transaction byte is TransByteBase - n (n = 1 to 4096).
  std::int64_t TransByteBase;
  std::int64_t TransRegionLength;
  // Table n's read and write region starts at TableRegionBase - n * TableRegionLength.
  std::int64_t TableRegionBase;
  std::int64_t TableRegionLength;
  std::int64_t AllTablesLength;
  // Record n of a data file is locked at RecordLockTop - n.
  std::int64_t RecordLockTop;
  // Semaphore k of a table is locked at SemaphoreBase - k.
  std::int64_t SemaphoreBase;
  std::int32_t MaxSemaphores;
};

inline constexpr std::int64_t MaxLockFileTables = 4096;
inline constexpr std::int64_t LockRegionLength = 65535;

// The limits and lock-space constants for one value of LargeFileSupport.
constexpr TEngineLimits ComputeEngineLimits(bool largeFileSupport) {
  TEngineLimits limits{};
  limits.MaxTableFileSize = largeFileSupport ? 128'000'000'000LL : 4'000'000'000LL;
  limits.MaxRecordCount = largeFileSupport ? 1'000'000'000LL : 200'000'000LL;
  limits.LockTop = largeFileSupport ? 9'223'372'036'854'775'807LL : 4'294'967'295LL;
  limits.LockFileHeaderBase = limits.LockTop - LockRegionLength;
  limits.TransByteBase = limits.LockTop - LockRegionLength;
  limits.TransRegionLength = MaxLockFileTables;
  limits.TableRegionBase = limits.TransByteBase - MaxLockFileTables;
  limits.TableRegionLength = LockRegionLength;
  limits.AllTablesLength = MaxLockFileTables * LockRegionLength;
  limits.RecordLockTop = limits.LockTop;
  limits.SemaphoreBase = limits.LockTop - limits.MaxRecordCount;
  limits.MaxSemaphores = 1024;
  return limits;
}

} // namespace nexora

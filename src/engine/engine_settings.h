#pragma once

#include <cstdint>
#include <string>

namespace nexora {

// The engine-wide settings that are plain stores, with their defaults. The engine
// signature is not here: changing it recomputes a digest (TDataEngine::SetEngineSignature).
// Settings change only while the engine is inactive; the engine component enforces that
// and the lower bounds of the buffer settings before copying a value in.
struct TEngineSettings {
  bool LargeFileSupport = false;
  std::string LockFileName = "nexora.lck";

  std::string TableDataExtension = ".dat";
  std::string TableIndexExtension = ".idx";
  std::string TableBlobExtension = ".blb";
  std::string TableDataBackupExtension = ".dbk";
  std::string TableIndexBackupExtension = ".ibk";
  std::string TableBlobBackupExtension = ".bbk";
  std::string TableDataUpgradeExtension = ".dup";
  std::string TableIndexUpgradeExtension = ".iup";
  std::string TableBlobUpgradeExtension = ".bup";
  std::string TableDataTempExtension = ".dat";
  std::string TableIndexTempExtension = ".idx";
  std::string TableBlobTempExtension = ".blb";
  bool CreateTempTablesInDatabase = false;

  std::int32_t MaxTableDataBufferSize = 32768;
  std::int32_t MaxTableDataBufferCount = 8192;
  std::int32_t MaxTableIndexBufferSize = 65536;
  std::int32_t MaxTableIndexBufferCount = 8192;
  std::int32_t MaxTableBlobBufferSize = 32768;
  std::int32_t MaxTableBlobBufferCount = 8192;

  std::uint8_t TableFilterIndexThreshhold = 1;
  std::uint16_t TableReadLockWaitTime = 3;
  std::uint16_t TableReadLockRetryCount = 32768;
  std::uint16_t TableWriteLockWaitTime = 3;
  std::uint16_t TableWriteLockRetryCount = 32768;
  std::uint16_t TableTransLockWaitTime = 3;
  std::uint16_t TableTransLockRetryCount = 32768;
  std::uint16_t TableMaxReadLockCount = 100;
};

} // namespace nexora

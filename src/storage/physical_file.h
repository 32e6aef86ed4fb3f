#pragma once

#include <string>

#include "storage/base_file.h"

namespace nexora {

// A TBaseFile over an operating-system file. One descriptor serves every handle of the
// process; transfers are positioned (pread/pwrite) at each handle's own position.
// Exclusive opens hold flock(LOCK_EX), shared ones flock(LOCK_SH), both non-blocking, so
// a refusal by another process is 11013. Byte-range locks go first through the in-process
// range table (two handles of this process exclude each other) and then to an exclusive
// open-file-description lock (F_OFD_SETLK), which excludes other processes.
//
// A file whose mode has no write bit for anyone opens read-only and reports forced
// read-only; a read-write open refused with EACCES or EROFS is retried read-only.
// Owns its descriptor, which closes with the last handle. Threads as TBaseFile.
class TPhysicalFile : public TBaseFile {
public:
  // Asks the system (fstat); -1 when that fails.
  std::int64_t GetSize() override;
  TPhysicalFile(TDataEngine &engine, std::string name);
  ~TPhysicalFile() override;

  // Creates the file, replacing an existing one, read-write and exclusively locked. An
  // existing file is truncated only once the lock is held, so a file another process
  // has open is refused (11013) and left intact; so is a read-only file.
  std::int32_t CreateHandle() override;
  // The first handle opens the descriptor (existing files only); later ones share it.
  std::int32_t OpenHandle() override;
  void CloseHandle(std::int32_t id) override;
  // Moves the file on disk; an existing destination is never replaced (11013).
  std::int32_t Rename(const std::string &newName) override;
  std::int32_t Delete() override;
  std::int32_t Read(std::int32_t id, void *buffer, std::int32_t count) override;
  std::int32_t Write(std::int32_t id, const void *buffer, std::int32_t count) override;
  bool Flush(std::int32_t id) override;
  bool LockRegion(std::int64_t length, std::int64_t offset) override;
  bool UnlockRegion(std::int64_t length, std::int64_t offset) override;
  // One preadv over the pieces.
  std::int32_t ReadPieces(std::int32_t id, const TIOPiece *pieces, std::int32_t count) override;

private:
  // Maps errno, closes fd and returns the negated code.
  std::int32_t FailOpen(int fd);

  int fd_ = -1;
};

} // namespace nexora

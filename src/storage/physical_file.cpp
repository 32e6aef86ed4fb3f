#include "storage/physical_file.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "engine/data_engine.h"
#include "platform/os/posix_io.h"

namespace nexora {
namespace {

bool HasNoWriteBit(const struct stat &status) { return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

} // namespace

TPhysicalFile::TPhysicalFile(TDataEngine &engine, std::string name) : TBaseFile(engine) { SetName(std::move(name)); }

TPhysicalFile::~TPhysicalFile() {
  if (fd_ >= 0) {
    PosixClose(fd_);
  }
}

std::int32_t TPhysicalFile::FailOpen(int fd) {
  const std::int32_t code = Engine().MapLastOSError();
  if (fd >= 0) {
    PosixClose(fd);
  }
  return -code;
}

std::int64_t TPhysicalFile::GetSize() {
  struct stat status {};
  if (PosixFstat(fd_, status) != 0) {
    Engine().MapLastOSError();
    return -1;
  }
  return status.st_size;
}

std::int32_t TPhysicalFile::CreateHandle() {
  struct stat status {};
  if (PosixStat(Name(), status) == 0 && HasNoWriteBit(status)) {
    errno = EACCES;
    return FailOpen(-1);
  }
  const int fd = PosixOpen(Name(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    return FailOpen(fd);
  }
  if (PosixFlock(fd, LOCK_EX | LOCK_NB) != 0 || PosixFtruncate(fd, 0) != 0) {
    return FailOpen(fd);
  }
  fd_ = fd;
  SetReadOnly(false);
  forcedReadOnly_ = false;
  return TBaseFile::CreateHandle();
}

std::int32_t TPhysicalFile::OpenHandle() {
  if (fd_ >= 0) {
    return TBaseFile::OpenHandle();
  }
  forcedReadOnly_ = false;
  struct stat status {};
  if (PosixStat(Name(), status) != 0) {
    return FailOpen(-1);
  }
  if (HasNoWriteBit(status)) {
    SetReadOnly(true);
    forcedReadOnly_ = true;
  }
  int fd = PosixOpen(Name(), (ReadOnly() ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    if (ReadOnly() || (errno != EACCES && errno != EROFS)) {
      return FailOpen(fd);
    }
    fd = PosixOpen(Name(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return FailOpen(fd);
    }
    SetReadOnly(true);
  }
  if (PosixFlock(fd, (Exclusive() ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    return FailOpen(fd);
  }
  fd_ = fd;
  return TBaseFile::OpenHandle();
}

void TPhysicalFile::CloseHandle(std::int32_t id) {
  TBaseFile::CloseHandle(id);
  if (OpenCount() == 0 && fd_ >= 0) {
    PosixClose(fd_);
    fd_ = -1;
  }
}

std::int32_t TPhysicalFile::Rename(const std::string &newName) {
  if (PosixRename(Name(), newName) != 0) {
    return -static_cast<std::int32_t>(Engine().MapLastOSError());
  }
  return TBaseFile::Rename(newName);
}

std::int32_t TPhysicalFile::Delete() {
  if (PosixUnlink(Name()) != 0) {
    return -static_cast<std::int32_t>(Engine().MapLastOSError());
  }
  return 0;
}

std::int32_t TPhysicalFile::Read(std::int32_t id, void *buffer, std::int32_t count) {
  const std::optional<std::int64_t> position = PositionOf(id);
  if (!position) {
    return FailWith(EBADF);
  }
  if (count < 0) {
    return FailWith(EINVAL);
  }
  const ssize_t read = PosixPread(fd_, buffer, static_cast<std::size_t>(count), *position);
  if (read < 0) {
    Engine().MapLastOSError();
    return -1;
  }
  SetPosition(id, *position + read);
  return static_cast<std::int32_t>(read);
}

std::int32_t TPhysicalFile::ReadPieces(std::int32_t id, const TIOPiece *pieces, std::int32_t count) {
  const std::optional<std::int64_t> position = PositionOf(id);
  if (!position) {
    return FailWith(EBADF);
  }
  // Kept per thread so that reading a run allocates nothing.
  thread_local std::vector<struct iovec> vector;
  vector.resize(static_cast<std::size_t>(std::max(count, 0)));
  for (std::size_t i = 0; i < vector.size(); ++i) {
    if (pieces[i].Length < 0) {
      return FailWith(EINVAL);
    }
    vector[i] = {pieces[i].Data, static_cast<std::size_t>(pieces[i].Length)};
  }
  const ssize_t read = PosixPreadv(fd_, vector.data(), count, *position);
  if (read < 0) {
    Engine().MapLastOSError();
    return -1;
  }
  SetPosition(id, *position + read);
  return static_cast<std::int32_t>(read);
}

std::int32_t TPhysicalFile::Write(std::int32_t id, const void *buffer, std::int32_t count) {
  const std::optional<std::int64_t> position = PositionOf(id);
  if (!position) {
    return FailWith(EBADF);
  }
  if (count < 0) {
    return FailWith(EINVAL);
  }
  if (count == 0) {
    if (PosixFtruncate(fd_, *position) != 0) {
      Engine().MapLastOSError();
      return -1;
    }
    return 0;
  }
  if (PosixPwrite(fd_, buffer, static_cast<std::size_t>(count), *position) != count) {
    Engine().MapLastOSError();
    return -1;
  }
  SetPosition(id, *position + count);
  return count;
}

bool TPhysicalFile::Flush(std::int32_t) {
  if (PosixFsync(fd_) != 0) {
    Engine().MapLastOSError();
    return false;
  }
  return true;
}

bool TPhysicalFile::LockRegion(std::int64_t length, std::int64_t offset) {
  if (fd_ < 0 || !InsertRange(length, offset)) {
    return false;
  }
  if (PosixLockRange(fd_, F_WRLCK, offset, length) != 0) {
    Engine().MapLastOSError();
    RemoveRange(offset);
    return false;
  }
  return true;
}

bool TPhysicalFile::UnlockRegion(std::int64_t, std::int64_t offset) {
  const std::optional<TLockedRange> range = RemoveRange(offset);
  if (!range) {
    return false;
  }
  if (PosixLockRange(fd_, F_UNLCK, range->Start, range->Length) != 0) {
    // The system still holds the range: keep it in the table too.
    Engine().MapLastOSError();
    InsertRange(range->Length, range->Start);
    return false;
  }
  return true;
}

} // namespace nexora

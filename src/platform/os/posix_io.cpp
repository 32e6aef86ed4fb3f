#include "platform/os/posix_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <vector>

namespace nexora {
namespace {

struct TPendingFault {
  int Remaining = 0; // calls left until the fault fires; 0 when none is pending
  int ErrorNumber = 0;
};

std::mutex faultLock;
std::array<TPendingFault, 4> faults;
// Whether any fault is set, so that calls made without one never take the lock.
std::atomic<bool> anyFault{false};

void UpdateAnyFault() {
  anyFault.store(std::any_of(faults.begin(), faults.end(), [](const TPendingFault &f) { return f.Remaining > 0; }),
                 std::memory_order_release);
}

TPendingFault &FaultOf(TOSCall call) { return faults[static_cast<std::size_t>(call)]; }

// True when this call is the one chosen to fail; errno is set then.
bool FaultFires(TOSCall call) {
  if (!anyFault.load(std::memory_order_acquire)) {
    return false;
  }
  std::lock_guard lock(faultLock);
  TPendingFault &fault = FaultOf(call);
  if (fault.Remaining == 0 || --fault.Remaining > 0) {
    return false;
  }
  UpdateAnyFault();
  errno = fault.ErrorNumber;
  return true;
}

} // namespace

void InjectOSFault(TOSCall call, int nth, int errorNumber) {
  std::lock_guard lock(faultLock);
  FaultOf(call) = {nth > 0 ? nth : 0, errorNumber};
  UpdateAnyFault();
}

bool OSFaultPending(TOSCall call) {
  std::lock_guard lock(faultLock);
  return FaultOf(call).Remaining > 0;
}

void ClearOSFaults() {
  std::lock_guard lock(faultLock);
  faults = {};
  UpdateAnyFault();
}

int PosixOpen(const std::string &path, int flags, mode_t mode) {
  if (FaultFires(TOSCall::Open)) {
    return -1;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int PosixClose(int fd) { return ::close(fd); }

int PosixStat(const std::string &path, struct stat &status) { return ::stat(path.c_str(), &status); }

int PosixFstat(int fd, struct stat &status) { return ::fstat(fd, &status); }

namespace {

// Repeats a positioned transfer until `wanted` bytes have moved: transfer(done) moves the
// part from `done` on. A call moving nothing ends a read at the end of the file and fails
// a write (EIO); EINTR is retried. The bytes moved, or -1.
template <typename Transfer> ssize_t TransferAll(std::size_t wanted, bool isWrite, Transfer transfer) {
  std::size_t done = 0;
  while (done < wanted) {
    const ssize_t moved = transfer(done);
    if (moved < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (moved == 0) {
      if (isWrite) {
        errno = EIO;
        return -1;
      }
      break;
    }
    done += static_cast<std::size_t>(moved);
  }
  return static_cast<ssize_t>(done);
}

} // namespace

ssize_t PosixPread(int fd, void *buffer, std::size_t count, off_t offset) {
  if (FaultFires(TOSCall::Read)) {
    return -1;
  }
  auto *bytes = static_cast<char *>(buffer);
  return TransferAll(count, false, [&](std::size_t done) {
    return ::pread(fd, bytes + done, count - done, offset + static_cast<off_t>(done));
  });
}

ssize_t PosixPreadv(int fd, const struct iovec *pieces, int count, off_t offset) {
  if (FaultFires(TOSCall::Read)) {
    return -1;
  }
  std::size_t wanted = 0;
  for (int i = 0; i < count; ++i) {
    wanted += pieces[i].iov_len;
  }
  std::vector<struct iovec> rest;
  return TransferAll(wanted, false, [&](std::size_t done) {
    if (done == 0) {
      return ::preadv(fd, pieces, count, offset);
    }
    // After a partial transfer: what is left of the pieces, from byte `done` on.
    rest.assign(pieces, pieces + count);
    std::size_t first = 0;
    for (std::size_t skip = done; skip > 0; ++first) {
      const std::size_t taken = std::min(skip, rest[first].iov_len);
      rest[first].iov_base = static_cast<char *>(rest[first].iov_base) + taken;
      rest[first].iov_len -= taken;
      skip -= taken;
      if (rest[first].iov_len > 0) {
        break;
      }
    }
    return ::preadv(fd, rest.data() + first, static_cast<int>(rest.size() - first), offset + static_cast<off_t>(done));
  });
}

ssize_t PosixPwrite(int fd, const void *buffer, std::size_t count, off_t offset) {
  if (FaultFires(TOSCall::Write)) {
    return -1;
  }
  const auto *bytes = static_cast<const char *>(buffer);
  return TransferAll(count, true, [&](std::size_t done) {
    return ::pwrite(fd, bytes + done, count - done, offset + static_cast<off_t>(done));
  });
}

int PosixFtruncate(int fd, off_t length) {
  if (FaultFires(TOSCall::Write)) {
    return -1;
  }
  return ::ftruncate(fd, length);
}

int PosixFsync(int fd) { return ::fsync(fd); }

int PosixRename(const std::string &from, const std::string &to) {
  const int result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (result == 0 || (errno != EINVAL && errno != ENOSYS)) {
    return result;
  }
  // The file system cannot refuse a replacement itself: check first.
  struct stat status {};
  if (::lstat(to.c_str(), &status) == 0) {
    errno = EEXIST;
    return -1;
  }
  return ::rename(from.c_str(), to.c_str());
}

int PosixUnlink(const std::string &path) { return ::unlink(path.c_str()); }

int PosixFlock(int fd, int operation) {
  if (FaultFires(TOSCall::Lock)) {
    return -1;
  }
  int result;
  do {
    result = ::flock(fd, operation);
  } while (result < 0 && errno == EINTR);
  return result;
}

int PosixLockRange(int fd, short type, off_t start, off_t length) {
  if (FaultFires(TOSCall::Lock)) {
    return -1;
  }
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = start;
  range.l_len = length;
  return ::fcntl(fd, F_OFD_SETLK, &range);
}

} // namespace nexora

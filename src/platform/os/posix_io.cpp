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

ssize_t PosixPread(int fd, void *buffer, std::size_t count, off_t offset) {
  if (FaultFires(TOSCall::Read)) {
    return -1;
  }
  auto *bytes = static_cast<char *>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t moved = ::pread(fd, bytes + done, count - done, offset + static_cast<off_t>(done));
    if (moved < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (moved == 0) {
      break;
    }
    done += static_cast<std::size_t>(moved);
  }
  return static_cast<ssize_t>(done);
}

ssize_t PosixPreadv(int fd, const struct iovec *pieces, int count, off_t offset) {
  if (FaultFires(TOSCall::Read)) {
    return -1;
  }
  ssize_t moved = 0;
  do {
    moved = ::preadv(fd, pieces, count, offset);
  } while (moved < 0 && errno == EINTR);
  std::size_t wanted = 0;
  for (int i = 0; i < count; ++i) {
    wanted += pieces[i].iov_len;
  }
  if (moved <= 0 || static_cast<std::size_t>(moved) == wanted) {
    return moved;
  }
  // A partial transfer: continue over what is left of the pieces.
  std::vector<struct iovec> rest(pieces, pieces + count);
  std::size_t first = 0;
  auto done = static_cast<std::size_t>(moved);
  auto skip = [&](std::size_t bytes) {
    while (first < rest.size() && bytes >= rest[first].iov_len) {
      bytes -= rest[first].iov_len;
      ++first;
    }
    if (first < rest.size()) {
      rest[first].iov_base = static_cast<char *>(rest[first].iov_base) + bytes;
      rest[first].iov_len -= bytes;
    }
  };
  skip(done);
  while (first < rest.size()) {
    moved = ::preadv(fd, rest.data() + first, static_cast<int>(rest.size() - first), offset + static_cast<off_t>(done));
    if (moved < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (moved == 0) {
      break;
    }
    done += static_cast<std::size_t>(moved);
    skip(static_cast<std::size_t>(moved));
  }
  return static_cast<ssize_t>(done);
}

ssize_t PosixPwrite(int fd, const void *buffer, std::size_t count, off_t offset) {
  if (FaultFires(TOSCall::Write)) {
    return -1;
  }
  const auto *bytes = static_cast<const char *>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t moved = ::pwrite(fd, bytes + done, count - done, offset + static_cast<off_t>(done));
    if (moved < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (moved == 0) {
      errno = EIO;
      return -1;
    }
    done += static_cast<std::size_t>(moved);
  }
  return static_cast<ssize_t>(done);
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

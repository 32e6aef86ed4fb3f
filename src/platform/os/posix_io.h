#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <string>

namespace nexora {

// Thin wrappers over the system calls of the file layer. Each returns exactly what the
// system call returns (-1 with errno set on failure), so callers map errno as usual.
// Every wrapper may be called from any thread.
//
// The fault-injection seam: tests make the n-th next call of one kind fail with a chosen
// errno, so that error paths run for real. The kinds: Open (PosixOpen), Read (PosixPread),
// Write (PosixPwrite, PosixFtruncate), Lock (PosixFlock, PosixLockRange). A failing call
// does not reach the system.
enum class TOSCall { Open, Read, Write, Lock };

// Makes the nth call of that kind from now on (1 = the next one) fail with errorNumber,
// replacing any fault pending for that kind. Process-wide and thread-safe.
void InjectOSFault(TOSCall call, int nth, int errorNumber);
// True while a fault set for that kind has not yet fired.
bool OSFaultPending(TOSCall call);
// Drops every pending fault.
void ClearOSFaults();

int PosixOpen(const std::string &path, int flags, mode_t mode = 0);
int PosixClose(int fd);
int PosixStat(const std::string &path, struct stat &status);
int PosixFstat(int fd, struct stat &status);
// Both loop over partial transfers and EINTR; they return the bytes moved (short only at
// the end of the file, for a read) or -1.
ssize_t PosixPread(int fd, void *buffer, std::size_t count, off_t offset);
ssize_t PosixPwrite(int fd, const void *buffer, std::size_t count, off_t offset);
// Scatters one read from offset over the pieces in order, with the same rules as
// PosixPread; a Read fault covers it too.
ssize_t PosixPreadv(int fd, const struct iovec *pieces, int count, off_t offset);
int PosixFtruncate(int fd, off_t length);
int PosixFsync(int fd);
// Moves a file without replacing an existing destination (EEXIST when it exists).
int PosixRename(const std::string &from, const std::string &to);
int PosixUnlink(const std::string &path);
int PosixFlock(int fd, int operation);
// A non-blocking open-file-description lock (F_OFD_SETLK) of type F_WRLCK or F_UNLCK on
// length bytes from start.
int PosixLockRange(int fd, short type, off_t start, off_t length);

} // namespace nexora

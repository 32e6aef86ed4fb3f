#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace nexora {

class TDataEngine;

// One piece of a scattered read: length bytes into data.
struct TIOPiece {
  void *Data = nullptr;
  std::int32_t Length = 0;
};

// One opener's handle on a file: its id and its own position.
struct TFileHandle {
  std::int32_t Id = 0;
  std::int64_t Position = 0;
};

// A byte range locked in this process: End = Start + Length - 1.
struct TLockedRange {
  std::int64_t Start = 0;
  std::int64_t End = 0;
  std::int64_t Length = 0;
};

// One object per distinct file name in the process, shared by every opener of that file
// through the file registry. Owns the handle list (ids from 1 upwards, each with its own
// position), the list of byte ranges locked in this process and the open options. The
// bytes live in the subclasses (TPhysicalFile, TMemoryFile), which supply Read and Write.
//
// Threads: handle changes take an internal lock and may come from any thread. Seek, Read
// and Write of one file must be bracketed by BeginIO/EndIO (the I/O lock) by their caller,
// which keeps a seek and its transfer together. Range locks take the region lock. Options
// are set by the registry before an open, under the registry's lock.
//
// Failures are returned, never raised: negated engine codes (Rename, Delete, opening),
// -1 (Read, Write, Seek) or false (Flush, range locks). A failed system call has been
// mapped through TDataEngine::MapLastOSError, so the engine knows the last OS failure.
class TBaseFile {
public:
  virtual std::int64_t GetSize();
  explicit TBaseFile(TDataEngine &engine);
  virtual ~TBaseFile();
  TBaseFile(const TBaseFile &) = delete;
  TBaseFile &operator=(const TBaseFile &) = delete;

  // Adds a handle at position 0 and sets the size to 0; returns its id or -code.
  virtual std::int32_t CreateHandle();
  // Adds a handle at position 0; returns its id or -code.
  virtual std::int32_t OpenHandle();
  // Removes the handle; an id that is not registered is ignored. The last close drops the
  // ranges locked in this process.
  virtual void CloseHandle(std::int32_t id);
  // Stores the new name; 0 or -code.
  virtual std::int32_t Rename(const std::string &newName);
  // 0 or -code; the base has nothing to delete.
  virtual std::int32_t Delete();
  // Transfers at the handle's position and advances it; bytes moved or -1. A read stops
  // at the size. A write of 0 bytes sets the size to the position (truncation).
  virtual std::int32_t Read(std::int32_t id, void *buffer, std::int32_t count) = 0;
  virtual std::int32_t Write(std::int32_t id, const void *buffer, std::int32_t count) = 0;
  virtual bool Flush(std::int32_t id);
  // Origin 0: from the start, 1: from the position, 2: from the size. Returns the new
  // position, or -1 (position unchanged) for an unknown handle or a target outside
  // 0 .. 2^63 - 1.
  virtual std::int64_t Seek(std::int32_t id, int origin, std::int64_t offset);
  // Locks length bytes at offset, failing at once when they overlap a range held through
  // any handle of this process (the same caller included: not re-entrant). A length
  // below 1, a negative offset or a range past 2^63 - 1 fails.
  virtual bool LockRegion(std::int64_t length, std::int64_t offset);
  // Releases the range that starts at offset; false when there is none.
  virtual bool UnlockRegion(std::int64_t length, std::int64_t offset);
  // One read at the handle's position scattered over the pieces in order; advances the
  // position. Bytes moved (short at the size) or -1. The base reads piece by piece.
  virtual std::int32_t ReadPieces(std::int32_t id, const TIOPiece *pieces, std::int32_t count);

  // The I/O lock: callers hold it across every seek-then-transfer sequence.
  void BeginIO() { ioLock_.lock(); }
  void EndIO() { ioLock_.unlock(); }

  // Closes every handle (used when the engine stops).
  void CloseAllHandles();
  std::int32_t OpenCount() const;
  bool HasHandle(std::int32_t id) const;

  TDataEngine &Engine() const { return engine_; }
  const std::string &Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool ForcedReadOnly() const { return forcedReadOnly_; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool temporary) { temporary_ = temporary; }
  bool Hidden() const { return hidden_; }
  void SetHidden(bool hidden) { hidden_ = hidden; }

protected:
  // The handle's position, nullopt for an unknown id.
  std::optional<std::int64_t> PositionOf(std::int32_t id) const;
  void SetPosition(std::int32_t id, std::int64_t position);
  // The position a seek leads to, nullopt when it lies outside 0 .. 2^63 - 1.
  static std::optional<std::int64_t> SeekTarget(std::int64_t position, std::int64_t size, int origin,
                                                std::int64_t offset);
  // The in-process range table: insert (false on overlap or a bad range) and remove.
  bool InsertRange(std::int64_t length, std::int64_t offset);
  std::optional<TLockedRange> RemoveRange(std::int64_t offset);
  // Sets errno to errorNumber, maps it for the engine and returns -1.
  std::int32_t FailWith(int errorNumber);

  bool forcedReadOnly_ = false;
  std::int64_t size_ = 0;

private:
  std::int32_t AddHandle();

  TDataEngine &engine_;
  std::mutex regionLock_;
  std::mutex ioLock_;
  mutable std::mutex handlesLock_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool temporary_ = false;
  bool hidden_ = false;
  std::string name_;
  // Keyed by start; ranges never overlap, so each one's neighbours decide a new one.
  std::map<std::int64_t, TLockedRange> lockedRanges_;
  std::vector<TFileHandle> handles_;
  std::int32_t lastHandleId_ = 0;
};

} // namespace nexora

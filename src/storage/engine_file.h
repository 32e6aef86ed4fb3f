#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/data_engine.h"
#include "engine/error_codes.h"
#include "storage/base_file.h"

namespace nexora {

class TBaseFile;
class TFileRegistry;

// One opener's view of a table file: its name, its open options, the shared TBaseFile
// found through the engine's file registry and its own handle (0 while closed). Turns the
// file layer's negated codes into engine errors (ENEXORAEngineError through RaiseError,
// with GetErrorName() as table name and DatabaseName() as database).
//
// Used by one thread at a time (its session's). Callers bracket every seek-then-transfer
// sequence with BeginIO/EndIO (or a TEngineFileIO), because other openers of the same file
// may work from other threads. Requires the engine to outlive the object.
class TEngineFile {
public:
  // The name used as table name in errors: the file name; table files give the table's.
  virtual std::string GetErrorName() const;
  // The database name used in errors: DatabaseName(); table files give their table's.
  virtual std::string GetErrorDatabaseName() const;
  TEngineFile(TDataEngine &engine, std::string name, bool inMemory);
  // Closes the file when open.
  virtual ~TEngineFile();
  TEngineFile(const TEngineFile &) = delete;
  TEngineFile &operator=(const TEngineFile &) = delete;

  // Opens with the object's options (exclusive, read-only, temporary, hidden) and stores
  // the actual read-only and forced-read-only states. Raises 11010 when the file does not
  // exist, 11013 when it is held exclusively (or this request is exclusive and it is
  // open), else the mapped system error; the object stays closed then. Nothing is done
  // when already open.
  virtual void OpenFile();
  // Gives the handle back; the last close of a temporary file deletes it.
  virtual void CloseFile();
  // Creates the file anew (closing this object first when open) and opens it.
  virtual void CreateFile();
  // Raises 11013 while the file is open (through any opener).
  virtual void DeleteFile();
  // Raises 11013 while the file is open or when newName exists; stores the new name.
  virtual void RenameFile(const std::string &newName);
  // Reads count bytes at the current position and returns the number read. Raises 9217
  // (NEXORA_READERR) when the file is closed, the transfer fails, or fewer bytes than
  // asked were read without allowShort.
  virtual std::int32_t ReadBuffer(void *buffer, std::int32_t count, bool allowShort);
  // Writes count bytes at the current position; anything but count written raises 9218
  // (NEXORA_WRITEERR). A count of 0 truncates the file at the current position.
  virtual void WriteBuffer(const void *buffer, std::int32_t count);
  // Asks the system to write the file's buffers to disk; a failure raises 9218.
  virtual void FlushFile();
  // One read at the current position scattered over the pieces, with the rules of
  // ReadBuffer for the total length; returns the number of bytes read.
  std::int32_t ReadPieces(const TIOPiece *pieces, std::int32_t count, bool allowShort);

  // The registry knows the file, or a regular file of that name exists.
  bool Exists() const;
  // Origin 0: from the start, 1: from the position, 2: from the end. The new position, or
  // -1 when closed or the target is invalid (the position is then unchanged).
  std::int64_t Seek(int origin, std::int64_t offset);
  // The size (-1 when it cannot be had); the position is kept.
  std::int64_t GetFileSize();
  // Takes (lock) or releases the byte range; false when refused or closed.
  bool LockRegion(bool lock, std::int64_t length, std::int64_t offset);
  // The shared file's I/O lock; require an open file (and the same file for both).
  void BeginIO();
  void EndIO();
  [[noreturn]] void RaiseError(TErrorCode code) const;

  TDataEngine &Engine() const { return engine_; }
  const std::string &Name() const { return name_; }
  bool InMemory() const { return inMemory_; }
  // Names another file (cut to 255 characters); requires the object to be closed.
  void SetName(const std::string &name, bool inMemory);
  bool IsOpen() const { return open_; }
  std::int32_t Handle() const { return handle_; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool ForcedReadOnly() const { return forcedReadOnly_; }
  bool Temporary() const { return temporary_; }
  void SetTemporary(bool temporary) { temporary_ = temporary; }
  bool Hidden() const { return hidden_; }
  void SetHidden(bool hidden) { hidden_ = hidden; }
  const std::string &DatabaseName() const { return databaseName_; }
  void SetDatabaseName(std::string databaseName) { databaseName_ = std::move(databaseName); }

private:
  TFileRegistry &Files() const;

  TDataEngine &engine_;
  std::string name_;
  bool inMemory_;
  std::shared_ptr<TBaseFile> file_;
  std::int32_t handle_ = 0;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool forcedReadOnly_ = false;
  bool open_ = false;
  bool temporary_ = false;
  bool hidden_ = false;
  std::string databaseName_;
};

// Holds a file's I/O lock for the life of the object.
class TEngineFileIO {
public:
  explicit TEngineFileIO(TEngineFile &file) : file_(file) { file_.BeginIO(); }
  ~TEngineFileIO() { file_.EndIO(); }
  TEngineFileIO(const TEngineFileIO &) = delete;
  TEngineFileIO &operator=(const TEngineFileIO &) = delete;

private:
  TEngineFile &file_;
};

} // namespace nexora

#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_file_registry.h"

namespace nexora {

class TBaseFile;
class TDataEngine;

// The engine's registry of open files: two lists sorted by name, one of operating-system
// files (TPhysicalFile) and one of memory files (TMemoryFile), through which two openers
// of one name in the process share one TBaseFile. Names are trimmed of blanks first.
// Memory-file names compare without regard to case. An operating-system name is first
// resolved on disk (exact name, else the single directory entry equal to it without
// regard to case) and the resolved names compare exactly, so that two distinct files
// whose names differ only by case are never merged into one object.
//
// Every operation returns a handle id >= 0 (0 for success where no handle is made) or a
// negated engine code: 11013 for files in use or refused, 11010 for unknown memory files,
// otherwise the code mapped from the system error. Nothing is raised except
// std::bad_alloc. Any thread may call; each list's mutex is held for the whole of each
// operation on it, and never together with the other.
//
// Owns the file objects of both lists. An operating-system file leaves the registry (and
// closes its descriptor) with its last handle; a memory file stays with its content until
// it is deleted, or until CloseAllFiles. Openers keep a shared reference, so a file that
// left the registry is still safe to touch (its operations then fail).
class TFileRegistry : public TEngineFileRegistry {
public:
  explicit TFileRegistry(TDataEngine &engine);
  ~TFileRegistry() override;

  // Memory files: the name is registered. Operating-system files: it is registered, or a
  // regular file of that name exists.
  bool FileExists(const std::string &name, bool inMemory);
  // Creates the file (anew through a registered memory file that has no open handle).
  std::int32_t CreateFile(const std::string &name, bool inMemory, bool hidden, bool temporary,
                          std::shared_ptr<TBaseFile> &file);
  // Opens the file. readOnly is the request on entry and the file's state on return.
  // A second opener in the process is refused (11013) when either side is exclusive,
  // without asking the system.
  std::int32_t OpenFile(const std::string &name, bool inMemory, bool hidden, bool temporary, bool exclusive,
                        bool &readOnly, bool &forcedReadOnly, std::shared_ptr<TBaseFile> &file);
  // Closes one handle; -11010 when the file is not registered or the handle is not one
  // of its open handles. The last close deletes a temporary file.
  std::int32_t CloseFile(const TBaseFile *file, bool inMemory, std::int32_t handle);
  // -11013 when the new name is registered or exists on disk (in any case), or the file
  // is open.
  std::int32_t RenameFile(const std::string &name, bool inMemory, const std::string &newName);
  // -11013 when the file is open.
  std::int32_t DeleteFile(const std::string &name, bool inMemory);
  void CloseAllFiles() override;
  // The names of every memory file, in registry order.
  std::vector<std::string> MemoryFileNames();
  // Whether a file object of that name is in the registry (diagnostics).
  bool IsRegistered(const std::string &name, bool inMemory);

private:
  struct TFileList {
    std::mutex Lock;
    std::vector<std::shared_ptr<TBaseFile>> Files; // sorted by name
  };
  using TFileIterator = std::vector<std::shared_ptr<TBaseFile>>::iterator;

  TFileList &ListOf(bool inMemory) { return inMemory ? memoryFiles_ : systemFiles_; }
  // The name a file of this request is registered under (see the class comment).
  static std::string RegistryName(const std::string &name, bool inMemory);
  // Where a file of that registry name is or would go; the caller holds the list's lock.
  static TFileIterator Position(TFileList &list, const std::string &registryName, bool inMemory);
  static TFileIterator Find(TFileList &list, const std::string &registryName, bool inMemory);
  static void Insert(TFileList &list, std::shared_ptr<TBaseFile> file, bool inMemory);

  TDataEngine &engine_;
  TFileList systemFiles_;
  TFileList memoryFiles_;
};

// The registry of that engine, installed on first use.
TFileRegistry &FilesOf(TDataEngine &engine);

} // namespace nexora

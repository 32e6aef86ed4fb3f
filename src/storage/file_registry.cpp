#include "storage/file_registry.h"

#include <sys/stat.h>

#include <algorithm>

#include "engine/data_engine.h"
#include "platform/os/file_name_case.h"
#include "platform/os/posix_io.h"
#include "storage/memory_file.h"
#include "storage/physical_file.h"
#include "support/short_text.h"

namespace nexora {
namespace {

constexpr std::int32_t InUse = -static_cast<std::int32_t>(NEXORA_OSEACCES);
constexpr std::int32_t NotFound = -static_cast<std::int32_t>(NEXORA_OSENOENT);

// The sort key of a registered name.
std::string KeyOf(const std::string &registryName, bool inMemory) {
  return inMemory ? UpperText1252(registryName) : registryName;
}

} // namespace

TFileRegistry::TFileRegistry(TDataEngine &engine) : engine_(engine) {}

TFileRegistry::~TFileRegistry() { CloseAllFiles(); }

std::string TFileRegistry::RegistryName(const std::string &name, bool inMemory) {
  const std::string trimmed = TrimText(name);
  return inMemory ? trimmed : ResolveFileNameCase(trimmed);
}

TFileRegistry::TFileIterator TFileRegistry::Position(TFileList &list, const std::string &registryName, bool inMemory) {
  const std::string key = KeyOf(registryName, inMemory);
  return std::lower_bound(list.Files.begin(), list.Files.end(), key,
                          [inMemory](const std::shared_ptr<TBaseFile> &file, const std::string &wanted) {
                            return KeyOf(file->Name(), inMemory) < wanted;
                          });
}

TFileRegistry::TFileIterator TFileRegistry::Find(TFileList &list, const std::string &registryName, bool inMemory) {
  const auto at = Position(list, registryName, inMemory);
  if (at != list.Files.end() && KeyOf((*at)->Name(), inMemory) == KeyOf(registryName, inMemory)) {
    return at;
  }
  return list.Files.end();
}

void TFileRegistry::Insert(TFileList &list, std::shared_ptr<TBaseFile> file, bool inMemory) {
  const auto at = Position(list, file->Name(), inMemory);
  list.Files.insert(at, std::move(file));
}

bool TFileRegistry::FileExists(const std::string &name, bool inMemory) {
  const std::string registryName = RegistryName(name, inMemory);
  TFileList &list = ListOf(inMemory);
  std::lock_guard lock(list.Lock);
  if (Find(list, registryName, inMemory) != list.Files.end()) {
    return true;
  }
  struct stat status {};
  return !inMemory && PosixStat(registryName, status) == 0 && S_ISREG(status.st_mode);
}

std::int32_t TFileRegistry::CreateFile(const std::string &name, bool inMemory, bool hidden, bool temporary,
                                       std::shared_ptr<TBaseFile> &file) {
  const std::string registryName = RegistryName(name, inMemory);
  TFileList &list = ListOf(inMemory);
  std::lock_guard lock(list.Lock);
  const auto found = Find(list, registryName, inMemory);
  const bool registered = found != list.Files.end();
  if (registered && (*found)->OpenCount() > 0) {
    return InUse;
  }
  std::shared_ptr<TBaseFile> created =
      registered ? *found
      : inMemory ? std::shared_ptr<TBaseFile>(std::make_shared<TMemoryFile>(engine_, registryName))
                 : std::make_shared<TPhysicalFile>(engine_, registryName);
  created->SetHidden(hidden);
  created->SetTemporary(temporary);
  created->SetExclusive(false);
  const std::int32_t handle = created->CreateHandle();
  if (handle < 0) {
    return handle;
  }
  if (!registered) {
    Insert(list, created, inMemory);
  }
  file = std::move(created);
  return handle;
}

std::int32_t TFileRegistry::OpenFile(const std::string &name, bool inMemory, bool hidden, bool temporary,
                                     bool exclusive, bool &readOnly, bool &forcedReadOnly,
                                     std::shared_ptr<TBaseFile> &file) {
  const std::string registryName = RegistryName(name, inMemory);
  TFileList &list = ListOf(inMemory);
  std::lock_guard lock(list.Lock);
  const auto found = Find(list, registryName, inMemory);
  const bool registered = found != list.Files.end();
  if (!registered && inMemory) {
    return NotFound;
  }
  std::shared_ptr<TBaseFile> opened = registered ? *found : std::make_shared<TPhysicalFile>(engine_, registryName);
  if (opened->OpenCount() > 0) {
    if (opened->Exclusive() || exclusive) {
      return InUse;
    }
  } else {
    opened->SetHidden(hidden);
    opened->SetTemporary(temporary);
    opened->SetExclusive(exclusive);
    opened->SetReadOnly(readOnly);
  }
  const std::int32_t handle = opened->OpenHandle();
  if (handle < 0) {
    return handle;
  }
  if (!registered) {
    Insert(list, opened, inMemory);
  }
  readOnly = opened->ReadOnly();
  forcedReadOnly = opened->ForcedReadOnly();
  file = std::move(opened);
  return handle;
}

std::int32_t TFileRegistry::CloseFile(const TBaseFile *file, bool inMemory, std::int32_t handle) {
  TFileList &list = ListOf(inMemory);
  std::lock_guard lock(list.Lock);
  const auto found = std::find_if(list.Files.begin(), list.Files.end(),
                                  [file](const std::shared_ptr<TBaseFile> &entry) { return entry.get() == file; });
  if (found == list.Files.end() || !(*found)->HasHandle(handle)) {
    return NotFound;
  }
  TBaseFile &closing = **found;
  closing.CloseHandle(handle);
  if (closing.OpenCount() > 0) {
    return 0;
  }
  if (closing.Temporary()) {
    closing.Delete();
    list.Files.erase(found);
  } else if (!inMemory) {
    list.Files.erase(found);
  }
  return 0;
}

std::int32_t TFileRegistry::RenameFile(const std::string &name, bool inMemory, const std::string &newName) {
  const std::string registryName = RegistryName(name, inMemory);
  const std::string target = TrimText(newName);
  TFileList &list = ListOf(inMemory);
  std::lock_guard lock(list.Lock);
  // A destination that exists in another case would make the name ambiguous.
  if (Find(list, target, inMemory) != list.Files.end() || (!inMemory && ResolveFileNameCase(target) != target)) {
    return InUse;
  }
  const auto found = Find(list, registryName, inMemory);
  if (found == list.Files.end()) {
    if (inMemory) {
      return NotFound;
    }
    return PosixRename(registryName, target) == 0 ? 0 : -static_cast<std::int32_t>(engine_.MapLastOSError());
  }
  if ((*found)->OpenCount() > 0) {
    return InUse;
  }
  const std::int32_t result = (*found)->Rename(target);
  if (result < 0) {
    return result;
  }
  std::shared_ptr<TBaseFile> renamed = std::move(*found);
  list.Files.erase(found);
  Insert(list, std::move(renamed), inMemory);
  return 0;
}

std::int32_t TFileRegistry::DeleteFile(const std::string &name, bool inMemory) {
  const std::string registryName = RegistryName(name, inMemory);
  TFileList &list = ListOf(inMemory);
  std::lock_guard lock(list.Lock);
  const auto found = Find(list, registryName, inMemory);
  if (found == list.Files.end()) {
    if (inMemory) {
      return NotFound;
    }
    return PosixUnlink(registryName) == 0 ? 0 : -static_cast<std::int32_t>(engine_.MapLastOSError());
  }
  if ((*found)->OpenCount() > 0) {
    return InUse;
  }
  const std::int32_t result = (*found)->Delete();
  if (result < 0) {
    return result;
  }
  list.Files.erase(found);
  return 0;
}

void TFileRegistry::CloseAllFiles() {
  for (TFileList *list : {&systemFiles_, &memoryFiles_}) {
    std::lock_guard lock(list->Lock);
    for (const std::shared_ptr<TBaseFile> &file : list->Files) {
      file->CloseAllHandles();
      if (file->Temporary()) {
        file->Delete();
      }
    }
    list->Files.clear();
  }
}

bool TFileRegistry::IsRegistered(const std::string &name, bool inMemory) {
  const std::string registryName = RegistryName(name, inMemory);
  TFileList &list = ListOf(inMemory);
  std::lock_guard lock(list.Lock);
  return Find(list, registryName, inMemory) != list.Files.end();
}

std::vector<std::string> TFileRegistry::MemoryFileNames() {
  std::lock_guard lock(memoryFiles_.Lock);
  std::vector<std::string> names;
  names.reserve(memoryFiles_.Files.size());
  for (const auto &file : memoryFiles_.Files) {
    names.push_back(file->Name());
  }
  return names;
}

TFileRegistry &FilesOf(TDataEngine &engine) {
  TEngineFileRegistry *registry = engine.FileRegistry();
  if (registry == nullptr) {
    registry = &engine.InstallFileRegistry(std::make_unique<TFileRegistry>(engine));
  }
  return dynamic_cast<TFileRegistry &>(*registry);
}

} // namespace nexora

#include "storage/engine_file.h"

#include "engine/data_engine.h"
#include "storage/base_file.h"
#include "storage/file_registry.h"
#include "support/short_text.h"

namespace nexora {

TEngineFile::TEngineFile(TDataEngine &engine, std::string name, bool inMemory)
    : engine_(engine), name_(CutText(name)), inMemory_(inMemory) {}

TEngineFile::~TEngineFile() { CloseFile(); }

std::string TEngineFile::GetErrorName() const { return name_; }

std::string TEngineFile::GetErrorDatabaseName() const { return databaseName_; }

TFileRegistry &TEngineFile::Files() const { return FilesOf(engine_); }

void TEngineFile::RaiseError(TErrorCode code) const {
  engine_.RaiseError(code, {.DatabaseName = GetErrorDatabaseName(), .TableName = GetErrorName()});
}

bool TEngineFile::Exists() const { return Files().FileExists(name_, inMemory_); }

void TEngineFile::OpenFile() {
  if (open_) {
    return;
  }
  if (!Exists()) {
    RaiseError(NEXORA_OSENOENT);
  }
  bool readOnly = readOnly_;
  bool forcedReadOnly = false;
  std::shared_ptr<TBaseFile> file;
  const std::int32_t handle =
      Files().OpenFile(name_, inMemory_, hidden_, temporary_, exclusive_, readOnly, forcedReadOnly, file);
  if (handle < 0) {
    RaiseError(static_cast<TErrorCode>(-handle));
  }
  file_ = std::move(file);
  handle_ = handle;
  readOnly_ = readOnly;
  forcedReadOnly_ = forcedReadOnly;
  open_ = true;
}

void TEngineFile::CloseFile() {
  if (file_) {
    // A file the registry no longer knows (the engine stopped) needs no closing.
    Files().CloseFile(file_.get(), inMemory_, handle_);
  }
  file_.reset();
  handle_ = 0;
  open_ = false;
}

void TEngineFile::CreateFile() {
  CloseFile();
  std::shared_ptr<TBaseFile> file;
  const std::int32_t handle = Files().CreateFile(name_, inMemory_, hidden_, temporary_, file);
  if (handle < 0) {
    RaiseError(static_cast<TErrorCode>(-handle));
  }
  file_ = std::move(file);
  handle_ = handle;
  readOnly_ = false;
  forcedReadOnly_ = false;
  open_ = true;
}

void TEngineFile::DeleteFile() {
  const std::int32_t result = Files().DeleteFile(name_, inMemory_);
  if (result < 0) {
    RaiseError(static_cast<TErrorCode>(-result));
  }
}

void TEngineFile::SetName(const std::string &name, bool inMemory) {
  name_ = CutText(name);
  inMemory_ = inMemory;
}

void TEngineFile::RenameFile(const std::string &newName) {
  const std::int32_t result = Files().RenameFile(name_, inMemory_, newName);
  if (result < 0) {
    RaiseError(static_cast<TErrorCode>(-result));
  }
  name_ = CutText(newName);
}

std::int32_t TEngineFile::ReadBuffer(void *buffer, std::int32_t count, bool allowShort) {
  const std::int32_t read = file_ ? file_->Read(handle_, buffer, count) : -1;
  if (read < 0 || (read != count && !allowShort)) {
    RaiseError(NEXORA_READERR);
  }
  return read;
}

std::int32_t TEngineFile::ReadPieces(const TIOPiece *pieces, std::int32_t count, bool allowShort) {
  std::int64_t wanted = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    wanted += pieces[i].Length;
  }
  const std::int32_t read = file_ ? file_->ReadPieces(handle_, pieces, count) : -1;
  if (read < 0 || (read != wanted && !allowShort)) {
    RaiseError(NEXORA_READERR);
  }
  return read;
}

void TEngineFile::WriteBuffer(const void *buffer, std::int32_t count) {
  if (!file_ || file_->Write(handle_, buffer, count) != count) {
    RaiseError(NEXORA_WRITEERR);
  }
}

void TEngineFile::FlushFile() {
  if (file_ && !file_->Flush(handle_)) {
    RaiseError(NEXORA_WRITEERR);
  }
}

std::int64_t TEngineFile::Seek(int origin, std::int64_t offset) {
  return file_ ? file_->Seek(handle_, origin, offset) : -1;
}

std::int64_t TEngineFile::GetFileSize() {
  const std::int64_t position = Seek(1, 0);
  const std::int64_t size = Seek(2, 0);
  if (position >= 0) {
    Seek(0, position);
  }
  return size;
}

bool TEngineFile::LockRegion(bool lock, std::int64_t length, std::int64_t offset) {
  if (!file_) {
    return false;
  }
  return lock ? file_->LockRegion(length, offset) : file_->UnlockRegion(length, offset);
}

void TEngineFile::BeginIO() {
  if (file_) {
    file_->BeginIO();
  }
}

void TEngineFile::EndIO() {
  if (file_) {
    file_->EndIO();
  }
}

} // namespace nexora

#include "storage/data_table.h"

#include "engine/data_session.h"
#include "engine/engine_error.h"
#include "storage/data_directory.h"
#include "storage/directory_locks.h"
#include "storage/field_def_rules.h"
#include "support/short_text.h"

namespace nexora {

namespace {

// The extension of a file name: from its last "." after the last "/", or empty.
std::string_view ExtensionOf(std::string_view name) {
  const std::size_t dot = name.find_last_of('.');
  const std::size_t slash = name.find_last_of('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return {};
  }
  return name.substr(dot);
}

} // namespace

TDataTable::TDataTable(TDataDirectory &directory, std::string tableName, TTableOpenMode mode)
    : directory_(directory), tableName_(CutText(TrimText(tableName))), mode_(mode),
      dataFile_(directory.Session().Engine(), std::string(), directory.IsMemory(), *this),
      indexFile_(directory.Session().Engine(), std::string(), directory.IsMemory(), *this, *this),
      blobFile_(directory.Session().Engine(), std::string(), directory.IsMemory(), *this, *this) {}

TDataTable::~TDataTable() {
  try {
    inTransaction_ = false;
    useCount_ = 0;
    CloseTable(false, true);
  } catch (const std::exception &) {
    // A table being destroyed cannot report; its files are closed below regardless.
  }
  CloseFiles();
}

TDataSession &TDataTable::Session() const { return directory_.Session(); }

TDataEngine &TDataTable::Engine() const { return directory_.Session().Engine(); }

std::string TDataTable::TableName() const { return displayName_.empty() ? tableName_ : displayName_; }

std::string TDataTable::DatabaseName() const { return directory_.GetDisplayName(); }

bool TDataTable::ForceFlush() const { return Session().ForceBufferFlush(); }

bool TDataTable::StrictChangeDetection() const { return Session().StrictChangeDetection(); }

bool TDataTable::TableChangedFor(TDataCursor *) { return BeginRead(); }

const TFieldDef *TDataTable::FieldDef(std::int16_t number) const {
  return number >= 1 && number <= dataFile_.GetFieldCount() ? dataFile_.GetFieldDef(number) : nullptr;
}

void TDataTable::RaiseTableError(std::int32_t code) const {
  Engine().RaiseError(static_cast<TErrorCode>(code),
                      TErrorNames{.DatabaseName = DatabaseName(), .TableName = TableName()});
}

std::string_view TDataTable::NameWithoutDataExtension(const TDataEngine &engine, std::string_view tableName,
                                                      bool temporary) {
  const TEngineSettings &settings = engine.Settings();
  const std::string &dataExtension = temporary ? settings.TableDataTempExtension : settings.TableDataExtension;
  if (SameText(ExtensionOf(tableName), dataExtension)) {
    tableName.remove_suffix(dataExtension.size());
  }
  return tableName;
}

std::string TDataTable::FileNameFor(const TDataDirectory &directory, std::string_view tableName,
                                    const std::string &extension, bool temporary) {
  return directory.Path() +
         std::string(NameWithoutDataExtension(directory.Session().Engine(), TrimText(tableName), temporary)) +
         extension;
}

std::string TDataTable::FileName(const std::string &extension) const {
  return FileNameFor(directory_, tableName_, extension, mode_.Temporary);
}

std::string TDataTable::LockName() const {
  std::string_view name = NameWithoutDataExtension(Engine(), tableName_, mode_.Temporary);
  const std::size_t slash = name.find_last_of('/');
  return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

void TDataTable::SetFileNames(bool opening) {
  const TEngineSettings &settings = Engine().Settings();
  const bool temporary = mode_.Temporary;
  const bool inMemory = directory_.IsMemory();
  const auto name = [&](TEngineFile &file, const std::string &extension, const std::string &tempExtension) {
    file.SetName(FileName(temporary ? tempExtension : extension), inMemory);
    file.SetExclusive(mode_.Exclusive);
    file.SetReadOnly(mode_.ReadOnly);
    file.SetTemporary(temporary && opening);
    file.SetDatabaseName(DatabaseName());
  };
  name(dataFile_, settings.TableDataExtension, settings.TableDataTempExtension);
  name(indexFile_, settings.TableIndexExtension, settings.TableIndexTempExtension);
  name(blobFile_, settings.TableBlobExtension, settings.TableBlobTempExtension);
}

void TDataTable::OpenTable(bool counted, bool checkStructure) {
  if (counted) {
    ++useCount_;
  }
  if (open_) {
    return;
  }
  indexesLost_ = false;
  open_ = true;
  try {
    SetFileNames(true);
    dataFile_.OpenFile();
    OpenIndexFile();
    if (HasBlobFields()) {
      blobFile_.OpenFile();
    }
    const bool blobOpen = blobFile_.IsOpen();
    forcedReadOnly_ =
        dataFile_.ForcedReadOnly() || indexFile_.ForcedReadOnly() || (blobOpen && blobFile_.ForcedReadOnly());
    // Without a usable lock file no other party could notice this table's writes.
    mode_.ReadOnly = mode_.ReadOnly || forcedReadOnly_ || directory_.ReadOnly() || dataFile_.ReadOnly() ||
                     indexFile_.ReadOnly() || (blobOpen && blobFile_.ReadOnly());
    lockEntry_ = nullptr;
    if (!mode_.Exclusive && !forcedReadOnly_ && !mode_.ReadOnly) {
      lockEntry_ = &directory_.Locks().GetTableLocks(LockName());
    }
    const bool tookReadLock = lockEntry_ != nullptr && lockEntry_->ReadLock();
    try {
      dataFile_.ReadHeader();
      indexFile_.ReadHeader();
      if (blobOpen) {
        blobFile_.ReadHeader();
      }
      if (checkStructure) {
        dataFile_.VerifyStructure();
        if (!indexesLost_) {
          indexFile_.VerifyStructure();
        }
        if (blobOpen) {
          blobFile_.VerifyStructure();
        }
      }
    } catch (...) {
      if (tookReadLock) {
        lockEntry_->ReadUnlock();
      }
      throw;
    }
    if (tookReadLock) {
      lockEntry_->ReadUnlock();
    }
  } catch (...) {
    // The failed open is no use: closing must not find the table still used by it.
    if (counted && useCount_ > 0) {
      --useCount_;
    }
    CloseTable(false, true);
    throw;
  }
}

void TDataTable::OpenIndexFile() {
  try {
    indexFile_.OpenFile();
    return;
  } catch (const ENEXORAEngineError &error) {
    if (error.ErrorCode() != NEXORA_OSENOENT && error.ErrorCode() != NEXORA_READERR) {
      throw;
    }
  }
  indexesLost_ = true;
  indexFile_.CreateFile();
  indexFile_.WriteHeader(true);
  indexFile_.WriteIndexDefs(true);
  indexFile_.CloseFile();
  indexFile_.OpenFile();
}

void TDataTable::CloseTable(bool discardTemporary, bool uncounted) {
  if (!open_) {
    return;
  }
  if (!uncounted && useCount_ > 0) {
    --useCount_;
  }
  if (inTransaction_ || useCount_ > 0 || (directory_.KeepTablesOpen() && !uncounted && !mode_.Exclusive)) {
    return;
  }
  if (mode_.Exclusive && !mode_.ReadOnly && dataFile_.IsOpen()) {
    if (mode_.Temporary && discardTemporary) {
      DiscardChanges(true, false, false);
    } else {
      WriteChanges(true, false, false, false, false);
    }
  }
  ReleaseAllLocks();
  CloseFiles();
  indexesLost_ = false;
  writtenSinceFlush_ = false;
  open_ = false;
}

void TDataTable::CloseFiles() {
  indexFile_.CloseFile();
  blobFile_.CloseFile();
  dataFile_.CloseFile();
}

void TDataTable::CreateTable(const TTableDefinition &definition) {
  ++useCount_;
  open_ = true;
  try {
    SetFileNames(false);
    CreateFiles(definition);
  } catch (...) {
    open_ = false;
    --useCount_;
    throw;
  }
}

void TDataTable::CreateFiles(const TTableDefinition &definition) {
  std::vector<TFieldDef> fields = definition.Fields;
  TTableSettings settings;
  settings.IndexPageSize = definition.IndexPageSize;
  settings.SecondaryIndexCount = static_cast<std::int32_t>(definition.SecondaryIndexes.size());
  settings.BlobBlockSize = definition.BlobBlockSize;
  settings.Encrypted = definition.Encrypted;
  settings.Password = definition.Password;
  settings.LocaleId = definition.LocaleId;
  if (const TDefinitionFailure failure = CheckTableDefinition(settings, fields)) {
    RaiseDefinitionFailure(Engine(), failure, TableName(), DatabaseName());
  }
  // Only files this call created are removed on failure: a file that could not be created
  // may belong to a table someone else uses.
  std::vector<TBufferedFile *> created;
  try {
    dataFile_.CreateFile();
    created.push_back(&dataFile_);
    const TDigest check = definition.Encrypted ? SetPassword(definition.Password) : TDigest{};
    dataFile_.SetTableInfo(definition.LocaleId, definition.UserMajorVersion, definition.UserMinorVersion,
                           definition.LastAutoInc == -1 ? 0 : definition.LastAutoInc, definition.BlobBlockSize,
                           definition.IndexPageSize, definition.Description, check, definition.Encrypted ? 1 : 0);
    dataFile_.SetFieldDefs(fields);
    dataFile_.WriteHeader(true);
    dataFile_.WriteFieldDefs();

    indexFile_.CreateFile();
    created.push_back(&indexFile_);
    indexFile_.AddPrimaryIndex(definition.PrimaryIndex.value_or(TIndexFile::DefaultPrimaryIndexDef()));
    for (const TIndexDef &index : definition.SecondaryIndexes) {
      indexFile_.AddIndex(index);
    }
    indexFile_.SetIndexDef(TextIndexSlot, TIndexFile::TextIndexDef(definition.TextIndexFields));
    indexFile_.WriteHeader(true);
    indexFile_.WriteIndexDefs(true);

    if (HasBlobFields()) {
      blobFile_.CreateFile();
      created.push_back(&blobFile_);
      blobFile_.WriteHeader(true);
    }
  } catch (...) {
    for (TBufferedFile *file : created) {
      try {
        file->CloseFile();
        file->DeleteFile();
      } catch (const std::exception &) {
        // The creation's own failure is the one to report.
      }
    }
    CloseFiles();
    throw;
  }
}

void TDataTable::DeleteTable() {
  SetFileNames(false);
  dataFile_.DeleteFile();
  indexFile_.DeleteFile();
  if (blobFile_.Exists()) {
    blobFile_.DeleteFile();
  }
}

void TDataTable::RenameTable(const std::string &newName, bool keepBackup) {
  SetFileNames(false);
  const TEngineSettings &settings = Engine().Settings();
  const std::string newTableName = CutText(TrimText(newName));
  const auto rename = [&](TEngineFile &file, const std::string &extension, const std::string &backupExtension) {
    if (!file.Exists()) {
      return;
    }
    if (keepBackup) {
      TEngineFile backup(Engine(), FileName(backupExtension), directory_.IsMemory());
      if (backup.Exists()) {
        backup.DeleteFile();
      }
      file.RenameFile(backup.Name());
    } else {
      file.RenameFile(FileNameFor(directory_, newTableName, extension, mode_.Temporary));
    }
  };
  rename(dataFile_, settings.TableDataExtension, settings.TableDataBackupExtension);
  rename(indexFile_, settings.TableIndexExtension, settings.TableIndexBackupExtension);
  rename(blobFile_, settings.TableBlobExtension, settings.TableBlobBackupExtension);
  if (!keepBackup) {
    tableName_ = newTableName;
  }
}

void TDataTable::EmptyTable() {
  dataFile_.EmptyFile();
  indexFile_.EmptyFile();
  if (blobFile_.IsOpen()) {
    blobFile_.EmptyFile();
  }
  DiscardChanges(true, false, false);
}

} // namespace nexora

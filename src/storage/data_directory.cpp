#include "storage/data_directory.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/data_session.h"
#include "storage/file_registry.h"
#include "support/short_text.h"

namespace nexora {

namespace {

// The form under which two table names are the same table.
std::string TableKey(std::string_view tableName) { return UpperText1252(TrimText(tableName)); }

// The name without the extension when its extension equals the data extension (without
// regard to case); nullopt otherwise.
std::optional<std::string> DataFileTableName(std::string_view fileName, const std::string &dataExtension) {
  if (fileName.size() <= dataExtension.size() ||
      !SameText(fileName.substr(fileName.size() - dataExtension.size()), dataExtension)) {
    return std::nullopt;
  }
  return std::string(fileName.substr(0, fileName.size() - dataExtension.size()));
}

} // namespace

TDataDirectory::TDataDirectory(TDataSession &session, std::string path, std::string_view databaseName)
    : TSessionDirectory(session, std::move(path), databaseName) {
  locks_ = std::make_unique<TDataDirectoryLocks>(*this);
  readOnly_ = locks_->Unusable();
}

TDataDirectory::~TDataDirectory() {
  try {
    Rollback();
  } catch (const std::exception &) {
    // Closing cannot report; the tables discard their buffers as they close below.
  }
  tables_.clear();
  locks_.reset();
}

std::string TDataDirectory::GetDisplayName() const {
  if (Path().empty()) {
    return DatabaseName();
  }
  return Path().size() > 1 ? Path().substr(0, Path().size() - 1) : Path();
}

std::vector<std::string> TDataDirectory::ListTables() const {
  const std::string &dataExtension = Session().Engine().Settings().TableDataExtension;
  std::vector<std::string> names;
  if (IsMemory()) {
    for (const std::string &fileName : FilesOf(Session().Engine()).MemoryFileNames()) {
      if (fileName.size() < Path().size() || !SameText(std::string_view(fileName).substr(0, Path().size()), Path())) {
        continue;
      }
      const std::string_view rest = std::string_view(fileName).substr(Path().size());
      if (rest.find('/') == std::string_view::npos) {
        if (std::optional<std::string> name = DataFileTableName(rest, dataExtension)) {
          names.push_back(std::move(*name));
        }
      }
    }
  } else {
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(Path().empty() ? "." : Path(), error)) {
      if (entry.is_regular_file(error)) {
        if (std::optional<std::string> name = DataFileTableName(entry.path().filename().string(), dataExtension)) {
          names.push_back(std::move(*name));
        }
      }
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// --- the table registry

std::vector<std::unique_ptr<TDataTable>>::iterator TDataDirectory::Position(std::string_view tableName) {
  const std::string key = TableKey(tableName);
  return std::lower_bound(tables_.begin(), tables_.end(), key, [](const auto &table, const std::string &wanted) {
    return TableKey(table->Name()) < wanted;
  });
}

TDataTable *TDataDirectory::FindTable(std::string_view tableName) const {
  const std::string key = TableKey(tableName);
  const auto found =
      std::find_if(tables_.begin(), tables_.end(), [&](const auto &table) { return TableKey(table->Name()) == key; });
  return found == tables_.end() ? nullptr : found->get();
}

void TDataDirectory::RaiseAccessDenied(std::string_view tableName) const {
  Session().Engine().RaiseError(NEXORA_OSEACCES,
                                TErrorNames{.DatabaseName = GetDisplayName(), .TableName = std::string(tableName)});
}

TDataTable &TDataDirectory::OpenTable(std::string_view tableName, TTableOpenMode mode, bool checkStructure) {
  return OpenTableObject(tableName, mode, true, checkStructure);
}

TDataTable &TDataDirectory::OpenTableObject(std::string_view tableName, TTableOpenMode mode, bool counted,
                                            bool checkStructure) {
  if (TDataTable *open = FindTable(tableName)) {
    if (mode.Exclusive || open->Exclusive()) {
      RaiseAccessDenied(tableName);
    }
    open->OpenTable(counted, checkStructure);
    return *open;
  }
  auto created = std::make_unique<TDataTable>(*this, std::string(tableName), mode);
  TDataTable &table = **tables_.insert(Position(tableName), std::move(created));
  try {
    table.OpenTable(counted, checkStructure);
  } catch (...) {
    DropClosedTables();
    throw;
  }
  return table;
}

void TDataDirectory::CloseTable(TDataTable &table) {
  table.CloseTable(false, false);
  DropClosedTables();
}

void TDataDirectory::DropClosedTables() {
  std::erase_if(tables_, [](const auto &table) { return !table->IsOpen(); });
}

void TDataDirectory::CheckWritable(std::string_view tableName) const {
  if (readOnly_) {
    RaiseAccessDenied(tableName);
  }
}

void TDataDirectory::CheckTableChangeAllowed(std::string_view tableName) const {
  CheckWritable(tableName);
  if (FindTable(tableName) != nullptr || inTransaction_) {
    RaiseAccessDenied(tableName);
  }
}

void TDataDirectory::CreateTable(std::string_view tableName, const TTableDefinition &definition) {
  CheckTableChangeAllowed(tableName);
  TDataTable table(*this, std::string(tableName));
  table.CreateTable(definition);
}

void TDataDirectory::DeleteTable(std::string_view tableName) {
  CheckTableChangeAllowed(tableName);
  TDataTable(*this, std::string(tableName)).DeleteTable();
}

void TDataDirectory::RenameTable(std::string_view tableName, std::string_view newName) {
  CheckTableChangeAllowed(tableName);
  CheckTableChangeAllowed(newName);
  TDataTable(*this, std::string(tableName)).RenameTable(std::string(newName), false);
}

bool TDataDirectory::TableExists(std::string_view tableName) const {
  TDataEngine &engine = Session().Engine();
  return TEngineFile(engine, TDataTable::FileNameFor(*this, tableName, engine.Settings().TableDataExtension),
                     IsMemory())
      .Exists();
}

// --- transactions

void TDataDirectory::StartTransaction(const std::optional<std::vector<std::string>> &tableNames) {
  if (readOnly_ || inTransaction_) {
    return;
  }
  restricted_ = tableNames.has_value();
  if (!restricted_) {
    locks_->LockAllTransactions();
    for (const auto &table : tables_) {
      transactionTables_.push_back(table.get());
    }
  } else {
    for (const std::string &name : *tableNames) {
      // A table not yet open is opened for the transaction alone (uncounted): it closes when
      // the transaction ends, unless a cursor opens it meanwhile.
      TDataTable *table = &OpenTableObject(name, {}, false, true);
      if (std::find(transactionTables_.begin(), transactionTables_.end(), table) == transactionTables_.end()) {
        transactionTables_.push_back(table);
      }
    }
    // One order for every session, so that two restricted transactions cannot deadlock.
    std::sort(transactionTables_.begin(), transactionTables_.end(), [](TDataTable *a, TDataTable *b) {
      const std::int32_t slotA = a->LockEntry() ? a->LockEntry()->Slot() : 0;
      const std::int32_t slotB = b->LockEntry() ? b->LockEntry()->Slot() : 0;
      return slotA < slotB;
    });
  }
  inTransaction_ = true;
  try {
    for (TDataTable *table : transactionTables_) {
      table->StartTransaction(restricted_);
    }
  } catch (...) {
    for (TDataTable *table : transactionTables_) {
      try {
        table->Rollback(restricted_);
      } catch (const std::exception &) {
        // The start's own failure is the one to report.
      }
    }
    if (!restricted_) {
      locks_->UnlockAllTransactions();
    }
    EndTransaction();
    throw;
  }
}

void TDataDirectory::Commit() {
  if (!inTransaction_) {
    return;
  }
  if (restricted_) {
    // Each table takes its own write lock; a refusal leaves the transaction open with the
    // tables not yet committed, for a later Commit or Rollback.
    for (TDataTable *table : transactionTables_) {
      table->Commit(true);
    }
    EndTransaction();
    return;
  }
  locks_->WriteLockAllTables();
  try {
    for (TDataTable *table : transactionTables_) {
      table->Commit(false);
    }
  } catch (...) {
    locks_->WriteUnlockAllTables();
    locks_->UnlockAllTransactions();
    EndTransaction();
    throw;
  }
  locks_->WriteUnlockAllTables();
  locks_->UnlockAllTransactions();
  EndTransaction();
}

void TDataDirectory::Rollback() {
  if (!inTransaction_) {
    return;
  }
  std::exception_ptr failure;
  for (TDataTable *table : transactionTables_) {
    try {
      table->Rollback(restricted_);
    } catch (...) {
      if (!failure) {
        failure = std::current_exception();
      }
    }
  }
  if (!restricted_) {
    locks_->UnlockAllTransactions();
  }
  EndTransaction();
  if (failure) {
    std::rethrow_exception(failure);
  }
}

void TDataDirectory::EndTransaction() {
  inTransaction_ = false;
  restricted_ = false;
  transactionTables_.clear();
  for (const auto &table : tables_) {
    if (table->UseCount() == 0 && !KeepTablesOpen()) {
      table->CloseTable(false, true);
    }
  }
  DropClosedTables();
}

TDataDirectory &OpenDirectory(TDataSession &session, std::string_view databaseName, std::string_view path,
                              bool matchByName, bool keepTablesOpen) {
  const std::string directoryPath = TDataSession::DirectoryPathFor(databaseName, path);
  auto *directory = dynamic_cast<TDataDirectory *>(session.FindDirectory(directoryPath, databaseName, matchByName));
  if (directory == nullptr) {
    directory = &static_cast<TDataDirectory &>(
        session.AddDirectory(std::make_unique<TDataDirectory>(session, directoryPath, databaseName)));
    directory->SetKeepTablesOpen(keepTablesOpen);
  }
  directory->AddReference();
  return *directory;
}

} // namespace nexora

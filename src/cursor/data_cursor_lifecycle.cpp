#include <algorithm>

#include "cursor/data_cursor.h"
#include "cursor/data_cursor_operation.h"
#include "engine/data_session.h"
#include "storage/field_def_rules.h"
#include "storage/record.h"
#include "support/short_text.h"

namespace nexora {

namespace {
constexpr std::size_t MaxFieldOriginLength = 100;
} // namespace

TDataCursor::TDataCursor(TDataDirectory &directory) : directory_(directory) {}

TDataCursor::~TDataCursor() {
  try {
    Close();
  } catch (const std::exception &) {
    // A cursor being destroyed cannot report; its table is given back regardless.
  }
}

void TDataCursor::SetTableName(std::string_view name) {
  std::string bare = TrimText(name);
  std::replace(bare.begin(), bare.end(), '\\', '/');
  if (const std::size_t slash = bare.find_last_of('/'); slash != std::string::npos) {
    bare.erase(0, slash + 1);
  }
  const std::string &dataExtension = directory_.Session().Engine().Settings().TableDataExtension;
  if (bare.size() > dataExtension.size() &&
      SameText(std::string_view(bare).substr(bare.size() - dataExtension.size()), dataExtension)) {
    bare.resize(bare.size() - dataExtension.size());
  }
  tableName_ = CutName(bare);
}

void TDataCursor::RaiseIfError(TErrorCode code, const std::string &detail) const {
  if (code == NEXORA_NONE) {
    return;
  }
  directory_.Session().Engine().RaiseError(
      code, TErrorNames{.DatabaseName = directory_.GetDisplayName(), .TableName = tableName_, .Detail = detail});
}

const TFieldDef &TDataCursor::FieldDef(std::int16_t number) const {
  if (number < 1 || number > fieldCount_) {
    directory_.Session().Engine().RaiseError(NEXORA_OUTOFRANGE, TErrorNames{.DatabaseName = directory_.GetDisplayName(),
                                                                            .TableName = tableName_,
                                                                            .FieldName = std::to_string(number)});
  }
  return fields_[static_cast<std::size_t>(number - 1)];
}

const std::string &TDataCursor::FieldOrigin(std::int16_t number) const {
  FieldDef(number);
  return origins_[static_cast<std::size_t>(number - 1)];
}

void TDataCursor::Open() {
  if (open_) {
    return;
  }
  fields_.clear();
  origins_.clear();
  indexNumber_ = NoIndexChosen;
  table_ = &directory_.OpenTable(tableName_, {.Exclusive = exclusive_, .ReadOnly = readOnly_}, checkStructure_);
  open_ = true;
  try {
    readOnly_ = readOnly_ || table_->ReadOnly();
    forcedReadOnly_ = table_->ForcedReadOnly();
    readOnly_ = readOnly_ || forcedReadOnly_;
    fieldCount_ = table_->DataFile().GetFieldCount();
    recordSize_ = table_->DataFile().GetRecordSize();
    SaveChangeCounters();
    LoadFieldDescriptors();
    current_.assign(recordSize_, 0);
    saved_.assign(recordSize_, 0);
    bitmap_ = TRecordsBitmap();
    ordinal_ = 1;
    slot_ = 1;
    firstBound_ = 1;
    lastBound_ = TableRecordCount();
    bof_ = false;
    eof_ = false;
    if (table_->IndexesLost()) {
      RebuildLostIndex();
    }
    AssignIndex(naturalOrderAtOpen_ ? NaturalOrder : 0);
    RebuildSets();
    First();
  } catch (...) {
    CloseOnFailure();
    throw;
  }
}

void TDataCursor::CloseOnFailure() {
  try {
    Close();
  } catch (const std::exception &) {
    // The failure that made the cursor close is the one to report.
  }
}

void TDataCursor::LoadFieldDescriptors() {
  const TDataFile &data = table_->DataFile();
  hasAutoInc_ = false;
  hasConstraints_ = false;
  hasDefaults_ = false;
  for (std::int16_t number = 1; number <= fieldCount_; ++number) {
    const TFieldDef &def = *data.GetFieldDef(number);
    fields_.push_back(def);
    origins_.push_back(CutText(tableName_ + "." + def.Name(), MaxFieldOriginLength));
    hasAutoInc_ = hasAutoInc_ || (def.Type() == ftcInteger && def.Subtype() == fstAutoInc);
    hasConstraints_ = hasConstraints_ || def.Required() || !def.Minimum().empty() || !def.Maximum().empty();
    hasDefaults_ = hasDefaults_ || !def.Default().empty();
  }
}

void TDataCursor::Close() {
  if (!open_) {
    return;
  }
  FreeBlobs(true);
  ClearRange();
  SetNoRecords();
  bof_ = false;
  eof_ = false;
  current_.clear();
  saved_.clear();
  currentKey_.clear();
  bitmap_ = TRecordsBitmap();
  TDataTable *table = std::exchange(table_, nullptr);
  fields_.clear();
  origins_.clear();
  fieldCount_ = 0;
  recordSize_ = 0;
  open_ = false;
  directory_.CloseTable(*table);
}

std::int32_t TDataCursor::IndexCount() const { return table_->IndexFile().SecondaryCount(); }

void TDataCursor::AssignIndex(std::uint8_t number) {
  if (number == indexNumber_) {
    return;
  }
  indexNumber_ = number;
  LoadIndexInfo();
}

void TDataCursor::LoadIndexInfo() {
  if (indexNumber_ == NaturalOrder) {
    indexName_.clear();
    layout_ = TKeyLayout{};
    indexUnique_ = false;
    currentKey_.clear();
    return;
  }
  const TIndexFile &index = table_->IndexFile();
  indexName_ = index.IndexDef(indexNumber_).Name();
  indexUnique_ = indexNumber_ == 0 || index.IndexDef(indexNumber_).Unique();
  layout_ = index.KeyLayout(indexNumber_);
  currentKey_.assign(static_cast<std::size_t>(layout_.KeyLength), 0);
}

void TDataCursor::SetIndexName(std::string_view name) {
  if (SameText(name, indexName_) && indexNumber_ != NaturalOrder) {
    return;
  }
  for (std::int32_t number = 0; number <= IndexCount(); ++number) {
    if (SameText(table_->IndexFile().IndexDef(number).Name(), name)) {
      SetIndexNumber(static_cast<std::uint8_t>(number));
      return;
    }
  }
  directory_.Session().Engine().RaiseError(NEXORA_INVALIDINDEXNAME,
                                           TErrorNames{.DatabaseName = directory_.GetDisplayName(),
                                                       .TableName = tableName_,
                                                       .IndexName = std::string(name)});
}

void TDataCursor::SetIndexNumber(std::uint8_t number) {
  if (number == indexNumber_) {
    return;
  }
  if (number != NaturalOrder && number > IndexCount()) {
    directory_.Session().Engine().RaiseError(NEXORA_INVALIDINDEXNAME,
                                             TErrorNames{.DatabaseName = directory_.GetDisplayName(),
                                                         .TableName = tableName_,
                                                         .IndexName = std::to_string(number)});
  }
  Operation([&] {
    ClearRange();
    AssignIndex(number);
    RebuildSets();
    Reposition();
  });
}

std::int32_t TDataCursor::GetBlobBlockSize() {
  if (open_) {
    return static_cast<std::int32_t>(table_->DataFile().GetBlobBlockSize());
  }
  TDataEngine &engine = directory_.Session().Engine();
  const std::string path = TDataTable::FileNameFor(directory_, tableName_, engine.Settings().TableDataExtension);
  return static_cast<std::int32_t>(
      TDataFile::ReadClosedHeader(engine, path, directory_.IsMemory(), directory_.GetDisplayName()).BlobBlockSize());
}

void TDataCursor::RebuildLostIndex() {
  TDataTable &table = *table_;
  table.BeginWrite();
  try {
    TIndexFile &index = table.IndexFile();
    TDataFile &data = table.DataFile();
    index.SetIndexDef(0, TIndexFile::DefaultPrimaryIndexDef());
    const TKeyLayout primary = index.KeyLayout(0);
    TCountedTree tree(index, 0);
    TKeyPath path;
    std::vector<std::uint8_t> key(static_cast<std::size_t>(primary.KeyLength));
    data.SetRecordCount(0);
    for (std::int32_t n = 1; n <= data.GetBufferCount(); ++n) {
      TBuffer *buffer = data.GetBuffer(nullptr, 0, n, true, TReadDirection::Forward);
      const auto &record = dynamic_cast<const TRecord &>(*buffer);
      if (!record.Deleted()) {
        data.IncRecordCount();
        nexora::BuildKey(primary, record.Image(), key.data());
        try {
          tree.InsertKey(key.data(), n, path);
        } catch (...) {
          data.ReleaseBuffer(buffer);
          throw;
        }
      }
      data.ReleaseBuffer(buffer);
    }
    index.SetIndexDef(TextIndexSlot, TIndexFile::TextIndexDef({}));
    index.TouchHeader();
    table.WriteChanges(false, true, false, false, true);
  } catch (...) {
    table.EndWrite();
    throw;
  }
  table.EndWrite();
  table.IndexesRebuilt();
  SaveChangeCounters();
  firstBound_ = 1;
  lastBound_ = TableRecordCount();
}

} // namespace nexora

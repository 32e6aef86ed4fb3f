#include "storage/data_file.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "engine/data_engine.h"
#include "storage/field_def_rules.h"
#include "storage/record.h"
#include "support/date_time.h"

namespace nexora {
namespace {

constexpr std::int64_t DefinitionsOffset = static_cast<std::int64_t>(DataHeader::Size);
constexpr std::int64_t DefinitionSize = static_cast<std::int64_t>(TFieldDef::Size);
constexpr std::int32_t MaxIdentifier = std::numeric_limits<std::int32_t>::max();

TFieldDef MakeSystemField(std::int16_t number, std::string_view name, std::uint8_t type, std::uint8_t subtype,
                          std::uint16_t declaredSize, std::uint16_t physicalSize, std::uint16_t recordOffset) {
  TFieldDef definition;
  definition.SetNumber(static_cast<std::uint16_t>(number));
  definition.SetName(name);
  definition.SetType(type);
  definition.SetSubtype(subtype);
  definition.SetDeclaredSize(declaredSize);
  definition.SetPhysicalSize(physicalSize);
  definition.SetRecordOffset(recordOffset);
  return definition;
}

// The identifier after current: 2147483647 is followed by 1.
std::int32_t NextIdentifier(std::int64_t current) {
  return current >= MaxIdentifier ? 1 : static_cast<std::int32_t>(current + 1);
}

} // namespace

std::string StructureProblemMessage(const TStructureCheck &check) {
  const std::string field = check.FieldName + " in table header";
  switch (check.Problem) {
  case TStructureProblem::None:
    return {};
  case TStructureProblem::Locale:
    return "The locale support for the table is not available or installed";
  case TStructureProblem::FieldNameBlank:
    return "Invalid field name (blank) for field # " + std::to_string(check.Field) + " in table header";
  case TStructureProblem::FieldNameFirstCharacter:
    return "Invalid field name (first character) for field " + field;
  case TStructureProblem::FieldNameTooLong:
    return "Invalid field name (too long) for field " + field;
  case TStructureProblem::FieldNameDuplicate:
    return "Invalid field name (duplicate) for field " + field;
  case TStructureProblem::FieldTypeUnknown:
    return "Invalid field data type (Unknown) for field " + field;
  case TStructureProblem::FieldLength:
    return "Invalid field length for field " + field;
  case TStructureProblem::DefaultValue:
    return "Invalid default value for field " + field;
  case TStructureProblem::MinimumValue:
    return "Invalid minimum value for field " + field;
  case TStructureProblem::MaximumValue:
    return "Invalid maximum value for field " + field;
  case TStructureProblem::FieldDecimals:
    return "Invalid field decimals for field " + field;
  case TStructureProblem::FieldOffset:
    return "Invalid field offset for field " + field;
  case TStructureProblem::FieldNumber:
    return "Invalid field number for field " + field;
  case TStructureProblem::RecordLength:
    return "Invalid physical record length in table header";
  case TStructureProblem::RecordAlignment:
    return "Physical records not aligned on even record size boundaries";
  case TStructureProblem::RecordCount:
    return "Physical record count not correct";
  case TStructureProblem::FreeRecord:
    return "Invalid next free record pointer";
  case TStructureProblem::BlobFieldCount:
    return "Invalid BLOB field count in table header";
  }
  return {};
}

TDataFile::TDataFile(TDataEngine &engine, std::string name, bool inMemory, TDataFileOwner &owner)
    : TBufferedFile(engine, std::move(name), inMemory, owner), dataOwner_(owner) {}

TDataFile::~TDataFile() { TDataFile::CloseFile(); }

std::string TDataFile::GetErrorName() const { return dataOwner_.TableName(); }

std::string TDataFile::GetErrorDatabaseName() const { return dataOwner_.DatabaseName(); }

const TFieldDef &TDataFile::RecordIDFieldDef() {
  static const TFieldDef definition =
      MakeSystemField(RecordIDFieldNumber, RecordIDFieldName, ftcInteger, fstNone, 0, 4, 5);
  return definition;
}

const TFieldDef &TDataFile::RecordHashFieldDef() {
  static const TFieldDef definition =
      MakeSystemField(RecordHashFieldNumber, RecordHashFieldName, ftcBytes, fstRecordHash, 16, 16, 9);
  return definition;
}

// --- file lifecycle

void TDataFile::CreateFile() {
  TBufferedFile::CreateFile();
  FreeBuffers();
  fields_.clear();
  definitionsChanged_ = false;
  header_.Clear();
  header_.SetU8(DataHeader::Version, CurrentTableVersion);
  header_.SetDigest(DataHeader::Signature, Engine().SignatureDigest());
  header_.SetI32(DataHeader::NextRecordNumber, 1);
  SetPending();
  ResetCache();
}

void TDataFile::OpenFile() {
  if (IsOpen()) {
    return;
  }
  TBufferedFile::OpenFile();
  try {
    header_.Clear();
    fields_.clear();
    definitionsChanged_ = false;
    // An older file's header may be shorter than 512 bytes: its version byte decides
    // (12035) before the short read would (9217).
    const std::int32_t received = ReadHeaderImage(true);
    if (received < static_cast<std::int32_t>(DataHeader::Size) &&
        (received <= static_cast<std::int32_t>(DataHeader::Version) || header_.Version() == CurrentTableVersion)) {
      RaiseError(NEXORA_READERR);
    }
    CheckHeader();
    if (IsEncrypted() && !dataOwner_.MatchPassword(header_.PasswordCheck())) {
      RaiseError(NEXORA_NOTSUFFTABLERIGHTS);
    }
    // Keys and names of the table compare under its locale: without it nothing can.
    if (!TDataEngine::IsLocaleAvailable(GetLocaleId())) {
      RaiseError(NEXORA_CANNOTLOADLDDRV);
    }
    ReadFieldDefs();
    ResetCache();
  } catch (...) {
    CloseFile();
    throw;
  }
}

void TDataFile::CloseFile() {
  fields_.clear();
  fields_.shrink_to_fit();
  definitionsChanged_ = false;
  FreeBuffers();
  TBufferedFile::CloseFile();
}

// --- buffer geometry

std::unique_ptr<TBuffer> TDataFile::NewBuffer() { return std::make_unique<TRecord>(*this); }

void TDataFile::RaiseCorrupt() const { RaiseError(NEXORA_FILECORRUPT); }

void TDataFile::CheckGrowth() {
  if (GetBufferCount() >= Engine().Limits().MaxRecordCount) {
    RaiseError(NEXORA_TABLEFULL);
  }
  CheckFileSizeLimit();
}

void TDataFile::AddBufferCount() {
  header_.SetI32(DataHeader::NextRecordNumber, header_.NextRecordNumber() + 1);
  SetPending();
}

std::int32_t TDataFile::GetMaxBuffers() const {
  const TEngineSettings &settings = Engine().Settings();
  return CacheLimit(settings.MaxTableDataBufferSize, settings.MaxTableDataBufferCount, 36);
}

std::int32_t TDataFile::GetDefaultReadAhead() const { return std::max(1, Capacity() / 2); }

std::int32_t TDataFile::GetBufferSize() const { return header_.RecordSize(); }

std::int32_t TDataFile::GetPayloadSize() const { return header_.RecordSize(); }

std::int64_t TDataFile::GetFirstOffset() const { return DefinitionsOffset + DefinitionAreaSize(); }

std::int32_t TDataFile::GetBufferCount() const { return header_.NextRecordNumber() - 1; }

std::uint32_t TDataFile::GetChangeCounter() const { return header_.ChangeCounter(); }

std::int32_t TDataFile::GetScanDepth() const { return 4; }

std::int32_t TDataFile::GetGrowthStep() const { return 64; }

std::int64_t TDataFile::DefinitionAreaSize() const {
  return static_cast<std::int64_t>(header_.FieldCount()) * DefinitionSize;
}

std::int32_t TDataFile::GetReadAhead(TDataCursor * /*cursor*/, TReadDirection /*direction*/) {
  return readAheadWanted_ > 0 ? std::min(readAheadWanted_, DefaultReadAhead()) : DefaultReadAhead();
}

// --- header

void TDataFile::ReadHeader() { ReadHeaderImage(false); }

std::int32_t TDataFile::ReadHeaderImage(bool allowShort) {
  std::int32_t received = 0;
  {
    TEngineFileIO io(*this);
    Seek(0, 0);
    received = ReadBuffer(header_.Bytes(), static_cast<std::int32_t>(DataHeader::Size), allowShort);
  }
  header_.SetU8(DataHeader::PendingChanges, 0);
  return received;
}

bool TDataFile::WriteHeader(bool force) {
  if (!force && !header_.PendingChanges()) {
    return false;
  }
  header_.SetU32(DataHeader::ChangeCounter, header_.ChangeCounter() + 1);
  header_.SetF64(DataHeader::LastWriteTime, EncodeHeaderTime(LocalDayCountNow()));
  // The data header is never enciphered.
  WriteArea(0, header_.Bytes(), static_cast<std::int32_t>(DataHeader::Size), nullptr);
  header_.SetU8(DataHeader::PendingChanges, 0);
  return true;
}

void TDataFile::TouchHeader() {
  header_.SetU32(DataHeader::ChangeCounter, header_.ChangeCounter() + 1);
  SetPending();
  dataOwner_.MarkWritten();
}

void TDataFile::EmptyFile() {
  TBufferedFile::EmptyFile();
  header_.SetU32(DataHeader::ChangeCounter, 0);
  header_.SetI32(DataHeader::FreeRecordHead, 0);
  header_.SetI32(DataHeader::NextRecordNumber, 1);
  header_.SetI32(DataHeader::LastRecordID, 0);
  header_.SetI32(DataHeader::LastAutoInc, 0);
  header_.SetI32(DataHeader::RecordCount, 0);
  SetPending();
}

void TDataFile::CheckHeader() {
  if (const TErrorCode code = Engine().CheckTableIdentity(header_.Version(), header_.Signature())) {
    RaiseError(code);
  }
  if (header_.FieldCount() > MaxFieldCount) {
    RaiseError(NEXORA_HEADERCORRUPT);
  }
}

bool TDataFile::ReloadHeader() {
  const std::uint32_t before = header_.ChangeCounter();
  ReadHeader();
  return header_.ChangeCounter() != before;
}

// --- structure check

TStructureCheck TDataFile::CheckStructure(bool verification) {
  if (!TDataEngine::IsLocaleAvailable(header_.LocaleId())) {
    return {TStructureProblem::Locale, 0, {}};
  }
  std::unordered_map<std::uint16_t, std::int32_t> numberCount;
  std::unordered_map<std::string, std::int32_t> nameCount;
  for (const TFieldDef &field : fields_) {
    ++numberCount[field.Number()];
    ++nameCount[FieldNameKey(field.Name())];
  }
  std::int64_t runningOffset = FirstFieldRecordOffset;
  std::int32_t blobFields = 0;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    TFieldDef &field = fields_[i];
    const auto position = static_cast<std::int32_t>(i + 1);
    const auto problem = [&](TStructureProblem found) {
      return TStructureCheck{found, position, field.Name().empty() ? std::to_string(position) : field.Name()};
    };
    ComputeFieldPhysical(field);
    switch (CheckFieldName(field)) {
    case TFieldNameProblem::Blank:
      return problem(TStructureProblem::FieldNameBlank);
    case TFieldNameProblem::FirstCharacter:
      return problem(TStructureProblem::FieldNameFirstCharacter);
    case TFieldNameProblem::TooLong:
      return problem(TStructureProblem::FieldNameTooLong);
    case TFieldNameProblem::None:
      break;
    }
    const std::uint8_t type = field.Type();
    if (type == ftcInvalid) {
      return problem(TStructureProblem::FieldTypeUnknown);
    }
    if (numberCount[field.Number()] > 1) {
      return problem(TStructureProblem::FieldNumber);
    }
    if (nameCount[FieldNameKey(field.Name())] > 1) {
      return problem(TStructureProblem::FieldNameDuplicate);
    }
    const bool sizeValid = HasDeclaredSize(type) ? field.DeclaredSize() <= DeclaredSizeLimit(type, field.Subtype())
                                                 : field.DeclaredSize() == 0;
    if (!sizeValid) {
      return problem(TStructureProblem::FieldLength);
    }
    if (!IsValidValueText(type, field.Default())) {
      return problem(TStructureProblem::DefaultValue);
    }
    if (!IsValidValueText(type, field.Minimum())) {
      return problem(TStructureProblem::MinimumValue);
    }
    if (!IsValidValueText(type, field.Maximum())) {
      return problem(TStructureProblem::MaximumValue);
    }
    if (type != ftcBCD && field.Decimals() != 0) {
      return problem(TStructureProblem::FieldDecimals);
    }
    if (field.RecordOffset() != runningOffset) {
      return problem(TStructureProblem::FieldOffset);
    }
    runningOffset += field.PhysicalSize() + 1;
    if (field.Number() != position) {
      return problem(TStructureProblem::FieldNumber);
    }
    blobFields += type == ftcBlob ? 1 : 0;
  }
  const std::int64_t recordSize = header_.RecordSize();
  if (RoundRecordSize(static_cast<std::int32_t>(runningOffset)) != recordSize) {
    return {TStructureProblem::RecordLength, 0, {}};
  }
  std::int64_t fileSize = 0;
  {
    TEngineFileIO io(*this);
    fileSize = GetFileSize();
  }
  const std::int64_t firstRecord = GetFirstOffset();
  std::int64_t recordsInFile = 0;
  if (fileSize > firstRecord) {
    const std::int64_t excess = fileSize - firstRecord;
    if (recordSize == 0 || excess % recordSize != 0) {
      return {TStructureProblem::RecordAlignment, 0, {}};
    }
    recordsInFile = excess / recordSize;
  }
  if (header_.NextRecordNumber() != recordsInFile + 1) {
    return {TStructureProblem::RecordCount, 0, {}};
  }
  if (header_.FreeRecordHead() < 0 || header_.FreeRecordHead() > recordsInFile) {
    return {TStructureProblem::FreeRecord, 0, {}};
  }
  if (verification && blobFields != header_.BlobFieldCount()) {
    return {TStructureProblem::BlobFieldCount, 0, {}};
  }
  return {};
}

void TDataFile::VerifyStructure() {
  const TStructureCheck check = CheckStructure(false);
  if (check.Problem == TStructureProblem::Locale) {
    RaiseError(NEXORA_CANNOTLOADLDDRV);
  }
  if (check) {
    RaiseError(NEXORA_HEADERCORRUPT);
  }
}

// --- closed tables

TDataFileHeader TDataFile::ReadClosedHeader(TDataEngine &engine, const std::string &path, bool inMemory,
                                            const std::string &databaseName) {
  TEngineFile file(engine, path, inMemory);
  file.SetDatabaseName(databaseName);
  file.SetReadOnly(true);
  file.OpenFile();
  TDataFileHeader image;
  std::int32_t received = 0;
  {
    TEngineFileIO io(file);
    file.Seek(0, 0);
    received = file.ReadBuffer(image.Bytes(), static_cast<std::int32_t>(DataHeader::Size), true);
  }
  file.CloseFile();

  if (received <= static_cast<std::int32_t>(DataHeader::Version)) {
    file.RaiseError(NEXORA_READERR);
  }
  const std::uint8_t version = image.Version();
  if (version > CurrentTableVersion) {
    file.RaiseError(NEXORA_BADSIGNATURE);
  }
  if (version == CurrentTableVersion) {
    if (received < static_cast<std::int32_t>(DataHeader::Size)) {
      file.RaiseError(NEXORA_READERR);
    }
    if (const TErrorCode code = engine.CheckTableIdentity(version, image.Signature())) {
      file.RaiseError(code);
    }
    return image;
  }

  // The older 127-byte header: its values go to their current places in an image that
  // is zero elsewhere.
  if (received < static_cast<std::int32_t>(OldDataHeader::Size)) {
    file.RaiseError(NEXORA_READERR);
  }
  const TDataFileHeader &old = image;
  TDataFileHeader mapped;
  namespace O = OldDataHeader;
  namespace D = DataHeader;
  mapped.SetU32(D::ChangeCounter, old.U32(O::ChangeCounter));
  mapped.SetU32(D::BlobBlockSize, old.U32(O::BlobBlockSize));
  mapped.SetU8(D::Version, old.U8(O::Version));
  mapped.SetDigest(D::Signature, engine.SignatureDigest());
  mapped.SetI32(D::FreeRecordHead, old.I32(O::FreeRecordHead));
  mapped.SetI32(D::NextRecordNumber, old.I32(O::NextRecordNumber));
  mapped.SetI32(D::LastRecordID, old.I32(O::LastRecordID));
  mapped.SetI32(D::LastAutoInc, old.I32(O::LastRecordID));
  mapped.SetI32(D::RecordCount, 0);
  mapped.SetU16(D::RecordSize, old.U16(O::RecordSize));
  mapped.SetU16(D::FieldCount, old.U16(O::FieldCount));
  mapped.SetU16(D::BlobFieldCount, old.U16(O::BlobFieldCount));
  mapped.SetU32(D::LastBlobID, old.U32(O::LastBlobID));
  mapped.SetU32(D::IndexPageSize, O::MappedIndexPageSize);
  std::copy_n(old.Bytes() + O::LastWriteTime, 8, mapped.Bytes() + D::LastWriteTime);
  const bool encrypted = old.U8(O::Encrypted) != 0;
  // The older format scrambles the description (and its password text) of an encrypted
  // table with a byte-wise XOR driven by a two-byte running key that is not known here,
  // so an encrypted older table's description is left empty.
  if (!encrypted) {
    mapped.SetText(D::Description, D::DescriptionField, old.Text(O::Description, O::DescriptionField));
  }
  mapped.SetU8(D::Encrypted, old.U8(O::Encrypted));
  mapped.SetU32(D::LocaleId, static_cast<std::uint32_t>(old.U16(O::LanguageId)) |
                                 static_cast<std::uint32_t>(old.U16(O::SortId)) << 16);
  mapped.SetU16(D::UserMajorVersion, old.U16(O::UserMajorVersion));
  mapped.SetU16(D::UserMinorVersion, old.U16(O::UserMinorVersion));
  return mapped;
}

// --- table creation and definitions

void TDataFile::SetTableInfo(std::uint32_t localeId, std::uint16_t userMajorVersion, std::uint16_t userMinorVersion,
                             std::int32_t lastAutoInc, std::uint32_t blobBlockSize, std::uint32_t indexPageSize,
                             std::string_view description, const TDigest &passwordCheck, std::uint8_t encrypted) {
  header_.SetU32(DataHeader::LocaleId, localeId);
  header_.SetU16(DataHeader::UserMajorVersion, userMajorVersion);
  header_.SetU16(DataHeader::UserMinorVersion, userMinorVersion);
  header_.SetI32(DataHeader::LastAutoInc, lastAutoInc);
  header_.SetU32(DataHeader::BlobBlockSize, blobBlockSize);
  header_.SetU32(DataHeader::IndexPageSize, indexPageSize);
  header_.SetText(DataHeader::Description, DataHeader::DescriptionField, description);
  header_.SetDigest(DataHeader::PasswordCheck, passwordCheck);
  header_.SetU8(DataHeader::Encrypted, encrypted);
  SetPending();
}

void TDataFile::SetFieldDefs(std::span<const TFieldDef> definitions) {
  if (definitions.size() > static_cast<std::size_t>(MaxFieldCount)) {
    RaiseError(NEXORA_FLDLIMIT);
  }
  fields_.clear();
  header_.SetU16(DataHeader::FieldCount, static_cast<std::uint16_t>(definitions.size()));
  header_.SetU16(DataHeader::BlobFieldCount, 0);
  SetPending();
  std::int32_t runningSize = FirstFieldRecordOffset;
  std::uint16_t blobFields = 0;
  fields_.reserve(definitions.size());
  for (const TFieldDef &definition : definitions) {
    fields_.push_back(definition);
    if (definition.Type() == ftcBlob) {
      if (blobFields == MaxBlobFieldCount) {
        RaiseError(NEXORA_BLOBLIMIT);
      }
      header_.SetU16(DataHeader::BlobFieldCount, ++blobFields);
    }
    runningSize += definition.PhysicalSize() + 1;
  }
  const std::int32_t recordSize = RoundRecordSize(runningSize);
  if (recordSize > MaxRecordSize) {
    RaiseError(NEXORA_RECTOOBIG);
  }
  header_.SetU16(DataHeader::RecordSize, static_cast<std::uint16_t>(recordSize));
  definitionsChanged_ = true;
  ResetCache();
}

void *TDataFile::DefinitionsContext() const {
  if (!IsEncrypted()) {
    return nullptr;
  }
  void *context = dataOwner_.CryptoContext();
  if (context == nullptr) {
    // An encrypted table whose owner holds no key: nothing may pass in clear.
    RaiseError(NEXORA_NOTSUFFTABLERIGHTS);
  }
  return context;
}

void TDataFile::ReadFieldDefs() {
  const std::int64_t areaSize = DefinitionAreaSize();
  fields_.clear();
  definitionsChanged_ = false;
  if (areaSize == 0) {
    return;
  }
  scratch_.assign(static_cast<std::size_t>(areaSize), 0);
  ReadArea(DefinitionsOffset, scratch_.data(), static_cast<std::int32_t>(areaSize), DefinitionsContext());
  const std::int32_t count = header_.FieldCount();
  fields_.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    fields_.emplace_back(scratch_.data() + static_cast<std::size_t>(i) * TFieldDef::Size);
  }
  scratch_.clear();
  scratch_.shrink_to_fit();
}

void TDataFile::WriteFieldDefs() {
  if (!definitionsChanged_) {
    return;
  }
  const std::int64_t areaSize = static_cast<std::int64_t>(fields_.size()) * DefinitionSize;
  if (areaSize > 0) {
    scratch_.assign(static_cast<std::size_t>(areaSize), 0);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      std::copy_n(fields_[i].Bytes(), TFieldDef::Size, scratch_.data() + i * TFieldDef::Size);
    }
    WriteArea(DefinitionsOffset, scratch_.data(), static_cast<std::int32_t>(areaSize), DefinitionsContext());
    scratch_.clear();
    scratch_.shrink_to_fit();
    if (dataOwner_.ForceFlush()) {
      FlushFile();
    }
  }
  definitionsChanged_ = false;
}

const TFieldDef *TDataFile::GetFieldDef(std::int16_t number) const {
  if (number == RecordIDFieldNumber) {
    return &RecordIDFieldDef();
  }
  if (number == RecordHashFieldNumber) {
    return &RecordHashFieldDef();
  }
  if (number < 1 || number > static_cast<std::int32_t>(fields_.size())) {
    return nullptr;
  }
  return &fields_[static_cast<std::size_t>(number - 1)];
}

const TFieldDef *TDataFile::FindFieldDef(std::int16_t number) const {
  if (number == RecordIDFieldNumber || number == RecordHashFieldNumber) {
    return GetFieldDef(number);
  }
  const auto found = std::find_if(fields_.begin(), fields_.end(), [number](const TFieldDef &field) {
    return field.Number() == static_cast<std::uint16_t>(number);
  });
  return found == fields_.end() ? nullptr : &*found;
}

const TFieldDef *TDataFile::FindFieldDefByName(std::string_view name) const {
  if (SameFieldName(name, RecordIDFieldName)) {
    return &RecordIDFieldDef();
  }
  if (SameFieldName(name, RecordHashFieldName)) {
    return &RecordHashFieldDef();
  }
  const auto found = std::find_if(fields_.begin(), fields_.end(),
                                  [name](const TFieldDef &field) { return SameFieldName(field.Name(), name); });
  return found == fields_.end() ? nullptr : &*found;
}

std::int16_t TDataFile::GetFieldNumber(std::string_view name) const {
  const TFieldDef *definition = FindFieldDefByName(name);
  return definition == nullptr ? 0 : static_cast<std::int16_t>(definition->Number());
}

void TDataFile::AlterFieldDef(std::int32_t position, const TFieldDef &definition) {
  if (position < 1 || position > static_cast<std::int32_t>(fields_.size())) {
    RaiseError(NEXORA_OUTOFRANGE);
  }
  TFieldDef &field = fields_[static_cast<std::size_t>(position - 1)];
  field.SetNumber(definition.Number());
  field.SetName(definition.Name());
  field.SetSubtype(definition.Subtype());
  field.SetDescription(definition.Description());
  field.SetRequired(definition.Required());
  field.SetMinimum(definition.Minimum());
  field.SetMaximum(definition.Maximum());
  field.SetDefault(definition.Default());
  definitionsChanged_ = true;
}

// --- header values

double TDataFile::GetLastWriteTime() const { return DecodeHeaderTime(header_.StoredLastWriteTime()); }

void TDataFile::SetHeaderI32(std::size_t offset, std::int32_t value) {
  if (header_.I32(offset) == value) {
    return;
  }
  header_.SetI32(offset, value);
  SetPending();
}

void TDataFile::IncRecordCount() {
  header_.SetI32(DataHeader::RecordCount, header_.RecordCount() + 1);
  SetPending();
}

void TDataFile::DecRecordCount() {
  header_.SetI32(DataHeader::RecordCount, header_.RecordCount() - 1);
  SetPending();
}

void TDataFile::SetRecordCount(std::int32_t count) { SetHeaderI32(DataHeader::RecordCount, count); }

void TDataFile::SetLastRecordID(std::int32_t id) { SetHeaderI32(DataHeader::LastRecordID, id); }

std::int32_t TDataFile::NextRecordID() {
  const std::int32_t next = NextIdentifier(header_.LastRecordID());
  header_.SetI32(DataHeader::LastRecordID, next);
  SetPending();
  return next;
}

void TDataFile::SetLastAutoInc(std::int32_t value) { SetHeaderI32(DataHeader::LastAutoInc, value); }

std::int32_t TDataFile::NextBlobID() {
  const std::int32_t next = NextIdentifier(header_.LastBlobID());
  header_.SetU32(DataHeader::LastBlobID, static_cast<std::uint32_t>(next));
  SetPending();
  return next;
}

std::int32_t TDataFile::GetFreeRecord() const {
  const std::int32_t head = header_.FreeRecordHead();
  return head != 0 ? head : header_.NextRecordNumber();
}

void TDataFile::SetFreeRecord(std::int32_t record) { SetHeaderI32(DataHeader::FreeRecordHead, record); }

} // namespace nexora

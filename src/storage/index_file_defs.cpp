#include <algorithm>
#include <cstring>

#include "storage/index_file.h"
#include "support/short_text.h"

namespace nexora {

namespace {

constexpr std::size_t DefClearedFrom = 518; // bytes SetIndexDef zeroes besides byte 516
constexpr std::size_t DefReservedByte = 516;

bool SameIndexName(std::string_view a, std::string_view b) { return SameText(TrimText(a), TrimText(b)); }

bool IsSlotRead(std::int32_t slot, std::int32_t count) { return slot <= count || slot == TextIndexSlot; }

} // namespace

void TIndexFile::ReadIndexDefs() {
  std::vector<std::uint8_t> area(IndexDefsAreaSize);
  ReadArea(IndexDefsOffset, area.data(), IndexDefsAreaSize, Cipher());
  const std::int32_t count = SecondaryCount();
  for (std::int32_t slot = 0; slot < IndexSlotCount; ++slot) {
    defs_[static_cast<std::size_t>(slot)] =
        IsSlotRead(slot, count) ? TIndexDef(area.data() + static_cast<std::size_t>(slot) * IndexDefSize) : TIndexDef();
  }
  defsChanged_ = false;
}

bool TIndexFile::WriteIndexDefs(bool force) {
  if (!force && !defsChanged_) {
    return false;
  }
  std::vector<std::uint8_t> area(IndexDefsAreaSize, 0);
  const std::int32_t count = SecondaryCount();
  for (std::int32_t slot = 0; slot < IndexSlotCount; ++slot) {
    if (IsSlotRead(slot, count)) {
      std::memcpy(area.data() + static_cast<std::size_t>(slot) * IndexDefSize,
                  defs_[static_cast<std::size_t>(slot)].Bytes(), IndexDefSize);
    }
  }
  WriteArea(IndexDefsOffset, area.data(), IndexDefsAreaSize, Cipher());
  if (CacheOwner().ForceFlush()) {
    FlushFile();
  }
  defsChanged_ = false;
  return true;
}

const TIndexDef &TIndexFile::IndexDef(std::int32_t slot) const {
  CheckSlot(slot, IndexSlotCount - 1);
  return defs_[static_cast<std::size_t>(slot)];
}

void TIndexFile::CheckSlot(std::int32_t slot, std::int32_t last) const {
  if (slot < 0 || slot > last) {
    RaiseError(NEXORA_INVALIDINDEXNAME);
  }
}

bool TIndexFile::HasUserPrimaryIndex() const {
  const std::int16_t first = defs_[PrimaryIndexSlot].FieldNumber(0);
  return first != 0 && first != RecordIDFieldNumber;
}

TIndexDef TIndexFile::DefaultPrimaryIndexDef() {
  TIndexDef def;
  def.SetUnique(true);
  def.SetFields({RecordIDFieldNumber});
  def.SetKeyLength(5);
  return def;
}

TIndexDef TIndexFile::TextIndexDef(const std::vector<std::int16_t> &fieldNumbers) {
  TIndexDef def;
  def.SetName(TextIndexName);
  def.SetKeyLength(TextKeyLength);
  def.SetCompression(icFull);
  def.SetFullText(true);
  const std::size_t count = std::min<std::size_t>(fieldNumbers.size(), MaxKeyFields);
  for (std::size_t i = 0; i < count; ++i) {
    def.SetFieldNumber(i, fieldNumbers[i]);
  }
  def.SetFieldCount(static_cast<std::uint8_t>(count));
  return def;
}

void TIndexFile::RaiseIndexError(TErrorCode code, std::string_view indexName) const {
  Engine().RaiseError(
      code, {.DatabaseName = GetErrorDatabaseName(), .TableName = GetErrorName(), .IndexName = std::string(indexName)});
}

std::uint16_t TIndexFile::CheckNewKey(const TIndexDef &def, std::string_view errorName) const {
  for (std::size_t i = 0; i < def.FieldCount(); ++i) {
    const TFieldDef *field = KeyFieldDef(context_, def.FieldNumber(i));
    if (field == nullptr) {
      RaiseIndexError(NEXORA_INVALIDFIELDNAME, errorName);
    }
    if (field->Type() == ftcBlob) {
      RaiseIndexError(NEXORA_SEARCHCOLREQD, errorName);
    }
  }
  const std::optional<std::int32_t> fieldsLength = KeyFieldsLength(def, context_);
  const std::int32_t keyLength = fieldsLength.value_or(0) + (def.Unique() ? 0 : KeyRecordIDSize);
  if (!fieldsLength || keyLength < 1 || keyLength > MaxKeyLengthFor(pageSize_)) {
    RaiseIndexError(NEXORA_INVALIDKEY, errorName);
  }
  return static_cast<std::uint16_t>(keyLength);
}

void TIndexFile::SetSlot(std::int32_t slot, const TIndexDef &def) {
  defs_[static_cast<std::size_t>(slot)] = def;
  SetRoot(slot, 0);
  SetDataRoot(slot, 0);
  defsChanged_ = true;
}

void TIndexFile::AddPrimaryIndex(const TIndexDef &def) {
  if (HasUserPrimaryIndex()) {
    RaiseIndexError(NEXORA_PRIMARYKEYREDEFINE, PrimaryIndexErrorName);
  }
  if (def.FieldCount() > MaxKeyFields) {
    RaiseIndexError(NEXORA_INDEXLIMIT, PrimaryIndexErrorName);
  }
  TIndexDef primary;
  primary.SetUnique(true);
  primary.SetDescending(def.Descending());
  primary.SetCaseInsensitive(def.CaseInsensitive());
  primary.SetCompression(def.Compression());
  primary.SetFieldCount(def.FieldCount());
  for (std::size_t i = 0; i < def.FieldCount(); ++i) {
    primary.SetFieldNumber(i, def.FieldNumber(i));
    primary.SetFieldDescending(i, def.FieldDescending(i));
  }
  primary.SetKeyLength(CheckNewKey(primary, PrimaryIndexErrorName));
  SetSlot(PrimaryIndexSlot, primary);
}

void TIndexFile::AddIndex(const TIndexDef &def) {
  const std::string name = def.Name();
  const std::int32_t count = SecondaryCount();
  if (count >= MaxSecondaryIndexes || def.FieldCount() > MaxKeyFields) {
    RaiseIndexError(NEXORA_INDEXLIMIT, name);
  }
  if (name.empty()) {
    RaiseIndexError(NEXORA_INDEXNAMEREQUIRED, name);
  }
  if (!ValidIndexNameStart(name)) {
    RaiseIndexError(NEXORA_INVALIDINDEXNAME, name);
  }
  for (std::int32_t slot = 1; slot <= count; ++slot) {
    if (SameIndexName(defs_[static_cast<std::size_t>(slot)].Name(), name)) {
      RaiseIndexError(NEXORA_INDEXEXISTS, name);
    }
  }
  TIndexDef secondary = def;
  secondary.SetFullText(false);
  secondary.SetWorkingByte(0);
  secondary.SetKeyLength(CheckNewKey(secondary, name));
  SetSlot(count + 1, secondary);
  SetSecondaryCount(count + 1);
}

void TIndexFile::SetIndexDef(std::int32_t slot, const TIndexDef &def) {
  CheckSlot(slot, IndexSlotCount - 1);
  TIndexDef stored = def;
  stored.Bytes()[DefReservedByte] = 0;
  std::memset(stored.Bytes() + DefClearedFrom, 0, TIndexDef::Size - DefClearedFrom);
  defs_[static_cast<std::size_t>(slot)] = stored;
  SetRoot(slot, 0);
  defsChanged_ = true;
}

void TIndexFile::DeleteIndex(std::int32_t slot) {
  const std::int32_t count = SecondaryCount();
  CheckSlot(slot, count);
  if (slot == PrimaryIndexSlot) {
    if (HasUserPrimaryIndex()) {
      SetSlot(PrimaryIndexSlot, DefaultPrimaryIndexDef());
    }
    return;
  }
  for (std::int32_t s = slot; s < count; ++s) {
    defs_[static_cast<std::size_t>(s)] = defs_[static_cast<std::size_t>(s) + 1];
    SetRoot(s, Root(s + 1));
    SetDataRoot(s, DataRoot(s + 1));
  }
  SetSlot(count, TIndexDef());
  SetSecondaryCount(count - 1);
}

void TIndexFile::RenameIndex(std::int32_t slot, const TIndexDef &def) {
  CheckSlot(slot, SecondaryCount());
  TIndexDef &target = defs_[static_cast<std::size_t>(slot)];
  std::memcpy(target.Bytes() + TIndexDef::NameOffset, def.Bytes() + TIndexDef::NameOffset, TIndexDef::NameField);
  for (std::size_t i = 0; i < MaxKeyFields; ++i) {
    target.SetFieldNumber(i, def.FieldNumber(i));
    target.SetFieldDescending(i, def.FieldDescending(i));
  }
  defsChanged_ = true;
}

bool TIndexFile::FindIndexName(std::string_view name) const {
  for (std::int32_t slot = 0; slot <= SecondaryCount(); ++slot) {
    if (SameText(defs_[static_cast<std::size_t>(slot)].Name(), name)) {
      return true;
    }
  }
  return false;
}

TKeyLayout TIndexFile::KeyLayout(std::int32_t slot) const {
  CheckSlot(slot, IndexSlotCount - 1);
  if (slot == TextIndexSlot) {
    return TKeyLayout::ForTextIndex(context_.LocaleId());
  }
  std::optional<TKeyLayout> layout = TKeyLayout::ForIndex(defs_[static_cast<std::size_t>(slot)], context_);
  // Keys must have the length the pages of the index are packed with.
  if (!layout || layout->KeyLength != defs_[static_cast<std::size_t>(slot)].KeyLength()) {
    RaiseError(NEXORA_HEADERCORRUPT);
  }
  return std::move(*layout);
}

} // namespace nexora

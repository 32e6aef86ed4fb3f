#include <string>

#include "storage/index_file.h"
#include "support/short_text.h"

namespace nexora {

namespace {

bool IsMemoField(const TFieldDef &field) { return field.Type() == ftcBlob && field.Subtype() == fstMemo; }

} // namespace

void TIndexFile::RaiseStructure(const std::string &detail) const {
  Engine().RaiseError(NEXORA_HEADERCORRUPT,
                      {.DatabaseName = GetErrorDatabaseName(), .TableName = GetErrorName(), .Detail = detail});
}

void TIndexFile::VerifyStructure() {
  const std::int32_t head = FreePageHead();
  if (NextPageNumber() < 1 || (head != 0 && !IsValidPage(head))) {
    RaiseStructure("Invalid free index page pointer");
  }
  const TIndexDef &primary = defs_[PrimaryIndexSlot];
  if (primary.NameLength() != 0 || !primary.Unique() || primary.FieldNumber(0) == 0) {
    RaiseStructure("Invalid primary index definition");
  }
  const std::int32_t count = SecondaryCount();
  for (std::int32_t slot = 1; slot <= count; ++slot) {
    const TIndexDef &def = defs_[static_cast<std::size_t>(slot)];
    const std::string name = def.Name();
    if (!ValidIndexNameStart(name)) {
      RaiseStructure("Invalid index name for index " + name);
    }
    if (def.NameLength() > TIndexDef::MaxNameLength) {
      RaiseStructure("Invalid index name (too long) for index " + name);
    }
    for (std::int32_t other = 1; other <= count; ++other) {
      if (other != slot && SameText(TrimText(defs_[static_cast<std::size_t>(other)].Name()), TrimText(name))) {
        RaiseStructure("Duplicate index name for index " + name);
      }
    }
  }
  for (std::int32_t slot = 0; slot <= count; ++slot) {
    VerifyDefinition(slot);
  }
  VerifyTextIndexDefinition();
}

void TIndexFile::VerifyDefinition(std::int32_t slot) const {
  const TIndexDef &def = defs_[static_cast<std::size_t>(slot)];
  const std::string name = slot == PrimaryIndexSlot ? std::string(PrimaryIndexErrorName) : def.Name();
  const std::int32_t fieldCount = def.FieldCount();
  if (fieldCount < 1 || fieldCount > MaxKeyFields) {
    RaiseStructure("Invalid key field count of " + std::to_string(fieldCount) + " for index " + name);
  }
  for (std::int32_t i = 0; i < fieldCount; ++i) {
    const std::int16_t number = def.FieldNumber(static_cast<std::size_t>(i));
    const TFieldDef *field = KeyFieldDef(context_, number);
    if (field == nullptr || field->Type() == ftcBlob) {
      RaiseStructure("Invalid field number " + std::to_string(number) + " in index " + name);
    }
  }
  if (def.Compression() > icFull) {
    RaiseStructure("Invalid index definition for index " + name);
  }
  const std::int32_t keyLength = KeyFieldsLength(def, context_).value_or(0);
  if (keyLength < 1 || keyLength > MaxKeyLengthFor(pageSize_)) {
    RaiseStructure("Invalid key size of " + std::to_string(keyLength) + " for index " + name);
  }
  if (Root(slot) != 0 && !IsValidPage(Root(slot))) {
    RaiseStructure("Invalid root page pointer for index " + name);
  }
  if (DataRoot(slot) != 0 && !IsValidPage(DataRoot(slot))) {
    RaiseStructure("Invalid data root page pointer for index " + name);
  }
}

void TIndexFile::VerifyTextIndexDefinition() const {
  const TIndexDef &def = defs_[TextIndexSlot];
  const std::string name(TextIndexName);
  if (def.Name() != TextIndexName || def.KeyLength() != TextKeyLength || def.Compression() != icFull ||
      !def.FullText()) {
    RaiseStructure("Invalid index definition for index " + name);
  }
  if (def.FieldCount() > MaxKeyFields) {
    RaiseStructure("Invalid key field count of " + std::to_string(def.FieldCount()) + " for index " + name);
  }
  for (std::size_t i = 0; i < def.FieldCount(); ++i) {
    const std::int16_t number = def.FieldNumber(i);
    const TFieldDef *field = number >= 1 ? context_.FieldDef(number) : nullptr;
    if (field == nullptr || (field->Type() != ftcString && !IsMemoField(*field))) {
      RaiseStructure("Invalid field number " + std::to_string(number) + " in index " + name);
    }
  }
  if (Root(TextIndexSlot) != 0 && !IsValidPage(Root(TextIndexSlot))) {
    RaiseStructure("Invalid root page pointer for index " + name);
  }
  if (DataRoot(TextIndexSlot) != 0 && !IsValidPage(DataRoot(TextIndexSlot))) {
    RaiseStructure("Invalid data root page pointer for index " + name);
  }
}

} // namespace nexora

#include "cursor/data_cursor.h"
#include "engine/data_session.h"
#include "storage/field_values.h"
#include "storage/record_layout.h"
#include "storage/text_index_words.h"
#include "support/little_endian.h"

namespace nexora {

std::string TDataCursor::FieldText(const TFieldDef &def, std::span<const std::uint8_t> image) {
  if (def.Type() != ftcBlob) {
    const TFieldValue value = ReadFieldValue(def, image);
    return std::holds_alternative<std::string>(value) ? std::get<std::string>(value) : std::string();
  }
  const std::uint8_t *slot = image.data() + def.RecordOffset() + 1;
  const auto firstBlock = static_cast<std::int32_t>(LoadU32(slot + BlobSlotFirstBlockOffset));
  if (firstBlock <= 0) {
    return {};
  }
  std::vector<std::uint8_t> value;
  const auto blobID = static_cast<std::int32_t>(LoadU32(slot + BlobSlotBlobIDOffset));
  if (table_->BlobFile().ReadValue(nullptr, firstBlock, blobID, def.CompressionLevel(), value) !=
      TBlobReadResult::Read) {
    RaiseIfError(NEXORA_MEMOCORRUPT);
  }
  return std::string(value.begin(), value.end());
}

std::vector<TDataCursor::TFieldWords> TDataCursor::TextIndexWords(std::span<const std::uint8_t> image) {
  const TIndexDef &def = table_->IndexFile().IndexDef(TextIndexSlot);
  std::vector<TFieldWords> words;
  if (def.FieldCount() == 0) {
    return words;
  }
  const TTextIndexParams params = table_->IndexFile().ReadTextIndexParams();
  for (std::size_t i = 0; i < def.FieldCount(); ++i) {
    const std::int16_t number = def.FieldNumber(i);
    const TFieldDef &field = FieldDef(number);
    words.push_back({number, IndexedTextWords(directory_.Session().Engine(), params, table_->DataFile().GetLocaleId(),
                                              tableName_, field.Name(), FieldText(field, image))});
  }
  return words;
}

void TDataCursor::UpdateTextIndex(const std::vector<TFieldWords> &oldWords, const std::vector<TFieldWords> &newWords,
                                  std::int32_t oldRecordID, std::int32_t newRecordID, std::int32_t recordNumber) {
  const std::size_t fields = std::max(oldWords.size(), newWords.size());
  if (fields == 0) {
    return;
  }
  const std::uint32_t locale = table_->DataFile().GetLocaleId();
  TCountedTree tree(table_->IndexFile(), TextIndexSlot);
  std::vector<std::uint8_t> key(TextKeyLength);
  TKeyPath path;
  static const std::vector<std::string> none;
  for (std::size_t i = 0; i < fields; ++i) {
    const std::int16_t number = i < newWords.size() ? newWords[i].Field : oldWords[i].Field;
    const std::vector<std::string> &before = i < oldWords.size() ? oldWords[i].Words : none;
    const std::vector<std::string> &after = i < newWords.size() ? newWords[i].Words : none;
    const TTextWordChanges changes = TextWordChanges(locale, before, after, oldRecordID == newRecordID);
    for (const std::string &word : changes.Deleted) {
      BuildTextKey(locale, number, word, oldRecordID, key.data());
      tree.DeleteKey(key.data(), path);
    }
    for (const std::string &word : changes.Inserted) {
      BuildTextKey(locale, number, word, newRecordID, key.data());
      tree.InsertKey(key.data(), recordNumber, path);
    }
  }
}

} // namespace nexora

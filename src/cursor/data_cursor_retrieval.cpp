#include <algorithm>
#include <cstring>

#include "cursor/data_cursor.h"
#include "cursor/data_cursor_operation.h"
#include "engine/data_session.h"
#include "storage/field_values.h"
#include "storage/record.h"
#include "storage/record_layout.h"
#include "support/little_endian.h"

namespace nexora {

// --- change detection

void TDataCursor::SaveChangeCounters() {
  counters_[0] = table_->DataFile().GetChangeCounter();
  counters_[1] = table_->IndexFile().GetChangeCounter();
  counters_[2] = table_->HasBlobFields() ? table_->BlobFile().GetChangeCounter() : 0;
}

bool TDataCursor::CountersChanged() const {
  if (SkipsChangeDetection()) {
    return false;
  }
  return counters_[0] != table_->DataFile().GetChangeCounter() ||
         counters_[1] != table_->IndexFile().GetChangeCounter() ||
         counters_[2] != (table_->HasBlobFields() ? table_->BlobFile().GetChangeCounter() : 0);
}

bool TDataCursor::DetectChangesStrict() {
  if (SkipsChangeDetection()) {
    return false;
  }
  const bool filesChanged = table_->BeginRead();
  if (filesChanged || CountersChanged()) {
    Resynchronize();
    return true;
  }
  return false;
}

void TDataCursor::BeginOperation() {
  if (directory_.Session().StrictChangeDetection()) {
    DetectChangesStrict();
  } else if (CountersChanged()) {
    Resynchronize();
  }
}

void TDataCursor::EndOperation() {
  if (!SkipsChangeDetection()) {
    table_->EndRead();
  }
}

void TDataCursor::Resynchronize() {
  for (int attempt = 0;; ++attempt) {
    SaveChangeCounters();
    try {
      RebuildSets();
      Reposition();
      return;
    } catch (const ETableChanged &) {
      if (attempt == MaxWalkRestarts) {
        RaiseIfError(NEXORA_INDEXCORRUPT);
      }
    }
  }
}

void TDataCursor::Refresh() {
  try {
    DetectChangesStrict();
  } catch (...) {
    EndOperation();
    throw;
  }
  EndOperation();
}

// --- records

std::int32_t TDataCursor::CurrentRecordNumber() const {
  if (indexNumber_ == NaturalOrder) {
    return physical_;
  }
  return ordinal_ == 0 ? 0 : keyRecordNumber_;
}

void TDataCursor::ReadCurrentRecord(TReadDirection direction) {
  const std::int32_t number = CurrentRecordNumber();
  if (number == 0) {
    std::fill(current_.begin(), current_.end(), 0);
    return;
  }
  TDataFile &data = table_->DataFile();
  if (number > PhysicalRecordCount()) {
    // A key naming a record past the end: the index changed under the walk.
    throw ETableChanged{};
  }
  const bool readAhead = direction != TReadDirection::None;
  if (readAhead && !data.IsCached(number)) {
    const std::int32_t wanted = ReadAheadCount(direction);
    ++readAheadDecisions_;
    readAheadRequested_ += wanted;
    data.SetReadAheadWanted(wanted);
  }
  struct TWishWithdrawn {
    TDataFile &File;
    ~TWishWithdrawn() { File.SetReadAheadWanted(0); }
  } withdrawn{data};
  ReadRecordImage(number, direction, current_);
}

void TDataCursor::ReadRecordImage(std::int32_t number, TReadDirection direction, std::span<std::uint8_t> image) {
  TDataFile &data = table_->DataFile();
  const bool readAhead = direction != TReadDirection::None;
  TBuffer *buffer = data.GetBuffer(this, 0, number, readAhead, direction);
  if (buffer == nullptr) {
    // The cache found another party's change and was emptied; this request reads the file.
    buffer = data.GetBuffer(this, 0, number, readAhead, direction);
  }
  if (buffer == nullptr) {
    throw ETableChanged{};
  }
  const auto &record = dynamic_cast<const TRecord &>(*buffer);
  std::copy(record.Image().begin(), record.Image().end(), image.begin());
  data.ReleaseBuffer(buffer);
  if (!IsDeletedImage(image)) {
    StoreU32(image.data() + RecordChainOffset, static_cast<std::uint32_t>(number));
  }
}

TErrorCode TDataCursor::GetCurrentRecord(std::uint8_t *buffer, bool lockForEdit) {
  return Operation([&] {
    if (!lockForEdit) {
      ReadCurrentRecord(TReadDirection::None);
      SkipInvisible(TReadDirection::None);
    }
    const TErrorCode status = bof_ && eof_ ? NEXORA_NOCURRREC : bof_ ? NEXORA_BOF : eof_ ? NEXORA_EOF : NEXORA_NONE;
    if (lockForEdit && status == NEXORA_NONE) {
      const std::span<const std::uint8_t> callers(buffer, recordSize_);
      saved_ = current_;
      if (directory_.Session().LockProtocol() == lpOptimistic) {
        if (!SameRecordHash(callers, saved_) || IsDeletedImage(saved_)) {
          RaiseIfError(NEXORA_KEYORRECDELETED);
        }
      } else {
        const std::int32_t number = CurrentRecordNumber();
        if (table_->LockRecord(number) || CountersChanged()) {
          Resynchronize();
        }
        if (!exclusive_ &&
            (!SameRecordHash(callers, current_) || IsDeletedImage(current_) || CurrentRecordNumber() != number)) {
          table_->UnlockRecord(number);
          RaiseIfError(NEXORA_KEYORRECDELETED);
        }
        saved_ = current_;
      }
    }
    return DeliverRecord(buffer, status);
  });
}

bool TDataCursor::GetField(std::int16_t number, std::span<const std::uint8_t> image,
                           std::vector<std::uint8_t> &value) const {
  const TFieldDef &def = FieldDef(number);
  value.assign(FieldValueSize(def), 0);
  return !nexora::GetField(def, image, value.data());
}

void TDataCursor::SetField(std::int16_t number, std::span<std::uint8_t> image,
                           std::optional<std::span<const std::uint8_t>> value) const {
  const TFieldDef &def = FieldDef(number);
  if (!value) {
    nexora::SetField(def, image, nullptr, table_->DataFile().GetLocaleId());
    return;
  }
  // The field layer reads a zero-terminated text for strings and whole slots otherwise.
  std::vector<std::uint8_t> bytes(value->begin(), value->end());
  bytes.resize(std::max(bytes.size() + 2, FieldValueSize(def)), 0);
  nexora::SetField(def, image, bytes.data(), table_->DataFile().GetLocaleId());
}

} // namespace nexora

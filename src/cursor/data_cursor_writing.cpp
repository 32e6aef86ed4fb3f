#include <algorithm>
#include <cstring>

#include "cursor/data_cursor.h"
#include "cursor/data_cursor_operation.h"
#include "engine/data_session.h"
#include "storage/record.h"
#include "storage/record_allocation.h"
#include "storage/record_hash.h"
#include "storage/record_layout.h"
#include "support/little_endian.h"

namespace nexora {

namespace {

// The key of an image in index slot `index` of the table.
std::vector<std::uint8_t> KeyOf(const TKeyLayout &layout, std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(layout.KeyLength), 0);
  BuildKey(layout, image, key.data());
  return key;
}

} // namespace

TNewRecordTable TDataCursor::NewRecordTable() const {
  return TNewRecordTable{directory_.Session().Engine(), table_->DataFile().FieldDefs(),
                         table_->DataFile().GetLocaleId(), tableName_, directory_.GetDisplayName()};
}

std::vector<std::uint8_t> TDataCursor::InitNewRecord() const {
  std::vector<std::uint8_t> image(recordSize_, 0);
  if (hasDefaults_) {
    ApplyDefaults(NewRecordTable(), image, TRecordClock::Local());
  }
  return image;
}

void TDataCursor::ClearRecord(std::span<std::uint8_t> image) const { std::fill(image.begin(), image.end(), 0); }

TErrorCode TDataCursor::CopyCurrentRecord(std::span<std::uint8_t> image) {
  ClearRecord(image);
  if (bof_ || eof_ || CurrentRecordNumber() == 0) {
    return NEXORA_NOCURRREC;
  }
  for (const TFieldDef &def : fields_) {
    const std::size_t slot = def.RecordOffset();
    if (current_[slot] == FieldIndicatorNull || (def.Type() == ftcInteger && def.Subtype() == fstAutoInc)) {
      continue;
    }
    if (def.Type() != ftcBlob) {
      std::copy_n(current_.begin() + static_cast<std::ptrdiff_t>(slot), 1 + def.PhysicalSize(),
                  image.begin() + static_cast<std::ptrdiff_t>(slot));
      continue;
    }
    if (blobs_.size() >= MaxOpenBlobs) {
      RaiseIfError(NEXORA_OPENBLOBLIMIT);
    }
    // A value of its own, written as a new chain when the copy is posted.
    auto buffer = std::make_unique<TBlobBuffer>(*this, def);
    const std::uint8_t *value = current_.data() + slot + 1;
    if (table_->BlobFile().ReadValue(this, static_cast<std::int32_t>(LoadU32(value + BlobSlotFirstBlockOffset)),
                                     static_cast<std::int32_t>(LoadU32(value + BlobSlotBlobIDOffset)),
                                     def.CompressionLevel(), buffer->Value) != TBlobReadResult::Read) {
      RaiseIfError(NEXORA_KEYORRECDELETED);
    }
    buffer->Mode = TBlobMode::ReadWrite;
    buffer->Temporary = true;
    buffer->Modified = true;
    AddBlob(std::move(buffer), image);
  }
  return NEXORA_NONE;
}

template <typename TWrite>
void TDataCursor::WriteFrame(TTriggerKind before, TTriggerKind after, TErrorHookKind errorKind,
                             std::int32_t recordNumber, std::uint8_t *newImage, TWrite &&write) {
  if (!open_ || readOnly_) {
    RaiseIfError(NEXORA_OSEACCES);
  }
  TDataSession &session = directory_.Session();
  TDataEngine &engine = session.Engine();
  for (;;) {
    try {
      engine.CallTriggerHook(before, session, saved_.data(), newImage, recordNumber, this, &directory_);
      WithWriteLock(write);
      break;
    } catch (const std::exception &error) {
      const TDataAction action =
          engine.CallErrorHook(errorKind, session, error, newImage, recordNumber, this, &directory_);
      if (action == TDataAction::daAbort) {
        return;
      }
      if (action != TDataAction::daRetry) {
        throw;
      }
    }
  }
  engine.CallTriggerHook(after, session, saved_.data(), newImage, recordNumber, this, &directory_);
}

template <typename TWrite> void TDataCursor::WithWriteLock(TWrite &&write) {
  TDataTable &table = *table_;
  const bool inTransaction = table.InTransaction();
  const bool locking = !inTransaction && !SkipsChangeDetection();
  if (locking) {
    if (table.BeginWrite() || CountersChanged()) {
      Resynchronize();
    }
  } else if (CountersChanged()) {
    Resynchronize();
  }
  try {
    write();
  } catch (...) {
    if (!inTransaction) {
      // Outside a transaction every write is written out at its end, so what the cache
      // holds unwritten belongs to this failed write alone.
      try {
        table.DiscardChanges(false, true, true);
        SaveChangeCounters();
        Walk([&] { Reposition(); });
      } catch (const std::exception &) {
        // The write's own failure is the one to report.
      }
    }
    if (locking) {
      table.EndWrite();
    }
    throw;
  }
  if (locking) {
    table.EndWrite();
  }
}

void TDataCursor::CheckUniqueKeys(std::span<const std::uint8_t> image, std::span<const std::uint8_t> oldImage) {
  TIndexFile &index = table_->IndexFile();
  for (std::int32_t number = 0; number <= IndexCount(); ++number) {
    const TIndexDef &def = index.IndexDef(number);
    if (number != 0 && !def.Unique()) {
      continue;
    }
    const TKeyLayout layout = index.KeyLayout(number);
    const std::vector<std::uint8_t> key = KeyOf(layout, image);
    if (!oldImage.empty() && KeyOf(layout, oldImage) == key) {
      continue;
    }
    TKeyPath path;
    if (TCountedTree(index, number).KeyExists(key.data(), path)) {
      const std::string name = def.Name();
      directory_.Session().Engine().RaiseError(
          NEXORA_KEYVIOL, TErrorNames{.DatabaseName = directory_.GetDisplayName(),
                                      .TableName = tableName_,
                                      .IndexName = name.empty() ? std::string(PrimaryIndexErrorName) : name});
    }
  }
}

// Takes the record lock unless this table object holds it already; whether it took it.
bool TDataCursor::LockForWrite(std::int32_t recordNumber) {
  if (table_->RecordLocked(recordNumber)) {
    return false;
  }
  table_->LockRecord(recordNumber);
  return table_->RecordLocked(recordNumber);
}

template <typename TBody> void TDataCursor::WithRecordLock(std::int32_t recordNumber, TBody &&body) {
  const bool locked = LockForWrite(recordNumber);
  try {
    body();
  } catch (...) {
    if (locked) {
      table_->UnlockRecord(recordNumber);
    }
    throw;
  }
  if (locked) {
    table_->UnlockRecord(recordNumber);
  }
}

void TDataCursor::FinishWrite(bool reposition) {
  table_->WriteChanges(false, false, false, false, false);
  SaveChangeCounters();
  if (reposition) {
    // The written record is the position now.
    bof_ = false;
    eof_ = false;
    RebuildSets();
    Walk([&] { Reposition(); });
  }
}

void TDataCursor::InsertRecord(std::span<std::uint8_t> image, bool reposition) {
  std::fill(saved_.begin(), saved_.end(), 0);
  WriteFrame(TTriggerKind::BeforeInsert, TTriggerKind::AfterInsert, TErrorHookKind::Insert, -1, image.data(), [&] {
    TDataFile &data = table_->DataFile();
    const std::int32_t number = data.GetFreeRecord();
    WithRecordLock(number, [&] {
      std::vector<std::uint8_t> fresh(image.begin(), image.begin() + recordSize_);
      const TNewRecordTable info = NewRecordTable();
      const std::int32_t lastAutoInc =
          hasAutoInc_ ? AssignAutoIncrements(info, fresh, data.GetLastAutoInc()) : data.GetLastAutoInc();
      if (hasConstraints_) {
        CheckConstraints(info, fresh, TRecordClock::Local());
      }
      const std::int32_t recordID = NextSerial(data.GetLastRecordID());
      FinishNewRecord(info, fresh, recordID);
      CheckUniqueKeys(fresh, {});
      WriteRecordBlobs(fresh, number);

      TRecord *record = AllocateRecord(data, nullptr);
      if (record->Number() != number) {
        data.ReleaseBuffer(record);
        RaiseIfError(NEXORA_FILECORRUPT);
      }
      record->SetData(fresh.data(), recordSize_);
      data.ReleaseBuffer(record);
      if (lastAutoInc != data.GetLastAutoInc()) {
        data.SetLastAutoInc(lastAutoInc);
      }
      data.SetLastRecordID(recordID);

      TIndexFile &index = table_->IndexFile();
      for (std::int32_t slot = 0; slot <= IndexCount(); ++slot) {
        const std::vector<std::uint8_t> key = KeyOf(index.KeyLayout(slot), fresh);
        TKeyPath path;
        TCountedTree(index, slot).InsertKey(key.data(), number, path);
      }
      UpdateTextIndex({}, TextIndexWords(fresh), recordID, recordID, number);
      StoreU32(fresh.data() + RecordChainOffset, static_cast<std::uint32_t>(number));
      current_ = fresh;
      physical_ = number;
      std::copy(fresh.begin(), fresh.end(), image.begin());
      FinishWrite(reposition);
    });
  });
}

void TDataCursor::ModifyRecord(std::span<std::uint8_t> image, bool wasLocked, bool reposition) {
  WriteFrame(TTriggerKind::BeforeUpdate, TTriggerKind::AfterUpdate, TErrorHookKind::Update, CurrentRecordNumber(),
             image.data(), [&] {
               const std::int32_t number = CurrentRecordNumber();
               if (number == 0) {
                 RaiseIfError(NEXORA_NOCURRREC);
               }
               const bool optimistic = directory_.Session().LockProtocol() == lpOptimistic;
               bool locked = false;
               if (optimistic && !exclusive_) {
                 if (!SameRecordHash(saved_, current_) || IsDeletedImage(current_)) {
                   RaiseIfError(NEXORA_KEYORRECDELETED);
                 }
                 locked = LockForWrite(number);
               }
               const bool unlockAtEnd = locked || (!optimistic && wasLocked);
               try {
                 WriteModified(image, number);
                 FinishWrite(reposition);
               } catch (...) {
                 if (locked) {
                   table_->UnlockRecord(number);
                 }
                 throw;
               }
               if (unlockAtEnd && table_->RecordLocked(number)) {
                 table_->UnlockRecord(number);
               }
             });
}

void TDataCursor::WriteModified(std::span<std::uint8_t> image, std::int32_t number) {
  TDataFile &data = table_->DataFile();
  std::vector<std::uint8_t> fresh(image.begin(), image.begin() + recordSize_);
  if (hasConstraints_) {
    CheckConstraints(NewRecordTable(), fresh, TRecordClock::Local());
  }
  fresh[RecordStatusOffset] = RecordStatusLive;
  StoreU32(fresh.data() + RecordChainOffset, 0);
  std::copy_n(current_.begin() + RecordIDOffset, sizeof(std::int32_t), fresh.begin() + RecordIDOffset);
  StoreRecordHash(data.FieldDefs(), fresh);
  CheckUniqueKeys(fresh, current_);
  const std::vector<TFieldWords> oldWords = TextIndexWords(current_);
  WriteRecordBlobs(fresh, number);

  TBuffer *buffer = data.GetBuffer(nullptr, 0, number, false, TReadDirection::None);
  buffer->SetData(fresh.data(), recordSize_);
  data.ReleaseBuffer(buffer);
  TIndexFile &index = table_->IndexFile();
  for (std::int32_t slot = 0; slot <= IndexCount(); ++slot) {
    const TKeyLayout layout = index.KeyLayout(slot);
    const std::vector<std::uint8_t> oldKey = KeyOf(layout, current_);
    const std::vector<std::uint8_t> newKey = KeyOf(layout, fresh);
    if (oldKey != newKey) {
      TKeyPath path;
      TCountedTree(index, slot).ReplaceKey(oldKey.data(), newKey.data(), number, path);
    }
  }
  const auto recordID = static_cast<std::int32_t>(LoadU32(fresh.data() + RecordIDOffset));
  UpdateTextIndex(oldWords, TextIndexWords(fresh), recordID, recordID, number);
  StoreU32(fresh.data() + RecordChainOffset, static_cast<std::uint32_t>(number));
  current_ = fresh;
  std::copy(fresh.begin(), fresh.end(), image.begin());
}

void TDataCursor::DeleteRecord(std::span<const std::uint8_t> image, bool reposition) {
  std::vector<std::uint8_t> callers(image.begin(), image.begin() + recordSize_);
  WriteFrame(TTriggerKind::BeforeDelete, TTriggerKind::AfterDelete, TErrorHookKind::Delete, CurrentRecordNumber(),
             callers.data(), [&] {
               const std::int32_t number = CurrentRecordNumber();
               if (number == 0) {
                 RaiseIfError(NEXORA_NOCURRREC);
               }
               saved_ = current_;
               if (!exclusive_ && (!SameRecordHash(callers, current_) || IsDeletedImage(current_))) {
                 RaiseIfError(NEXORA_KEYORRECDELETED);
               }
               WithRecordLock(number, [&] {
                 TIndexFile &index = table_->IndexFile();
                 for (std::int32_t slot = 0; slot <= IndexCount(); ++slot) {
                   const std::vector<std::uint8_t> key = KeyOf(index.KeyLayout(slot), current_);
                   TKeyPath path;
                   TCountedTree(index, slot).DeleteKey(key.data(), path);
                 }
                 const auto recordID = static_cast<std::int32_t>(LoadU32(current_.data() + RecordIDOffset));
                 UpdateTextIndex(TextIndexWords(current_), {}, recordID, recordID, number);
                 FreeRecordBlobChains(current_);
                 TDataFile &data = table_->DataFile();
                 TBuffer *buffer = data.GetBuffer(nullptr, 0, number, false, TReadDirection::None);
                 ReleaseRecord(data, dynamic_cast<TRecord &>(*buffer));
                 const auto &record = dynamic_cast<const TRecord &>(*buffer);
                 std::copy(record.Image().begin(), record.Image().end(), current_.begin());
                 data.ReleaseBuffer(buffer);
                 FinishWrite(reposition);
               });
             });
}

void TDataCursor::CancelEdit() {
  const std::int32_t number = CurrentRecordNumber();
  if (directory_.Session().LockProtocol() == lpPessimistic && number != 0 && table_->RecordLocked(number)) {
    table_->UnlockRecord(number);
  }
  std::fill(saved_.begin(), saved_.end(), 0);
}

} // namespace nexora

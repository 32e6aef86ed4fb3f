#include "storage/record_allocation.h"

#include "storage/data_file.h"
#include "storage/record_layout.h"

namespace nexora {

TRecord *AllocateRecord(TDataFile &file, TDataCursor *cursor) {
  const std::int32_t number = file.GetFreeRecord();
  const bool fromChain = file.GetFreeRecordHead() != 0;
  TBuffer *buffer = file.GetBuffer(cursor, 0, number, false, TReadDirection::None);
  if (buffer == nullptr) {
    return nullptr;
  }
  auto *record = static_cast<TRecord *>(buffer);
  if (fromChain && !record->Deleted()) {
    file.ReleaseBuffer(record);
    file.RaiseCorrupt();
  }
  file.SetFreeRecord(record->Deleted() ? record->ChainWord() : 0);
  file.IncRecordCount();
  return record;
}

void ReleaseRecord(TDataFile &file, TRecord &record) {
  record.SetStatus(RecordStatusDeleted);
  record.SetChainWord(file.GetFreeRecordHead());
  file.SetFreeRecord(record.Number());
  file.DecRecordCount();
}

} // namespace nexora

#pragma once

#include <cstdint>

#include "storage/record.h"

namespace nexora {

class TDataCursor;
class TDataFile;

// Taking and giving back physical records on a data file's free chain. The chain is
// last in, first out: the header's free-record head names the most recently deleted
// record, each deleted record names the next in its chain word, 0 ends it. Both work
// from the thread that uses the table, with its header changes reaching the file at
// the next WriteHeader. The data file's buffers must be TRecords.

// Takes the record an insert fills: the free-record head, or a new record at the end of
// the file when the chain is empty. The head moves on to the taken record's chain word;
// the record count grows by 1. Returns the pinned record (the caller releases it), or
// null when the table changed under the cursor (nothing taken; the cursor
// resynchronises and asks again). A head that names a live record (a damaged chain)
// raises 8962 (NEXORA_FILECORRUPT) instead of overwriting it; read failures raise as
// the cache does.
TRecord *AllocateRecord(TDataFile &file, TDataCursor *cursor);

// Deletes a live record: status 1, chain word the current head (0 when the chain is
// empty), the head this record's number; the record count shrinks by 1.
void ReleaseRecord(TDataFile &file, TRecord &record);

} // namespace nexora

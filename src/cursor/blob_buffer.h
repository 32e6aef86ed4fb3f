#pragma once

#include <cstdint>
#include <vector>

#include "storage/field_def.h"
#include "support/safe_object.h"

namespace nexora {

class TDataCursor;

// How a BLOB value is opened.
enum class TBlobMode : std::uint8_t { Read = 1, ReadWrite = 2 };

// One BLOB value a cursor holds open in memory: the whole value, loaded at open, with what
// is needed to write it back (the chain's first block and BLOB ID) and the record it belongs
// to. Owned by its cursor's open-BLOB list; while it is open, the record image's slot holds
// its handle (a negative number unique in the cursor) instead of the first block number.
// Plain state; used by the thread of its cursor.
struct TBlobBuffer : TSafeObject {
  TBlobBuffer(TDataCursor &cursor, const TFieldDef &field) : Cursor(cursor), Field(field) {}

  TDataCursor &Cursor;
  bool Modified = false;
  std::int32_t BlobID = 0;
  const TFieldDef &Field;
  std::int32_t FirstBlock = 0;
  std::int32_t RecordNumber = 0;
  std::vector<std::uint8_t> Value;
  TBlobMode Mode = TBlobMode::Read;
  std::int16_t OpenCount = 0;
  bool Temporary = false;
  std::int32_t Handle = 0;
};

} // namespace nexora

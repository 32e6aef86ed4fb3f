#pragma once

namespace nexora {

class TDataCursor;

// What a buffer cache needs from the table that owns its file. The table object
// implements it; the cache calls it from the thread that uses the table.
class TBufferCacheOwner {
public:
  virtual ~TBufferCacheOwner() = default;
  // The table's cipher context for the engine's buffer routines; null when the table
  // is not encrypted.
  virtual void *CryptoContext() const = 0;
  virtual bool InTransaction() const = 0;
  virtual bool OpenedExclusively() const = 0;
  // Whether the table has written anything since its last flush to disk, and marking it.
  virtual bool WrittenSinceFlush() const = 0;
  virtual void MarkWritten() = 0;
  // The session asks for every change to be flushed to disk at once.
  virtual bool ForceFlush() const = 0;
  // The session leaves change detection to the cursor's own checks.
  virtual bool StrictChangeDetection() const = 0;
  // Whether the table changed since the cursor last looked (the cursor then
  // resynchronises and asks again).
  virtual bool TableChangedFor(TDataCursor *cursor) = 0;
};

} // namespace nexora

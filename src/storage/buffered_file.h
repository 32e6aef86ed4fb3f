#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "storage/buffer.h"
#include "storage/cache_owner.h"
#include "storage/engine_file.h"

namespace nexora {

class TDataCursor;

// Counters of one file's cache since its last ResetCache.
struct TCacheStatistics {
  std::int64_t Requests = 0;      // buffers handed out by GetBuffer
  std::int64_t Reads = 0;         // buffers loaded from the file
  std::int64_t ReadTransfers = 0; // reads from the file
  std::int64_t BytesRead = 0;
  std::int64_t WriteTransfers = 0; // writes to the file
};

// Direction of a read-ahead run.
enum class TReadDirection : std::uint8_t { None = 0, Forward = 1, Backward = 2 };

// A table file seen as a fixed-size prefix followed by numbered fixed-size buffers, with
// a cache of those buffers. Buffer n occupies [first + (n - 1) * size, first + n * size).
// The cache owns its buffers; GetBuffer pins the buffer it returns and the caller
// releases it. Buffers appended one past the end live only in the cache until flushed.
// One thread at a time (the thread of the session that owns the table); every
// seek-and-transfer pair runs under the shared file's I/O lock.
// Raises the kind's corrupt error for buffer 0 or a missing buffer, 9217 for a short
// read that is not accepted, 9218 for a failed write, 9479 when the file is full.
class TBufferedFile : public TEngineFile {
public:
  TBufferedFile(TDataEngine &engine, std::string name, bool inMemory, TBufferCacheOwner &owner);
  ~TBufferedFile() override;

  // --- geometry and policy of the file kind
  virtual std::unique_ptr<TBuffer> NewBuffer();
  [[noreturn]] virtual void RaiseCorrupt() const = 0;
  // Before a buffer is appended: 9479 when the file has reached the engine's size limit.
  virtual void CheckGrowth();
  // Counts one more buffer in the header (and marks the header changed).
  virtual void AddBufferCount() = 0;
  // The cache limit: how many buffers this file may keep.
  virtual std::int32_t GetMaxBuffers() const = 0;
  virtual std::int32_t GetDefaultReadAhead() const;
  virtual std::int32_t GetBufferSize() const = 0;
  virtual std::int32_t GetPayloadSize() const = 0;
  virtual std::int64_t GetFirstOffset() const = 0;
  virtual std::int32_t GetBufferCount() const = 0;
  virtual std::uint32_t GetChangeCounter() const = 0;
  // How many of the most recently used buffers are looked at before the binary search.
  virtual std::int32_t GetScanDepth() const = 0;
  // By how many buffers the capacity grows when every buffer is pinned or dirty.
  virtual std::int32_t GetGrowthStep() const = 0;
  // How many buffers a cursor's read may bring in one transfer.
  virtual std::int32_t GetReadAhead(TDataCursor *cursor, TReadDirection direction);
  // Zeroes the statistics and sets the capacity and default read-ahead; after every open.
  virtual void ResetCache();
  // --- the file kind's header
  virtual void ReadHeader() = 0;
  virtual bool WriteHeader(bool force) = 0;
  virtual void TouchHeader() = 0;
  // Truncates the file at its first buffer; kinds add their header reset.
  virtual void EmptyFile();
  virtual void VerifyStructure() = 0;
  virtual void CheckHeader() = 0;
  // Re-reads the header; whether its change counter moved.
  virtual bool ReloadHeader() = 0;

  // --- the cache
  // Buffer n, pinned; null when the table changed under the cursor (it resynchronises
  // and asks again). n = count + 1 appends a cleared buffer without reading.
  TBuffer *GetBuffer(TDataCursor *cursor, std::int32_t indexNumber, std::int32_t n, bool readAheadAllowed,
                     TReadDirection direction);
  void ReleaseBuffer(TBuffer *buffer);
  // Whether buffer n is in the cache.
  bool IsCached(std::int32_t n);
  // Writes every dirty, unpinned buffer outside the read window, in runs of consecutive
  // numbers; true when anything was written. Not evicting, a pinned dirty buffer is
  // corruption.
  bool FlushBuffers(bool evicting);
  void FreeBuffers();
  // Evicts clean, unpinned buffers, least recently used first, down to the limit.
  void TrimBuffers();
  std::int64_t GetEndOffset() const;

  const TCacheStatistics &Statistics() const { return statistics_; }
  std::int32_t Capacity() const { return capacity_; }
  std::int32_t CachedCount() const { return static_cast<std::int32_t>(sorted_.size()); }
  std::int32_t DefaultReadAhead() const { return defaultReadAhead_; }
  TBufferCacheOwner &CacheOwner() const { return owner_; }

protected:
  // The cache limit from the engine's byte and count limits for this kind of file and
  // the per-buffer overhead of its bookkeeping.
  std::int32_t CacheLimit(std::int32_t sizeLimit, std::int32_t countLimit, std::int32_t overhead) const;
  // The size rule of CheckGrowth, shared by every kind.
  void CheckFileSizeLimit();
  // Reads an area outside the buffers (a header, a definition area) in one transfer and,
  // given the table's key, deciphers it as one buffer. Raises 9217 when it is short.
  void ReadArea(std::int64_t offset, std::uint8_t *bytes, std::int32_t length, void *cipher);
  // Enciphers the bytes in place when given the table's key, writes them in one
  // transfer and marks the table written. Raises 9218.
  void WriteArea(std::int64_t offset, std::uint8_t *bytes, std::int32_t length, void *cipher);

private:
  // The sorted list keeps each number beside its buffer, so searches stay in one array
  // and inserting or removing moves plain entries.
  struct TSortedEntry {
    std::int32_t Number;
    TBuffer *Buffer;
  };
  using TBufferList = std::vector<TSortedEntry>;

  TBuffer *FindRecent(std::int32_t n) const;
  TBufferList::iterator FindSorted(std::int32_t n);
  void InsertSorted(TBuffer *buffer);
  // A buffer for number n, not yet in the sorted list: new while below capacity, else
  // the least recently used clean and unpinned one, else new with a grown capacity.
  // Cleared for the index unless the caller loads a whole image into it at once.
  TBuffer *AllocateBuffer(std::int32_t n, std::int32_t indexNumber, bool clear);
  TBuffer *CreateBuffer();
  // Takes the least recently used clean, unpinned buffer out of the sorted list.
  TBuffer *TakeEvictable();
  // A run of buffers read in one transfer: First to First + Count - 1.
  struct TRun {
    std::int32_t First;
    std::int32_t Count;
    bool Backward;
  };
  void ReadRun(std::int32_t n, std::int32_t count, TReadDirection direction, std::int32_t indexNumber);
  void ReadRunThroughArea(const TRun &run, std::int32_t indexNumber);
  void ReadRunInPlace(const TRun &run, std::int32_t indexNumber);
  // Counts the transfer and checks a short one; the number of whole buffers received.
  std::int32_t ReceivedBuffers(std::int32_t received, std::int32_t count);
  // Whether a file image is the buffer's content itself, so reads may land in buffers.
  bool LoadsInPlace() const;
  // Removes a buffer that is in no list but the recent list from the cache for good.
  void DiscardBuffer(TBuffer *buffer);
  void WriteRun(const std::vector<TBuffer *> &run);
  bool OverlapsReadWindow(const TBuffer &buffer) const;
  void LinkAtHead(TBuffer *buffer);
  void Unlink(TBuffer *buffer);
  void MoveToHead(TBuffer *buffer);

  TBufferCacheOwner &owner_;
  // Every buffer of the cache; the sorted list and the recent list refer into it.
  std::vector<std::unique_ptr<TBuffer>> buffers_;
  TBufferList sorted_;
  // Where the last binary search ended: a hint for the next search.
  std::size_t lastFound_ = 0;
  // While set, eviction leaves a null entry in the sorted list for a later single pass.
  bool deferRemoval_ = false;
  // The last scan for an evictable buffer found none, and none has become evictable since.
  bool noneEvictable_ = false;
  std::int32_t capacity_ = 1;
  std::int32_t defaultReadAhead_ = 1;
  TBuffer *head_ = nullptr; // most recently used
  TBuffer *tail_ = nullptr; // least recently used
  std::int64_t readWindowOffset_ = 0;
  std::int64_t readWindowLength_ = 0;
  // Separate areas: a flush that makes room while a read is being distributed must not
  // overwrite the bytes still being handed out.
  std::vector<std::uint8_t> readArea_;
  std::vector<std::uint8_t> writeArea_;
  std::vector<TBuffer *> runBuffers_;
  std::vector<TIOPiece> runPieces_;
  TCacheStatistics statistics_;
};

} // namespace nexora

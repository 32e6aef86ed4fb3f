#include "storage/buffered_file.h"

#include <algorithm>

namespace nexora {
namespace {

// Calls action for the first `received` numbers of a run, buffer n last: a backward run
// ends at n, a forward run starts at it. Handling n last means allocating the others can
// never evict it before it is pinned.
template <typename TRunOf, typename Action>
void ForEachInLoadOrder(const TRunOf &run, std::int32_t received, const Action &action) {
  if (run.Backward) {
    for (std::int32_t number = run.First; number < run.First + received; ++number) {
      action(number);
    }
  } else {
    for (std::int32_t number = run.First + received - 1; number >= run.First; --number) {
      action(number);
    }
  }
}

} // namespace

TBufferedFile::TBufferedFile(TDataEngine &engine, std::string name, bool inMemory, TBufferCacheOwner &owner)
    : TEngineFile(engine, std::move(name), inMemory), owner_(owner) {}

TBufferedFile::~TBufferedFile() { FreeBuffers(); }

std::unique_ptr<TBuffer> TBufferedFile::NewBuffer() { return std::make_unique<TBuffer>(*this); }

void TBufferedFile::CheckGrowth() { CheckFileSizeLimit(); }

void TBufferedFile::CheckFileSizeLimit() {
  if (GetEndOffset() > Engine().Limits().MaxTableFileSize) {
    RaiseError(NEXORA_TABLEFULL);
  }
}

void TBufferedFile::ReadArea(std::int64_t offset, std::uint8_t *bytes, std::int32_t length, void *cipher) {
  {
    TEngineFileIO io(*this);
    Seek(0, offset);
    ReadBuffer(bytes, length, false);
  }
  if (cipher != nullptr) {
    Engine().DecryptBuffer(cipher, bytes, length);
  }
}

void TBufferedFile::WriteArea(std::int64_t offset, std::uint8_t *bytes, std::int32_t length, void *cipher) {
  if (cipher != nullptr) {
    Engine().EncryptBuffer(cipher, bytes, length);
  }
  {
    TEngineFileIO io(*this);
    Seek(0, offset);
    WriteBuffer(bytes, length);
  }
  owner_.MarkWritten();
}

std::int32_t TBufferedFile::CacheLimit(std::int32_t sizeLimit, std::int32_t countLimit, std::int32_t overhead) const {
  const std::int32_t payload = GetPayloadSize();
  if (payload == 0) {
    return countLimit;
  }
  return std::max(1, std::min(sizeLimit / (payload + overhead), countLimit));
}

std::int32_t TBufferedFile::GetDefaultReadAhead() const { return 1; }

std::int32_t TBufferedFile::GetReadAhead(TDataCursor * /*cursor*/, TReadDirection /*direction*/) {
  return defaultReadAhead_;
}

void TBufferedFile::ResetCache() {
  statistics_ = {};
  capacity_ = GetMaxBuffers();
  defaultReadAhead_ = GetDefaultReadAhead();
}

void TBufferedFile::EmptyFile() {
  {
    TEngineFileIO io(*this);
    Seek(0, GetFirstOffset());
    WriteBuffer(nullptr, 0);
  }
  if (owner_.ForceFlush()) {
    FlushFile();
  }
  owner_.MarkWritten();
}

std::int64_t TBufferedFile::GetEndOffset() const {
  return GetFirstOffset() + static_cast<std::int64_t>(GetBufferCount()) * GetBufferSize();
}

TBuffer *TBufferedFile::GetBuffer(TDataCursor *cursor, std::int32_t indexNumber, std::int32_t n, bool readAheadAllowed,
                                  TReadDirection direction) {
  if (n <= 0) {
    RaiseCorrupt();
  }
  const std::int32_t count = GetBufferCount();
  if (n == count + 1) {
    CheckGrowth();
    TBuffer *appended = AllocateBuffer(n, indexNumber, true);
    InsertSorted(appended);
    ++appended->pinCount_;
    AddBufferCount();
    ++statistics_.Requests;
    return appended;
  }

  TBuffer *buffer = FindRecent(n);
  if (buffer == nullptr) {
    const auto found = FindSorted(n);
    if (found != sorted_.end() && found->Number == n) {
      buffer = found->Buffer;
    }
  }
  if (buffer == nullptr) {
    if (!owner_.StrictChangeDetection() && cursor != nullptr && owner_.TableChangedFor(cursor)) {
      return nullptr;
    }
    std::int32_t runLength = 1;
    if (readAheadAllowed && direction != TReadDirection::None) {
      runLength = std::min(GetReadAhead(cursor, direction), count - n + 1);
      // A backward run must not reach before buffer 1, into the file's prefix.
      if (direction == TReadDirection::Backward) {
        runLength = std::min(runLength, n);
      }
      runLength = std::max(runLength, 1);
    }
    ReadRun(n, runLength, direction, indexNumber);
    const auto found = FindSorted(n);
    if (found == sorted_.end() || found->Number != n) {
      RaiseCorrupt();
    }
    buffer = found->Buffer;
  }
  MoveToHead(buffer);
  ++buffer->pinCount_;
  ++statistics_.Requests;
  return buffer;
}

bool TBufferedFile::IsCached(std::int32_t n) {
  const auto found = FindSorted(n);
  return found != sorted_.end() && found->Number == n && found->Buffer != nullptr;
}

void TBufferedFile::ReleaseBuffer(TBuffer *buffer) {
  if (buffer != nullptr && buffer->pinCount_ > 0) {
    --buffer->pinCount_;
    if (buffer->pinCount_ == 0 && !buffer->dirty_) {
      noneEvictable_ = false;
    }
  }
}

void TBufferedFile::ReadRun(std::int32_t n, std::int32_t count, TReadDirection direction, std::int32_t indexNumber) {
  const std::int32_t size = GetBufferSize();
  const bool backward = direction == TReadDirection::Backward;
  const TRun run{backward ? n - count + 1 : n, count, backward};
  readWindowOffset_ = GetFirstOffset() + static_cast<std::int64_t>(run.First - 1) * size;
  readWindowLength_ = static_cast<std::int64_t>(count) * size;
  struct TWindowReset {
    TBufferedFile &file;
    ~TWindowReset() {
      file.readWindowOffset_ = file.readWindowLength_ = 0;
      // Buffers read ahead are clean and unpinned.
      file.noneEvictable_ = false;
    }
  } windowReset{*this};

  const auto cached = FindSorted(run.First);
  const bool noneCached = cached == sorted_.end() || cached->Number >= run.First + count;
  if (LoadsInPlace() && noneCached) {
    ReadRunInPlace(run, indexNumber);
  } else {
    ReadRunThroughArea(run, indexNumber);
  }
}

std::int32_t TBufferedFile::ReceivedBuffers(std::int32_t received, std::int32_t count) {
  ++statistics_.ReadTransfers;
  statistics_.BytesRead += received;
  if (received < static_cast<std::int64_t>(count) * GetBufferSize()) {
    // Buffers appended in the cache are not yet in the file while an exclusive or
    // transaction owner has unflushed writes; anywhere else a short read is damage.
    const bool mayBeShort = (owner_.OpenedExclusively() || owner_.InTransaction()) && owner_.WrittenSinceFlush();
    if (!mayBeShort) {
      RaiseError(NEXORA_READERR);
    }
  }
  return received / GetBufferSize();
}

void TBufferedFile::ReadRunThroughArea(const TRun &run, std::int32_t indexNumber) {
  const std::int32_t size = GetBufferSize();
  readArea_.resize(static_cast<std::size_t>(readWindowLength_));
  std::int32_t received = 0;
  {
    TEngineFileIO io(*this);
    Seek(0, readWindowOffset_);
    received = ReadBuffer(readArea_.data(), static_cast<std::int32_t>(readWindowLength_), true);
  }
  const std::int32_t whole = ReceivedBuffers(received, run.Count);
  ForEachInLoadOrder(run, whole, [&](std::int32_t number) {
    const std::uint8_t *image = readArea_.data() + static_cast<std::size_t>(number - run.First) * size;
    const auto found = FindSorted(number);
    if (found != sorted_.end() && found->Number == number) {
      TBuffer &cachedBuffer = *found->Buffer;
      if (!cachedBuffer.dirty_ && cachedBuffer.pinCount_ == 0) {
        cachedBuffer.LoadImage(image);
        ++statistics_.Reads;
      }
      return;
    }
    TBuffer *loaded = AllocateBuffer(number, indexNumber, false);
    InsertSorted(loaded);
    loaded->LoadImage(image);
    ++statistics_.Reads;
  });
}

void TBufferedFile::ReadRunInPlace(const TRun &run, std::int32_t indexNumber) {
  // The run's buffers are taken first, pinned so that taking the next cannot evict them,
  // and the file's bytes are read straight into them in one transfer.
  runBuffers_.assign(static_cast<std::size_t>(run.Count), nullptr);
  runPieces_.assign(static_cast<std::size_t>(run.Count), TIOPiece{});
  auto releaseRun = [&](std::int32_t keep) {
    for (std::int32_t i = 0; i < run.Count; ++i) {
      TBuffer *buffer = runBuffers_[static_cast<std::size_t>(i)];
      if (buffer == nullptr) {
        continue;
      }
      --buffer->pinCount_;
      if (i >= keep) {
        DiscardBuffer(buffer);
      }
    }
  };
  std::int32_t whole = 0;
  try {
    {
      // Buffers evicted for the run leave the sorted list together, in one pass, once
      // all are taken: nothing searches the list meanwhile.
      struct TDeferredRemoval {
        TBufferedFile &file;
        explicit TDeferredRemoval(TBufferedFile &owner) : file(owner) { file.deferRemoval_ = true; }
        ~TDeferredRemoval() {
          file.deferRemoval_ = false;
          std::erase_if(file.sorted_, [](const TSortedEntry &entry) { return entry.Buffer == nullptr; });
        }
      } deferred(*this);
      ForEachInLoadOrder(run, run.Count, [&](std::int32_t number) {
        TBuffer *buffer = AllocateBuffer(number, indexNumber, false);
        ++buffer->pinCount_;
        const auto at = static_cast<std::size_t>(number - run.First);
        runBuffers_[at] = buffer;
        runPieces_[at] = TIOPiece{buffer->Data(), buffer->DataSize()};
      });
    }
    std::int32_t received = 0;
    {
      TEngineFileIO io(*this);
      Seek(0, readWindowOffset_);
      received = ReadPieces(runPieces_.data(), run.Count, true);
    }
    whole = ReceivedBuffers(received, run.Count);
  } catch (...) {
    releaseRun(0);
    throw;
  }
  // Buffers only partly or not at all received are given back; the others join the cache.
  for (std::int32_t i = 0; i < whole; ++i) {
    TBuffer *buffer = runBuffers_[static_cast<std::size_t>(i)];
    InsertSorted(buffer);
    buffer->LoadedInPlace();
    ++statistics_.Reads;
  }
  releaseRun(whole);
}

TBuffer *TBufferedFile::AllocateBuffer(std::int32_t n, std::int32_t indexNumber, bool clear) {
  TBuffer *buffer = nullptr;
  if (static_cast<std::int32_t>(sorted_.size()) < capacity_) {
    buffer = CreateBuffer();
  } else {
    buffer = TakeEvictable();
    if (buffer == nullptr && !owner_.InTransaction() && FlushBuffers(true)) {
      buffer = TakeEvictable();
    }
    if (buffer != nullptr) {
      MoveToHead(buffer);
    } else {
      capacity_ += GetGrowthStep();
      buffer = CreateBuffer();
    }
  }
  if (clear) {
    buffer->Clear(indexNumber);
  }
  buffer->number_ = n;
  return buffer;
}

TBuffer *TBufferedFile::CreateBuffer() {
  buffers_.push_back(NewBuffer());
  TBuffer *buffer = buffers_.back().get();
  LinkAtHead(buffer);
  return buffer;
}

void TBufferedFile::DiscardBuffer(TBuffer *buffer) {
  Unlink(buffer);
  const auto owned = std::find_if(buffers_.begin(), buffers_.end(),
                                  [buffer](const std::unique_ptr<TBuffer> &held) { return held.get() == buffer; });
  std::swap(*owned, buffers_.back());
  buffers_.pop_back();
}

bool TBufferedFile::LoadsInPlace() const { return GetPayloadSize() == GetBufferSize(); }

TBuffer *TBufferedFile::TakeEvictable() {
  // While a transaction keeps every buffer dirty, a scan that found nothing stays
  // fruitless until a buffer is released clean, read or written; growing the cache by its
  // step then needs no scan of the whole list each time.
  if (noneEvictable_) {
    return nullptr;
  }
  for (TBuffer *candidate = tail_; candidate != nullptr; candidate = candidate->newer_) {
    if (!candidate->dirty_ && candidate->pinCount_ == 0) {
      const auto found = FindSorted(candidate->number_);
      if (deferRemoval_) {
        found->Buffer = nullptr;
      } else {
        sorted_.erase(found);
      }
      return candidate;
    }
  }
  noneEvictable_ = true;
  return nullptr;
}

bool TBufferedFile::FlushBuffers(bool evicting) {
  std::vector<TBuffer *> collected;
  for (const TSortedEntry &entry : sorted_) {
    TBuffer *buffer = entry.Buffer;
    if (buffer == nullptr || !buffer->dirty_ || OverlapsReadWindow(*buffer)) {
      continue;
    }
    if (buffer->pinCount_ > 0) {
      if (!evicting) {
        RaiseCorrupt();
      }
      continue;
    }
    collected.push_back(buffer);
  }
  if (collected.empty()) {
    return false;
  }
  std::size_t runStart = 0;
  for (std::size_t i = 1; i <= collected.size(); ++i) {
    if (i == collected.size() || collected[i]->number_ != collected[i - 1]->number_ + 1) {
      WriteRun({collected.begin() + static_cast<long>(runStart), collected.begin() + static_cast<long>(i)});
      runStart = i;
    }
  }
  noneEvictable_ = false;
  return true;
}

void TBufferedFile::WriteRun(const std::vector<TBuffer *> &run) {
  const std::int32_t size = GetBufferSize();
  writeArea_.assign(run.size() * static_cast<std::size_t>(size), 0);
  for (std::size_t i = 0; i < run.size(); ++i) {
    run[i]->StoreImage(writeArea_.data() + i * static_cast<std::size_t>(size));
  }
  try {
    TEngineFileIO io(*this);
    Seek(0, GetFirstOffset() + static_cast<std::int64_t>(run.front()->number_ - 1) * size);
    WriteBuffer(writeArea_.data(), static_cast<std::int32_t>(writeArea_.size()));
  } catch (...) {
    // Nothing reached the file: the buffers still hold the only copy of their changes.
    for (TBuffer *buffer : run) {
      buffer->dirty_ = true;
    }
    throw;
  }
  owner_.MarkWritten();
  ++statistics_.WriteTransfers;
}

bool TBufferedFile::OverlapsReadWindow(const TBuffer &buffer) const {
  if (readWindowLength_ == 0) {
    return false;
  }
  const std::int64_t size = GetBufferSize();
  const std::int64_t start = GetFirstOffset() + (buffer.number_ - 1) * size;
  return start < readWindowOffset_ + readWindowLength_ && readWindowOffset_ < start + size;
}

void TBufferedFile::FreeBuffers() {
  noneEvictable_ = false;
  sorted_.clear();
  buffers_.clear();
  head_ = tail_ = nullptr;
}

void TBufferedFile::TrimBuffers() {
  const std::int32_t limit = GetMaxBuffers();
  // One pass from the least recently used end picks the buffers to evict; both lists are
  // then compacted once, so trimming a large cache stays linear.
  std::vector<TBuffer *> evicted;
  for (TBuffer *candidate = tail_;
       candidate != nullptr && static_cast<std::int32_t>(sorted_.size() - evicted.size()) > limit;) {
    TBuffer *newer = candidate->newer_;
    if (!candidate->dirty_ && candidate->pinCount_ == 0) {
      Unlink(candidate);
      evicted.push_back(candidate);
    }
    candidate = newer;
  }
  if (!evicted.empty()) {
    std::sort(evicted.begin(), evicted.end());
    const auto isEvicted = [&](const TBuffer *buffer) {
      return std::binary_search(evicted.begin(), evicted.end(), buffer);
    };
    std::erase_if(sorted_, [&](const TSortedEntry &entry) { return isEvicted(entry.Buffer); });
    std::erase_if(buffers_, [&](const std::unique_ptr<TBuffer> &held) { return isEvicted(held.get()); });
  }
  capacity_ = std::max(static_cast<std::int32_t>(sorted_.size()), limit);
}

TBuffer *TBufferedFile::FindRecent(std::int32_t n) const {
  TBuffer *buffer = head_;
  for (std::int32_t depth = GetScanDepth(); buffer != nullptr && depth > 0; --depth, buffer = buffer->older_) {
    if (buffer->number_ == n) {
      return buffer;
    }
  }
  return nullptr;
}

TBufferedFile::TBufferList::iterator TBufferedFile::FindSorted(std::int32_t n) {
  // Scans and evictions work at the ends of the list, and a scan asks for the entry
  // after the one it found last: those are looked at before the binary search.
  if (sorted_.empty() || n > sorted_.back().Number) {
    return sorted_.end();
  }
  if (n <= sorted_.front().Number) {
    return sorted_.begin();
  }
  if (lastFound_ + 1 < sorted_.size() && sorted_[lastFound_ + 1].Number == n) {
    return sorted_.begin() + static_cast<std::ptrdiff_t>(++lastFound_);
  }
  const auto found =
      std::lower_bound(sorted_.begin(), sorted_.end(), n,
                       [](const TSortedEntry &entry, std::int32_t wanted) { return entry.Number < wanted; });
  lastFound_ = static_cast<std::size_t>(found - sorted_.begin());
  return found;
}

void TBufferedFile::InsertSorted(TBuffer *buffer) {
  sorted_.insert(FindSorted(buffer->number_), TSortedEntry{buffer->number_, buffer});
}

void TBufferedFile::LinkAtHead(TBuffer *buffer) {
  buffer->older_ = head_;
  buffer->newer_ = nullptr;
  if (head_ != nullptr) {
    head_->newer_ = buffer;
  }
  head_ = buffer;
  if (tail_ == nullptr) {
    tail_ = buffer;
  }
}

void TBufferedFile::Unlink(TBuffer *buffer) {
  (buffer->newer_ != nullptr ? buffer->newer_->older_ : head_) = buffer->older_;
  (buffer->older_ != nullptr ? buffer->older_->newer_ : tail_) = buffer->newer_;
  buffer->newer_ = buffer->older_ = nullptr;
}

void TBufferedFile::MoveToHead(TBuffer *buffer) {
  if (head_ == buffer) {
    return;
  }
  Unlink(buffer);
  LinkAtHead(buffer);
}

} // namespace nexora

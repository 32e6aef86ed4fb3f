#include "storage/buffered_file.h"

#include <algorithm>

namespace nexora {
TBufferedFile::TBufferedFile(TDataEngine& engine, std::string name, bool inMemory, TBufferCacheOwner& owner)
    : TEngineFile(engine, std::move(name), inMemory), owner_(owner) {}

TBufferedFile::~TBufferedFile() { FreeBuffers(); }

std::unique_ptr<TBuffer> TBufferedFile::NewBuffer() { return std::make_unique<TBuffer>(*this); }

void TBufferedFile::CheckGrowth() { CheckFileSizeLimit(); }

void TBufferedFile::CheckFileSizeLimit() {
  if (GetEndOffset() > Engine().Limits().MaxTableFileSize) {
    RaiseError(NEXORA_TABLEFULL);
  }
}

std::int32_t TBufferedFile::CacheLimit(std::int32_t sizeLimit, std::int32_t countLimit, std::int32_t overhead) const {
  const std::int32_t payload = GetPayloadSize();
  if (payload == 0) {
    return countLimit;
  }
  return std::max(1, std::min(sizeLimit / (payload + overhead), countLimit));
}

std::int32_t TBufferedFile::GetDefaultReadAhead() const { return 1; }

std::int32_t TBufferedFile::GetReadAhead(TDataCursor* /*cursor*/, TReadDirection /*direction*/) {
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

TBuffer* TBufferedFile::GetBuffer(TDataCursor* cursor, std::int32_t indexNumber, std::int32_t n,
                                  bool readAheadAllowed, TReadDirection direction) {
  if (n <= 0) {
    RaiseCorrupt();
  }
  const std::int32_t count = GetBufferCount();
  if (n == count + 1) {
    CheckGrowth();
    TBuffer* appended = InsertSorted(AllocateBuffer(n, indexNumber));
    ++appended->pinCount_;
    AddBufferCount();
    ++statistics_.Requests;
    return appended;
  }

  TBuffer* buffer = FindRecent(n);
  if (buffer == nullptr) {
    const auto found = FindSorted(n);
    if (found != sorted_.end() && (*found)->number_ == n) {
      buffer = found->get();
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
    if (found == sorted_.end() || (*found)->number_ != n) {
      RaiseCorrupt();
    }
    buffer = found->get();
  }
  MoveToHead(buffer);
  ++buffer->pinCount_;
  ++statistics_.Requests;
  return buffer;
}

void TBufferedFile::ReleaseBuffer(TBuffer* buffer) {
  if (buffer != nullptr && buffer->pinCount_ > 0) {
    --buffer->pinCount_;
  }
}

void TBufferedFile::ReadRun(std::int32_t n, std::int32_t count, TReadDirection direction, std::int32_t indexNumber) {
  const std::int32_t size = GetBufferSize();
  const bool backward = direction == TReadDirection::Backward;
  const std::int32_t first = backward ? n - count + 1 : n;
  const std::int64_t offset = GetFirstOffset() + static_cast<std::int64_t>(first - 1) * size;
  const std::int64_t length = static_cast<std::int64_t>(count) * size;

  readWindowOffset_ = offset;
  readWindowLength_ = length;
  struct TWindowReset {
    TBufferedFile& file;
    ~TWindowReset() { file.readWindowOffset_ = file.readWindowLength_ = 0; }
  } windowReset{*this};

  readArea_.resize(static_cast<std::size_t>(length));
  std::int32_t received = 0;
  {
    TEngineFileIO io(*this);
    Seek(0, offset);
    received = ReadBuffer(readArea_.data(), static_cast<std::int32_t>(length), true);
  }
  ++statistics_.ReadTransfers;
  statistics_.BytesRead += received;
  if (received < length) {
    // Buffers appended in the cache are not yet in the file while an exclusive or
    // transaction owner has unflushed writes; anywhere else a short read is damage.
    const bool mayBeShort =
        (owner_.OpenedExclusively() || owner_.InTransaction()) && owner_.WrittenSinceFlush();
    if (!mayBeShort) {
      RaiseError(NEXORA_READERR);
    }
  }

  const std::int32_t whole = received / size;
  auto distribute = [&](std::int32_t number) {
    const std::uint8_t* image = readArea_.data() + static_cast<std::size_t>(number - first) * size;
    const auto found = FindSorted(number);
    if (found != sorted_.end() && (*found)->number_ == number) {
      TBuffer& cached = **found;
      if (!cached.dirty_ && cached.pinCount_ == 0) {
        cached.LoadImage(image);
        ++statistics_.Reads;
      }
      return;
    }
    TBuffer* loaded = InsertSorted(AllocateBuffer(number, indexNumber));
    loaded->LoadImage(image);
    ++statistics_.Reads;
  };
  // Buffer n is handled last, so that allocation never evicts it before it is pinned.
  if (backward) {
    for (std::int32_t number = first; number < first + whole; ++number) {
      distribute(number);
    }
  } else {
    for (std::int32_t number = first + whole - 1; number >= first; --number) {
      distribute(number);
    }
  }
}

std::unique_ptr<TBuffer> TBufferedFile::AllocateBuffer(std::int32_t n, std::int32_t indexNumber) {
  std::unique_ptr<TBuffer> buffer;
  if (static_cast<std::int32_t>(sorted_.size()) < capacity_) {
    buffer = NewBuffer();
    LinkAtHead(buffer.get());
  } else {
    buffer = TakeEvictable();
    if (!buffer && !owner_.InTransaction() && FlushBuffers(true)) {
      buffer = TakeEvictable();
    }
    if (buffer) {
      MoveToHead(buffer.get());
    } else {
      capacity_ += GetGrowthStep();
      buffer = NewBuffer();
      LinkAtHead(buffer.get());
    }
  }
  buffer->Clear(indexNumber);
  buffer->number_ = n;
  return buffer;
}

std::unique_ptr<TBuffer> TBufferedFile::TakeEvictable() {
  for (TBuffer* candidate = tail_; candidate != nullptr; candidate = candidate->newer_) {
    if (!candidate->dirty_ && candidate->pinCount_ == 0) {
      auto found = FindSorted(candidate->number_);
      std::unique_ptr<TBuffer> taken = std::move(*found);
      sorted_.erase(found);
      return taken;
    }
  }
  return nullptr;
}

bool TBufferedFile::FlushBuffers(bool evicting) {
  std::vector<TBuffer*> collected;
  for (const auto& buffer : sorted_) {
    if (!buffer->dirty_ || OverlapsReadWindow(*buffer)) {
      continue;
    }
    if (buffer->pinCount_ > 0) {
      if (!evicting) {
        RaiseCorrupt();
      }
      continue;
    }
    collected.push_back(buffer.get());
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
  return true;
}

void TBufferedFile::WriteRun(const std::vector<TBuffer*>& run) {
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
    for (TBuffer* buffer : run) {
      buffer->dirty_ = true;
    }
    throw;
  }
  owner_.MarkWritten();
  ++statistics_.WriteTransfers;
}

bool TBufferedFile::OverlapsReadWindow(const TBuffer& buffer) const {
  if (readWindowLength_ == 0) {
    return false;
  }
  const std::int64_t size = GetBufferSize();
  const std::int64_t start = GetFirstOffset() + (buffer.number_ - 1) * size;
  return start < readWindowOffset_ + readWindowLength_ && readWindowOffset_ < start + size;
}

void TBufferedFile::FreeBuffers() {
  sorted_.clear();
  head_ = tail_ = nullptr;
}

void TBufferedFile::TrimBuffers() {
  const std::int32_t limit = GetMaxBuffers();
  while (static_cast<std::int32_t>(sorted_.size()) > limit) {
    std::unique_ptr<TBuffer> evicted = TakeEvictable();
    if (!evicted) {
      break;
    }
    Unlink(evicted.get());
  }
  capacity_ = std::max(static_cast<std::int32_t>(sorted_.size()), limit);
}

TBuffer* TBufferedFile::FindRecent(std::int32_t n) const {
  TBuffer* buffer = head_;
  for (std::int32_t depth = GetScanDepth(); buffer != nullptr && depth > 0; --depth, buffer = buffer->older_) {
    if (buffer->number_ == n) {
      return buffer;
    }
  }
  return nullptr;
}

TBufferedFile::TBufferList::iterator TBufferedFile::FindSorted(std::int32_t n) {
  return std::lower_bound(sorted_.begin(), sorted_.end(), n,
                          [](const std::unique_ptr<TBuffer>& buffer, std::int32_t wanted) {
                            return buffer->number_ < wanted;
                          });
}

TBuffer* TBufferedFile::InsertSorted(std::unique_ptr<TBuffer> buffer) {
  TBuffer* raw = buffer.get();
  sorted_.insert(FindSorted(raw->number_), std::move(buffer));
  return raw;
}

void TBufferedFile::LinkAtHead(TBuffer* buffer) {
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

void TBufferedFile::Unlink(TBuffer* buffer) {
  (buffer->newer_ != nullptr ? buffer->newer_->older_ : head_) = buffer->older_;
  (buffer->older_ != nullptr ? buffer->older_->newer_ : tail_) = buffer->newer_;
  buffer->newer_ = buffer->older_ = nullptr;
}

void TBufferedFile::MoveToHead(TBuffer* buffer) {
  if (head_ == buffer) {
    return;
  }
  Unlink(buffer);
  LinkAtHead(buffer);
}

} // namespace nexora

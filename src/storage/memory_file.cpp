#include "storage/memory_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/data_engine.h"

namespace nexora {

TMemoryFile::TMemoryFile(TDataEngine &engine, std::string name) : TBaseFile(engine) { SetName(std::move(name)); }

std::int32_t TMemoryFile::CreateHandle() {
  chunks_.clear();
  return TBaseFile::CreateHandle();
}

bool TMemoryFile::Reserve(std::int64_t end) {
  if (end > Engine().Limits().MaxTableFileSize) {
    errno = EFBIG;
    return false;
  }
  const auto needed = static_cast<std::size_t>((end + ChunkSize - 1) / ChunkSize);
  try {
    chunks_.reserve(needed);
    while (chunks_.size() < needed) {
      chunks_.push_back(std::make_unique<TChunk>());
    }
  } catch (const std::bad_alloc &) {
    errno = ENOMEM;
    return false;
  }
  return true;
}

std::int32_t TMemoryFile::Read(std::int32_t id, void *buffer, std::int32_t count) {
  const std::optional<std::int64_t> position = PositionOf(id);
  if (!position) {
    return FailWith(EBADF);
  }
  if (count < 0) {
    return FailWith(EINVAL);
  }
  const std::int64_t available = std::max<std::int64_t>(0, size_ - *position);
  const auto total = static_cast<std::int32_t>(std::min<std::int64_t>(count, available));
  auto *out = static_cast<std::uint8_t *>(buffer);
  std::int64_t at = *position;
  for (std::int32_t done = 0; done < total;) {
    const std::int64_t inChunk = at % ChunkSize;
    const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(total - done, ChunkSize - inChunk));
    std::memcpy(out + done, chunks_[static_cast<std::size_t>(at / ChunkSize)]->data() + inChunk,
                static_cast<std::size_t>(piece));
    done += piece;
    at += piece;
  }
  SetPosition(id, at);
  return total;
}

std::int32_t TMemoryFile::Write(std::int32_t id, const void *buffer, std::int32_t count) {
  const std::optional<std::int64_t> position = PositionOf(id);
  if (!position) {
    return FailWith(EBADF);
  }
  std::int64_t end = 0;
  if (count < 0 || __builtin_add_overflow(*position, count, &end)) {
    return FailWith(EINVAL);
  }
  if (!Reserve(end)) {
    return FailWith(errno);
  }
  if (count == 0) {
    // Bytes past the logical size stay zero, so a later write past the end leaves a zeroed
    // gap as a system file does.
    for (std::int64_t at = *position; at < size_;) {
      const std::int64_t inChunk = at % ChunkSize;
      const std::int64_t piece = std::min(size_ - at, ChunkSize - inChunk);
      std::memset(chunks_[static_cast<std::size_t>(at / ChunkSize)]->data() + inChunk, 0,
                  static_cast<std::size_t>(piece));
      at += piece;
    }
    size_ = *position;
    return 0;
  }
  const auto *in = static_cast<const std::uint8_t *>(buffer);
  std::int64_t at = *position;
  for (std::int32_t done = 0; done < count;) {
    const std::int64_t inChunk = at % ChunkSize;
    const auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(count - done, ChunkSize - inChunk));
    std::memcpy(chunks_[static_cast<std::size_t>(at / ChunkSize)]->data() + inChunk, in + done,
                static_cast<std::size_t>(piece));
    done += piece;
    at += piece;
  }
  size_ = std::max(size_, end);
  SetPosition(id, at);
  return count;
}

} // namespace nexora

#include "storage/base_file.h"

#include <algorithm>
#include <cerrno>
#include <limits>

#include "engine/data_engine.h"

namespace nexora {

TBaseFile::TBaseFile(TDataEngine &engine) : engine_(engine) {}

TBaseFile::~TBaseFile() = default;

std::int64_t TBaseFile::GetSize() { return size_; }

std::int32_t TBaseFile::AddHandle() {
  std::lock_guard lock(handlesLock_);
  handles_.push_back({++lastHandleId_, 0});
  return lastHandleId_;
}

std::int32_t TBaseFile::CreateHandle() {
  size_ = 0;
  return AddHandle();
}

std::int32_t TBaseFile::OpenHandle() { return AddHandle(); }

void TBaseFile::CloseHandle(std::int32_t id) {
  bool last = false;
  {
    std::lock_guard lock(handlesLock_);
    const auto found =
        std::find_if(handles_.begin(), handles_.end(), [id](const TFileHandle &h) { return h.Id == id; });
    if (found == handles_.end()) {
      return;
    }
    handles_.erase(found);
    last = handles_.empty();
  }
  if (last) {
    std::lock_guard lock(regionLock_);
    lockedRanges_.clear();
  }
}

void TBaseFile::CloseAllHandles() {
  std::vector<std::int32_t> ids;
  {
    std::lock_guard lock(handlesLock_);
    for (const TFileHandle &handle : handles_) {
      ids.push_back(handle.Id);
    }
  }
  for (const std::int32_t id : ids) {
    CloseHandle(id);
  }
}

std::int32_t TBaseFile::OpenCount() const {
  std::lock_guard lock(handlesLock_);
  return static_cast<std::int32_t>(handles_.size());
}

bool TBaseFile::HasHandle(std::int32_t id) const { return PositionOf(id).has_value(); }

std::int32_t TBaseFile::Rename(const std::string &newName) {
  name_ = newName;
  return 0;
}

std::int32_t TBaseFile::Delete() { return 0; }

bool TBaseFile::Flush(std::int32_t) { return true; }

std::optional<std::int64_t> TBaseFile::PositionOf(std::int32_t id) const {
  std::lock_guard lock(handlesLock_);
  for (const TFileHandle &handle : handles_) {
    if (handle.Id == id) {
      return handle.Position;
    }
  }
  return std::nullopt;
}

void TBaseFile::SetPosition(std::int32_t id, std::int64_t position) {
  std::lock_guard lock(handlesLock_);
  for (TFileHandle &handle : handles_) {
    if (handle.Id == id) {
      handle.Position = position;
    }
  }
}

std::optional<std::int64_t> TBaseFile::SeekTarget(std::int64_t position, std::int64_t size, int origin,
                                                  std::int64_t offset) {
  std::int64_t base = 0;
  switch (origin) {
  case 0:
    break;
  case 1:
    base = position;
    break;
  case 2:
    base = size;
    break;
  default:
    return std::nullopt;
  }
  std::int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) {
    return std::nullopt;
  }
  return target;
}

std::int64_t TBaseFile::Seek(std::int32_t id, int origin, std::int64_t offset) {
  const std::optional<std::int64_t> position = PositionOf(id);
  if (!position) {
    return FailWith(EBADF);
  }
  const std::int64_t size = origin == 2 ? GetSize() : 0;
  if (size < 0) {
    return -1;
  }
  const std::optional<std::int64_t> target = SeekTarget(*position, size, origin, offset);
  if (!target) {
    return FailWith(EINVAL);
  }
  SetPosition(id, *target);
  return *target;
}

bool TBaseFile::InsertRange(std::int64_t length, std::int64_t offset) {
  std::int64_t end = 0;
  if (length < 1 || offset < 0 || __builtin_add_overflow(offset, length - 1, &end)) {
    return false;
  }
  std::lock_guard lock(regionLock_);
  const auto next = lockedRanges_.lower_bound(offset);
  if (next != lockedRanges_.end() && next->second.Start <= end) {
    return false;
  }
  if (next != lockedRanges_.begin() && std::prev(next)->second.End >= offset) {
    return false;
  }
  lockedRanges_.emplace_hint(next, offset, TLockedRange{offset, end, length});
  return true;
}

std::optional<TLockedRange> TBaseFile::RemoveRange(std::int64_t offset) {
  std::lock_guard lock(regionLock_);
  const auto found = lockedRanges_.find(offset);
  if (found == lockedRanges_.end()) {
    return std::nullopt;
  }
  const TLockedRange range = found->second;
  lockedRanges_.erase(found);
  return range;
}

bool TBaseFile::LockRegion(std::int64_t length, std::int64_t offset) { return InsertRange(length, offset); }

bool TBaseFile::UnlockRegion(std::int64_t, std::int64_t offset) { return RemoveRange(offset).has_value(); }

std::int32_t TBaseFile::FailWith(int errorNumber) {
  errno = errorNumber;
  engine_.MapLastOSError();
  return -1;
}

std::int32_t TBaseFile::ReadPieces(std::int32_t id, const TIOPiece *pieces, std::int32_t count) {
  std::int32_t total = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t read = Read(id, pieces[i].Data, pieces[i].Length);
    if (read < 0) {
      return -1;
    }
    total += read;
    if (read < pieces[i].Length) {
      break;
    }
  }
  return total;
}

} // namespace nexora

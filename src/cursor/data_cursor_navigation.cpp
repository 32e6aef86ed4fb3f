#include <algorithm>
#include <cstring>

#include "cursor/data_cursor.h"
#include "cursor/data_cursor_operation.h"
#include "engine/data_session.h"
#include "storage/record_layout.h"
#include "support/little_endian.h"

namespace nexora {

TPinnedPage TDataCursor::PinLeaf(std::int32_t pageNumber) {
  TIndexFile &file = table_->IndexFile();
  TPage *page = file.PinPage(this, indexNumber_, pageNumber);
  if (page == nullptr) {
    throw ETableChanged{};
  }
  TPinnedPage pinned(file, page);
  if (!page->IsLeaf() || page->EntryCount() == 0) {
    throw ETableChanged{};
  }
  return pinned;
}

TCountedTree TDataCursor::Tree() { return TCountedTree(table_->IndexFile(), indexNumber_, this); }

std::int32_t TDataCursor::TableRecordCount() const { return table_->DataFile().GetRecordCount(); }

std::int32_t TDataCursor::PhysicalRecordCount() const { return table_->DataFile().GetBufferCount(); }

void TDataCursor::SetNoRecords() {
  ordinal_ = 0;
  firstBound_ = 0;
  lastBound_ = 0;
  physical_ = 0;
  leafPage_ = 0;
  slot_ = 0;
  keyRecordNumber_ = 0;
  std::fill(currentKey_.begin(), currentKey_.end(), 0);
  bof_ = true;
  eof_ = true;
}

void TDataCursor::StandOnKey(std::int64_t ordinal, const TKeyPath &path, const std::uint8_t *key,
                             std::int32_t recordNumber) {
  ordinal_ = ordinal;
  leafPage_ = path.Leaf().Page;
  slot_ = path.Leaf().Slot + 1;
  std::copy_n(key, currentKey_.size(), currentKey_.begin());
  keyRecordNumber_ = recordNumber;
}

void TDataCursor::StandOnOrdinal(std::int64_t ordinal) {
  TKeyPath path;
  const std::optional<std::int32_t> record = Tree().KeyAt(ordinal, path, currentKey_.data());
  if (!record) {
    // The bounds promised a key the index does not hold: it changed under the walk.
    throw ETableChanged{};
  }
  StandOnKey(ordinal, path, currentKey_.data(), *record);
}

std::int32_t TDataCursor::ReadAheadCount(TReadDirection direction) {
  const std::int32_t limit = std::max(1, table_->DataFile().DefaultReadAhead());
  const std::int32_t step = direction == TReadDirection::Backward ? -1 : 1;
  if (indexNumber_ == NaturalOrder) {
    // Records ahead in the bitmap; gaps up to a quarter of the limit are read through.
    const std::int32_t bridge = std::max(1, limit / 4);
    std::int32_t span = 1;
    std::int32_t gap = 0;
    for (std::int32_t n = physical_ + step; n >= 1 && n <= bitmap_.Size() && span + gap < limit; n += step) {
      if (bitmap_.Test(n)) {
        span += gap + 1;
        gap = 0;
      } else if (++gap > bridge) {
        break;
      }
    }
    return span;
  }
  if (leafPage_ == 0) {
    return 1;
  }
  const TPinnedPage page = PinLeaf(leafPage_);
  std::int32_t count = 1;
  const std::int32_t entries = page->EntryCount();
  for (std::int32_t slot = slot_ - 1 + step; slot >= 0 && slot < entries && count < limit; slot += step) {
    if (page->RecordNumber(slot) != keyRecordNumber_ + count * step) {
      break;
    }
    ++count;
  }
  return count;
}

void TDataCursor::RebuildSets() {
  const bool natural = indexNumber_ == NaturalOrder;
  keyList_.clear();
  keyListIndex_ = NoIndexChosen;
  keyListPosition_ = -1;
  ComputeRangeBounds();
  if (Filtered()) {
    ComputeFilterBitmap();
    if (!natural && rangeActive_) {
      RestrictBitmapToRange();
    }
    visibleCount_ = bitmap_.Count();
    const std::int32_t physical = PhysicalRecordCount();
    const std::int32_t threshold = directory_.Session().Engine().Settings().TableFilterIndexThreshhold;
    if (!natural && !rangeActive_ && visibleCount_ > 0 &&
        static_cast<std::int64_t>(visibleCount_) * 100 / physical <= threshold) {
      BuildKeyList();
    }
  } else if (natural) {
    // Natural order visits every physical record; its owners check the status themselves.
    bitmap_.SetSize(PhysicalRecordCount());
    bitmap_.SetAll();
  }
}

void TDataCursor::SeekFirstKey() {
  if (TableRecordCount() == 0 || RecordCount() == 0) {
    SetNoRecords();
    return;
  }
  if (indexNumber_ == NaturalOrder) {
    physical_ = bitmap_.FindNext(0);
    if (physical_ == 0) {
      SetNoRecords();
      return;
    }
    ordinal_ = 0;
  } else if (UsesKeyList()) {
    StandOnKeyListEntry(0);
  } else {
    StandOnOrdinal(firstBound_);
    if (!SettleOnFilteredRecord(1)) {
      return;
    }
  }
  bof_ = false;
  eof_ = false;
}

void TDataCursor::SeekLastKey() {
  if (TableRecordCount() == 0 || RecordCount() == 0) {
    SetNoRecords();
    return;
  }
  if (indexNumber_ == NaturalOrder) {
    physical_ = bitmap_.FindPrior(bitmap_.Size() + 1);
    if (physical_ == 0) {
      SetNoRecords();
      return;
    }
    ordinal_ = 0;
  } else if (UsesKeyList()) {
    StandOnKeyListEntry(static_cast<std::int32_t>(keyList_.size()) - 1);
  } else {
    StandOnOrdinal(lastBound_);
    if (!SettleOnFilteredRecord(-1)) {
      return;
    }
  }
  bof_ = false;
  eof_ = false;
}

bool TDataCursor::SettleOnFilteredRecord(std::int32_t step) {
  if (!Filtered() || bitmap_.Test(keyRecordNumber_)) {
    return true;
  }
  MoveBy(step);
  if (!bitmap_.Test(keyRecordNumber_)) {
    SetNoRecords();
    return false;
  }
  return true;
}

void TDataCursor::MoveBy(std::int32_t steps) {
  if (TableRecordCount() == 0) {
    SetNoRecords();
    return;
  }
  if (indexNumber_ == NaturalOrder) {
    if (steps > 0) {
      const std::int32_t found = bitmap_.FindNext(physical_, steps);
      if (found == 0) {
        eof_ = true;
        bof_ = false;
      } else {
        physical_ = found;
      }
    } else if (steps < 0) {
      const std::int32_t found = bitmap_.FindPrior(physical_, -steps);
      if (found == 0) {
        bof_ = true;
        eof_ = false;
      } else {
        physical_ = found;
      }
    }
    return;
  }
  const std::int32_t wanted = steps < 0 ? -steps : steps;
  if (UsesKeyList()) {
    const auto last = static_cast<std::int32_t>(keyList_.size()) - 1;
    const std::int64_t target = static_cast<std::int64_t>(keyListPosition_) + steps;
    StandOnKeyListEntry(static_cast<std::int32_t>(std::clamp<std::int64_t>(target, 0, last)));
    if (target < 0) {
      bof_ = true;
    } else if (target > last) {
      eof_ = true;
    } else {
      bof_ = false;
      eof_ = false;
    }
    return;
  }
  if (leafPage_ == 0) {
    // No position to move from: the walk starts again from a re-found one.
    throw ETableChanged{};
  }
  TPinnedPage page = PinLeaf(leafPage_);
  std::int32_t pageNumber = leafPage_;
  std::int32_t slot = std::min(slot_, page->EntryCount());
  // One key forward or back within the bounds; false at the end.
  const auto stepOnce = [&] {
    if (steps > 0) {
      if (ordinal_ >= lastBound_) {
        return false;
      }
      if (slot < page->EntryCount()) {
        ++slot;
      } else if (page->Next() != 0) {
        pageNumber = page->Next();
        page = PinLeaf(pageNumber);
        slot = 1;
      } else {
        return false;
      }
      ++ordinal_;
    } else {
      if (ordinal_ <= firstBound_) {
        return false;
      }
      if (slot > 1) {
        --slot;
      } else if (page->Previous() != 0) {
        pageNumber = page->Previous();
        page = PinLeaf(pageNumber);
        slot = page->EntryCount();
      } else {
        return false;
      }
      --ordinal_;
    }
    return true;
  };
  std::int32_t made = 0;
  for (; made < wanted; ++made) {
    // With filters, a step passes keys whose records the filters hide; at the end the
    // cursor stays on the last visible key it stood on.
    const std::int32_t fromPage = pageNumber;
    const std::int32_t fromSlot = slot;
    const std::int64_t fromOrdinal = ordinal_;
    bool moved = stepOnce();
    while (moved && Filtered() && !bitmap_.Test(page->RecordNumber(slot - 1))) {
      moved = stepOnce();
    }
    if (!moved) {
      if (pageNumber != fromPage) {
        pageNumber = fromPage;
        page = PinLeaf(pageNumber);
      }
      slot = std::min(fromSlot, page->EntryCount());
      ordinal_ = fromOrdinal;
      (steps > 0 ? eof_ : bof_) = true;
      break;
    }
  }
  leafPage_ = pageNumber;
  slot_ = slot;
  std::copy_n(page->Key(slot - 1), currentKey_.size(), currentKey_.begin());
  keyRecordNumber_ = page->RecordNumber(slot - 1);
  if (made == wanted) {
    bof_ = false;
    eof_ = false;
  }
}

bool TDataCursor::RecordVisible() const {
  if (TableRecordCount() == 0) {
    return false;
  }
  if (indexNumber_ == NaturalOrder) {
    return true;
  }
  return current_[0] != RecordStatusDeleted && (!Filtered() || bitmap_.Test(CurrentRecordNumber()));
}

void TDataCursor::SkipInvisible(TReadDirection direction) {
  const bool backward = direction == TReadDirection::Backward;
  // First in the asked direction, then back the other way from the end reached.
  bool &farEnd = backward ? bof_ : eof_;
  bool &nearEnd = backward ? eof_ : bof_;
  while (!farEnd) {
    if (RecordVisible()) {
      return;
    }
    MoveBy(backward ? -1 : 1);
    ReadCurrentRecord(direction);
  }
  while (!nearEnd) {
    if (RecordVisible()) {
      farEnd = true;
      return;
    }
    MoveBy(backward ? 1 : -1);
    ReadCurrentRecord(backward ? TReadDirection::Forward : TReadDirection::Backward);
  }
  bof_ = true;
  eof_ = true;
}

void TDataCursor::First() {
  Operation([&] {
    SeekFirstKey();
    ReadCurrentRecord(TReadDirection::Forward);
    SkipInvisible(TReadDirection::Forward);
    MoveBy(-1);
    ReadCurrentRecord(TReadDirection::Backward);
    SkipInvisible(TReadDirection::Backward);
  });
}

void TDataCursor::Last() {
  Operation([&] {
    SeekLastKey();
    ReadCurrentRecord(TReadDirection::Backward);
    SkipInvisible(TReadDirection::Backward);
    MoveBy(1);
    ReadCurrentRecord(TReadDirection::Forward);
    SkipInvisible(TReadDirection::Forward);
  });
}

TErrorCode TDataCursor::Next(std::uint8_t *buffer) {
  return Operation([&] {
    if (bof_) {
      SeekFirstKey();
    } else {
      MoveBy(1);
    }
    ReadCurrentRecord(TReadDirection::Forward);
    SkipInvisible(TReadDirection::Forward);
    return DeliverRecord(buffer, eof_ ? NEXORA_EOF : NEXORA_NONE);
  });
}

TErrorCode TDataCursor::Prior(std::uint8_t *buffer) {
  return Operation([&] {
    if (eof_) {
      SeekLastKey();
    } else {
      MoveBy(-1);
    }
    ReadCurrentRecord(TReadDirection::Backward);
    SkipInvisible(TReadDirection::Backward);
    return DeliverRecord(buffer, bof_ ? NEXORA_BOF : NEXORA_NONE);
  });
}

TErrorCode TDataCursor::DeliverRecord(std::uint8_t *buffer, TErrorCode status) const {
  if (buffer != nullptr) {
    if (status == NEXORA_NONE) {
      std::copy(current_.begin(), current_.end(), buffer);
    } else {
      std::fill_n(buffer, recordSize_, 0);
    }
  }
  return status;
}

std::int32_t TDataCursor::RecordCount() const {
  if (Filtered()) {
    return visibleCount_;
  }
  if (indexNumber_ == NaturalOrder) {
    return bitmap_.Count();
  }
  return firstBound_ <= 0 || lastBound_ < firstBound_ ? 0 : static_cast<std::int32_t>(lastBound_ - firstBound_ + 1);
}

std::int32_t TDataCursor::RecNo() const {
  if (RecordCount() == 0 || ordinal_ == 0) {
    return 0;
  }
  return static_cast<std::int32_t>(ordinal_ - firstBound_ + 1);
}

std::int32_t TDataCursor::GetRecordCount() {
  return Operation([&] { return RecordCount(); });
}

std::int32_t TDataCursor::GetRecNo() {
  return Operation([&] { return RecNo(); });
}

bool TDataCursor::SetRecNo(std::int32_t recNo) {
  return Operation([&] {
    if (indexNumber_ == NaturalOrder) {
      const std::int32_t found = recNo < 1 ? 0 : bitmap_.FindNext(0, recNo);
      if (found == 0) {
        recNo < 1 ? SeekFirstKey() : SeekLastKey();
        (recNo < 1 ? bof_ : eof_) = true;
      } else {
        physical_ = found;
        bof_ = false;
        eof_ = false;
      }
      ReadCurrentRecord(TReadDirection::None);
      return found != 0;
    }
    const std::int32_t count = RecordCount();
    if (recNo < 1 || recNo > count) {
      recNo < 1 ? SeekFirstKey() : SeekLastKey();
      (recNo < 1 ? bof_ : eof_) = true;
      ReadCurrentRecord(TReadDirection::None);
      return false;
    }
    TKeyPath path;
    const std::int64_t ordinal = firstBound_ + recNo - 1;
    const std::optional<std::int32_t> record = Tree().KeyAt(ordinal, path, currentKey_.data());
    if (!record) {
      RaiseIfError(NEXORA_INDEXCORRUPT);
    }
    StandOnKey(ordinal, path, currentKey_.data(), *record);
    bof_ = false;
    eof_ = false;
    if (Filtered() && !bitmap_.Test(keyRecordNumber_)) {
      MoveBy(1);
    }
    ReadCurrentRecord(TReadDirection::None);
    SkipInvisible(TReadDirection::Forward);
    return RecNo() == recNo;
  });
}

std::uint16_t TDataCursor::GetBookmarkSize() const {
  return indexNumber_ == NaturalOrder ? 4 : static_cast<std::uint16_t>(layout_.KeyLength);
}

std::vector<std::uint8_t> TDataCursor::GetBookmark() const {
  if (indexNumber_ == NaturalOrder) {
    std::vector<std::uint8_t> bookmark(4);
    StoreU32(bookmark.data(), static_cast<std::uint32_t>(physical_));
    return bookmark;
  }
  if (ordinal_ == 0) {
    return std::vector<std::uint8_t>(currentKey_.size(), 0);
  }
  return currentKey_;
}

int TDataCursor::CompareBookmarks(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const {
  if (indexNumber_ == NaturalOrder) {
    const auto left = static_cast<std::int32_t>(LoadU32(a.data()));
    const auto right = static_cast<std::int32_t>(LoadU32(b.data()));
    return left < right ? -1 : left > right ? 1 : 0;
  }
  return CompareKeys(a.data(), b.data(), layout_.KeyLength);
}

bool TDataCursor::GotoBookmark(std::span<const std::uint8_t> bookmark, bool acceptNearest) {
  return Operation([&] {
    if (bookmark.size() != GetBookmarkSize()) {
      RaiseIfError(NEXORA_OUTOFRANGE, "bookmark size");
    }
    if (indexNumber_ == NaturalOrder) {
      const auto wanted = static_cast<std::int32_t>(LoadU32(bookmark.data()));
      if (wanted != 0) {
        const std::int32_t clamped = std::clamp(wanted, 1, std::max(1, PhysicalRecordCount()));
        bof_ = false;
        eof_ = false;
        std::int32_t found = bitmap_.FindNext(clamped - 1);
        found = found != 0 ? found : bitmap_.FindPrior(clamped);
        if (found == 0) {
          SetNoRecords();
        } else {
          physical_ = found;
        }
      }
    } else {
      FindKeyPositioned(bookmark.data(), true, acceptNearest);
    }
    ReadCurrentRecord(TReadDirection::None);
    SkipInvisible(TReadDirection::Forward);
    if (acceptNearest) {
      return true;
    }
    const std::vector<std::uint8_t> current = GetBookmark();
    return !(bof_ && eof_) && CompareBookmarks(current, bookmark) == 0;
  });
}

std::vector<std::uint8_t> TDataCursor::BuildKey(std::span<const std::uint8_t> image) const {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(layout_.KeyLength), 0);
  nexora::BuildKey(layout_, image, key.data());
  return key;
}

int TDataCursor::CompareKeys(const std::uint8_t *a, const std::uint8_t *b, std::int32_t length) const {
  return nexora::CompareKeys(layout_, a, b, length);
}

bool TDataCursor::FindKey(const std::uint8_t *key, bool nearest) {
  return Operation([&] {
    const bool exact = FindKeyPositioned(key, nearest, false);
    ReadCurrentRecord(TReadDirection::None);
    SkipInvisible(TReadDirection::Forward);
    // A key whose record the filters hide gives way to the next visible one: no match.
    return exact && !(bof_ && eof_) && CompareKeys(currentKey_.data(), key, layout_.KeyLength) == 0;
  });
}

bool TDataCursor::FindKeyPositioned(const std::uint8_t *key, bool nearest, bool keepCracks) {
  if (TableRecordCount() == 0 || indexNumber_ == NaturalOrder) {
    if (TableRecordCount() == 0) {
      SetNoRecords();
    }
    return false;
  }
  const bool wasBof = bof_;
  const bool wasEof = eof_;
  if (RecordCount() == 0) {
    SetNoRecords();
    return false;
  }
  bool exact = false;
  if (UsesKeyList()) {
    exact = FindInKeyList(key, nearest);
    if (!exact && !nearest) {
      return false;
    }
  } else {
    TKeyPath path;
    const TTreeSearch search = Tree().Find(key, path);
    if (!search.Exact && !nearest) {
      return false;
    }
    // Keys outside the range give way to its first or last key.
    const bool pastEnd = search.Ordinal > lastBound_;
    StandOnOrdinal(std::clamp<std::int64_t>(search.Ordinal, firstBound_, lastBound_));
    bof_ = false;
    eof_ = pastEnd;
    exact = search.Exact && search.Ordinal >= firstBound_ && search.Ordinal <= lastBound_;
  }
  if (keepCracks) {
    // A cursor that stood on a crack stays there while its record is still at that end.
    if (wasBof) {
      MoveBy(-1);
      if (!bof_) {
        MoveBy(1);
      }
    }
    if (wasEof) {
      MoveBy(1);
      if (!eof_) {
        MoveBy(-1);
      }
    }
  }
  return exact;
}

void TDataCursor::Reposition() {
  if (indexNumber_ == NaturalOrder) {
    ordinal_ = 0;
    std::int32_t found = bitmap_.FindNext(physical_ - 1);
    found = found != 0 ? found : bitmap_.FindPrior(physical_);
    if (found == 0) {
      SetNoRecords();
    } else {
      physical_ = found;
    }
  } else if (TableRecordCount() == 0) {
    SetNoRecords();
  } else {
    const std::vector<std::uint8_t> key = BuildKey(current_);
    FindKeyPositioned(key.data(), true, true);
  }
  ReadCurrentRecord(TReadDirection::None);
  SkipInvisible(TReadDirection::Forward);
}

} // namespace nexora

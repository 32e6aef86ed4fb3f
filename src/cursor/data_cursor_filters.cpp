#include <algorithm>

#include "cursor/data_cursor.h"
#include "cursor/data_cursor_operation.h"
#include "engine/data_session.h"
#include "storage/record_layout.h"

namespace nexora {

void TDataCursor::AddFilter(std::shared_ptr<TCursorFilter> filter) {
  Operation([&] {
    filters_.push_back(filter);
    RebuildSets();
    Reposition();
  });
}

void TDataCursor::ClearFilters() {
  Operation([&] {
    filters_.clear();
    RebuildSets();
    Reposition();
  });
}

void TDataCursor::ComputeFilterBitmap() {
  const std::int32_t physical = PhysicalRecordCount();
  bitmap_.SetSize(physical);
  bitmap_.ClearAll();
  std::vector<std::uint8_t> image(recordSize_);
  for (std::int32_t number = 1; number <= physical; ++number) {
    ReadRecordImage(number, TReadDirection::Forward, image);
    if (IsDeletedImage(image)) {
      continue;
    }
    if (std::all_of(filters_.begin(), filters_.end(),
                    [&](const auto &filter) { return filter->Accepts(*this, image); })) {
      bitmap_.Set(number);
    }
  }
}

void TDataCursor::RestrictBitmapToRange() {
  TRecordsBitmap inRange(bitmap_.Size());
  if (RecordCount() > 0) {
    TKeyPath path;
    if (!Tree().KeyAt(firstBound_, path, nullptr)) {
      throw ETableChanged{};
    }
    // The range's keys lie along the leaf chain from the first one.
    std::int32_t pageNumber = path.Leaf().Page;
    std::int32_t slot = path.Leaf().Slot;
    for (std::int64_t ordinal = firstBound_; ordinal <= lastBound_ && pageNumber != 0; slot = 0) {
      const TPinnedPage page = PinLeaf(pageNumber);
      for (; slot < page->EntryCount() && ordinal <= lastBound_; ++slot, ++ordinal) {
        const std::int32_t record = page->RecordNumber(slot);
        if (record >= 1 && record <= inRange.Size()) {
          inRange.Set(record);
        }
      }
      pageNumber = page->Next();
    }
  }
  bitmap_.And(inRange);
}

void TDataCursor::BuildKeyList() {
  keyList_.clear();
  std::vector<std::uint8_t> image(recordSize_);
  for (std::int32_t number = bitmap_.FindNext(0); number != 0; number = bitmap_.FindNext(number)) {
    ReadRecordImage(number, TReadDirection::None, image);
    keyList_.push_back(BuildKey(image));
  }
  std::sort(keyList_.begin(), keyList_.end(),
            [&](const auto &a, const auto &b) { return CompareKeys(a.data(), b.data(), layout_.KeyLength) < 0; });
  keyListIndex_ = indexNumber_;
}

void TDataCursor::StandOnKeyListEntry(std::int32_t position) {
  keyListPosition_ = position;
  TKeyPath path;
  const TTreeSearch search = Tree().Find(keyList_[static_cast<std::size_t>(position)].data(), path);
  if (!search.Exact) {
    // The list names a key the index no longer holds.
    throw ETableChanged{};
  }
  StandOnOrdinal(search.Ordinal);
}

bool TDataCursor::FindInKeyList(const std::uint8_t *key, bool nearest) {
  const auto at =
      std::lower_bound(keyList_.begin(), keyList_.end(), key, [&](const auto &entry, const std::uint8_t *k) {
        return CompareKeys(entry.data(), k, layout_.KeyLength) < 0;
      });
  const bool exact = at != keyList_.end() && CompareKeys(at->data(), key, layout_.KeyLength) == 0;
  if (!exact && !nearest) {
    return false;
  }
  const bool pastEnd = at == keyList_.end();
  StandOnKeyListEntry(static_cast<std::int32_t>((pastEnd ? keyList_.end() - 1 : at) - keyList_.begin()));
  bof_ = false;
  eof_ = pastEnd;
  return exact;
}

} // namespace nexora

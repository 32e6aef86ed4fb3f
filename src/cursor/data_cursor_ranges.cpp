#include <algorithm>

#include "cursor/data_cursor.h"
#include "cursor/data_cursor_operation.h"
#include "engine/data_session.h"

namespace nexora {

std::vector<std::uint8_t> TDataCursor::RangeKey(const std::uint8_t *source, bool keysGiven, std::int32_t fieldCount,
                                                bool high) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(layout_.KeyLength), 0);
  const auto fields = static_cast<std::int32_t>(layout_.Segments.size());
  std::int32_t kept = fields;
  if (source == nullptr) {
    // No bound: every field takes its filler, so the range is open on that side.
    kept = 0;
  } else {
    if (keysGiven) {
      std::copy_n(source, key.size(), key.begin());
    } else {
      nexora::BuildKey(layout_, std::span<const std::uint8_t>(source, recordSize_), key.data());
    }
    if (fieldCount >= 1 && fieldCount < fields) {
      kept = fieldCount;
    } else if (!indexUnique_) {
      kept = fieldCount <= 0 ? fields : std::min(fieldCount, fields);
    } else {
      return key;
    }
  }
  const TOrderTable &order = directory_.Session().Engine().GetLocaleOrderTable(layout_.LocaleId);
  const std::uint8_t lowest = order.front();
  const std::uint8_t highest = order.back();
  for (std::int32_t i = kept; i < fields; ++i) {
    const TKeySegment &segment = layout_.Segments[static_cast<std::size_t>(i)];
    // The filler that sorts first (start) or last (end) in this segment's order.
    const bool first = high == segment.Descending;
    const std::uint8_t filler = segment.Type == ftcString ? (first ? lowest : highest) : (first ? 0 : 255);
    std::fill_n(key.begin() + segment.KeyOffset, 1 + segment.KeySize, filler);
  }
  const TKeySegment &last = layout_.Segments.back();
  std::fill(key.begin() + last.KeyOffset + 1 + last.KeySize, key.end(), high ? 255 : 0);
  return key;
}

void TDataCursor::SetRange(bool keysGiven, const std::uint8_t *start, std::int32_t startFieldCount,
                           const std::uint8_t *end, std::int32_t endFieldCount) {
  if (indexNumber_ == NaturalOrder || layout_.FullText) {
    RaiseIfError(NEXORA_OUTOFRANGE, "range without an ordered index");
  }
  Operation([&] {
    rangeStart_ = RangeKey(start, keysGiven, startFieldCount, false);
    rangeEnd_ = RangeKey(end, keysGiven, endFieldCount, true);
    rangeActive_ = true;
    RebuildSets();
    Reposition();
  });
}

void TDataCursor::CancelRange() {
  Operation([&] {
    ClearRange();
    RebuildSets();
    Reposition();
  });
}

void TDataCursor::ClearRange() {
  rangeActive_ = false;
  rangeStart_.clear();
  rangeEnd_.clear();
}

void TDataCursor::ComputeRangeBounds() {
  firstBound_ = 1;
  lastBound_ = TableRecordCount();
  if (!rangeActive_ || indexNumber_ == NaturalOrder || TableRecordCount() == 0) {
    return;
  }
  if (CompareKeys(rangeStart_.data(), rangeEnd_.data(), layout_.KeyLength) > 0) {
    firstBound_ = 0;
    lastBound_ = 0;
    return;
  }
  TCountedTree tree = Tree();
  TKeyPath path;
  firstBound_ = tree.Find(rangeStart_.data(), path).Ordinal;
  const TTreeSearch end = tree.Find(rangeEnd_.data(), path);
  lastBound_ = end.Exact ? end.Ordinal : end.Ordinal - 1;
  if (lastBound_ < firstBound_) {
    firstBound_ = 0;
    lastBound_ = 0;
  }
}

} // namespace nexora

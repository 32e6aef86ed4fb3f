// Adding keys: descent, page splits and root growth.
#include <algorithm>

#include "storage/counted_tree.h"

namespace nexora {

void TCountedTree::InsertKey(const std::uint8_t *key, std::int32_t recordNumber, TKeyPath &path) {
  if (file_.Root(indexNumber_) == 0) {
    CreateRoot(key, recordNumber, path);
    return;
  }
  TPathPins pins;
  Descend(key, TLeafSlot::AfterEqual, path, pins);
  AdjustPathCounts(path, pins, 1);
  const std::int32_t leaf = path.Depth - 1;
  pins[static_cast<std::size_t>(leaf)]->InsertEntry(path.Leaf().Slot, key, recordNumber);
  if (path.Leaf().Slot == 0) {
    PropagateFirstKey(path, pins, leaf);
  }
  SplitOverFull(path, pins);
}

void TCountedTree::CreateRoot(const std::uint8_t *key, std::int32_t recordNumber, TKeyPath &path) {
  const TPinnedPage root = Allocate();
  root->SetKind(TPageKind::RootLeaf);
  root->InsertEntry(0, key, recordNumber);
  file_.SetRoot(indexNumber_, root->Number());
  path.Depth = 1;
  path.At(0) = {root->Number(), 0};
}

void TCountedTree::SplitOverFull(TKeyPath &path, TPathPins &pins) {
  for (std::int32_t level = path.Depth - 1; level >= 0; --level) {
    TPage &page = *pins[static_cast<std::size_t>(level)];
    if (!page.IsOverFull()) {
      return;
    }
    const bool wasRoot = page.IsRoot();
    TPinnedPage right = Split(page);
    TKeyPathLevel &at = path.At(level);
    const bool keyMoved = at.Slot >= page.EntryCount();
    if (keyMoved) {
      at = {right->Number(), at.Slot - page.EntryCount()};
    }
    if (wasRoot) {
      GrowRoot(page, *right, keyMoved, path);
      return;
    }
    TPage &parent = *pins[static_cast<std::size_t>(level - 1)];
    TKeyPathLevel &parentAt = path.At(level - 1);
    if (counted_) {
      parent.SetSubtreeCount(parentAt.Slot, Total(page));
    }
    parent.InsertEntry(parentAt.Slot + 1, right->Key(0), right->Number(), counted_ ? Total(*right) : 0);
    if (keyMoved) {
      ++parentAt.Slot;
    }
  }
}

TPinnedPage TCountedTree::Split(TPage &page) {
  // The page after this one on the level is pinned first: a damaged link stops the split
  // before anything changed.
  TPinnedPage after;
  if (page.Next() != 0) {
    after = PinSibling(page.Next(), page);
    if (after->Previous() != page.Number()) {
      file_.RaiseCorrupt();
    }
  }
  TPinnedPage right = Allocate();
  const TPageKind kind = page.IsLeaf() ? TPageKind::Leaf : TPageKind::Branch;
  page.SetKind(kind);
  right->SetKind(kind);
  const std::int32_t count = page.EntryCount();
  page.MoveEntries(*right, count - count / 2, count / 2, 0);
  right->SetPrevious(page.Number());
  right->SetNext(page.Next());
  if (page.Next() != 0) {
    after->SetPrevious(right->Number());
  }
  page.SetNext(right->Number());
  if (page.IsLeaf() && page.Geometry().Compression != icNone) {
    BalanceBytes(page, *right);
  }
  return right;
}

void TCountedTree::BalanceBytes(TPage &left, TPage &right) {
  while (left.IsOverFull() && left.EntryCount() > 1) {
    left.MoveEntries(right, left.EntryCount() - 1, 1, 0);
  }
  while (right.IsOverFull() && right.EntryCount() > 1) {
    right.MoveEntries(left, 0, 1, left.EntryCount());
  }
  if (left.IsOverFull() || right.IsOverFull()) {
    file_.RaiseCorrupt();
  }
}

void TCountedTree::GrowRoot(TPage &left, TPage &right, bool keyMoved, TKeyPath &path) {
  if (path.Depth == MaxTreeDepth) {
    file_.RaiseCorrupt();
  }
  const TPinnedPage root = Allocate();
  root->SetKind(TPageKind::RootBranch);
  root->InsertEntry(0, left.Key(0), left.Number(), counted_ ? Total(left) : 0);
  root->InsertEntry(1, right.Key(0), right.Number(), counted_ ? Total(right) : 0);
  file_.SetRoot(indexNumber_, root->Number());
  std::copy_backward(path.Levels.begin(), path.Levels.begin() + path.Depth, path.Levels.begin() + path.Depth + 1);
  path.At(0) = {root->Number(), keyMoved ? 1 : 0};
  ++path.Depth;
}

} // namespace nexora

// Removing keys: freeing emptied pages, merging and redistributing branch pages, root
// collapse.
#include "storage/counted_tree.h"

namespace nexora {

void TCountedTree::DeleteKey(const std::uint8_t *key, TKeyPath &path) {
  if (file_.Root(indexNumber_) == 0) {
    file_.RaiseCorrupt();
  }
  TPathPins pins;
  Descend(key, TLeafSlot::FirstNotLess, path, pins);
  const std::int32_t leaf = path.Depth - 1;
  TPage &page = *pins[static_cast<std::size_t>(leaf)];
  const std::int32_t slot = path.Leaf().Slot;
  if (slot >= page.EntryCount() || Compare(page.Key(slot), key) != 0) {
    file_.RaiseCorrupt();
  }
  AdjustPathCounts(path, pins, -1);
  page.RemoveEntry(slot);
  Shrink(path, pins, leaf);
  path.Clear();
}

void TCountedTree::Shrink(TKeyPath &path, TPathPins &pins, std::int32_t level) {
  for (;; --level) {
    TPage &page = *pins[static_cast<std::size_t>(level)];
    if (page.EntryCount() == 0) {
      // An empty page leaves the tree; the index is empty when it was the root.
      if (level == 0) {
        Free(page);
        file_.SetRoot(indexNumber_, 0);
        return;
      }
      Unlink(page);
      Free(page);
      pins[static_cast<std::size_t>(level - 1)]->RemoveEntry(path.At(level - 1).Slot);
      continue;
    }
    if (path.At(level).Slot == 0) {
      PropagateFirstKey(path, pins, level);
    }
    // Leaves are freed only when empty; branches are kept at least half full.
    if (page.IsLeaf() || 2 * page.EntryCount() >= page.Capacity()) {
      return;
    }
    if (level == 0) {
      if (page.EntryCount() == 1) {
        CollapseRoot(page);
      }
      return;
    }
    if (!Rebalance(path, pins, level)) {
      return;
    }
  }
}

void TCountedTree::Unlink(const TPage &page) {
  TPinnedPage before;
  TPinnedPage after;
  if (page.Previous() != 0) {
    before = PinSibling(page.Previous(), page);
    if (before->Next() != page.Number()) {
      file_.RaiseCorrupt();
    }
  }
  if (page.Next() != 0) {
    after = PinSibling(page.Next(), page);
    if (after->Previous() != page.Number()) {
      file_.RaiseCorrupt();
    }
  }
  if (page.Previous() != 0) {
    before->SetNext(page.Next());
  }
  if (page.Next() != 0) {
    after->SetPrevious(page.Previous());
  }
}

bool TCountedTree::Rebalance(const TKeyPath &path, TPathPins &pins, std::int32_t level) {
  TPage &page = *pins[static_cast<std::size_t>(level)];
  TPage &parent = *pins[static_cast<std::size_t>(level - 1)];
  // A parent with a single entry offers no sibling: the page stays as it is, valid if
  // under-full.
  if (parent.EntryCount() < 2) {
    return false;
  }
  const std::int32_t slot = path.At(level - 1).Slot;
  return slot > 0 ? RebalanceWithPrior(page, parent, slot) : RebalanceWithNext(page, parent);
}

bool TCountedTree::RebalanceWithPrior(TPage &page, TPage &parent, std::int32_t slot) {
  const TPinnedPage prior = PinSibling(parent.ChildPage(slot - 1), page);
  if (prior->Next() != page.Number()) {
    file_.RaiseCorrupt();
  }
  const std::int32_t priorCount = prior->EntryCount();
  const std::int32_t total = priorCount + page.EntryCount();
  if (total < page.Capacity()) {
    Unlink(page);
    page.MoveEntries(*prior, 0, page.EntryCount(), priorCount);
    Free(page);
    if (counted_) {
      parent.SetSubtreeCount(slot - 1, Total(*prior));
    }
    parent.RemoveEntry(slot);
    return true;
  }
  // The prior page keeps the first half, rounded up.
  const std::int32_t keep = (total + 1) / 2;
  if (priorCount > keep) {
    prior->MoveEntries(page, keep, priorCount - keep, 0);
  } else if (priorCount < keep) {
    page.MoveEntries(*prior, 0, keep - priorCount, priorCount);
  }
  parent.SetKey(slot, page.Key(0));
  if (counted_) {
    parent.SetSubtreeCount(slot - 1, Total(*prior));
    parent.SetSubtreeCount(slot, Total(page));
  }
  return false;
}

bool TCountedTree::RebalanceWithNext(TPage &page, TPage &parent) {
  const TPinnedPage next = PinSibling(parent.ChildPage(1), page);
  if (next->Previous() != page.Number()) {
    file_.RaiseCorrupt();
  }
  const std::int32_t count = page.EntryCount();
  const std::int32_t total = count + next->EntryCount();
  if (total < page.Capacity()) {
    Unlink(page);
    page.MoveEntries(*next, 0, count, 0);
    Free(page);
    parent.SetKey(1, next->Key(0));
    if (counted_) {
      parent.SetSubtreeCount(1, Total(*next));
    }
    parent.RemoveEntry(0);
    return true;
  }
  // This page keeps the first half, rounded down.
  const std::int32_t keep = total / 2;
  if (count < keep) {
    next->MoveEntries(page, 0, keep - count, count);
  } else if (count > keep) {
    page.MoveEntries(*next, keep, count - keep, 0);
  }
  parent.SetKey(1, next->Key(0));
  if (counted_) {
    parent.SetSubtreeCount(0, Total(page));
    parent.SetSubtreeCount(1, Total(*next));
  }
  return false;
}

void TCountedTree::CollapseRoot(TPage &root) {
  const TPinnedPage child = PinPathPage(root.ChildPage(0), 1);
  child->SetKind(child->IsLeaf() ? TPageKind::RootLeaf : TPageKind::RootBranch);
  child->SetPrevious(0);
  child->SetNext(0);
  file_.SetRoot(indexNumber_, child->Number());
  Free(root);
  // A merge below may have left the child with a single entry too.
  if (child->IsBranch() && child->EntryCount() == 1 && 2 < child->Capacity()) {
    CollapseRoot(*child);
  }
}

} // namespace nexora

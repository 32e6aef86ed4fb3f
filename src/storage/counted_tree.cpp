#include "storage/counted_tree.h"

#include <cstring>
#include <limits>

#include "storage/table_changed.h"

namespace nexora {

TCountedTree::TCountedTree(TIndexFile &file, std::int32_t indexNumber, TDataCursor *cursor)
    : file_(file), indexNumber_(indexNumber), cursor_(cursor), layout_(file.KeyLayout(indexNumber)),
      counted_(!file.PageGeometry(indexNumber).FullText) {}

// --- pages

TPinnedPage TCountedTree::Pin(std::int32_t n) {
  TPage *page = file_.PinPage(cursor_, indexNumber_, n);
  if (page == nullptr) {
    if (cursor_ != nullptr) {
      throw ETableChanged{};
    }
    file_.RaiseCorrupt();
  }
  return {file_, page};
}

TPinnedPage TCountedTree::PinPathPage(std::int32_t n, std::int32_t level) {
  TPinnedPage page = Pin(n);
  if (page->IsRoot() != (level == 0) || page->EntryCount() == 0) {
    file_.RaiseCorrupt();
  }
  return page;
}

TPinnedPage TCountedTree::PinSibling(std::int32_t n, const TPage &page) {
  TPinnedPage sibling = Pin(n);
  if (sibling->Kind() != page.Kind() || sibling->Number() == page.Number()) {
    file_.RaiseCorrupt();
  }
  return sibling;
}

TPinnedPage TCountedTree::Allocate() { return {file_, file_.AllocatePage(indexNumber_)}; }

void TCountedTree::Free(TPage &page) { file_.ReleasePage(page); }

std::int32_t TCountedTree::Total(const TPage &page) const {
  const std::int64_t total = page.SubtreeTotal();
  if (total < 0 || total > std::numeric_limits<std::int32_t>::max()) {
    file_.RaiseCorrupt();
  }
  return static_cast<std::int32_t>(total);
}

int TCountedTree::Compare(const std::uint8_t *a, const std::uint8_t *b) const {
  return CompareKeys(layout_, a, b, layout_.KeyLength);
}

std::int32_t TCountedTree::UpperBound(const TPage &page, const std::uint8_t *key) const {
  std::int32_t low = 0;
  std::int32_t high = page.EntryCount();
  while (low < high) {
    const std::int32_t middle = low + (high - low) / 2;
    if (Compare(page.Key(middle), key) <= 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

std::int32_t TCountedTree::LowerBound(const TPage &page, const std::uint8_t *key) const {
  std::int32_t low = 0;
  std::int32_t high = page.EntryCount();
  while (low < high) {
    const std::int32_t middle = low + (high - low) / 2;
    if (Compare(page.Key(middle), key) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

// --- descent

std::int64_t TCountedTree::Descend(const std::uint8_t *key, TLeafSlot leafSlot, TKeyPath &path, TPathPins &pins) {
  path.Clear();
  std::int32_t n = file_.Root(indexNumber_);
  std::int64_t before = 0;
  for (std::int32_t level = 0;; ++level) {
    if (level == MaxTreeDepth) {
      file_.RaiseCorrupt();
    }
    TPinnedPage &pin = pins[static_cast<std::size_t>(level)];
    pin = PinPathPage(n, level);
    const TPage &page = *pin;
    path.Depth = level + 1;
    if (page.IsLeaf()) {
      const std::int32_t slot = leafSlot == TLeafSlot::AfterEqual ? UpperBound(page, key) : LowerBound(page, key);
      path.At(level) = {n, slot};
      return before + slot;
    }
    // The last entry whose key is not greater; the first when the key is smaller than all.
    const std::int32_t slot = std::max(UpperBound(page, key) - 1, 0);
    for (std::int32_t i = 0; i < slot; ++i) {
      before += page.SubtreeCount(i);
    }
    path.At(level) = {n, slot};
    n = page.ChildPage(slot);
  }
}

void TCountedTree::AdjustPathCounts(const TKeyPath &path, TPathPins &pins, std::int32_t delta) {
  if (!counted_) {
    return;
  }
  // Checked first, so that damage leaves every count as it was.
  for (std::int32_t level = 0; level + 1 < path.Depth; ++level) {
    const std::int64_t count = pins[static_cast<std::size_t>(level)]->SubtreeCount(path.At(level).Slot);
    const std::int64_t adjusted = count + delta;
    if (adjusted < 0 || adjusted > std::numeric_limits<std::int32_t>::max()) {
      file_.RaiseCorrupt();
    }
  }
  for (std::int32_t level = 0; level + 1 < path.Depth; ++level) {
    TPage &page = *pins[static_cast<std::size_t>(level)];
    const std::int32_t slot = path.At(level).Slot;
    page.SetSubtreeCount(slot, page.SubtreeCount(slot) + delta);
  }
}

void TCountedTree::PropagateFirstKey(const TKeyPath &path, TPathPins &pins, std::int32_t level) {
  for (std::int32_t child = level; child > 0; --child) {
    const TPage &page = *pins[static_cast<std::size_t>(child)];
    TPage &parent = *pins[static_cast<std::size_t>(child - 1)];
    const std::int32_t slot = path.At(child - 1).Slot;
    if (std::memcmp(parent.Key(slot), page.Key(0), static_cast<std::size_t>(layout_.KeyLength)) == 0) {
      return;
    }
    parent.SetKey(slot, page.Key(0));
    if (slot != 0) {
      return;
    }
  }
}

// --- searching

bool TCountedTree::KeyExists(const std::uint8_t *key, TKeyPath &path) { return Find(key, path).Exact; }

TTreeSearch TCountedTree::Find(const std::uint8_t *key, TKeyPath &path) {
  if (file_.Root(indexNumber_) == 0) {
    path.Clear();
    return {};
  }
  TPathPins pins;
  const std::int64_t before = Descend(key, TLeafSlot::FirstNotLess, path, pins);
  const TPage &leaf = *pins[static_cast<std::size_t>(path.Depth - 1)];
  const std::int32_t slot = path.Leaf().Slot;
  return {.Exact = slot < leaf.EntryCount() && Compare(leaf.Key(slot), key) == 0, .Ordinal = before + 1};
}

std::optional<std::int32_t> TCountedTree::KeyAt(std::int64_t ordinal, TKeyPath &path, std::uint8_t *key) {
  path.Clear();
  if (ordinal < 1 || ordinal > KeyCount()) {
    return std::nullopt;
  }
  std::int32_t n = file_.Root(indexNumber_);
  std::int64_t remaining = ordinal;
  for (std::int32_t level = 0;; ++level) {
    if (level == MaxTreeDepth) {
      file_.RaiseCorrupt();
    }
    const TPinnedPage page = PinPathPage(n, level);
    path.Depth = level + 1;
    if (page->IsLeaf()) {
      if (remaining > page->EntryCount()) {
        file_.RaiseCorrupt();
      }
      const auto slot = static_cast<std::int32_t>(remaining - 1);
      path.At(level) = {n, slot};
      if (key != nullptr) {
        std::memcpy(key, page->Key(slot), static_cast<std::size_t>(layout_.KeyLength));
      }
      return page->RecordNumber(slot);
    }
    // The entry whose subtree holds the ordinal.
    std::int32_t slot = 0;
    for (; slot < page->EntryCount(); ++slot) {
      const std::int32_t count = page->SubtreeCount(slot);
      if (count < 0) {
        file_.RaiseCorrupt();
      }
      if (remaining <= count) {
        break;
      }
      remaining -= count;
    }
    if (slot == page->EntryCount()) {
      file_.RaiseCorrupt();
    }
    path.At(level) = {n, slot};
    n = page->ChildPage(slot);
  }
}

std::int64_t TCountedTree::KeyCount() {
  const std::int32_t root = file_.Root(indexNumber_);
  return root == 0 ? 0 : PinPathPage(root, 0)->SubtreeTotal();
}

void TCountedTree::ReplaceKey(const std::uint8_t *oldKey, const std::uint8_t *newKey, std::int32_t recordNumber,
                              TKeyPath &path) {
  DeleteKey(oldKey, path);
  InsertKey(newKey, recordNumber, path);
}

} // namespace nexora

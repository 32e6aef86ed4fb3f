#pragma once

#include <cstdint>
#include <optional>

#include "storage/counted_tree_path.h"
#include "storage/counted_tree_pins.h"
#include "storage/index_file.h"
#include "storage/index_keys.h"

namespace nexora {

// Where a key search ended: whether the index holds the key, and the 1-based ordinal of
// the first key not less than it (key count + 1 when every key is smaller).
struct TTreeSearch {
  bool Exact = false;
  std::int64_t Ordinal = 1;
};

// The B-tree of one index of an index file, kept as a counted tree: every branch entry
// holds the first key and the key count of its child's subtree, so a key's ordinal and the
// key at an ordinal each cost one descent.
//
// Owns nothing: the file (which must outlive the object) owns the pages and the roots; the
// caller owns the key path, which each operation rewrites. Keys are K bytes of the index's
// layout and are kept distinct by the caller (unique check, record ID suffix); ordinals
// assume distinct keys. Ordinals need the subtree counts, which the text index's branches
// do not keep.
//
// InsertKey splits over-full pages (compressed leaves are then balanced by packed bytes)
// and grows a new root; DeleteKey frees emptied pages, merges or redistributes branch pages
// left under half full, and collapses the root. Every freed page goes to the file's
// free-page list. Pages are read without a cursor: the caller detects foreign changes (and
// holds the table's write lock for changes) before calling.
//
// Errors: 8965 for a damaged tree (a root or path page of the wrong kind or without keys,
// a descent deeper than 64 levels, inconsistent counts, sibling links or level chains, a
// split that cannot be balanced) and for a key DeleteKey or ReplaceKey cannot find; the
// index file's page errors. Damage is looked for along the key path before anything is
// changed; damage met later, among siblings, stops the change where it stands. Used by
// the thread that owns the table.
class TCountedTree {
public:
  // With a cursor, pages are read on its behalf: a page request that finds the table
  // changed by another party throws ETableChanged (the cursor restarts its walk).
  TCountedTree(TIndexFile &file, std::int32_t indexNumber, TDataCursor *cursor = nullptr);

  // --- searching
  // Whether the index holds the key; the path leads to it (or to where it would go).
  bool KeyExists(const std::uint8_t *key, TKeyPath &path);
  // Descends for the key; the path's leaf slot is that of the first key not less than it
  // (possibly one past the leaf's last entry). An empty index gives ordinal 1, no path.
  TTreeSearch Find(const std::uint8_t *key, TKeyPath &path);
  // The record number of the key at a 1-based ordinal, its key copied to key (K bytes,
  // unless null) and the path standing on it; nothing when the ordinal is outside 1 to
  // the key count.
  std::optional<std::int32_t> KeyAt(std::int64_t ordinal, TKeyPath &path, std::uint8_t *key);
  // Keys in the index: the root's subtree total.
  std::int64_t KeyCount();

  // --- changing
  // Adds the key with its record number after any equal key; the path stands on it.
  void InsertKey(const std::uint8_t *key, std::int32_t recordNumber, TKeyPath &path);
  // Removes the key (8965 when the index does not hold it); the path is cleared.
  void DeleteKey(const std::uint8_t *key, TKeyPath &path);
  // DeleteKey of the old key, then InsertKey of the new one; the path stands on the new key.
  void ReplaceKey(const std::uint8_t *oldKey, const std::uint8_t *newKey, std::int32_t recordNumber, TKeyPath &path);

private:
  // Which leaf slot a descent records: the first key not less than the search key, or the
  // place after every key not greater (where an insert goes).
  enum class TLeafSlot : std::uint8_t { FirstNotLess, AfterEqual };

  // --- pages
  TPinnedPage Pin(std::int32_t n);
  // A page of the path at level (0 = root): root kinds at the root only, never empty.
  TPinnedPage PinPathPage(std::int32_t n, std::int32_t level);
  // A page of the same level as page, expected to be linked to it; kind checked.
  TPinnedPage PinSibling(std::int32_t n, const TPage &page);
  TPinnedPage Allocate();
  void Free(TPage &page);
  // The subtree total as the 32-bit count a branch entry holds.
  std::int32_t Total(const TPage &page) const;
  int Compare(const std::uint8_t *a, const std::uint8_t *b) const;
  // The first entry whose key is greater than key (upper) or not less (lower).
  std::int32_t UpperBound(const TPage &page, const std::uint8_t *key) const;
  std::int32_t LowerBound(const TPage &page, const std::uint8_t *key) const;

  // Descends from the root (which must exist), pinning the path; the number of keys before
  // the recorded leaf slot.
  std::int64_t Descend(const std::uint8_t *key, TLeafSlot leafSlot, TKeyPath &path, TPathPins &pins);
  // Adds delta to the subtree count of every branch entry on the path.
  void AdjustPathCounts(const TKeyPath &path, TPathPins &pins, std::int32_t delta);
  // The first entry of the page at level changed: the parents' keys follow, upwards while
  // the changed entry is a page's first.
  void PropagateFirstKey(const TKeyPath &path, TPathPins &pins, std::int32_t level);

  // --- growing (counted_tree_insert.cpp)
  void CreateRoot(const std::uint8_t *key, std::int32_t recordNumber, TKeyPath &path);
  // Splits over-full pages from the leaf up; the path follows the inserted key.
  void SplitOverFull(TKeyPath &path, TPathPins &pins);
  // Moves the upper half of page into a new page linked after it; the new page.
  TPinnedPage Split(TPage &page);
  // Moves compressed leaf entries across the split until both pages fit.
  void BalanceBytes(TPage &left, TPage &right);
  void GrowRoot(TPage &left, TPage &right, bool keyMoved, TKeyPath &path);

  // --- shrinking (counted_tree_delete.cpp)
  // An entry was removed from the page at level (at the path's slot there): frees emptied
  // pages, keeps first keys, rebalances branches and the root, upwards as needed.
  void Shrink(TKeyPath &path, TPathPins &pins, std::int32_t level);
  // Takes page out of its level chain.
  void Unlink(const TPage &page);
  // Merges the under-full branch at level into a sibling or redistributes with it; true
  // when it was merged away and its parent lost its entry.
  bool Rebalance(const TKeyPath &path, TPathPins &pins, std::int32_t level);
  bool RebalanceWithPrior(TPage &page, TPage &parent, std::int32_t slot);
  bool RebalanceWithNext(TPage &page, TPage &parent);
  // The root's only child becomes the root, again while that leaves a single entry.
  void CollapseRoot(TPage &root);

  TIndexFile &file_;
  std::int32_t indexNumber_;
  TDataCursor *cursor_;
  TKeyLayout layout_;
  // Branch entries keep subtree counts (every index but the text index).
  bool counted_;
};

} // namespace nexora

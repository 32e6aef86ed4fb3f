#pragma once

#include <cstdint>
#include <vector>

#include "storage/buffer.h"
#include "storage/index_file_format.h"

namespace nexora {

class TIndexFile;

// The key geometry a page is unpacked with: that of the index the page belongs to.
struct TPageGeometry {
  std::int32_t KeyLength = 0;
  bool Unique = true;
  bool FullText = false;
  std::uint8_t Compression = icNone;
  bool operator==(const TPageGeometry &) const = default;
};

// One cached page of an index file. Owned by the file's cache; pinned by its user.
//
// Loading a page (LoadImage) deciphers the whole P-byte image when the table is encrypted,
// keeps the 13-byte page header apart and the packed entries as the content (Data(), the
// P - 13 payload bytes). A page is used through the index file's PinPage, which binds it to
// its index's geometry (Bind): the entries are then unpacked and held in memory, each
// K + 10 bytes: key (K), pointer (child page in branches, physical record number in
// leaves), subtree count (branches of non-full-text indexes), duplicate-byte count and
// trailing-byte count. Storing (StoreImage) packs the entries of a bound page in the
// format of its kind and compression and enciphers the image. Raw pages (the full-text
// parameters) keep their payload as the content, unpacked.
//
// The tree code edits entries through InsertEntry, RemoveEntry, SetKey, SetPointer,
// SetSubtreeCount and MoveEntries; every change marks the page dirty and keeps the
// lead/trail counts current. A page may become over-full (IsOverFull) in memory; the tree
// code splits it before releasing it. StoreImage of an over-full page raises 8965.
// Entry index arguments must lie in range (0 to EntryCount() - 1, or EntryCount() to
// insert at the end). Used by the thread that owns the table.
class TPage : public TBuffer {
public:
  explicit TPage(TIndexFile &owner);

  // Copies header, geometry and entries too when the other buffer is a page.
  void Assign(const TBuffer &other) override;
  // Zeroes header, payload and entries, not dirty; binds the page to the geometry of
  // index indexNumber (of no index when the number is not a slot).
  void Clear(std::int32_t indexNumber) override;
  // Header and packed payload from the file image; the page is unbound until Bind.
  void LoadImage(const std::uint8_t *image) override;
  // Packs a bound key page (an unbound or raw page stores its payload as it is),
  // enciphers when the table is encrypted. Raises 8965 when the entries do not fit.
  void StoreImage(std::uint8_t *image) override;
  bool SameAs(const TBuffer &other) const override;

  // Unpacks the payload for the geometry unless already bound to it; raw pages bind
  // without unpacking. False when the page's kind, count or packed entries do not fit
  // the geometry (a damaged page; the page is left unbound).
  bool Bind(const TPageGeometry &geometry);
  bool Bound() const { return bound_; }
  const TPageGeometry &Geometry() const { return geometry_; }

  // --- header
  TPageKind Kind() const { return static_cast<TPageKind>(kind_); }
  // The stored kind byte, which a damaged page may set beyond 4.
  std::uint8_t KindByte() const { return kind_; }
  void SetKind(TPageKind kind);
  bool IsLeaf() const { return Kind() == TPageKind::Leaf || Kind() == TPageKind::RootLeaf; }
  bool IsBranch() const { return Kind() == TPageKind::Branch || Kind() == TPageKind::RootBranch; }
  bool IsRoot() const { return Kind() == TPageKind::RootBranch || Kind() == TPageKind::RootLeaf; }
  std::int32_t Previous() const { return previous_; }
  void SetPrevious(std::int32_t page);
  std::int32_t Next() const { return next_; }
  void SetNext(std::int32_t page);
  // The key count of the page header (of a bound key page: its entry count).
  std::uint16_t KeyCount() const { return keyCount_; }
  // Empties the page's entries (a page given to the free list keeps a count of 0).
  void ClearEntries();

  // --- entries of a bound key page
  std::int32_t EntryCount() const { return static_cast<std::int32_t>(entries_.size() / Stride()); }
  const std::uint8_t *Key(std::int32_t i) const { return Entry(i); }
  std::int32_t Pointer(std::int32_t i) const;
  void SetPointer(std::int32_t i, std::int32_t pointer);
  std::int32_t ChildPage(std::int32_t i) const { return Pointer(i); }
  std::int32_t RecordNumber(std::int32_t i) const { return Pointer(i); }
  // Keys in the child's subtree (branches of non-full-text indexes; 0 otherwise).
  std::int32_t SubtreeCount(std::int32_t i) const;
  void SetSubtreeCount(std::int32_t i, std::int32_t count);
  // Keys below this page: the sum of the subtree counts of a branch, the entry count of a leaf.
  std::int64_t SubtreeTotal() const;
  // Leading key bytes shared with the previous entry and trailing zero bytes left out,
  // as the page's packing uses them (0 where its mode has none).
  std::uint8_t DuplicateBytes(std::int32_t i) const;
  std::uint8_t TrailingBytes(std::int32_t i) const;
  // Inserts an entry before entry i (i = EntryCount() appends); key is K bytes.
  void InsertEntry(std::int32_t i, const std::uint8_t *key, std::int32_t pointer, std::int32_t subtreeCount = 0);
  void RemoveEntry(std::int32_t i);
  void SetKey(std::int32_t i, const std::uint8_t *key);
  // Moves entries first .. first + count - 1 into target before its entry `at` (both
  // pages bound to the same geometry).
  void MoveEntries(TPage &target, std::int32_t first, std::int32_t count, std::int32_t at);

  // --- capacity
  // Bytes of one packed entry in pages with fixed-size entries (branches, leaves without
  // compression); for compressed leaves the largest packed entry.
  std::int32_t MaxEntrySize() const;
  // Entries that always fit: payload / MaxEntrySize() (the exact capacity of branches and
  // of leaves without compression).
  std::int32_t Capacity() const;
  // Packed size of the current entries in this page's kind and compression.
  std::int32_t PackedSize() const;
  // More entries than fit in the payload: the page must be split.
  bool IsOverFull() const { return PackedSize() > DataSize(); }
  // No room left for one more entry of any key.
  bool IsFull() const { return PackedSize() + MaxEntrySize() > DataSize(); }

private:
  friend class TIndexFile;

  // Entry layout in memory.
  std::int32_t KeyLength() const { return geometry_.KeyLength; }
  std::size_t Stride() const { return static_cast<std::size_t>(geometry_.KeyLength) + 10; }
  std::uint8_t *Entry(std::int32_t i) { return entries_.data() + static_cast<std::size_t>(i) * Stride(); }
  const std::uint8_t *Entry(std::int32_t i) const { return entries_.data() + static_cast<std::size_t>(i) * Stride(); }
  // The packing used by this page: branch, plain leaf or a compressed leaf mode.
  std::uint8_t LeafMode() const;
  // Recomputes the lead and trail counts of entry i from its key and its predecessor's.
  void RefreshCounts(std::int32_t i);
  void RefreshCounts(std::int32_t first, std::int32_t last);
  std::int32_t PackedEntrySize(std::int32_t i) const;
  // Packs into payload (DataSize() bytes); the packed size.
  std::int32_t Pack(std::uint8_t *payload) const;
  bool Unpack(const TPageGeometry &geometry);
  bool UnpackBranch();
  bool UnpackLeaf();
  void Changed();
  void ParseHeader(const std::uint8_t *image);

  TIndexFile &file_;
  std::uint8_t kind_ = 0;
  std::uint16_t keyCount_ = 0;
  std::int32_t previous_ = 0;
  std::int32_t next_ = 0;
  std::uint16_t packedSize_ = 0;
  TPageGeometry geometry_;
  bool bound_ = false;
  std::vector<std::uint8_t> entries_;
};

} // namespace nexora

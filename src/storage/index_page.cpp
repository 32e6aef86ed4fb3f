#include "storage/index_page.h"

#include <algorithm>
#include <cstring>

#include "storage/index_file.h"
#include "storage/record_layout.h"

namespace nexora {

namespace {

constexpr std::int32_t PointerSize = 4;
constexpr std::int32_t CountSize = 4;
constexpr std::int32_t LeadByteSize = 1;

// Offsets inside an in-memory entry after its key.
constexpr std::size_t EntryPointerOffset = 0;
constexpr std::size_t EntryCountOffset = 4;
constexpr std::size_t EntryDuplicateOffset = 8;
constexpr std::size_t EntryTrailingOffset = 9;

// How the entries of a page are packed.
enum TPacking : std::uint8_t {
  pkPlain = icNone,
  pkDuplicate = icDuplicateByte,
  pkTrailing = icTrailingByte,
  pkFull = icFull,
  pkBranch,
  pkRaw
};

std::int32_t CommonPrefix(const std::uint8_t *a, const std::uint8_t *b, std::int32_t length) {
  std::int32_t n = 0;
  while (n < length && a[n] == b[n]) {
    ++n;
  }
  return n;
}

std::int32_t TrailingZeros(const std::uint8_t *bytes, std::int32_t length) {
  std::int32_t n = 0;
  while (n < length && bytes[length - 1 - n] == 0) {
    ++n;
  }
  return n;
}

// Where the trailing-zero run of a key may lie: [start, end); empty when the mode keeps no
// run there. Non-unique keys keep their 4-byte ID suffix whole.
struct TTrailRegion {
  std::int32_t Start;
  std::int32_t End;
  std::int32_t Length() const { return End - Start; }
};

TTrailRegion TrailRegion(const TPageGeometry &geometry, std::int32_t lead) {
  const std::int32_t k = geometry.KeyLength;
  const std::int32_t rest = k - lead;
  if (rest < KeyRecordIDSize + 1) {
    return {k, k};
  }
  return {lead, geometry.Unique ? k : k - KeyRecordIDSize};
}

template <typename T> void SetField(TPage &page, T &field, T value) {
  if (field != value) {
    field = value;
    page.MarkDirty();
  }
}

} // namespace

TPage::TPage(TIndexFile &owner) : TBuffer(owner), file_(owner) {}

void TPage::Assign(const TBuffer &other) {
  TBuffer::Assign(other);
  if (const auto *page = dynamic_cast<const TPage *>(&other)) {
    kind_ = page->kind_;
    keyCount_ = page->keyCount_;
    previous_ = page->previous_;
    next_ = page->next_;
    packedSize_ = page->packedSize_;
    geometry_ = page->geometry_;
    bound_ = page->bound_;
    entries_ = page->entries_;
  }
}

void TPage::Clear(std::int32_t indexNumber) {
  TBuffer::Clear(indexNumber);
  kind_ = 0;
  keyCount_ = 0;
  previous_ = next_ = 0;
  packedSize_ = 0;
  geometry_ = file_.PageGeometry(indexNumber);
  bound_ = true;
  entries_.clear();
}

void TPage::ParseHeader(const std::uint8_t *image) {
  kind_ = image[PageKindOffset];
  keyCount_ = LoadLittleEndian<std::uint16_t>(image + PageKeyCountOffset);
  previous_ = LoadLittleEndian<std::int32_t>(image + PagePreviousOffset);
  next_ = LoadLittleEndian<std::int32_t>(image + PageNextOffset);
  packedSize_ = LoadLittleEndian<std::uint16_t>(image + PagePackedSizeOffset);
  std::memcpy(Data(), image + PageHeaderSize, static_cast<std::size_t>(DataSize()));
  bound_ = false;
  geometry_ = {};
  entries_.clear();
  SetDirty(false);
}

void TPage::LoadImage(const std::uint8_t *image) {
  void *cipher = file_.Cipher();
  if (cipher == nullptr) {
    ParseHeader(image);
    return;
  }
  std::uint8_t *clear = file_.ImageArea();
  std::memcpy(clear, image, static_cast<std::size_t>(file_.GetBufferSize()));
  file_.Engine().DecryptBuffer(cipher, clear, file_.GetBufferSize());
  ParseHeader(clear);
}

void TPage::StoreImage(std::uint8_t *image) {
  if (bound_ && Kind() != TPageKind::Raw) {
    if (IsOverFull()) {
      file_.RaiseCorrupt();
    }
    std::memset(Data(), 0, static_cast<std::size_t>(DataSize()));
    const std::int32_t packed = Pack(Data());
    const std::uint8_t mode = LeafMode();
    packedSize_ = mode == pkDuplicate || mode == pkTrailing || mode == pkFull ? static_cast<std::uint16_t>(packed) : 0;
    keyCount_ = static_cast<std::uint16_t>(EntryCount());
  }
  image[PageKindOffset] = kind_;
  StoreLittleEndian(image + PageKeyCountOffset, keyCount_);
  StoreLittleEndian(image + PagePreviousOffset, previous_);
  StoreLittleEndian(image + PageNextOffset, next_);
  StoreLittleEndian(image + PagePackedSizeOffset, packedSize_);
  std::memcpy(image + PageHeaderSize, Data(), static_cast<std::size_t>(DataSize()));
  if (void *cipher = file_.Cipher()) {
    file_.Engine().EncryptBuffer(cipher, image, file_.GetBufferSize());
  }
  SetDirty(false);
}

bool TPage::SameAs(const TBuffer &other) const {
  const auto *page = dynamic_cast<const TPage *>(&other);
  return page != nullptr && kind_ == page->kind_ && keyCount_ == page->keyCount_ && previous_ == page->previous_ &&
         next_ == page->next_ && geometry_ == page->geometry_ && bound_ == page->bound_ && entries_ == page->entries_ &&
         ((bound_ && Kind() != TPageKind::Raw) || TBuffer::SameAs(other));
}

void TPage::SetKind(TPageKind kind) { SetField(*this, kind_, static_cast<std::uint8_t>(kind)); }
void TPage::SetPrevious(std::int32_t page) { SetField(*this, previous_, page); }
void TPage::SetNext(std::int32_t page) { SetField(*this, next_, page); }

void TPage::ClearEntries() {
  entries_.clear();
  keyCount_ = 0;
  packedSize_ = 0;
  MarkDirty();
}

void TPage::Changed() {
  keyCount_ = static_cast<std::uint16_t>(EntryCount());
  MarkDirty();
}

std::uint8_t TPage::LeafMode() const {
  if (Kind() == TPageKind::Raw || kind_ > static_cast<std::uint8_t>(TPageKind::Raw)) {
    return pkRaw;
  }
  if (IsBranch()) {
    return pkBranch;
  }
  return geometry_.Compression;
}

// --- entries

std::int32_t TPage::Pointer(std::int32_t i) const {
  return LoadLittleEndian<std::int32_t>(Entry(i) + KeyLength() + EntryPointerOffset);
}

void TPage::SetPointer(std::int32_t i, std::int32_t pointer) {
  StoreLittleEndian(Entry(i) + KeyLength() + EntryPointerOffset, pointer);
  MarkDirty();
}

std::int32_t TPage::SubtreeCount(std::int32_t i) const {
  return LoadLittleEndian<std::int32_t>(Entry(i) + KeyLength() + EntryCountOffset);
}

void TPage::SetSubtreeCount(std::int32_t i, std::int32_t count) {
  StoreLittleEndian(Entry(i) + KeyLength() + EntryCountOffset, count);
  MarkDirty();
}

std::int64_t TPage::SubtreeTotal() const {
  if (!IsBranch()) {
    return EntryCount();
  }
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < EntryCount(); ++i) {
    total += SubtreeCount(i);
  }
  return total;
}

std::uint8_t TPage::DuplicateBytes(std::int32_t i) const { return Entry(i)[KeyLength() + EntryDuplicateOffset]; }
std::uint8_t TPage::TrailingBytes(std::int32_t i) const { return Entry(i)[KeyLength() + EntryTrailingOffset]; }

void TPage::InsertEntry(std::int32_t i, const std::uint8_t *key, std::int32_t pointer, std::int32_t subtreeCount) {
  const auto at = entries_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(i) * Stride());
  std::uint8_t *entry = &*entries_.insert(at, Stride(), 0);
  std::memcpy(entry, key, static_cast<std::size_t>(KeyLength()));
  StoreLittleEndian(entry + KeyLength() + EntryPointerOffset, pointer);
  StoreLittleEndian(entry + KeyLength() + EntryCountOffset, subtreeCount);
  RefreshCounts(i, i + 1);
  Changed();
}

void TPage::RemoveEntry(std::int32_t i) {
  const auto at = entries_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(i) * Stride());
  entries_.erase(at, at + static_cast<std::ptrdiff_t>(Stride()));
  RefreshCounts(i, i);
  Changed();
}

void TPage::SetKey(std::int32_t i, const std::uint8_t *key) {
  std::memmove(Entry(i), key, static_cast<std::size_t>(KeyLength()));
  RefreshCounts(i, i + 1);
  MarkDirty();
}

void TPage::MoveEntries(TPage &target, std::int32_t first, std::int32_t count, std::int32_t at) {
  const auto begin = entries_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(first) * Stride());
  const auto end = begin + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(count) * Stride());
  target.entries_.insert(target.entries_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(at) * Stride()),
                         begin, end);
  entries_.erase(begin, end);
  RefreshCounts(first, first);
  target.RefreshCounts(at, at + count);
  Changed();
  target.Changed();
}

void TPage::RefreshCounts(std::int32_t first, std::int32_t last) {
  for (std::int32_t i = std::max(first, 0); i <= last && i < EntryCount(); ++i) {
    RefreshCounts(i);
  }
}

void TPage::RefreshCounts(std::int32_t i) {
  std::uint8_t *entry = Entry(i);
  const std::int32_t k = KeyLength();
  const std::uint8_t mode = LeafMode();
  std::int32_t lead = 0;
  std::int32_t trail = 0;
  if ((mode == pkDuplicate || mode == pkFull) && i > 0) {
    lead = std::min(CommonPrefix(Entry(i - 1), entry, k), MaxPackedRunLength);
  }
  if (mode == pkTrailing || mode == pkFull) {
    const TTrailRegion region = TrailRegion(geometry_, lead);
    trail = std::min(TrailingZeros(entry + region.Start, region.Length()), MaxPackedRunLength);
  }
  entry[k + EntryDuplicateOffset] = static_cast<std::uint8_t>(lead);
  entry[k + EntryTrailingOffset] = static_cast<std::uint8_t>(trail);
}

// --- capacity

std::int32_t TPage::MaxEntrySize() const {
  const std::int32_t k = KeyLength();
  switch (LeafMode()) {
  case pkBranch:
    return k + PointerSize + (geometry_.FullText ? 0 : CountSize);
  case pkDuplicate:
  case pkTrailing:
    return LeadByteSize + k + PointerSize;
  case pkFull:
    return 2 * LeadByteSize + k + PointerSize;
  default:
    return k + PointerSize;
  }
}

std::int32_t TPage::Capacity() const { return DataSize() / std::max(MaxEntrySize(), 1); }

std::int32_t TPage::PackedEntrySize(std::int32_t i) const {
  const std::int32_t lead = DuplicateBytes(i);
  const std::int32_t trail = TrailingBytes(i);
  switch (LeafMode()) {
  case pkDuplicate:
    return MaxEntrySize() - lead;
  case pkTrailing:
    return MaxEntrySize() - trail;
  case pkFull:
    return MaxEntrySize() - lead - trail;
  default:
    return MaxEntrySize();
  }
}

std::int32_t TPage::PackedSize() const {
  std::int32_t size = 0;
  for (std::int32_t i = 0; i < EntryCount(); ++i) {
    size += PackedEntrySize(i);
  }
  return size;
}

// --- packing

std::int32_t TPage::Pack(std::uint8_t *payload) const {
  const std::int32_t k = KeyLength();
  const std::uint8_t mode = LeafMode();
  std::uint8_t *out = payload;
  const auto put = [&out](const std::uint8_t *bytes, std::int32_t length) {
    if (length > 0) {
      std::memcpy(out, bytes, static_cast<std::size_t>(length));
      out += length;
    }
  };
  for (std::int32_t i = 0; i < EntryCount(); ++i) {
    const std::uint8_t *key = Entry(i);
    const std::uint8_t lead = DuplicateBytes(i);
    const std::uint8_t trail = TrailingBytes(i);
    const std::uint8_t *tail = key + k;
    switch (mode) {
    case pkBranch:
      put(key, k);
      put(tail + EntryPointerOffset, PointerSize);
      if (!geometry_.FullText) {
        put(tail + EntryCountOffset, CountSize);
      }
      continue;
    case pkDuplicate:
      *out++ = lead;
      put(key + lead, k - lead);
      break;
    case pkTrailing:
    case pkFull: {
      const std::int32_t start = mode == pkFull ? lead : 0;
      if (mode == pkFull) {
        *out++ = lead;
      }
      *out++ = trail;
      const TTrailRegion region = TrailRegion(geometry_, start);
      put(key + start, region.End - trail - start);
      put(key + region.End, k - region.End);
      break;
    }
    default:
      put(key, k);
      break;
    }
    put(tail + EntryPointerOffset, PointerSize);
  }
  return static_cast<std::int32_t>(out - payload);
}

bool TPage::Bind(const TPageGeometry &geometry) {
  if (bound_ && geometry_ == geometry) {
    return true;
  }
  if (bound_ && Dirty()) {
    // Changed entries of another index: never repacked under a foreign geometry.
    return false;
  }
  if (kind_ == static_cast<std::uint8_t>(TPageKind::Raw)) {
    geometry_ = geometry;
    bound_ = true;
    return true;
  }
  if (!Unpack(geometry)) {
    geometry_ = {};
    entries_.clear();
    bound_ = false;
    return false;
  }
  return true;
}

bool TPage::Unpack(const TPageGeometry &geometry) {
  if (kind_ > static_cast<std::uint8_t>(TPageKind::RootLeaf) || geometry.KeyLength < 1 ||
      geometry.KeyLength > MaxKeyLength || geometry.Compression > icFull) {
    return false;
  }
  geometry_ = geometry;
  entries_.clear();
  if (!(IsBranch() ? UnpackBranch() : UnpackLeaf())) {
    return false;
  }
  RefreshCounts(0, EntryCount() - 1);
  bound_ = true;
  SetDirty(false);
  return true;
}

bool TPage::UnpackBranch() {
  const std::int32_t k = KeyLength();
  const std::int32_t size = MaxEntrySize();
  if (static_cast<std::int64_t>(keyCount_) * size > DataSize()) {
    return false;
  }
  entries_.assign(static_cast<std::size_t>(keyCount_) * Stride(), 0);
  const std::uint8_t *in = Data();
  for (std::int32_t i = 0; i < keyCount_; ++i, in += size) {
    std::uint8_t *entry = Entry(i);
    std::memcpy(entry, in, static_cast<std::size_t>(k + PointerSize));
    if (!geometry_.FullText) {
      std::memcpy(entry + k + EntryCountOffset, in + k + PointerSize, CountSize);
    }
  }
  return true;
}

bool TPage::UnpackLeaf() {
  const std::int32_t k = KeyLength();
  const std::uint8_t mode = LeafMode();
  const bool compressed = mode != pkPlain;
  const std::int32_t limit = compressed ? packedSize_ : DataSize();
  if (limit > DataSize()) {
    return false;
  }
  const std::uint8_t *in = Data();
  const std::uint8_t *end = Data() + limit;
  const auto take = [&](std::uint8_t *to, std::int32_t length) {
    if (length < 0 || end - in < length) {
      return false;
    }
    if (length > 0) {
      std::memcpy(to, in, static_cast<std::size_t>(length));
      in += length;
    }
    return true;
  };
  entries_.assign(static_cast<std::size_t>(keyCount_) * Stride(), 0);
  std::uint8_t lead = 0;
  std::uint8_t trail = 0;
  for (std::int32_t i = 0; i < keyCount_; ++i) {
    std::uint8_t *key = Entry(i);
    if (mode == pkDuplicate || mode == pkFull) {
      if (!take(&lead, 1)) {
        return false;
      }
      // The lead byte of a first entry counts nothing; in duplicate mode it must say so.
      if (i == 0 && mode == pkFull) {
        lead = 0;
      }
      if ((i == 0 && lead != 0) || lead > k) {
        return false;
      }
      if (lead > 0) {
        std::memcpy(key, Entry(i - 1), lead);
      }
    }
    if (mode == pkTrailing || mode == pkFull) {
      if (!take(&trail, 1)) {
        return false;
      }
      const std::int32_t start = mode == pkFull ? lead : 0;
      const TTrailRegion region = TrailRegion(geometry_, start);
      if (trail > region.Length() || !take(key + start, region.End - trail - start) ||
          !take(key + region.End, k - region.End)) {
        return false;
      }
    } else if (!take(key + lead, k - lead)) {
      return false;
    }
    if (!take(key + k + EntryPointerOffset, PointerSize)) {
      return false;
    }
  }
  return true;
}

} // namespace nexora

#include "storage/index_file.h"

#include <algorithm>

#include "crypto/md5.h"
#include "storage/blob_file_format.h"
#include "storage/record_layout.h"

namespace nexora {

TIndexFile::TIndexFile(TDataEngine &engine, std::string name, bool inMemory, TBufferCacheOwner &owner,
                       const TIndexFileContext &context)
    : TBufferedFile(engine, std::move(name), inMemory, owner), context_(context) {}

void TIndexFile::TakePageSize() {
  const std::int32_t pageSize = context_.IndexPageSize();
  if (pageSize < IndexMinPageSize || pageSize > IndexMaxPageSize) {
    RaiseError(NEXORA_HEADERCORRUPT);
  }
  pageSize_ = pageSize;
}

void TIndexFile::CreateFile() {
  // Pages of an earlier size must be gone before the size changes.
  FreeBuffers();
  TakePageSize();
  TEngineFile::CreateFile();
  header_.fill(0);
  header_[IndexVersionOffset] = CurrentTableVersion;
  const TDigest &signature = Engine().SignatureDigest();
  std::copy(signature.begin(), signature.end(), header_.begin() + IndexSignatureOffset);
  SetHeaderInt(IndexNextPageOffset, 1);
  SetPending();
  defs_.fill(TIndexDef());
  defsChanged_ = true;
  ResetCache();
}

void TIndexFile::OpenFile() {
  if (IsOpen()) {
    return;
  }
  FreeBuffers();
  TakePageSize();
  TEngineFile::OpenFile();
  try {
    ReadHeader();
    CheckHeader();
    if (SecondaryCount() > MaxSecondaryIndexes) {
      RaiseError(NEXORA_HEADERCORRUPT);
    }
    ReadIndexDefs();
  } catch (...) {
    CloseFile();
    throw;
  }
  ResetCache();
}

void TIndexFile::CloseFile() {
  FreeBuffers();
  TEngineFile::CloseFile();
}

std::unique_ptr<TBuffer> TIndexFile::NewBuffer() { return std::make_unique<TPage>(*this); }

void TIndexFile::RaiseCorrupt() const { RaiseError(NEXORA_INDEXCORRUPT); }

void TIndexFile::AddBufferCount() {
  SetHeaderInt(IndexNextPageOffset, NextPageNumber() + 1);
  SetPending();
}

std::int32_t TIndexFile::GetMaxBuffers() const {
  const TEngineSettings &settings = Engine().Settings();
  return CacheLimit(settings.MaxTableIndexBufferSize, settings.MaxTableIndexBufferCount, IndexBufferOverhead);
}

std::uint32_t TIndexFile::GetChangeCounter() const {
  return LoadLittleEndian<std::uint32_t>(header_.data() + IndexChangeCounterOffset);
}

std::int32_t TIndexFile::GetReadAhead(TDataCursor * /*cursor*/, TReadDirection /*direction*/) {
  return DefaultReadAhead();
}

void TIndexFile::ReadHeader() {
  std::array<std::uint8_t, IndexHeaderSize> image{};
  ReadArea(0, image.data(), IndexHeaderSize, Cipher());
  header_ = image;
  header_[IndexPendingOffset] = 0;
}

bool TIndexFile::WriteHeader(bool force) {
  if (!force && header_[IndexPendingOffset] == 0) {
    return false;
  }
  StoreLittleEndian(header_.data() + IndexChangeCounterOffset, GetChangeCounter() + 1);
  std::array<std::uint8_t, IndexHeaderSize> image = header_;
  WriteArea(0, image.data(), IndexHeaderSize, Cipher());
  header_[IndexPendingOffset] = 0;
  return true;
}

void TIndexFile::TouchHeader() {
  StoreLittleEndian(header_.data() + IndexChangeCounterOffset, GetChangeCounter() + 1);
  SetPending();
  CacheOwner().MarkWritten();
}

void TIndexFile::EmptyFile() {
  // Cached pages lie beyond the new end; a later flush must not write them back.
  FreeBuffers();
  TBufferedFile::EmptyFile();
  header_[IndexVersionOffset] = CurrentTableVersion;
  StoreLittleEndian<std::uint32_t>(header_.data() + IndexChangeCounterOffset, 0);
  SetHeaderInt(IndexNextPageOffset, 1);
  SetHeaderInt(IndexFreePageOffset, 0);
  for (std::int32_t slot = 0; slot < IndexSlotCount; ++slot) {
    SetHeaderInt(IndexRootsOffset + 4 * static_cast<std::size_t>(slot), 0);
    SetHeaderInt(IndexDataRootsOffset + 4 * static_cast<std::size_t>(slot), 0);
  }
  SetPending();
}

void TIndexFile::CheckHeader() {
  TDigest signature{};
  std::copy_n(header_.begin() + IndexSignatureOffset, signature.size(), signature.begin());
  if (const TErrorCode code = Engine().CheckTableIdentity(header_[IndexVersionOffset], signature)) {
    RaiseError(code);
  }
}

bool TIndexFile::ReloadHeader() {
  const std::uint32_t before = GetChangeCounter();
  ReadHeader();
  return GetChangeCounter() != before;
}

// --- roots and counters

std::int32_t TIndexFile::Root(std::int32_t slot) const {
  CheckSlot(slot, IndexSlotCount - 1);
  return HeaderInt(IndexRootsOffset + 4 * static_cast<std::size_t>(slot));
}

void TIndexFile::SetRoot(std::int32_t slot, std::int32_t page) {
  CheckSlot(slot, IndexSlotCount - 1);
  SetHeaderInt(IndexRootsOffset + 4 * static_cast<std::size_t>(slot), page);
}

std::int32_t TIndexFile::DataRoot(std::int32_t slot) const {
  CheckSlot(slot, IndexSlotCount - 1);
  return HeaderInt(IndexDataRootsOffset + 4 * static_cast<std::size_t>(slot));
}

void TIndexFile::SetDataRoot(std::int32_t slot, std::int32_t page) {
  CheckSlot(slot, IndexSlotCount - 1);
  SetHeaderInt(IndexDataRootsOffset + 4 * static_cast<std::size_t>(slot), page);
}

std::int32_t TIndexFile::FreePageHead() const { return HeaderInt(IndexFreePageOffset); }

void TIndexFile::SetFreePageHead(std::int32_t page) { SetHeaderInt(IndexFreePageOffset, page); }

std::int32_t TIndexFile::SecondaryCount() const { return header_[IndexSecondaryCountOffset]; }

void TIndexFile::SetSecondaryCount(std::int32_t count) {
  const auto value = static_cast<std::uint8_t>(std::clamp(count, 0, MaxSecondaryIndexes));
  if (header_[IndexSecondaryCountOffset] != value) {
    header_[IndexSecondaryCountOffset] = value;
    SetPending();
  }
}

std::int32_t TIndexFile::NextPageNumber() const { return HeaderInt(IndexNextPageOffset); }

void TIndexFile::SetHeaderInt(std::size_t offset, std::int32_t value) {
  if (HeaderInt(offset) != value) {
    StoreLittleEndian(header_.data() + offset, value);
    SetPending();
  }
}

std::int32_t TIndexFile::HeaderInt(std::size_t offset) const {
  return LoadLittleEndian<std::int32_t>(header_.data() + offset);
}

std::uint8_t *TIndexFile::ImageArea() {
  imageArea_.resize(static_cast<std::size_t>(pageSize_));
  return imageArea_.data();
}

// --- pages

TPageGeometry TIndexFile::PageGeometry(std::int32_t indexNumber) const {
  if (indexNumber < 0 || indexNumber >= IndexSlotCount) {
    return {};
  }
  const TIndexDef &def = defs_[static_cast<std::size_t>(indexNumber)];
  return {.KeyLength = def.KeyLength(),
          .Unique = def.Unique(),
          .FullText = indexNumber == TextIndexSlot,
          .Compression = def.Compression()};
}

TPage *TIndexFile::PinPage(TDataCursor *cursor, std::int32_t indexNumber, std::int32_t n, bool readAhead,
                           TReadDirection direction) {
  // A tree pointer never names the page one past the end: that would append a page.
  if (!IsValidPage(n)) {
    RaiseCorrupt();
  }
  auto *page = static_cast<TPage *>(GetBuffer(cursor, indexNumber, n, readAhead, direction));
  if (page == nullptr) {
    return nullptr;
  }
  if (page->KindByte() >= static_cast<std::uint8_t>(TPageKind::Raw) || !page->Bind(PageGeometry(indexNumber))) {
    ReleaseBuffer(page);
    RaiseCorrupt();
  }
  return page;
}

TPage *TIndexFile::PinRawPage(std::int32_t n) {
  if (!IsValidPage(n)) {
    RaiseCorrupt();
  }
  auto *page = static_cast<TPage *>(GetBuffer(nullptr, TextIndexSlot, n, false, TReadDirection::None));
  if (page == nullptr) {
    RaiseCorrupt();
  }
  if (page->Kind() != TPageKind::Raw || !page->Bind(PageGeometry(TextIndexSlot))) {
    ReleaseBuffer(page);
    RaiseCorrupt();
  }
  return page;
}

TPage *TIndexFile::AllocatePage(std::int32_t indexNumber) {
  const std::int32_t head = FreePageHead();
  if (head != 0 && !IsValidPage(head)) {
    RaiseError(NEXORA_HEADERCORRUPT);
  }
  const std::int32_t n = head != 0 ? head : NextPageNumber();
  auto *page = static_cast<TPage *>(GetBuffer(nullptr, indexNumber, n, false, TReadDirection::None));
  if (page == nullptr) {
    RaiseCorrupt();
  }
  if (head != 0) {
    // A free page that names itself would be handed out twice.
    if (page->Next() == n) {
      ReleaseBuffer(page);
      RaiseCorrupt();
    }
    SetFreePageHead(page->Next());
  }
  page->Clear(indexNumber);
  page->MarkDirty();
  return page;
}

void TIndexFile::ReleasePage(TPage &page) {
  page.SetNext(FreePageHead());
  page.ClearEntries();
  SetFreePageHead(page.Number());
}

} // namespace nexora

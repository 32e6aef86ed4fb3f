#include "storage/buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "storage/buffered_file.h"

namespace nexora {

namespace {

constexpr std::size_t DataAlignment = 64;

std::uint8_t *AllocateData(std::int32_t size) {
  const std::size_t rounded = (static_cast<std::size_t>(size) + DataAlignment - 1) / DataAlignment * DataAlignment;
  auto *bytes =
      static_cast<std::uint8_t *>(std::aligned_alloc(DataAlignment, std::max<std::size_t>(rounded, DataAlignment)));
  if (bytes == nullptr) {
    throw std::bad_alloc();
  }
  std::memset(bytes, 0, static_cast<std::size_t>(size));
  return bytes;
}

} // namespace

TBuffer::TBuffer(TBufferedFile &owner)
    : owner_(owner), data_(AllocateData(owner.GetPayloadSize())), dataSize_(owner.GetPayloadSize()) {}

void TBuffer::Assign(const TBuffer &other) {
  number_ = other.number_;
  dirty_ = other.dirty_;
  std::memcpy(data_.get(), other.data_.get(), static_cast<std::size_t>(std::min(dataSize_, other.dataSize_)));
}

void TBuffer::SetData(const void *data, std::int32_t length) {
  std::memcpy(data_.get(), data, static_cast<std::size_t>(std::min(length, DataSize())));
  dirty_ = true;
}

void TBuffer::GetData(void *data, std::int32_t length) const {
  std::memcpy(data, data_.get(), static_cast<std::size_t>(std::min(length, DataSize())));
}

void TBuffer::Clear(std::int32_t /*indexNumber*/) {
  std::memset(data_.get(), 0, static_cast<std::size_t>(dataSize_));
  dirty_ = false;
}

void TBuffer::LoadImage(const std::uint8_t *image) {
  std::memcpy(data_.get(), image, static_cast<std::size_t>(dataSize_));
  dirty_ = false;
}

void TBuffer::StoreImage(std::uint8_t *image) {
  std::memcpy(image, data_.get(), static_cast<std::size_t>(dataSize_));
  dirty_ = false;
}

void TBuffer::LoadedInPlace() { dirty_ = false; }

bool TBuffer::SameAs(const TBuffer &other) const { return other.SameData(data_.get(), dataSize_); }

bool TBuffer::SameData(const void *data, std::int32_t length) const {
  return length == dataSize_ && std::memcmp(data_.get(), data, static_cast<std::size_t>(dataSize_)) == 0;
}

} // namespace nexora

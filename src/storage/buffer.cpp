#include "storage/buffer.h"

#include <algorithm>
#include <cstring>

#include "storage/buffered_file.h"

namespace nexora {

TBuffer::TBuffer(TBufferedFile& owner) : owner_(owner), data_(static_cast<std::size_t>(owner.GetPayloadSize())) {}

void TBuffer::Assign(const TBuffer& other) {
  number_ = other.number_;
  dirty_ = other.dirty_;
  data_ = other.data_;
}

void TBuffer::SetData(const void* data, std::int32_t length) {
  std::memcpy(data_.data(), data, static_cast<std::size_t>(std::min(length, DataSize())));
  dirty_ = true;
}

void TBuffer::GetData(void* data, std::int32_t length) const {
  std::memcpy(data, data_.data(), static_cast<std::size_t>(std::min(length, DataSize())));
}

void TBuffer::Clear(std::int32_t /*indexNumber*/) {
  std::fill(data_.begin(), data_.end(), 0);
  dirty_ = false;
}

void TBuffer::LoadImage(const std::uint8_t* image) {
  std::memcpy(data_.data(), image, data_.size());
  dirty_ = false;
}

void TBuffer::StoreImage(std::uint8_t* image) {
  std::memcpy(image, data_.data(), data_.size());
  dirty_ = false;
}

bool TBuffer::SameAs(const TBuffer& other) const { return data_ == other.data_; }

bool TBuffer::SameData(const void* data, std::int32_t length) const {
  return length == DataSize() && std::memcmp(data_.data(), data, data_.size()) == 0;
}

} // namespace nexora

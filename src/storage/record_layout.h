#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

namespace nexora {

// The fixed header of every record image (R bytes, R a multiple of 8). Field slots
// follow from RecordFieldsOffset, each an indicator byte and the field's value bytes.
inline constexpr std::size_t RecordStatusOffset = 0; // 1 byte
inline constexpr std::size_t RecordChainOffset = 1;  // 4, signed: next deleted record, or own number in memory
inline constexpr std::size_t RecordIDOffset = 5;     // 4, signed: system field "RecordID"
inline constexpr std::size_t RecordHashOffset = 9;   // 16: system field "RecordHash"
inline constexpr std::size_t RecordHashSize = 16;
inline constexpr std::size_t RecordFieldsOffset = 25;

// Status byte values. Any status other than RecordStatusDeleted counts as live.
inline constexpr std::uint8_t RecordStatusLive = 0;
inline constexpr std::uint8_t RecordStatusDeleted = 1;

// Slot indicator byte values.
inline constexpr std::uint8_t FieldIndicatorNull = 0;
inline constexpr std::uint8_t FieldIndicatorValue = 1;

// Whether two images carry the same record hash (bytes 9 to 24).
inline bool SameRecordHash(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return std::equal(a.begin() + RecordHashOffset, a.begin() + RecordHashOffset + RecordHashSize,
                    b.begin() + RecordHashOffset);
}

inline bool IsDeletedImage(std::span<const std::uint8_t> image) {
  return image[RecordStatusOffset] == RecordStatusDeleted;
}

// A BLOB field's 8 value bytes: the first block of its chain (0: no blocks; negative: a
// value a cursor holds open), then the value's BLOB ID.
inline constexpr std::size_t BlobSlotFirstBlockOffset = 0;
inline constexpr std::size_t BlobSlotBlobIDOffset = 4;

// Little-endian access to integers and doubles inside images, whatever the host order.
template <typename T> T LoadLittleEndian(const std::uint8_t *bytes) {
  std::uint8_t ordered[sizeof(T)];
  std::memcpy(ordered, bytes, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
      std::swap(ordered[i], ordered[sizeof(T) - 1 - i]);
    }
  }
  T value;
  std::memcpy(&value, ordered, sizeof(T));
  return value;
}

template <typename T> void StoreLittleEndian(std::uint8_t *bytes, T value) {
  std::memcpy(bytes, &value, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
      std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
    }
  }
}

} // namespace nexora

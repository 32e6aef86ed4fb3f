#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "storage/index_file_format.h"
#include "support/short_text.h"

namespace nexora {

// One 768-byte index definition, the image stored in a slot of the index file's
// definition area. Integers little-endian; the name length-prefixed. Key fields are
// numbered from 0 here (field i of the format is field i - 1). Plain value; any thread.
class TIndexDef {
public:
  static constexpr std::size_t Size = IndexDefSize;
  static constexpr std::size_t NameOffset = 0; // 61, length-prefixed, up to 60 characters
  static constexpr std::size_t NameField = 61;
  static constexpr std::size_t KeyLengthOffset = 61;        // 2, unsigned
  static constexpr std::size_t DescendingOffset = 126;      // 1
  static constexpr std::size_t CaseInsensitiveOffset = 127; // 1
  static constexpr std::size_t UniqueOffset = 128;          // 1
  static constexpr std::size_t CompressionOffset = 129;     // 1, TKeyCompression
  static constexpr std::size_t FieldCountOffset = 130;      // 1, 1 to 128
  static constexpr std::size_t FieldDescendingOffset = 131; // 128 x 1
  static constexpr std::size_t FieldNumbersOffset = 259;    // 128 x 2, signed
  static constexpr std::size_t FullTextOffset = 515;        // 1
  static constexpr std::size_t WorkingByteOffset = 517;     // 1, cleared by verification
  static constexpr std::size_t MaxNameLength = 60;

  TIndexDef() { bytes_.fill(0); }
  explicit TIndexDef(const std::uint8_t *image) { std::memcpy(bytes_.data(), image, Size); }

  std::uint8_t *Bytes() { return bytes_.data(); }
  const std::uint8_t *Bytes() const { return bytes_.data(); }

  std::string Name() const { return ReadShortText(bytes_.data() + NameOffset, NameField); }
  // The stored length byte, which a damaged definition may set beyond 60.
  std::uint8_t NameLength() const { return bytes_[NameOffset]; }
  void SetName(std::string_view value) { WriteShortText(bytes_.data() + NameOffset, NameField, value); }
  std::uint16_t KeyLength() const {
    return static_cast<std::uint16_t>(bytes_[KeyLengthOffset] | bytes_[KeyLengthOffset + 1] << 8);
  }
  void SetKeyLength(std::uint16_t value) {
    bytes_[KeyLengthOffset] = static_cast<std::uint8_t>(value);
    bytes_[KeyLengthOffset + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  bool Descending() const { return bytes_[DescendingOffset] != 0; }
  void SetDescending(bool value) { bytes_[DescendingOffset] = value ? 1 : 0; }
  bool CaseInsensitive() const { return bytes_[CaseInsensitiveOffset] != 0; }
  void SetCaseInsensitive(bool value) { bytes_[CaseInsensitiveOffset] = value ? 1 : 0; }
  bool Unique() const { return bytes_[UniqueOffset] != 0; }
  void SetUnique(bool value) { bytes_[UniqueOffset] = value ? 1 : 0; }
  std::uint8_t Compression() const { return bytes_[CompressionOffset]; }
  void SetCompression(std::uint8_t value) { bytes_[CompressionOffset] = value; }
  std::uint8_t FieldCount() const { return bytes_[FieldCountOffset]; }
  void SetFieldCount(std::uint8_t value) { bytes_[FieldCountOffset] = value; }
  // Key field i, 0 to 127.
  bool FieldDescending(std::size_t i) const { return bytes_[FieldDescendingOffset + i] != 0; }
  void SetFieldDescending(std::size_t i, bool value) { bytes_[FieldDescendingOffset + i] = value ? 1 : 0; }
  std::int16_t FieldNumber(std::size_t i) const {
    const std::size_t at = FieldNumbersOffset + 2 * i;
    return static_cast<std::int16_t>(bytes_[at] | bytes_[at + 1] << 8);
  }
  void SetFieldNumber(std::size_t i, std::int16_t value) {
    const std::size_t at = FieldNumbersOffset + 2 * i;
    bytes_[at] = static_cast<std::uint8_t>(value);
    bytes_[at + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(value) >> 8);
  }
  bool FullText() const { return bytes_[FullTextOffset] != 0; }
  void SetFullText(bool value) { bytes_[FullTextOffset] = value ? 1 : 0; }
  std::uint8_t WorkingByte() const { return bytes_[WorkingByteOffset]; }
  void SetWorkingByte(std::uint8_t value) { bytes_[WorkingByteOffset] = value; }

  // Sets the key fields in order (at most 128 are taken) and their count.
  void SetFields(std::initializer_list<std::int16_t> numbers) {
    std::size_t i = 0;
    for (const std::int16_t number : numbers) {
      if (i == MaxKeyFields) {
        break;
      }
      SetFieldNumber(i++, number);
    }
    SetFieldCount(static_cast<std::uint8_t>(i));
  }

  bool operator==(const TIndexDef &other) const { return bytes_ == other.bytes_; }

private:
  std::array<std::uint8_t, Size> bytes_;
};

// A valid first character of an index name: a letter, "_" or a code 128 to 254.
inline bool ValidIndexNameStart(std::string_view name) {
  if (name.empty()) {
    return false;
  }
  const auto c = static_cast<std::uint8_t>(name.front());
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 128 && c <= 254);
}

} // namespace nexora

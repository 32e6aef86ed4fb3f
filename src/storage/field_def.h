#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "support/short_text.h"

namespace nexora {

// Field type codes as stored at offset 164 of a field definition.
enum TFieldType : std::uint8_t {
  ftcInvalid = 0,
  ftcString = 1,
  ftcDate = 2,
  ftcBlob = 3,
  ftcBoolean = 4,
  ftcSmallInt = 5,
  ftcInteger = 6,
  ftcFloat = 7,
  ftcBCD = 8,
  ftcBytes = 9,
  ftcTime = 10,
  ftcDateTime = 11,
  ftcWord = 12,
  ftcVarBytes = 15,
  ftcLargeInt = 18,
};

// Subtype codes as stored at offset 165.
enum TFieldSubtype : std::uint8_t {
  fstNone = 0,
  fstMoney = 21,
  fstMemo = 22,
  fstGraphic = 26,
  fstAutoInc = 29,
  fstFixedChar = 31,
  fstWideString = 32,
  fstGuid = 50,
  fstRecordHash = 100,
};

// Field numbers of the two system fields every record carries.
inline constexpr std::int16_t RecordIDFieldNumber = -1;
inline constexpr std::int16_t RecordHashFieldNumber = -2;

// One 768-byte field definition, the image stored in the data file after the header.
// All integers little-endian; texts length-prefixed in fixed fields.
class TFieldDef {
public:
  static constexpr std::size_t Size = 768;
  // Offsets and widths of the definition image.
  static constexpr std::size_t NumberOffset = 0; // 2, unsigned
  static constexpr std::size_t NameOffset = 2;   // 61, length-prefixed, 1 to 60
  static constexpr std::size_t NameField = 61;
  static constexpr std::size_t DescriptionOffset = 63; // 101, length-prefixed, 0 to 100
  static constexpr std::size_t TextField = 101;
  static constexpr std::size_t TypeOffset = 164;             // 1
  static constexpr std::size_t SubtypeOffset = 165;          // 1
  static constexpr std::size_t DeclaredSizeOffset = 166;     // 2
  static constexpr std::size_t DecimalsOffset = 168;         // 1
  static constexpr std::size_t PhysicalSizeOffset = 169;     // 2
  static constexpr std::size_t PhysicalDecimalsOffset = 171; // 1
  static constexpr std::size_t RecordOffsetOffset = 172;     // 2
  static constexpr std::size_t RequiredOffset = 174;         // 1
  static constexpr std::size_t CharCaseOffset = 175;         // 1: 0 none, 1 lower, 2 upper
  static constexpr std::size_t MinimumOffset = 176;          // 101, length-prefixed
  static constexpr std::size_t MaximumOffset = 277;          // 101, length-prefixed
  static constexpr std::size_t DefaultOffset = 378;          // 101, length-prefixed
  static constexpr std::size_t CompressionOffset = 479;      // 1, 0 to 9 for BLOB fields
  static constexpr std::size_t HiddenOffset = 485;           // 1, set only by the query engine
  static constexpr std::size_t MaxNameLength = 60;
  static constexpr std::size_t MaxTextLength = 100;

  TFieldDef() { bytes_.fill(0); }
  explicit TFieldDef(const std::uint8_t *image) { std::memcpy(bytes_.data(), image, Size); }

  std::uint8_t *Bytes() { return bytes_.data(); }
  const std::uint8_t *Bytes() const { return bytes_.data(); }

  std::uint16_t Number() const { return Get16(NumberOffset); }
  void SetNumber(std::uint16_t value) { Set16(NumberOffset, value); }
  std::string Name() const { return ReadShortText(bytes_.data() + NameOffset, NameField); }
  void SetName(std::string_view value) { WriteShortText(bytes_.data() + NameOffset, NameField, value); }
  std::string Description() const { return ReadShortText(bytes_.data() + DescriptionOffset, TextField); }
  void SetDescription(std::string_view value) { WriteShortText(bytes_.data() + DescriptionOffset, TextField, value); }
  std::uint8_t Type() const { return bytes_[TypeOffset]; }
  void SetType(std::uint8_t value) { bytes_[TypeOffset] = value; }
  std::uint8_t Subtype() const { return bytes_[SubtypeOffset]; }
  void SetSubtype(std::uint8_t value) { bytes_[SubtypeOffset] = value; }
  std::uint16_t DeclaredSize() const { return Get16(DeclaredSizeOffset); }
  void SetDeclaredSize(std::uint16_t value) { Set16(DeclaredSizeOffset, value); }
  std::uint8_t Decimals() const { return bytes_[DecimalsOffset]; }
  void SetDecimals(std::uint8_t value) { bytes_[DecimalsOffset] = value; }
  std::uint16_t PhysicalSize() const { return Get16(PhysicalSizeOffset); }
  void SetPhysicalSize(std::uint16_t value) { Set16(PhysicalSizeOffset, value); }
  std::uint8_t PhysicalDecimals() const { return bytes_[PhysicalDecimalsOffset]; }
  void SetPhysicalDecimals(std::uint8_t value) { bytes_[PhysicalDecimalsOffset] = value; }
  std::uint16_t RecordOffset() const { return Get16(RecordOffsetOffset); }
  void SetRecordOffset(std::uint16_t value) { Set16(RecordOffsetOffset, value); }
  bool Required() const { return bytes_[RequiredOffset] != 0; }
  void SetRequired(bool value) { bytes_[RequiredOffset] = value ? 1 : 0; }
  std::uint8_t CharCase() const { return bytes_[CharCaseOffset]; }
  void SetCharCase(std::uint8_t value) { bytes_[CharCaseOffset] = value; }
  std::string Minimum() const { return ReadShortText(bytes_.data() + MinimumOffset, TextField); }
  void SetMinimum(std::string_view value) { WriteShortText(bytes_.data() + MinimumOffset, TextField, value); }
  std::string Maximum() const { return ReadShortText(bytes_.data() + MaximumOffset, TextField); }
  void SetMaximum(std::string_view value) { WriteShortText(bytes_.data() + MaximumOffset, TextField, value); }
  std::string Default() const { return ReadShortText(bytes_.data() + DefaultOffset, TextField); }
  void SetDefault(std::string_view value) { WriteShortText(bytes_.data() + DefaultOffset, TextField, value); }
  std::uint8_t CompressionLevel() const { return bytes_[CompressionOffset]; }
  void SetCompressionLevel(std::uint8_t value) { bytes_[CompressionOffset] = value; }
  bool Hidden() const { return bytes_[HiddenOffset] != 0; }

private:
  std::uint16_t Get16(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
  }
  void Set16(std::size_t offset, std::uint16_t value) {
    bytes_[offset] = static_cast<std::uint8_t>(value);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  }

  std::array<std::uint8_t, Size> bytes_;
};

// The physical size of a definition's value in the record: strings declared + 1 (twice
// the declared size for wide strings), dates, integers and times 4, BLOB, float,
// date-time and 64-bit integers 8, boolean and 16-bit integers 2, BCD 34, anything else
// the declared size.
constexpr std::uint16_t ComputePhysicalSize(std::uint8_t type, std::uint8_t subtype, std::uint16_t declaredSize) {
  switch (type) {
  case ftcString:
    return static_cast<std::uint16_t>((subtype == fstWideString ? 2 * declaredSize : declaredSize) + 1);
  case ftcDate:
  case ftcInteger:
  case ftcTime:
    return 4;
  case ftcBlob:
  case ftcFloat:
  case ftcDateTime:
  case ftcLargeInt:
    return 8;
  case ftcBoolean:
  case ftcSmallInt:
  case ftcWord:
    return 2;
  case ftcBCD:
    return 34;
  default:
    return declaredSize;
  }
}

} // namespace nexora

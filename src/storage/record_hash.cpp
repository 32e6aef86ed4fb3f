#include "storage/record_hash.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "storage/record_layout.h"

namespace nexora {

namespace {

bool HasBlobFields(TFieldDefList fields) {
  return std::any_of(fields.begin(), fields.end(), [](const TFieldDef &def) { return def.Type() == ftcBlob; });
}

} // namespace

TDigest ComputeRecordHash(TFieldDefList fields, std::span<const std::uint8_t> image) {
  if (image.size() < RecordFieldsOffset) {
    throw std::out_of_range("record image shorter than its header");
  }
  if (!HasBlobFields(fields)) {
    return DigestBytes(image.data() + RecordFieldsOffset, image.size() - RecordFieldsOffset);
  }
  std::vector<std::uint8_t> scratch(image.size(), 0);
  for (const TFieldDef &field : fields) {
    const TFieldDef *def = &field;
    if (def->Type() == ftcBlob || def->Hidden() || def->RecordOffset() < RecordFieldsOffset) {
      continue;
    }
    const std::size_t offset = def->RecordOffset();
    const std::size_t length = std::size_t{def->PhysicalSize()} + 1;
    if (offset > image.size() || length > image.size() - offset) {
      throw std::out_of_range("field " + def->Name() + " lies outside the record");
    }
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), length,
                scratch.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return DigestBytes(scratch.data() + RecordFieldsOffset, scratch.size() - RecordFieldsOffset);
}

void StoreRecordHash(TFieldDefList fields, std::span<std::uint8_t> image) {
  const TDigest digest = ComputeRecordHash(fields, image);
  std::copy(digest.begin(), digest.end(), image.begin() + RecordHashOffset);
}

} // namespace nexora

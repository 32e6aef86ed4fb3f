#pragma once

#include <cstdint>
#include <span>

#include "crypto/md5.h"
#include "storage/field_def.h"

namespace nexora {

// The user field definitions of a table in field order (1 to F), as the data file
// holds them (TDataFile::FieldDefs).
using TFieldDefList = std::span<const TFieldDef>;

// The record hash: MD5 of bytes 25 to R - 1 of the image. In a table with BLOB fields
// the digest is taken over a zeroed scratch image into which only the slots of fields
// that are neither BLOB fields nor hidden are copied, so BLOB references and padding
// count as zeros. Requires the image span to be the whole record; a slot outside it
// raises std::out_of_range. Pure function; any thread.
TDigest ComputeRecordHash(TFieldDefList fields, std::span<const std::uint8_t> image);

// Computes the hash and stores it in bytes 9 to 24 of the image.
void StoreRecordHash(TFieldDefList fields, std::span<std::uint8_t> image);

} // namespace nexora

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/field_def.h"
#include "storage/index_def.h"

namespace nexora {

// Everything a new table is created from. Plain value; any thread.
struct TTableDefinition {
  std::vector<TFieldDef> Fields;
  // A primary index of the creator's; without one the table gets the default primary
  // index on "RecordID".
  std::optional<TIndexDef> PrimaryIndex;
  std::vector<TIndexDef> SecondaryIndexes;
  // String and memo fields of the full-text index (slot 31), by field number.
  std::vector<std::int16_t> TextIndexFields;
  std::uint32_t LocaleId = 0;
  std::uint16_t UserMajorVersion = 0;
  std::uint16_t UserMinorVersion = 0;
  std::uint32_t BlobBlockSize = 512;
  std::uint32_t IndexPageSize = 4096;
  // -1 is stored as 0.
  std::int32_t LastAutoInc = 0;
  std::string Description;
  bool Encrypted = false;
  std::string Password;
};

} // namespace nexora

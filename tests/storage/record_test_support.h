#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/data_file.h"
#include "storage/field_def.h"
#include "storage/record.h"

namespace nexora::testing {

// A field definition with the given type; number, name and offsets come from Laid.
inline TFieldDef Field(std::uint8_t type, std::uint8_t subtype = fstNone, std::uint16_t declaredSize = 0,
                       std::uint8_t decimals = 0) {
  TFieldDef def;
  def.SetType(type);
  def.SetSubtype(subtype);
  def.SetDeclaredSize(declaredSize);
  def.SetDecimals(decimals);
  return def;
}

// Numbers, names ("F1", "F2", ...), physical sizes and record offsets in field order,
// as table creation lays them out.
inline std::vector<TFieldDef> Laid(std::vector<TFieldDef> fields) {
  std::uint16_t offset = 25;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDef &def = fields[i];
    def.SetNumber(static_cast<std::uint16_t>(i + 1));
    if (def.Name().empty()) {
      def.SetName("F" + std::to_string(i + 1));
    }
    def.SetPhysicalSize(ComputePhysicalSize(def.Type(), def.Subtype(), def.DeclaredSize()));
    def.SetPhysicalDecimals(def.Decimals());
    def.SetRecordOffset(offset);
    offset = static_cast<std::uint16_t>(offset + def.PhysicalSize() + 1);
  }
  return fields;
}

// The record size of laid-out fields: the running offset rounded up to 8.
inline std::size_t RecordSizeOf(const std::vector<TFieldDef> &fields) {
  const TFieldDef &last = fields.back();
  return (std::size_t{last.RecordOffset()} + last.PhysicalSize() + 1 + 7) / 8 * 8;
}

} // namespace nexora::testing

#pragma once

#include <cstdint>
#include <string>

namespace nexora {

class TFieldDef;

// What the index file and its keys need from the table's data file; the table object
// implements it. Called from the thread that uses the table; must outlive the index file.
class TIndexFileContext {
public:
  virtual ~TIndexFileContext() = default;
  // The index page size P of the data header (offset 59).
  virtual std::int32_t IndexPageSize() const = 0;
  // The table's locale id, 0 for "ANSI Standard".
  virtual std::uint32_t LocaleId() const = 0;
  // The table's name, given to the text-index filters.
  virtual std::string TableName() const = 0;
  // User field 1 to FieldCount(); null for any other number. The system fields -1 and -2
  // are known to the key code itself.
  virtual const TFieldDef *FieldDef(std::int16_t number) const = 0;
  virtual std::int32_t FieldCount() const = 0;
};

} // namespace nexora

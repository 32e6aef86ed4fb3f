#pragma once

#include <stdexcept>
#include <string>

#include "cli/field_json.h"
#include "storage/table_definition.h"

namespace nexora::cli {

// A command line or input file the tool cannot use (exit status 2).
class EUsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The definition a schema describes (see the tool's help for its members); omitted members
// take the defaults of table creation. Raises EUsageError naming what is wrong.
TTableDefinition SchemaToDefinition(const TJson &schema);

// The header values, fields and indexes (slot 31 included) of an open table.
TJson TableInfo(TDataCursor &cursor);

} // namespace nexora::cli

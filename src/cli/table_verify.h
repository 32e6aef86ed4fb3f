#pragma once

#include <string>
#include <vector>

#include "cursor/data_cursor.h"

namespace nexora::cli {

// Walks an open table and returns every problem found, one text each: the header's record
// count against the live records, every BLOB value of every live record, and every index
// walked along its leaf chain against the live records. Leaves the cursor on its primary
// index. Used by the thread of the cursor's session.
std::vector<std::string> VerifyTable(TDataCursor &cursor);

} // namespace nexora::cli

#pragma once

#include <string>
#include <vector>

#include "cursor/data_cursor.h"

namespace nexora::cli {

// Checks an open table (best opened without the structure checks) and returns every problem
// found, one text each: the structure checks of the data, index and BLOB files with their
// verification texts, the header's record count against the live records, every BLOB value of every live record, and
// every index walked along its leaf chain against the live records. Leaves the cursor on its primary index. Used by the
// thread of the cursor's session.
std::vector<std::string> VerifyTable(TDataCursor &cursor);

} // namespace nexora::cli

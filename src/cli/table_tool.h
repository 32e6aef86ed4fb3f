#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace nexora::cli {

// Runs one command of nexora-table (arguments without the program name) with the given
// standard streams. Returns the exit status: 0 success, 1 an engine error or a problem
// found (the message on err), 2 a usage error. Uses an engine of its own.
int RunTableTool(const std::vector<std::string> &arguments, std::istream &in, std::ostream &out, std::ostream &err);

} // namespace nexora::cli

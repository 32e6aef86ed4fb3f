#pragma once

#include <string>

namespace nexora {

// The name under which a file is opened: path itself when an entry of that exact name
// exists; otherwise, when exactly one entry of the directory equals the file name without
// regard to case (Windows-1252 upper-casing), that entry's path, so that files copied from
// a case-insensitive disk ("ORDERS.DAT") open as "orders.dat"; otherwise path unchanged.
// Any thread may call; nothing is raised.
std::string ResolveFileNameCase(const std::string &path);

} // namespace nexora

#pragma once

#include <string>
#include <string_view>

namespace nexora {

// The path text rules of sessions and their directories. Pure text work apart from the
// two system queries; any thread; none raises except std::bad_alloc.

// The path without leading and trailing blanks and control characters, each `\` turned
// into `/`, ending in `/`. An empty (or all-blank) path stays empty.
std::string DirectoryPathText(std::string_view path);

// The system's directory for temporary files, by DirectoryPathText; "/tmp/" when the
// system names none that exists.
std::string TemporaryFilesDirectory();

// The process's current directory, by DirectoryPathText; "./" when it cannot be read
// (for example after it was removed).
std::string CurrentDirectory();

} // namespace nexora

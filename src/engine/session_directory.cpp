#include "engine/session_directory.h"

#include "support/short_text.h"

namespace nexora {

TSessionDirectory::TSessionDirectory(TDataSession &session, std::string path, std::string_view databaseName)
    : session_(session), path_(std::move(path)), databaseName_(CutName(databaseName)) {}

bool TSessionDirectory::IsMemoryDatabaseName(std::string_view databaseName) {
  return SameText(TrimText(databaseName), MemoryDatabaseName);
}

} // namespace nexora

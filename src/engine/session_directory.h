#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/safe_object.h"

namespace nexora {

class TDataSession;

// A database directory as its session sees it: the session it belongs to, its path, its
// database name, the opens that reference it and the keep-tables-open flag. The storage
// layer derives the directory proper (TDataDirectory), which owns the tables and the lock
// file; the session owns its directories through this base and frees each at its last
// close. Used by the thread of its session; raises nothing.
class TSessionDirectory : public TSafeObject {
public:
  // The database name of the in-memory database, in any letter case.
  static constexpr std::string_view MemoryDatabaseName = "Memory";

  // Stores the session, the path as given and the name cut to 60 characters.
  TSessionDirectory(TDataSession &session, std::string path, std::string_view databaseName);
  ~TSessionDirectory() override = default;

  TDataSession &Session() const { return session_; }
  // Ends in "/", or is empty for the in-memory database opened without a path.
  const std::string &Path() const { return path_; }
  const std::string &DatabaseName() const { return databaseName_; }
  bool IsMemory() const { return IsMemoryDatabaseName(databaseName_); }
  static bool IsMemoryDatabaseName(std::string_view databaseName);

  std::int32_t References() const { return references_; }
  void AddReference() { ++references_; }
  // One reference fewer; the count left.
  std::int32_t DropReference() { return references_ > 0 ? --references_ : 0; }
  bool KeepTablesOpen() const { return keepTablesOpen_; }
  void SetKeepTablesOpen(bool value) { keepTablesOpen_ = value; }

private:
  TDataSession &session_;
  std::string path_;
  std::string databaseName_;
  std::int32_t references_ = 0;
  bool keepTablesOpen_ = false;
};

} // namespace nexora

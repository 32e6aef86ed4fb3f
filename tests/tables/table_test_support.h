#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "engine/data_engine.h"
#include "engine/data_session.h"
#include "storage/data_directory.h"
#include "storage/field_def_rules.h"
#include "storage/file_test_support.h"
#include "storage/table_definition.h"

namespace nexora::testing {

// A started engine of its own whose table-level lock waits are short, so that a test that
// must see a lock refused does not sleep for the default hundred seconds. Waits that a
// test expects to outlast another party get retries enough for several seconds.
class TTestEngine {
public:
  explicit TTestEngine(std::uint16_t retries = 2000, std::uint16_t waitMilliseconds = 2) {
    TEngineSettings &settings = engine_.Settings();
    settings.TableReadLockRetryCount = retries;
    settings.TableReadLockWaitTime = waitMilliseconds;
    settings.TableWriteLockRetryCount = retries;
    settings.TableWriteLockWaitTime = waitMilliseconds;
    settings.TableTransLockRetryCount = retries;
    settings.TableTransLockWaitTime = waitMilliseconds;
    engine_.Start("nexora.lck");
  }
  TDataEngine &Engine() { return engine_; }
  // A session whose record, table and semaphore locks give up after two retries 5 ms apart.
  TDataSession &NewSession() {
    TDataSession &session = engine_.CreateSession();
    session.SetLockRetryCount(2);
    session.SetLockWaitTime(5);
    return session;
  }

private:
  TDataEngine engine_;
};

// A field definition as a table's creator gives it.
inline TFieldDef FieldDefOf(std::string_view name, std::uint8_t type, std::uint16_t declaredSize, std::uint16_t number,
                            std::uint8_t subtype = fstNone, std::uint8_t compression = 0) {
  TFieldDef def;
  def.SetName(name);
  def.SetType(type);
  def.SetSubtype(subtype);
  def.SetDeclaredSize(declaredSize);
  def.SetNumber(number);
  def.SetCompressionLevel(compression);
  return def;
}

// The fields of a small orders table: an integer, a 20-character string and, when asked,
// a memo field (which makes the table keep a BLOB file).
inline TTableDefinition OrdersDefinition(bool withMemo = false) {
  TTableDefinition definition;
  definition.Fields.push_back(FieldDefOf("Id", ftcInteger, 0, 1));
  definition.Fields.push_back(FieldDefOf("Name", ftcString, 20, 2));
  if (withMemo) {
    definition.Fields.push_back(FieldDefOf("Notes", ftcBlob, 0, 3, fstMemo));
  }
  return definition;
}

// Appends one line to a log shared by processes; O_APPEND keeps lines whole and in the
// order they were written.
inline void LogLine(const std::string &path, const std::string &line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  const std::string text = line + "\n";
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("log write failed");
  }
  ::close(fd);
}

inline std::vector<std::string> LogLines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

inline bool FileExists(const std::string &path) { return ::access(path.c_str(), F_OK) == 0; }

} // namespace nexora::testing

#pragma once

#include <cstdint>
#include <string>

#include "engine/error_codes.h"

namespace nexora {

// The names and numbers a raise carries, in the order RaiseError takes them. Callers
// fill what they know with designated initialisers: RaiseError(code, {.TableName = t}).
struct TErrorNames {
  std::string ServerAddress{};
  std::string UserName{};
  std::string DatabaseName{};
  std::string TableName{};
  std::string FieldName{};
  std::string IndexName{};
  std::string Detail{};
  std::string ProcedureName{};
  std::string EventName{};
  std::int32_t Line = 0;
  std::int32_t Column = 0;
};

// The engine's error context: what is being raised right now (under the error lock)
// or, between raises, what was raised last.
struct TErrorContext {
  TErrorCode Code = NEXORA_NONE;
  // Engine code of the last operating-system failure when the raise began.
  std::int32_t OSCode = 0;
  std::int32_t SocketCode = 0;
  // The system's own error number (errno) of that failure; fills the number of 11047.
  std::int32_t OSErrorNumber = 0;
  TErrorNames Names;
};

} // namespace nexora

#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "engine/error_context.h"
#include "platform/dataset/database_error.h"

namespace nexora {

// The engine's one exception type. It carries a copy of the error context of its own
// raise; its message is "NEXORA Engine Error # <code> <catalogue message>".
// Raised through TDataEngine::RaiseError; any thread may catch and read it.
class ENEXORAEngineError : public EDatabaseError {
public:
  // Copies the context (the caller holds the error lock) and builds the message.
  ENEXORAEngineError(TErrorCode code, const TErrorContext &context);

  TErrorCode ErrorCode() const { return errorCode_; }
  std::int32_t OSErrorCode() const { return osErrorCode_; }
  std::int32_t SocketErrorCode() const { return socketErrorCode_; }
  // The system's own error number of the failure behind OSErrorCode (0 when none).
  std::int32_t OSErrorNumber() const { return osErrorNumber_; }
  const std::string &ServerAddress() const { return names_.ServerAddress; }
  const std::string &UserName() const { return names_.UserName; }
  const std::string &DatabaseName() const { return names_.DatabaseName; }
  const std::string &TableName() const { return names_.TableName; }
  const std::string &FieldName() const { return names_.FieldName; }
  const std::string &IndexName() const { return names_.IndexName; }
  const std::string &Detail() const { return names_.Detail; }
  const std::string &ProcedureName() const { return names_.ProcedureName; }
  const std::string &EventName() const { return names_.EventName; }
  std::int32_t Line() const { return names_.Line; }
  std::int32_t Column() const { return names_.Column; }

private:
  TErrorCode errorCode_;
  std::int32_t osErrorCode_;
  std::int32_t socketErrorCode_;
  std::int32_t osErrorNumber_;
  TErrorNames names_;
};

// The engine code of a caught exception: its ErrorCode for an engine error, 11047
// (NEXORA_OSUNKNOWN) for any other exception.
TErrorCode ErrorCodeOf(const std::exception &exception);

} // namespace nexora

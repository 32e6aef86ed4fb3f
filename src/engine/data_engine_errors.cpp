#include <cerrno>

#include "engine/data_engine.h"
#include "engine/engine_error.h"
#include "engine/error_catalogue.h"
#include "engine/os_error_map.h"
#include "support/short_text.h"

namespace nexora {
namespace {

TErrorNames CutNames(const TErrorNames &names) {
  return TErrorNames{
      .ServerAddress = CutText(names.ServerAddress),
      .UserName = CutText(names.UserName),
      .DatabaseName = CutText(names.DatabaseName),
      .TableName = CutText(names.TableName),
      .FieldName = CutText(names.FieldName),
      .IndexName = CutText(names.IndexName),
      .Detail = CutText(names.Detail),
      .ProcedureName = CutText(names.ProcedureName),
      .EventName = CutText(names.EventName),
      .Line = names.Line,
      .Column = names.Column,
  };
}

} // namespace

void TDataEngine::RaiseError(TErrorCode code, const TErrorNames &names) {
  // The lock is held until the exception has copied the context, so every exception
  // carries the names of its own raise even when several threads fail at once.
  std::lock_guard lock(errorLock_);
  errorContext_ = TErrorContext{
      .Code = code,
      .OSCode = lastOSError_.exchange(0),
      .SocketCode = lastSocketError_.exchange(0),
      .OSErrorNumber = lastOSErrorNumber_.exchange(0),
      .Names = CutNames(names),
  };
  throw ENEXORAEngineError(code, errorContext_);
}

std::string TDataEngine::GetErrorMessage(TErrorCode code) const {
  std::lock_guard lock(errorLock_);
  return FormatErrorMessage(code, errorContext_);
}

std::string TDataEngine::GetErrorConstant(TErrorCode code) { return ErrorConstantName(code); }

TErrorCode TDataEngine::MapLastOSError() {
  const int errorNumber = errno;
  const TErrorCode code = MapOSError(errorNumber);
  lastOSErrorNumber_ = errorNumber;
  lastOSError_ = code;
  return code;
}

TErrorContext TDataEngine::ErrorContext() const {
  std::lock_guard lock(errorLock_);
  return errorContext_;
}

} // namespace nexora

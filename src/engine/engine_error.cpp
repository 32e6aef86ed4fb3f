#include "engine/engine_error.h"

#include "engine/error_catalogue.h"

namespace nexora {
namespace {

std::string EngineErrorMessage(TErrorCode code, const TErrorContext &context) {
  return "NEXORA Engine Error # " + std::to_string(code) + " " + FormatErrorMessage(code, context);
}

} // namespace

ENEXORAEngineError::ENEXORAEngineError(TErrorCode code, const TErrorContext &context)
    : EDatabaseError(EngineErrorMessage(code, context)), errorCode_(code), osErrorCode_(context.OSCode),
      socketErrorCode_(context.SocketCode), osErrorNumber_(context.OSErrorNumber), names_(context.Names) {}

TErrorCode ErrorCodeOf(const std::exception &exception) {
  if (const auto *engineError = dynamic_cast<const ENEXORAEngineError *>(&exception)) {
    return engineError->ErrorCode();
  }
  return NEXORA_OSUNKNOWN;
}

} // namespace nexora

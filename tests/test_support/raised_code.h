#pragma once

#include <functional>

#include "engine/engine_error.h"

namespace nexora::testing {

// The engine code the call raised, 0 when it raised nothing.
inline TErrorCode RaisedCode(const std::function<void()> &call) {
  try {
    call();
  } catch (const ENEXORAEngineError &error) {
    return error.ErrorCode();
  }
  return NEXORA_NONE;
}

} // namespace nexora::testing

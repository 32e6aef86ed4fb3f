#include "platform/dataset/database_error.h"

namespace nexora {

EDatabaseError::EDatabaseError(const std::string &message) : std::runtime_error(message) {}

std::string WithComponentName(const std::string &componentName, const std::string &message) {
  if (componentName.empty()) {
    return message;
  }
  return componentName + ": " + message;
}

} // namespace nexora

#pragma once

#include <stdexcept>
#include <string>

namespace nexora {

// The dataset framework's database error: every failure a dataset or a component
// reports. Its message is the full text shown to users; components that want their
// name in front of it pass "Name: message" themselves (see WithComponentName).
class EDatabaseError : public std::runtime_error {
public:
  explicit EDatabaseError(const std::string &message);
};

// "Name: message" when the component has a name, else the message alone.
std::string WithComponentName(const std::string &componentName, const std::string &message);

} // namespace nexora

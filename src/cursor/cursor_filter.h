#pragma once

#include <cstdint>
#include <span>

namespace nexora {

class TDataCursor;

// A condition a cursor's visible records must meet. The cursor asks it about every live
// record when it rebuilds its records bitmap (at a filter change and after every change of
// the table) and shows only records every filter accepts. Called from the cursor's thread;
// may raise, which ends the cursor operation that asked.
class TCursorFilter {
public:
  virtual ~TCursorFilter() = default;
  virtual bool Accepts(const TDataCursor &cursor, std::span<const std::uint8_t> image) = 0;
};

} // namespace nexora

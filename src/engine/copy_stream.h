#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace nexora {

// The byte stream the compressed-copy routines read and write: a file with a current
// position. Implementations raise the engine error of a failed transfer themselves
// (the engine file object raises with its table name), so the routines never see one.
class TCopyStream {
public:
  virtual ~TCopyStream() = default;
  // Reads up to count bytes at the current position and advances; 0 at the end.
  virtual std::int32_t Read(void *buffer, std::int32_t count) = 0;
  // Writes count bytes at the current position and advances.
  virtual void Write(const void *buffer, std::int32_t count) = 0;
  virtual std::int64_t Position() = 0;
  virtual void Seek(std::int64_t position) = 0;
  virtual std::int64_t Size() = 0;
  // The name reported to progress callbacks.
  virtual std::string FileName() const = 0;
};

// Receives the source file name and a percentage (0 to 100).
using TCopyProgress = std::function<void(const std::string &fileName, int percent)>;

} // namespace nexora

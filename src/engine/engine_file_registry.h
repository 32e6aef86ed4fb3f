#pragma once

namespace nexora {

// The engine's registry of open files, as the engine object sees it. The storage layer
// supplies the implementation (the sorted lists of operating-system and memory files);
// the engine only owns it and closes every file in it when it stops.
class TEngineFileRegistry {
public:
  virtual ~TEngineFileRegistry() = default;
  // Closes and frees every registered file, each list under its own lock.
  virtual void CloseAllFiles() = 0;
};

} // namespace nexora

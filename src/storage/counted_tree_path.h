#pragma once

#include <array>
#include <cstdint>

#include "storage/index_file_format.h"

namespace nexora {

// One level of a key path: a page and the 0-based entry slot taken in it.
struct TKeyPathLevel {
  std::int32_t Page = 0;
  std::int32_t Slot = 0;
};

// The pages a descent went through, root first, with the slot taken at each level; the last
// level is the leaf. Owned by the cursor that drives the tree; plain data, any thread.
struct TKeyPath {
  std::int32_t Depth = 0;
  std::array<TKeyPathLevel, MaxTreeDepth> Levels{};

  void Clear() { Depth = 0; }
  TKeyPathLevel &Leaf() { return Levels[static_cast<std::size_t>(Depth - 1)]; }
  const TKeyPathLevel &Leaf() const { return Levels[static_cast<std::size_t>(Depth - 1)]; }
  TKeyPathLevel &At(std::int32_t level) { return Levels[static_cast<std::size_t>(level)]; }
  const TKeyPathLevel &At(std::int32_t level) const { return Levels[static_cast<std::size_t>(level)]; }
};

} // namespace nexora

#pragma once

#include <type_traits>

#include "cursor/data_cursor.h"
#include "storage/table_changed.h"

namespace nexora {

// How often a walk may find the table changed before the index counts as damaged. After
// the first change the read lock is held to the end of the operation, so one restart is
// the rule.
inline constexpr int MaxWalkRestarts = 8;

template <typename TWalk> auto TDataCursor::Walk(TWalk &&walk) {
  for (int attempt = 0;; ++attempt) {
    try {
      return walk();
    } catch (const ETableChanged &) {
      if (attempt == MaxWalkRestarts) {
        RaiseIfError(NEXORA_INDEXCORRUPT);
      }
      // The caches are empty now: re-find the position before walking again.
      Resynchronize();
    }
  }
}

template <typename TBody> auto TDataCursor::Operation(TBody &&body) {
  BeginOperation();
  try {
    if constexpr (std::is_void_v<decltype(body())>) {
      Walk(body);
      EndOperation();
    } else {
      auto result = Walk(body);
      EndOperation();
      return result;
    }
  } catch (...) {
    try {
      EndOperation();
    } catch (const std::exception &) {
      // The operation's own failure is the one to report.
    }
    throw;
  }
}

} // namespace nexora

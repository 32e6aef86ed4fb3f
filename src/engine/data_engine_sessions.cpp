#include <algorithm>

#include "engine/data_engine.h"
#include "engine/data_session.h"

namespace nexora {

TDataSession &TDataEngine::CreateSession() {
  auto session = std::make_unique<TDataSession>(*this);
  std::lock_guard lock(sessionListLock_);
  return *sessions_.emplace_back(std::move(session));
}

void TDataEngine::FreeSession(TDataSession *session) {
  std::unique_ptr<TDataSession> freed;
  {
    std::lock_guard lock(sessionListLock_);
    const auto entry =
        std::find_if(sessions_.begin(), sessions_.end(), [&](const auto &owned) { return owned.get() == session; });
    if (entry == sessions_.end()) {
      return;
    }
    freed = std::move(*entry);
    sessions_.erase(entry);
  }
  // Destroyed outside the lock: other threads may create and free sessions meanwhile.
}

std::size_t TDataEngine::SessionCount() const {
  std::lock_guard lock(sessionListLock_);
  return sessions_.size();
}

} // namespace nexora

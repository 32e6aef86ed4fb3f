#pragma once

#include <map>
#include <mutex>

namespace nexora {

// Map from a key to a value that is built once, on first request, and then kept for the
// cache's lifetime (the locale services keep one per process for their collators and case
// tables). Owns the values. Any thread may call Get.
template <typename Key, typename Value> class TLocaleCache {
public:
  // Returns the value for key, building it with build() under the cache lock when absent.
  // The reference stays valid as long as the cache. An exception from build() propagates
  // and leaves nothing stored.
  template <typename Build> const Value &Get(const Key &key, Build &&build) {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end())
      it = values_.emplace(key, build()).first;
    return it->second;
  }

private:
  std::mutex mutex_;
  std::map<Key, Value> values_;
};

} // namespace nexora

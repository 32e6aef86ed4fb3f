#pragma once

#include <array>
#include <cstdint>

namespace nexora {

// Base class of engine objects whose handles may outlive them (directories, cursors, loaded
// BLOB values). The constructor stamps the object with the text "NEXORA_SIG" as a
// length-prefixed text (length byte 10, then the ten characters); the destructor sets the
// length byte to 0, so a handle to a destroyed object can be told from a live one as long as
// its memory is still owned.
//
// Layout: the stamp is the first data member, so in memory it directly follows the vtable
// pointer that C++ places at the start of a polymorphic object.
//
// Virtual operations, in slot order: the destructor, then IsValid. Derived classes add
// theirs after these. A derived class that overrides IsValid() hides the static check; it
// brings it back with `using TSafeObject::IsValid;`.
//
// Copying gives the copy its own fresh stamp; assignment leaves the target's stamp as it is
// (the stamp marks the object's lifetime, not its value).
//
// Threads: an object is used by the thread that owns it; no member takes a lock.
class TSafeObject {
public:
  static constexpr std::uint8_t StampLength = 10;

  TSafeObject() noexcept;
  TSafeObject(const TSafeObject &other) noexcept;
  TSafeObject &operator=(const TSafeObject &other) noexcept;
  virtual ~TSafeObject();

  // True only while the stamp is intact.
  virtual bool IsValid() const;

  // False for nullptr; otherwise whether the stamp of *object is intact. Makes no virtual
  // call, so it may be asked about an object that has been destroyed, provided the memory it
  // occupied is still owned by the caller (for instance a buffer that held it). Asking about
  // freed memory is not allowed.
  static bool IsValid(const TSafeObject *object) noexcept;

private:
  // Length byte followed by the stamp text.
  std::array<std::uint8_t, 1 + StampLength> signature_;
};

} // namespace nexora

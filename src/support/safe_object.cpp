#include "support/safe_object.h"

#include <cstddef>

namespace nexora {

namespace {

constexpr std::array<std::uint8_t, TSafeObject::StampLength> StampText{'N', 'E', 'X', 'O', 'R',
                                                                       'A', '_', 'S', 'I', 'G'};

} // namespace

TSafeObject::TSafeObject() noexcept : signature_{} {
  signature_[0] = StampLength;
  for (std::size_t i = 0; i < StampText.size(); ++i) {
    signature_[i + 1] = StampText[i];
  }
}

TSafeObject::TSafeObject(const TSafeObject & /*other*/) noexcept : TSafeObject() {}

TSafeObject &TSafeObject::operator=(const TSafeObject & /*other*/) noexcept { return *this; }

TSafeObject::~TSafeObject() {
  // A plain store to a member in a destructor may be dropped by the optimiser because the
  // object dies right after it; the volatile store keeps the cleared stamp in memory.
  *static_cast<volatile std::uint8_t *>(&signature_[0]) = 0;
}

bool TSafeObject::IsValid() const { return IsValid(this); }

bool TSafeObject::IsValid(const TSafeObject *object) noexcept {
  if (object == nullptr) {
    return false;
  }
  // Volatile reads: the bytes may have been changed by a destructor that already ran, which
  // the compiler must not assume away.
  const volatile std::uint8_t *stamp = object->signature_.data();
  if (stamp[0] != StampLength) {
    return false;
  }
  for (std::size_t i = 0; i < StampText.size(); ++i) {
    if (stamp[i + 1] != StampText[i]) {
      return false;
    }
  }
  return true;
}

} // namespace nexora

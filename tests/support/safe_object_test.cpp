#include "support/safe_object.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

namespace nexora {
namespace {

// A derived class with state of its own, as engine objects are.
class TProbe : public TSafeObject {
public:
  explicit TProbe(int value) : value_(value) {}
  int Value() const { return value_; }

private:
  int value_;
};

// The stamp bytes of an object: its first data member, right after the vtable pointer.
std::string StampBytesOf(const TSafeObject &object) {
  std::string bytes(11, '\0');
  std::memcpy(bytes.data(), reinterpret_cast<const char *>(&object) + sizeof(void *), bytes.size());
  return bytes;
}

TEST(SafeObjectTest, FreshObjectIsValidAndStamped) {
  const TProbe probe(7);
  EXPECT_TRUE(probe.IsValid());
  EXPECT_TRUE(TSafeObject::IsValid(&probe));
  EXPECT_EQ(StampBytesOf(probe), std::string("\x0A"
                                             "NEXORA_SIG"));
}

TEST(SafeObjectTest, NullIsNotValid) { EXPECT_FALSE(TSafeObject::IsValid(nullptr)); }

TEST(SafeObjectTest, DestroyedObjectIsNotValid) {
  alignas(TProbe) unsigned char storage[sizeof(TProbe)];
  auto *probe = new (storage) TProbe(3);
  ASSERT_TRUE(TSafeObject::IsValid(probe));
  probe->~TProbe();
  EXPECT_FALSE(TSafeObject::IsValid(probe));
  EXPECT_EQ(storage[sizeof(void *)], 0);
}

TEST(SafeObjectTest, DamagedStampIsNotValid) {
  alignas(TProbe) unsigned char storage[sizeof(TProbe)];
  auto *probe = new (storage) TProbe(3);
  storage[sizeof(void *) + 5] = 'x'; // one letter of the stamp text
  EXPECT_FALSE(probe->IsValid());
  EXPECT_FALSE(TSafeObject::IsValid(probe));
  probe->~TProbe();
}

TEST(SafeObjectTest, CopiesCarryTheirOwnStamp) {
  alignas(TProbe) unsigned char storage[sizeof(TProbe)];
  auto *original = new (storage) TProbe(5);
  const TProbe copy(*original);
  TProbe assigned(9);
  assigned = *original;
  original->~TProbe();

  EXPECT_FALSE(TSafeObject::IsValid(original));
  EXPECT_TRUE(copy.IsValid());
  EXPECT_EQ(copy.Value(), 5);
  EXPECT_TRUE(assigned.IsValid());
  EXPECT_EQ(assigned.Value(), 5);
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/data_engine.h"

namespace nexora {
namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Pattern(std::size_t length) {
  TBytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  return bytes;
}

// An engine with a password context, freed at the end.
class EngineCrypto : public ::testing::Test {
protected:
  void SetUp() override {
    const TDigest key = DigestText("secret");
    context_ = engine_.CryptoInit(key.data(), static_cast<std::int32_t>(key.size()));
  }
  void TearDown() override { FreeCryptoContext(context_); }

  TBytes Encrypted(TBytes bytes) {
    engine_.EncryptBuffer(context_.Data, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return bytes;
  }
  TBytes Decrypted(TBytes bytes) {
    engine_.DecryptBuffer(context_.Data, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return bytes;
  }

  TDataEngine engine_;
  TCryptoContext context_;
};

TEST_F(EngineCrypto, BuiltInContextIsTheFullCipherState) { EXPECT_EQ(context_.Size, 4184); }

TEST_F(EngineCrypto, WholeBlocksChangeAndTheTailStaysClear) {
  const TBytes plain = Pattern(20);
  const TBytes cipher = Encrypted(plain);
  for (int block = 0; block < 2; ++block) {
    EXPECT_NE(std::memcmp(cipher.data() + 8 * block, plain.data() + 8 * block, 8), 0) << block;
  }
  EXPECT_TRUE(std::equal(cipher.begin() + 16, cipher.end(), plain.begin() + 16));
  EXPECT_EQ(Decrypted(cipher), plain);
}

TEST_F(EngineCrypto, BuffersShorterThanABlockAreLeftAlone) {
  for (std::size_t length : {0u, 1u, 7u}) {
    const TBytes plain = Pattern(length);
    EXPECT_EQ(Encrypted(plain), plain) << length;
    EXPECT_EQ(Decrypted(plain), plain) << length;
  }
}

TEST_F(EngineCrypto, EveryBufferStartsFromTheZeroChain) {
  const TBytes plain = Pattern(64);
  EXPECT_EQ(Encrypted(plain), Encrypted(plain));
  // Equal blocks inside one buffer differ once chained.
  TBytes twin(16, 0x5A);
  const TBytes cipher = Encrypted(twin);
  EXPECT_NE(std::memcmp(cipher.data(), cipher.data() + 8, 8), 0);
  // A block encrypted alone equals the first block of a buffer.
  TBytes single(twin.begin(), twin.begin() + 8);
  engine_.EncryptBlock(context_.Data, single.data());
  engine_.CryptoReset(context_.Data);
  EXPECT_TRUE(std::equal(single.begin(), single.end(), cipher.begin()));
}

TEST_F(EngineCrypto, RoundTripsEverySizeUpTo40) {
  for (std::size_t length = 0; length <= 40; ++length) {
    const TBytes plain = Pattern(length);
    EXPECT_EQ(Decrypted(Encrypted(plain)), plain) << length;
  }
}

TEST_F(EngineCrypto, AnotherKeyDoesNotDecrypt) {
  const TDigest otherKey = DigestText("Secret");
  TCryptoContext other = engine_.CryptoInit(otherKey.data(), 16);
  TBytes cipher = Encrypted(Pattern(16));
  engine_.DecryptBuffer(other.Data, cipher.data(), 16);
  EXPECT_NE(cipher, Pattern(16));
  FreeCryptoContext(other);
}

TEST_F(EngineCrypto, PasswordVerificationValue) {
  const TDigest digest = DigestText("secret");
  TBytes stored(digest.begin(), digest.end());
  stored = Encrypted(stored);
  const TBytes back = Decrypted(stored);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), digest.begin()));
}

TEST_F(EngineCrypto, ResetRunsEvenWhenABlockRoutineRaises) {
  int resets = 0;
  int blocks = 0;
  engine_.Hooks().EncryptBlock = [&](void *, void *) {
    if (++blocks == 2) {
      throw std::runtime_error("hook failed");
    }
  };
  engine_.Hooks().CryptoReset = [&](void *) { ++resets; };
  TBytes bytes = Pattern(24);
  EXPECT_THROW(engine_.EncryptBuffer(context_.Data, bytes.data(), 24), std::runtime_error);
  EXPECT_EQ(resets, 1);
}

TEST_F(EngineCrypto, EachHookReplacesOnlyItsOwnOperation) {
  // An encryption-only hook: a plain XOR; decryption stays the built-in cipher.
  engine_.Hooks().EncryptBlock = [](void *, void *block) {
    auto *bytes = static_cast<std::uint8_t *>(block);
    for (int i = 0; i < 8; ++i) {
      bytes[i] ^= 0xFF;
    }
  };
  const TBytes plain = Pattern(16);
  TBytes hooked = Encrypted(plain);
  for (std::size_t i = 0; i < hooked.size(); ++i) {
    EXPECT_EQ(hooked[i], plain[i] ^ 0xFF);
  }
  TBytes builtIn = plain;
  TDataEngine reference;
  const TDigest key = DigestText("secret");
  TCryptoContext referenceContext = reference.CryptoInit(key.data(), 16);
  reference.EncryptBuffer(referenceContext.Data, builtIn.data(), 16);
  EXPECT_EQ(Decrypted(builtIn), plain);
  FreeCryptoContext(referenceContext);
}

TEST(EngineCryptoHooks, InitHookOwnsTheContext) {
  TDataEngine engine;
  engine.Hooks().CryptoInit = [](const void *key, std::int32_t keyLen, void *&outData, std::int32_t &outBytes) {
    outData = std::malloc(static_cast<std::size_t>(keyLen));
    std::memcpy(outData, key, static_cast<std::size_t>(keyLen));
    outBytes = keyLen;
  };
  const std::array<std::uint8_t, 4> key{1, 2, 3, 4};
  TCryptoContext context = engine.CryptoInit(key.data(), 4);
  EXPECT_EQ(context.Size, 4);
  EXPECT_EQ(std::memcmp(context.Data, key.data(), 4), 0);
  TCryptoContext borrowed{context.Data, 0};
  FreeCryptoContext(borrowed); // a borrowed copy frees nothing
  EXPECT_EQ(std::memcmp(context.Data, key.data(), 4), 0);
  FreeCryptoContext(context);
  EXPECT_EQ(context.Data, nullptr);
}

} // namespace
} // namespace nexora

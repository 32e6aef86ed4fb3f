#include "crypto/blowfish.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "crypto/blowfish_tables.h"

namespace nexora {

static_assert(sizeof(TBlowfishContext) == BlowfishContextSize);
static_assert(offsetof(TBlowfishContext, InitialChain) == 0);
static_assert(offsetof(TBlowfishContext, CurrentChain) == 8);
static_assert(offsetof(TBlowfishContext, SBox) == 16);
static_assert(offsetof(TBlowfishContext, P) == 4112);

namespace {

std::uint32_t LoadBigEndian(const std::uint8_t *bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::little) {
    word = __builtin_bswap32(word);
  }
  return word;
}

void StoreBigEndian(std::uint8_t *bytes, std::uint32_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    word = __builtin_bswap32(word);
  }
  std::memcpy(bytes, &word, sizeof word);
}

// One 8-byte block as its two big-endian halves.
struct THalves {
  std::uint32_t left;
  std::uint32_t right;
};

// Round function F: the four bytes of x, most significant first, index S-boxes 1 to 4.
inline std::uint32_t Feistel(const std::uint32_t (&s)[4][256], std::uint32_t x) {
  return ((s[0][x >> 24] + s[1][(x >> 16) & 0xFF]) ^ s[2][(x >> 8) & 0xFF]) + s[3][x & 0xFF];
}

// Two rounds: P[i] then P[i + 1], the halves trading roles in between.
#define BLOWFISH_ROUNDS(i, j)                                                                                          \
  left ^= p[i];                                                                                                        \
  right ^= Feistel(s, left);                                                                                           \
  right ^= p[j];                                                                                                       \
  left ^= Feistel(s, right)

// Raw (ECB) encipher of one block. Always inlined: the halves must stay in registers.
[[gnu::always_inline]] inline THalves Encipher(const TBlowfishContext &context, THalves block) {
  const std::uint32_t(&s)[4][256] = context.SBox;
  const std::uint32_t *p = context.P;
  std::uint32_t left = block.left;
  std::uint32_t right = block.right;
  BLOWFISH_ROUNDS(0, 1);
  BLOWFISH_ROUNDS(2, 3);
  BLOWFISH_ROUNDS(4, 5);
  BLOWFISH_ROUNDS(6, 7);
  BLOWFISH_ROUNDS(8, 9);
  BLOWFISH_ROUNDS(10, 11);
  BLOWFISH_ROUNDS(12, 13);
  BLOWFISH_ROUNDS(14, 15);
  // Undo the last swap and whiten with P17, P18.
  return {right ^ p[17], left ^ p[16]};
}

// Raw (ECB) decipher: the rounds of Encipher with the P-array reversed.
[[gnu::always_inline]] inline THalves Decipher(const TBlowfishContext &context, THalves block) {
  const std::uint32_t(&s)[4][256] = context.SBox;
  const std::uint32_t *p = context.P;
  std::uint32_t left = block.left;
  std::uint32_t right = block.right;
  BLOWFISH_ROUNDS(17, 16);
  BLOWFISH_ROUNDS(15, 14);
  BLOWFISH_ROUNDS(13, 12);
  BLOWFISH_ROUNDS(11, 10);
  BLOWFISH_ROUNDS(9, 8);
  BLOWFISH_ROUNDS(7, 6);
  BLOWFISH_ROUNDS(5, 4);
  BLOWFISH_ROUNDS(3, 2);
  return {right ^ p[0], left ^ p[1]};
}

#undef BLOWFISH_ROUNDS

} // namespace

void BlowfishInit(TBlowfishContext &context, const void *key, std::size_t keyLength) {
  if (key == nullptr || keyLength == 0) {
    throw std::invalid_argument("Blowfish key must hold at least one byte");
  }
  std::memset(&context, 0, sizeof context);
  std::memcpy(context.SBox, blowfish_detail::InitialSBox, sizeof context.SBox);

  const auto *keyBytes = static_cast<const std::uint8_t *>(key);
  std::size_t keyIndex = 0;
  for (int i = 0; i < 18; ++i) {
    std::uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word = (word << 8) | keyBytes[keyIndex];
      keyIndex = keyIndex + 1 == keyLength ? 0 : keyIndex + 1;
    }
    context.P[i] = blowfish_detail::InitialP[i] ^ word;
  }

  // Encrypt a zero block over and over, each output replacing the next two
  // entries of the P-array and then of the S-boxes in order.
  THalves block{0, 0};
  for (int i = 0; i < 18; i += 2) {
    block = Encipher(context, block);
    context.P[i] = block.left;
    context.P[i + 1] = block.right;
  }
  for (auto &box : context.SBox) {
    for (int i = 0; i < 256; i += 2) {
      block = Encipher(context, block);
      box[i] = block.left;
      box[i + 1] = block.right;
    }
  }
}

void BlowfishEncryptBlock(TBlowfishContext &context, std::uint8_t *block) {
  const THalves cipher = Encipher(context, {LoadBigEndian(block) ^ LoadBigEndian(context.CurrentChain),
                                            LoadBigEndian(block + 4) ^ LoadBigEndian(context.CurrentChain + 4)});
  StoreBigEndian(block, cipher.left);
  StoreBigEndian(block + 4, cipher.right);
  std::memcpy(context.CurrentChain, block, 8);
}

void BlowfishDecryptBlock(TBlowfishContext &context, std::uint8_t *block) {
  const THalves cipher{LoadBigEndian(block), LoadBigEndian(block + 4)};
  const THalves plain = Decipher(context, cipher);
  StoreBigEndian(block, plain.left ^ LoadBigEndian(context.CurrentChain));
  StoreBigEndian(block + 4, plain.right ^ LoadBigEndian(context.CurrentChain + 4));
  StoreBigEndian(context.CurrentChain, cipher.left);
  StoreBigEndian(context.CurrentChain + 4, cipher.right);
}

void BlowfishReset(TBlowfishContext &context) {
  std::memcpy(context.CurrentChain, context.InitialChain, sizeof context.CurrentChain);
}

} // namespace nexora

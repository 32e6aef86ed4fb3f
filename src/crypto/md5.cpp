#include "crypto/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace nexora {

namespace {

constexpr std::uint32_t InitialState[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};

std::uint32_t LoadLittleEndian(const std::uint8_t *bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap32(word);
  }
  return word;
}

void StoreLittleEndian(std::uint8_t *bytes, std::uint32_t word) {
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap32(word);
  }
  std::memcpy(bytes, &word, sizeof word);
}

// The four round functions. G is written as a sum of two terms with disjoint
// bits, which lets the two halves be computed in parallel.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) (((x) & (z)) + ((y) & ~(z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

#define MD5_STEP(f, a, b, c, d, word, constant, shift)                                                                 \
  (a) += f((b), (c), (d)) + (word) + (constant);                                                                       \
  (a) = std::rotl((a), (shift));                                                                                       \
  (a) += (b)

// Runs the compression function over `blocks` consecutive 64-byte blocks at `data`.
void Compress(std::uint32_t state[4], const std::uint8_t *data, std::size_t blocks) {
  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];
  for (; blocks > 0; --blocks, data += 64) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
      x[i] = LoadLittleEndian(data + 4 * i);
    }
    const std::uint32_t oldA = a;
    const std::uint32_t oldB = b;
    const std::uint32_t oldC = c;
    const std::uint32_t oldD = d;

    MD5_STEP(MD5_F, a, b, c, d, x[0], 0xD76AA478, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[1], 0xE8C7B756, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070DB, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[3], 0xC1BDCEEE, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[4], 0xF57C0FAF, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787C62A, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[6], 0xA8304613, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[7], 0xFD469501, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098D8, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8B44F7AF, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[10], 0xFFFF5BB1, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895CD7BE, 22);
    MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6B901122, 7);
    MD5_STEP(MD5_F, d, a, b, c, x[13], 0xFD987193, 12);
    MD5_STEP(MD5_F, c, d, a, b, x[14], 0xA679438E, 17);
    MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49B40821, 22);

    MD5_STEP(MD5_G, a, b, c, d, x[1], 0xF61E2562, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[6], 0xC040B340, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[11], 0x265E5A51, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[0], 0xE9B6C7AA, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[5], 0xD62F105D, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[10], 0x02441453, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[15], 0xD8A1E681, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[4], 0xE7D3FBC8, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[9], 0x21E1CDE6, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[14], 0xC33707D6, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[3], 0xF4D50D87, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[8], 0x455A14ED, 20);
    MD5_STEP(MD5_G, a, b, c, d, x[13], 0xA9E3E905, 5);
    MD5_STEP(MD5_G, d, a, b, c, x[2], 0xFCEFA3F8, 9);
    MD5_STEP(MD5_G, c, d, a, b, x[7], 0x676F02D9, 14);
    MD5_STEP(MD5_G, b, c, d, a, x[12], 0x8D2A4C8A, 20);

    MD5_STEP(MD5_H, a, b, c, d, x[5], 0xFFFA3942, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771F681, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6D9D6122, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[14], 0xFDE5380C, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[1], 0xA4BEEA44, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4BDECFA9, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[7], 0xF6BB4B60, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[10], 0xBEBFBC70, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289B7EC6, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[0], 0xEAA127FA, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[3], 0xD4EF3085, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881D05, 23);
    MD5_STEP(MD5_H, a, b, c, d, x[9], 0xD9D4D039, 4);
    MD5_STEP(MD5_H, d, a, b, c, x[12], 0xE6DB99E5, 11);
    MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1FA27CF8, 16);
    MD5_STEP(MD5_H, b, c, d, a, x[2], 0xC4AC5665, 23);

    MD5_STEP(MD5_I, a, b, c, d, x[0], 0xF4292244, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432AFF97, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[14], 0xAB9423A7, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[5], 0xFC93A039, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655B59C3, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8F0CCC92, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[10], 0xFFEFF47D, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845DD1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6FA87E4F, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[15], 0xFE2CE6E0, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[6], 0xA3014314, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4E0811A1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x[4], 0xF7537E82, 6);
    MD5_STEP(MD5_I, d, a, b, c, x[11], 0xBD3AF235, 10);
    MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2AD7D2BB, 15);
    MD5_STEP(MD5_I, b, c, d, a, x[9], 0xEB86D391, 21);

    a += oldA;
    b += oldB;
    c += oldC;
    d += oldD;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_STEP
#undef MD5_I
#undef MD5_H
#undef MD5_G
#undef MD5_F

} // namespace

TMD5::TMD5() { Restart(); }

void TMD5::Restart() {
  std::memcpy(state_, InitialState, sizeof state_);
  totalLength_ = 0;
  pendingLength_ = 0;
}

void TMD5::Add(const void *data, std::size_t length) {
  if (length == 0) {
    return;
  }
  const auto *bytes = static_cast<const std::uint8_t *>(data);
  totalLength_ += length;
  if (pendingLength_ > 0) {
    const std::size_t take = std::min(length, sizeof pending_ - pendingLength_);
    std::memcpy(pending_ + pendingLength_, bytes, take);
    pendingLength_ += take;
    bytes += take;
    length -= take;
    if (pendingLength_ < sizeof pending_) {
      return;
    }
    Compress(state_, pending_, 1);
    pendingLength_ = 0;
  }
  // Whole blocks straight from the caller's memory.
  const std::size_t blocks = length / 64;
  Compress(state_, bytes, blocks);
  bytes += blocks * 64;
  length -= blocks * 64;
  std::memcpy(pending_, bytes, length);
  pendingLength_ = length;
}

TDigest TMD5::Finish() {
  // Padding: 0x80, zeros up to 56 mod 64, then the bit length as 64-bit little-endian.
  const std::uint64_t bitLength = totalLength_ * 8;
  std::uint8_t tail[128] = {0x80};
  const std::size_t padLength = (pendingLength_ < 56 ? 56 : 120) - pendingLength_;
  StoreLittleEndian(tail + padLength, static_cast<std::uint32_t>(bitLength));
  StoreLittleEndian(tail + padLength + 4, static_cast<std::uint32_t>(bitLength >> 32));
  Add(tail, padLength + 8);

  TDigest digest;
  for (int i = 0; i < 4; ++i) {
    StoreLittleEndian(digest.data() + 4 * i, state_[i]);
  }
  Restart();
  return digest;
}

TDigest DigestBytes(const void *buffer, std::size_t length) {
  TMD5 md5;
  md5.Add(buffer, length);
  return md5.Finish();
}

TDigest DigestText(std::string_view text) { return DigestBytes(text.data(), text.size()); }

bool SameDigest(const TDigest &a, const TDigest &b) {
  std::uint32_t wordsA[4];
  std::uint32_t wordsB[4];
  std::memcpy(wordsA, a.data(), sizeof wordsA);
  std::memcpy(wordsB, b.data(), sizeof wordsB);
  return wordsA[0] == wordsB[0] && wordsA[1] == wordsB[1] && wordsA[2] == wordsB[2] && wordsA[3] == wordsB[3];
}

} // namespace nexora

#pragma once

// Built-in Blowfish cipher (16 rounds) in CBC mode over 8-byte blocks.
// The context is a plain record; the caller owns and allocates it, these
// functions allocate nothing. A context keeps the running chaining value, so
// one context serves one buffer at a time and one thread at a time.

#include <cstddef>
#include <cstdint>

namespace nexora {

struct TBlowfishContext {
  std::uint8_t InitialChain[8]; // always zero
  std::uint8_t CurrentChain[8];
  std::uint32_t SBox[4][256];
  std::uint32_t P[18];
};

constexpr std::size_t BlowfishContextSize = 4184;

// Zeroes the context and runs the key schedule with `keyLength` bytes at `key`
// (bytes wrap modulo the key length; bytes beyond the 72nd are not used).
// Both chaining values end up zero.
// Raises std::invalid_argument when `key` is null or `keyLength` is 0.
void BlowfishInit(TBlowfishContext &context, const void *key, std::size_t keyLength);

// CBC encryption of the 8 bytes at `block`, in place: block ^= current chain,
// encipher, current chain := the ciphertext. Requires an initialised context.
void BlowfishEncryptBlock(TBlowfishContext &context, std::uint8_t *block);

// CBC decryption of the 8 bytes at `block`, in place: decipher, block ^= current
// chain, current chain := the ciphertext that came in. Requires an initialised context.
void BlowfishDecryptBlock(TBlowfishContext &context, std::uint8_t *block);

// Restarts the chain: current chaining value := initial chaining value.
void BlowfishReset(TBlowfishContext &context);

} // namespace nexora

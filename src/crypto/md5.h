#pragma once

// MD5 message digest (RFC 1321, no deviation): 16-byte result in the standard byte order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nexora {

using TDigest = std::array<std::uint8_t, 16>;

// MD5 of exactly `length` bytes at `buffer` (`buffer` may be null when `length` is 0).
// Pure function; any thread.
TDigest DigestBytes(const void *buffer, std::size_t length);

// MD5 of the text's characters, one byte each, with no length prefix and no terminator.
// Pure function; any thread.
TDigest DigestText(std::string_view text);

// True when both digests hold the same 16 bytes (compared as four 32-bit words).
bool SameDigest(const TDigest &a, const TDigest &b);

// Incremental MD5: Add the message in pieces of any size, then Finish.
// Owns its 64-byte block buffer; allocates nothing. One thread at a time per object.
class TMD5 {
public:
  TMD5();

  // Appends `length` bytes at `data` (`data` may be null when `length` is 0).
  void Add(const void *data, std::size_t length);

  // Pads, returns the digest of everything added since construction or the
  // previous Finish, and starts over with an empty message.
  TDigest Finish();

private:
  void Restart();

  std::uint32_t state_[4];
  std::uint64_t totalLength_; // bytes added so far
  std::uint8_t pending_[64];  // start of an incomplete block
  std::size_t pendingLength_;
};

} // namespace nexora

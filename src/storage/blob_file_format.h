#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nexora {

// The BLOB file: a 512-byte header, then blocks 1, 2, ... of the table's BLOB block size B.
// Block n starts at BlobHeaderSize + (n - 1) * B. All integers are little-endian.

// --- header (enciphered as one buffer when the table is encrypted)
inline constexpr std::int32_t BlobHeaderSize = 512;
inline constexpr std::size_t BlobChangeCounterOffset = 0; // 4, unsigned: incremented on every header write
inline constexpr std::size_t BlobVersionOffset = 8;       // 1, unsigned
inline constexpr std::size_t BlobSignatureOffset = 9;     // 16: MD5 digest of the engine signature text
inline constexpr std::size_t BlobFreeBlockOffset = 25;    // 4, signed: most recently freed block, 0 when none
inline constexpr std::size_t BlobNextBlockOffset = 29;    // 4, signed: block count + 1
inline constexpr std::size_t BlobPendingOffset = 33;      // 1: pending-changes flag as it stood when written

// --- block size limits (the data header's BLOB block size)
inline constexpr std::int32_t BlobMinBlockSize = 64;
inline constexpr std::int32_t BlobMaxBlockSize = 65536;

// --- block header (the block is enciphered whole, header included)
inline constexpr std::int32_t BlockHeaderSize = 18;
inline constexpr std::size_t BlockPreviousOffset = 0;   // 4, signed: previous block of the chain, 0 in the first
inline constexpr std::size_t BlockNextOffset = 4;       // 4, signed: next block of the chain or of the free list
inline constexpr std::size_t BlockBytesUsedOffset = 8;  // 2, unsigned: value bytes held in this block
inline constexpr std::size_t BlockBlobIDOffset = 10;    // 4, signed: BLOB ID of the value
inline constexpr std::size_t BlockValueSizeOffset = 14; // 4, signed: stored size of the value, first block only

// --- cache geometry of the BLOB file
inline constexpr std::int32_t BlobScanDepth = 4;
inline constexpr std::int32_t BlobGrowthStep = 32;
inline constexpr std::int32_t BlobBufferOverhead = 56;

} // namespace nexora

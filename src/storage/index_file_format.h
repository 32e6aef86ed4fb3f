#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nexora {

// The index file: a 512-byte header, the 24576-byte index definition area (32 slots of
// 768 bytes), then pages 1, 2, ... of the index page size P. Page n starts at
// IndexFirstPageOffset + (n - 1) * P. Integers are little-endian; keys are big-endian
// byte-comparable forms.

// --- header (enciphered as one buffer when the table is encrypted)
inline constexpr std::int32_t IndexHeaderSize = 512;
inline constexpr std::size_t IndexChangeCounterOffset = 0;   // 4, unsigned: incremented on every header write
inline constexpr std::size_t IndexVersionOffset = 8;         // 1, unsigned
inline constexpr std::size_t IndexSignatureOffset = 9;       // 16: MD5 digest of the engine signature text
inline constexpr std::size_t IndexFreePageOffset = 25;       // 4, signed: most recently freed page, 0 when none
inline constexpr std::size_t IndexNextPageOffset = 29;       // 4, signed: page count + 1
inline constexpr std::size_t IndexSecondaryCountOffset = 33; // 1, unsigned: 0 to 30
inline constexpr std::size_t IndexRootsOffset = 34;          // 32 x 4, signed: root page of slot i at 34 + 4i
inline constexpr std::size_t IndexDataRootsOffset = 162;     // 32 x 4, signed: data root page of slot i
inline constexpr std::size_t IndexPendingOffset = 290;       // 1: pending-changes flag as it stood when written

// --- definition area (read, written and enciphered as one buffer)
inline constexpr std::int32_t IndexSlotCount = 32;
inline constexpr std::int32_t IndexDefSize = 768;
inline constexpr std::int64_t IndexDefsOffset = 512;
inline constexpr std::int32_t IndexDefsAreaSize = IndexSlotCount * IndexDefSize;          // 24576
inline constexpr std::int64_t IndexFirstPageOffset = IndexDefsOffset + IndexDefsAreaSize; // 25088

// --- slots
inline constexpr std::int32_t PrimaryIndexSlot = 0;
inline constexpr std::int32_t MaxSecondaryIndexes = 30;
inline constexpr std::int32_t TextIndexSlot = 31;
inline constexpr std::string_view TextIndexName = "Sys Text";
// The name errors carry for the primary index, whose stored name is empty.
inline constexpr std::string_view PrimaryIndexErrorName = "Primary";

// --- page size limits (data header offset 59)
inline constexpr std::int32_t IndexMinPageSize = 1024;
inline constexpr std::int32_t IndexMaxPageSize = 16384;

// --- page header (the page is enciphered whole, header included)
inline constexpr std::int32_t PageHeaderSize = 13;
inline constexpr std::size_t PageKindOffset = 0;        // 1, unsigned: TPageKind
inline constexpr std::size_t PageKeyCountOffset = 1;    // 2, unsigned
inline constexpr std::size_t PagePreviousOffset = 3;    // 4, signed: previous page on the level, 0 for the first
inline constexpr std::size_t PageNextOffset = 7;        // 4, signed: next page on the level or of the free list
inline constexpr std::size_t PagePackedSizeOffset = 11; // 2, unsigned: packed entry bytes of compressed leaves

// Page kinds as stored at offset 0.
enum class TPageKind : std::uint8_t { RootBranch = 0, Branch = 1, Leaf = 2, RootLeaf = 3, Raw = 4 };

// --- keys
inline constexpr std::int32_t MaxKeyLength = 4106;
inline constexpr std::int32_t MaxKeyFields = 128;
// Every page holds at least this many keys.
inline constexpr std::int32_t MinKeysPerPage = 3;
// Bytes a non-unique index appends to every key: the record ID in key form.
inline constexpr std::int32_t KeyRecordIDSize = 4;
// Largest count a lead or trail byte of a compressed leaf entry may hold.
inline constexpr std::int32_t MaxPackedRunLength = 254;
// Key compression byte of an index definition.
enum TKeyCompression : std::uint8_t { icNone = 0, icDuplicateByte = 1, icTrailingByte = 2, icFull = 3 };

// --- text index keys (68 bytes): 1, the field number (2, big-endian), the word (61,
// zero-terminated), the record ID in key form (4)
inline constexpr std::int32_t TextKeyLength = 68;
inline constexpr std::size_t TextKeyFieldOffset = 1;
inline constexpr std::size_t TextKeyWordOffset = 3;
inline constexpr std::int32_t TextKeyWordField = 61;
inline constexpr std::size_t TextKeyRecordIDOffset = 64;
inline constexpr std::int32_t MaxTextWordLength = 60;

// --- cache geometry of the index file
inline constexpr std::int32_t IndexScanDepth = 2;
inline constexpr std::int32_t IndexGrowthStep = 4;
inline constexpr std::int32_t IndexBufferOverhead = 56;
// Deepest tree a walk accepts.
inline constexpr std::int32_t MaxTreeDepth = 64;

} // namespace nexora

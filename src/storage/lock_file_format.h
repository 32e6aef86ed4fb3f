#pragma once

#include <cstdint>

namespace nexora {

// The lock file of a database directory (all integers little-endian):
//   offset 0  change counter, signed 32-bit; moves on every rewrite of the list, from
//             2,147,483,647 back to 1
//   offset 4  list size S, signed 32-bit: 4 + the sum over the entries of (1 + name length)
//   offset 8  the entries, back to back in slot order: name length n (1 byte), n bytes of
//             the table name (without path and extension)
// Entry i (from 1) is the table with slot i; entries are only ever appended. Everything
// about who uses the database lives in byte-range locks far beyond these bytes.
namespace LockFile {
inline constexpr std::int64_t CounterOffset = 0;
inline constexpr std::int64_t ListSizeOffset = 4;
inline constexpr std::int64_t EntriesOffset = 8;
// The list size counts its own 4 bytes.
inline constexpr std::int32_t ListSizeBase = 4;
inline constexpr std::int32_t MaxCounter = 2'147'483'647;
// Table names in the list are cut to this many characters.
inline constexpr std::size_t MaxTableNameLength = 60;
// How often, and how many milliseconds apart, an existing lock file is tried.
inline constexpr int OpenAttempts = 11;
inline constexpr int OpenAttemptWait = 100;
// The guard of the table list uses fixed settings, not the engine's.
inline constexpr std::uint32_t GuardRetryCount = 32768;
inline constexpr std::uint16_t GuardWaitTime = 3;

constexpr std::int32_t NextCounter(std::int32_t counter) { return counter >= MaxCounter ? 1 : counter + 1; }
} // namespace LockFile

} // namespace nexora

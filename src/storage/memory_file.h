#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/base_file.h"

namespace nexora {

// A TBaseFile held in memory, for the tables of the in-memory database. Byte p lives at
// offset p mod ChunkSize of chunk p div ChunkSize. The allocation only grows (new chunks
// zeroed); it is released when the file is created anew or freed. Range locks are the
// in-process ones. A write whose end would pass the engine's MaxTableFileSize fails with
// EFBIG, and one that cannot be allocated with ENOMEM (-1 in both cases).
// Owns its chunks. Threads as TBaseFile: transfers under the caller's I/O lock.
class TMemoryFile : public TBaseFile {
public:
  static constexpr std::int64_t ChunkSize = 65536;

  TMemoryFile(TDataEngine &engine, std::string name);
  // Drops the content, then adds a handle.
  std::int32_t CreateHandle() override;
  std::int32_t Read(std::int32_t id, void *buffer, std::int32_t count) override;
  std::int32_t Write(std::int32_t id, const void *buffer, std::int32_t count) override;

  // Bytes allocated, a multiple of ChunkSize.
  std::int64_t AllocatedSize() const { return static_cast<std::int64_t>(chunks_.size()) * ChunkSize; }

private:
  using TChunk = std::array<std::uint8_t, ChunkSize>;
  // Grows the allocation to cover end bytes; false (errno set) when it cannot.
  bool Reserve(std::int64_t end);

  std::vector<std::unique_ptr<TChunk>> chunks_;
};

} // namespace nexora

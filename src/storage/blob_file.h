#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "storage/blob_block.h"
#include "storage/blob_file_format.h"
#include "storage/buffered_file.h"

namespace nexora {

// What the BLOB file needs from the table's data file; the table object implements it.
class TBlobFileContext {
public:
  virtual ~TBlobFileContext() = default;
  // The BLOB block size B of the data header (offset 51).
  virtual std::int32_t BlobBlockSize() const = 0;
};

// Outcome of reading a value: Changed when a block carries another BLOB ID (or the
// cache reports that the table changed under the cursor): the value was rewritten
// since the record image was read, and the caller re-reads the record.
enum class TBlobReadResult : std::uint8_t { Read, Changed };

// A table's BLOB file: the 512-byte header and the blocks holding the chains of BLOB
// values, with the LIFO list of free blocks. Owns its header image and, through the
// buffered file, the block cache. The block size is taken from the context at create and
// open and stays fixed until the next one; the context and the cache owner must outlive
// the object. Used by the thread of the session that owns the table.
//
// Errors (with the table and database names): 12035/12036 for a foreign version, 12036
// for a foreign signature, 8961 for an invalid free-block head or block size, 8963 for a
// damaged chain (bad block number, loop), 8711 for a chain shorter than its value,
// 10029 for a value too long to store, 15001/15002 from compression, 9479 when the file is
// full, and the file layer's read and write errors.
class TBlobFile : public TBufferedFile {
public:
  TBlobFile(TDataEngine &engine, std::string name, bool inMemory, TBufferCacheOwner &owner,
            const TBlobFileContext &context);

  // Creates the file: header version 6, the engine's signature digest, next block 1,
  // changes pending (written by the next WriteHeader).
  void CreateFile() override;
  // Opens the file, reads and checks the header and sizes the cache; closed again when
  // the header is refused.
  void OpenFile() override;
  // Frees the cache (unwritten blocks are lost) and closes.
  void CloseFile() override;

  std::unique_ptr<TBuffer> NewBuffer() override;
  [[noreturn]] void RaiseCorrupt() const override;
  void AddBufferCount() override;
  std::int32_t GetMaxBuffers() const override;
  std::int32_t GetBufferSize() const override { return blockSize_; }
  std::int32_t GetPayloadSize() const override { return blockSize_ - BlockHeaderSize; }
  std::int64_t GetFirstOffset() const override { return BlobHeaderSize; }
  std::int32_t GetBufferCount() const override { return NextBlockNumber() - 1; }
  std::uint32_t GetChangeCounter() const override;
  std::int32_t GetScanDepth() const override { return BlobScanDepth; }
  std::int32_t GetGrowthStep() const override { return BlobGrowthStep; }
  // The blocks a chain read still needs, at most the default read-ahead.
  std::int32_t GetReadAhead(TDataCursor *cursor, TReadDirection direction) override;
  // Reads the 512-byte header, deciphered, and clears the pending-changes flag.
  void ReadHeader() override;
  // When forced or pending: counts the write, writes the header (enciphered), marks the
  // table written and clears the flag. Whether it wrote.
  bool WriteHeader(bool force) override;
  // Counts a header change in memory and marks the table written.
  void TouchHeader() override;
  // Truncates after the header, frees the cache and resets the header: version 6, change
  // counter 0, next block 1, no free block, changes pending.
  void EmptyFile() override;
  // 8961 unless the free-block head is valid.
  void VerifyStructure() override;
  // Version and signature: 12035 for an older version, 12036 for a newer one or a
  // foreign signature.
  void CheckHeader() override;
  bool ReloadHeader() override;

  // --- values
  // Reads the value whose chain starts at firstBlock (0: empty) and carries blobID into
  // value, decompressed when compressionLevel is not 0.
  TBlobReadResult ReadValue(TDataCursor *cursor, std::int32_t firstBlock, std::int32_t blobID,
                            std::uint8_t compressionLevel, std::vector<std::uint8_t> &value);
  // Stores value under blobID, compressed when compressionLevel is not 0, reusing the
  // chain that starts at firstBlock (0: none), extending it or freeing what is left of
  // it. Returns the new first block, 0 for an empty value (the old chain is then freed).
  std::int32_t WriteValue(std::int32_t firstBlock, std::int32_t blobID, std::span<const std::uint8_t> value,
                          std::uint8_t compressionLevel);
  // Gives every block of the chain from firstBlock the BLOB ID and pushes it onto the
  // free list, in chain order (the last block ends up at the head). The chain is checked
  // whole before anything changes.
  void FreeChain(std::int32_t firstBlock, std::int32_t blobID);

  // --- header
  // The free-block head, or the next block number when no block is free.
  std::int32_t GetFreeBlock() const;
  void SetFreeBlock(std::int32_t block);
  std::int32_t NextBlockNumber() const;
  // The header as it stands in memory, in clear.
  const std::array<std::uint8_t, BlobHeaderSize> &HeaderImage() const { return header_; }

private:
  friend class TBlock;
  using TBlockSet = std::unordered_set<std::int32_t>;

  // Block n of a chain, pinned: 8963 unless 1 <= n < next block number and n was not yet
  // seen by this walk. Null when the table changed under the cursor.
  TBlock *PinChainBlock(TDataCursor *cursor, std::int32_t n, TBlockSet &seen, bool readAhead);
  // The free-list head or a new block at the end, pinned, header and payload zeroed.
  TBlock *AllocateBlock(TBlockSet &seen);
  void FreeBlock(TBlock &block);
  // The blocks of the chain from first, checked; blocks already in seen count as a loop.
  std::vector<std::int32_t> CollectChain(std::int32_t first, TBlockSet &seen);
  void FreeBlocks(const std::vector<std::int32_t> &blocks, std::int32_t blobID);
  bool IsValidBlock(std::int32_t n) const;
  // Takes the block size from the context: 8961 outside 64 to 65536.
  void TakeBlockSize();
  void SetHeaderInt(std::size_t offset, std::int32_t value);
  std::int32_t HeaderInt(std::size_t offset) const;
  void *Cipher() const { return CacheOwner().CryptoContext(); }
  // A B-byte area for deciphering a block image before it is split.
  std::uint8_t *ImageArea();

  const TBlobFileContext &context_;
  std::int32_t blockSize_ = BlobMinBlockSize;
  std::array<std::uint8_t, BlobHeaderSize> header_{};
  // Blocks the chain read in progress still needs; 0 outside a read.
  std::int32_t blocksNeeded_ = 0;
  std::vector<std::uint8_t> imageArea_;
};

} // namespace nexora

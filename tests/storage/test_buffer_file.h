#pragma once

#include <cstring>
#include <string>

#include "engine/data_engine.h"
#include "storage/buffered_file.h"

namespace nexora {

// A table owner whose answers the tests set.
class TTestCacheOwner : public TBufferCacheOwner {
public:
  void *CryptoContext() const override { return nullptr; }
  bool InTransaction() const override { return inTransaction; }
  bool OpenedExclusively() const override { return exclusive; }
  bool WrittenSinceFlush() const override { return written; }
  void MarkWritten() override {
    written = true;
    ++markedWritten;
  }
  bool ForceFlush() const override { return forceFlush; }
  bool StrictChangeDetection() const override { return strictChangeDetection; }
  bool TableChangedFor(TDataCursor *) override { return tableChanged; }

  bool inTransaction = false;
  bool exclusive = false;
  bool written = false;
  bool forceFlush = false;
  bool strictChangeDetection = false;
  bool tableChanged = false;
  int markedWritten = 0;
};

// A small file kind for the cache: a 64-byte header whose first four bytes hold the
// buffer count, then buffers of a chosen size. Its cache limit and growth step are set
// by the test.
class TTestBufferFile : public TBufferedFile {
public:
  static constexpr std::int64_t HeaderSize = 64;

  // A payload below the buffer size makes the kind keep only the start of each image,
  // as kinds with a buffer header do.
  TTestBufferFile(TDataEngine &engine, const std::string &path, TBufferCacheOwner &owner, std::int32_t bufferSize,
                  std::int32_t payloadSize = 0)
      : TBufferedFile(engine, path, false, owner), bufferSize_(bufferSize),
        payloadSize_(payloadSize > 0 ? payloadSize : bufferSize) {}

  [[noreturn]] void RaiseCorrupt() const override { RaiseError(NEXORA_FILECORRUPT); }
  void AddBufferCount() override {
    ++count_;
    headerChanged_ = true;
  }
  std::int32_t GetMaxBuffers() const override {
    return maxBuffers > 0 ? maxBuffers
                          : CacheLimit(Engine().Settings().MaxTableDataBufferSize,
                                       Engine().Settings().MaxTableDataBufferCount, 36);
  }
  std::int32_t GetBufferSize() const override { return bufferSize_; }
  std::int32_t GetPayloadSize() const override { return payloadSize_; }
  std::int64_t GetFirstOffset() const override { return HeaderSize; }
  std::int32_t GetBufferCount() const override { return count_; }
  std::uint32_t GetChangeCounter() const override { return 0; }
  std::int32_t GetScanDepth() const override { return 4; }
  std::int32_t GetGrowthStep() const override { return growthStep; }
  std::int32_t GetReadAhead(TDataCursor *, TReadDirection) override { return readAhead; }
  void ReadHeader() override {
    std::uint8_t header[HeaderSize] = {};
    BeginIO();
    Seek(0, 0);
    ReadBuffer(header, HeaderSize, false);
    EndIO();
    std::memcpy(&count_, header, sizeof count_);
  }
  bool WriteHeader(bool force) override {
    if (!force && !headerChanged_) {
      return false;
    }
    std::uint8_t header[HeaderSize] = {};
    std::memcpy(header, &count_, sizeof count_);
    BeginIO();
    Seek(0, 0);
    WriteBuffer(header, HeaderSize);
    EndIO();
    headerChanged_ = false;
    return true;
  }
  void TouchHeader() override { headerChanged_ = true; }
  void EmptyFile() override {
    TBufferedFile::EmptyFile();
    count_ = 0;
    headerChanged_ = true;
  }
  void VerifyStructure() override {}
  void CheckHeader() override {}
  bool ReloadHeader() override {
    ReadHeader();
    return false;
  }

  void SetBufferCount(std::int32_t count) { count_ = count; }

  std::int32_t maxBuffers = 0;
  std::int32_t growthStep = 4;
  std::int32_t readAhead = 1;

private:
  std::int32_t bufferSize_;
  std::int32_t payloadSize_;
  std::int32_t count_ = 0;
  bool headerChanged_ = false;
};

} // namespace nexora

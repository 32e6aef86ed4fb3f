// The buffer cache beside the system: the cost of a cache hit, and a forward scan of a
// 256 MiB file through GetBuffer with read-ahead against a plain pread loop over the same
// file in the same run (the file stays in the page cache after the first pass).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "test_buffer_file.h"

namespace {

using namespace nexora;

constexpr std::int32_t BufferSize = 4096;
constexpr std::int64_t FileSize = 256LL << 20;
constexpr std::int32_t BufferCount = static_cast<std::int32_t>((FileSize - TTestBufferFile::HeaderSize) / BufferSize);
constexpr std::int32_t CacheBuffers = 64;
constexpr std::int32_t ReadAhead = CacheBuffers / 2;

const std::string &ScanFile() {
  static const std::string path = [] {
    std::string file = (std::filesystem::temp_directory_path() / "nexora-cache-bench.dat").string();
    std::vector<std::uint8_t> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) {
      chunk[i] = static_cast<std::uint8_t>(i * 31);
    }
    std::memcpy(chunk.data(), &BufferCount, sizeof BufferCount);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    for (std::int64_t written = 0; written < FileSize; written += static_cast<std::int64_t>(chunk.size())) {
      if (::pwrite(fd, chunk.data(), chunk.size(), written) != static_cast<ssize_t>(chunk.size())) {
        std::abort();
      }
      chunk[0] = 0;
    }
    ::close(fd);
    std::atexit([] { std::filesystem::remove(std::filesystem::temp_directory_path() / "nexora-cache-bench.dat"); });
    return file;
  }();
  return path;
}

struct TOpenScanFile {
  TDataEngine engine;
  TTestCacheOwner owner;
  TTestBufferFile file{engine, ScanFile(), owner, BufferSize};
  TOpenScanFile() {
    file.OpenFile();
    file.ReadHeader();
    file.maxBuffers = CacheBuffers;
    file.readAhead = ReadAhead;
    file.ResetCache();
  }
};

void CacheHit(benchmark::State &state) {
  TOpenScanFile open;
  // Eight buffers in use, asked for in turn: hits through the recent list and the search.
  for (std::int32_t n = 1; n <= 8; ++n) {
    open.file.ReleaseBuffer(open.file.GetBuffer(nullptr, 0, n, false, TReadDirection::None));
  }
  std::int32_t n = 0;
  for (auto _ : state) {
    TBuffer *buffer = open.file.GetBuffer(nullptr, 0, n % 8 + 1, false, TReadDirection::None);
    benchmark::DoNotOptimize(buffer->Data());
    open.file.ReleaseBuffer(buffer);
    ++n;
  }
}

void CacheForwardScan(benchmark::State &state) {
  TOpenScanFile open;
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (std::int32_t n = 1; n <= BufferCount; ++n) {
      TBuffer *buffer = open.file.GetBuffer(nullptr, 0, n, true, TReadDirection::Forward);
      sum += buffer->Data()[7];
      open.file.ReleaseBuffer(buffer);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * BufferCount * BufferSize);
}

// The same scan as plain preads of the same runs into one buffer.
void PreadForwardScan(benchmark::State &state) {
  const int fd = ::open(ScanFile().c_str(), O_RDONLY);
  std::vector<std::uint8_t> run(static_cast<std::size_t>(ReadAhead) * BufferSize);
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (std::int64_t offset = TTestBufferFile::HeaderSize; offset < FileSize;
         offset += static_cast<std::int64_t>(run.size())) {
      const ssize_t read = ::pread(fd, run.data(), run.size(), offset);
      for (ssize_t at = 7; at < read; at += BufferSize) {
        sum += run[static_cast<std::size_t>(at)];
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * BufferCount * BufferSize);
}

// A plain loop reading one buffer per pread, as a reader without a cache would.
void PreadPerBufferScan(benchmark::State &state) {
  const int fd = ::open(ScanFile().c_str(), O_RDONLY);
  std::vector<std::uint8_t> buffer(BufferSize);
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (std::int64_t offset = TTestBufferFile::HeaderSize; offset + BufferSize <= FileSize; offset += BufferSize) {
      if (::pread(fd, buffer.data(), buffer.size(), offset) == BufferSize) {
        sum += buffer[7];
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * BufferCount * BufferSize);
}

} // namespace

BENCHMARK(CacheHit);
BENCHMARK(PreadPerBufferScan)->Unit(benchmark::kMillisecond);
BENCHMARK(PreadForwardScan)->Unit(benchmark::kMillisecond);
BENCHMARK(CacheForwardScan)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// The engine's Compress and Decompress on BLOB-like values, beside zlib's own one-call
// compress2/uncompress on the same bytes as the reference.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "engine/data_engine.h"

namespace {

using nexora::TDataEngine;
using TBytes = std::vector<std::uint8_t>;

constexpr int Level = 6;

// Memo-like text with varying numbers: compresses about as well as typical BLOB text.
TBytes BlobLike(std::size_t length) {
  std::mt19937 generator(42);
  const char *words[] = {"customer ", "order ", "shipped ", "invoice ", "Berlin ", "pending ", "total: "};
  std::string text;
  while (text.size() < length) {
    text += words[generator() % 7];
    text += std::to_string(generator() % 100000);
    text += (generator() % 9 == 0) ? "\n" : " ";
  }
  return TBytes(text.begin(), text.begin() + static_cast<long>(length));
}

TDataEngine &Engine() {
  static TDataEngine engine;
  return engine;
}

void EngineCompress(benchmark::State &state) {
  const TBytes value = BlobLike(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Engine().Compress(value.data(), static_cast<std::int32_t>(value.size()), Level));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void ZlibCompress2(benchmark::State &state) {
  const TBytes value = BlobLike(static_cast<std::size_t>(state.range(0)));
  TBytes out(compressBound(static_cast<uLong>(value.size())));
  for (auto _ : state) {
    uLongf outLength = out.size();
    compress2(out.data(), &outLength, value.data(), value.size(), Level);
    benchmark::DoNotOptimize(outLength);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void EngineDecompress(benchmark::State &state) {
  const TBytes value = BlobLike(static_cast<std::size_t>(state.range(0)));
  const TBytes packed = Engine().Compress(value.data(), static_cast<std::int32_t>(value.size()), Level);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Engine().Decompress(packed.data(), static_cast<std::int32_t>(packed.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
  state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(value.size());
}

void ZlibUncompress(benchmark::State &state) {
  const TBytes value = BlobLike(static_cast<std::size_t>(state.range(0)));
  const TBytes packed = Engine().Compress(value.data(), static_cast<std::int32_t>(value.size()), Level);
  // The reference knows the exact size in advance; the engine has to grow its buffer.
  TBytes out(value.size());
  for (auto _ : state) {
    uLongf outLength = out.size();
    uncompress(out.data(), &outLength, packed.data(), packed.size());
    benchmark::DoNotOptimize(outLength);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(EngineCompress)->Arg(4096)->Arg(65536)->Arg(1 << 20);
BENCHMARK(ZlibCompress2)->Arg(4096)->Arg(65536)->Arg(1 << 20);
BENCHMARK(EngineDecompress)->Arg(4096)->Arg(65536)->Arg(1 << 20);
BENCHMARK(ZlibUncompress)->Arg(4096)->Arg(65536)->Arg(1 << 20);

BENCHMARK_MAIN();

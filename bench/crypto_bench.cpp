// Our MD5 and Blowfish-CBC against OpenSSL's EVP implementations, in one run.
// After the runs, prints throughput ratios ours/OpenSSL from CPU time per iteration
// (which other load on the machine disturbs least), using the median when repeated.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/blowfish.h"
#include "crypto/md5.h"

namespace {

using nexora::TBlowfishContext;

constexpr std::size_t BufferSizes[] = {64, 8192};
constexpr std::uint8_t Key[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                  0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87};

std::vector<std::uint8_t> TestBuffer(std::size_t size) {
  std::vector<std::uint8_t> buffer(size);
  for (std::size_t i = 0; i < size; ++i)
    buffer[i] = static_cast<std::uint8_t>(i * 131 + 7);
  return buffer;
}

void OurMD5(benchmark::State &state, std::size_t size) {
  const std::vector<std::uint8_t> buffer = TestBuffer(size);
  for (auto _ : state) {
    benchmark::DoNotOptimize(nexora::DigestBytes(buffer.data(), buffer.size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void OpenSslMD5(benchmark::State &state, std::size_t size) {
  const std::vector<std::uint8_t> buffer = TestBuffer(size);
  EVP_MD *md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  for (auto _ : state) {
    EVP_Digest(buffer.data(), buffer.size(), digest, &digestLength, md5, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_free(md5);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void OurBlowfishCbc(benchmark::State &state, std::size_t size) {
  std::vector<std::uint8_t> buffer = TestBuffer(size);
  auto context = std::make_unique<TBlowfishContext>();
  nexora::BlowfishInit(*context, Key, sizeof Key);
  for (auto _ : state) {
    for (std::size_t offset = 0; offset + 8 <= size; offset += 8) {
      nexora::BlowfishEncryptBlock(*context, buffer.data() + offset);
    }
    nexora::BlowfishReset(*context);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void OpenSslBlowfishCbc(benchmark::State &state, std::size_t size) {
  std::vector<std::uint8_t> buffer = TestBuffer(size);
  EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, "BF-CBC", nullptr);
  if (cipher == nullptr) {
    state.SkipWithError("BF-CBC is not available (legacy provider missing)");
    return;
  }
  EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
  const unsigned char zeroInitialValue[8] = {};
  EVP_EncryptInit_ex(context, cipher, nullptr, nullptr, nullptr);
  EVP_CIPHER_CTX_set_key_length(context, sizeof Key);
  EVP_EncryptInit_ex(context, nullptr, nullptr, Key, zeroInitialValue);
  EVP_CIPHER_CTX_set_padding(context, 0);
  int outLength = 0;
  for (auto _ : state) {
    EVP_EncryptInit_ex(context, nullptr, nullptr, nullptr, zeroInitialValue);
    EVP_EncryptUpdate(context, buffer.data(), &outLength, buffer.data(), static_cast<int>(size));
    benchmark::DoNotOptimize(buffer.data());
  }
  EVP_CIPHER_CTX_free(context);
  EVP_CIPHER_free(cipher);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Console output plus the CPU time per iteration of every benchmark: the median
// aggregate when the runs were repeated, else the single run.
class TTimeReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median))
        continue;
      // A run's median arrives after its repetitions and replaces them.
      times_[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Throughput of `ours` over that of `reference`, or 0 when either did not run.
  double Ratio(const std::string &ours, const std::string &reference) const {
    const auto oursTime = times_.find(ours);
    const auto referenceTime = times_.find(reference);
    if (oursTime == times_.end() || referenceTime == times_.end())
      return 0.0;
    return referenceTime->second / oursTime->second;
  }

private:
  std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char **argv) {
  // Blowfish lives in OpenSSL's legacy provider; keep the default one for MD5.
  OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER *standard = OSSL_PROVIDER_load(nullptr, "default");

  struct Pair {
    const char *name;
    void (*ours)(benchmark::State &, std::size_t);
    void (*reference)(benchmark::State &, std::size_t);
  };
  const Pair pairs[] = {{"MD5", OurMD5, OpenSslMD5}, {"BlowfishCBC", OurBlowfishCbc, OpenSslBlowfishCbc}};
  for (const Pair &pair : pairs) {
    for (std::size_t size : BufferSizes) {
      const std::string suffix = "/" + std::to_string(size);
      benchmark::RegisterBenchmark((std::string(pair.name) + "/Nexora" + suffix).c_str(), pair.ours, size);
      benchmark::RegisterBenchmark((std::string(pair.name) + "/OpenSSL" + suffix).c_str(), pair.reference, size);
    }
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  TTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nThroughput ratio ours/OpenSSL (CPU time):\n");
  for (const Pair &pair : pairs) {
    for (std::size_t size : BufferSizes) {
      const std::string suffix = "/" + std::to_string(size);
      const double ratio =
          reporter.Ratio(std::string(pair.name) + "/Nexora" + suffix, std::string(pair.name) + "/OpenSSL" + suffix);
      std::printf("  %-12s %5zu bytes: %.2f\n", pair.name, size, ratio);
    }
  }

  OSSL_PROVIDER_unload(standard);
  OSSL_PROVIDER_unload(legacy);
  return 0;
}

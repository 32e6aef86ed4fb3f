#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "engine/data_engine.h"
#include "engine/engine_error.h"
#include "test_support/raised_code.h"

namespace nexora {
namespace {

using TBytes = std::vector<std::uint8_t>;

// Text-like BLOB content: repetitive, so it compresses well.
TBytes TextLike(std::size_t length) {
  const std::string phrase = "Invoice line: 12 x widget @ 3.50 EUR; shipped to Berlin. ";
  TBytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(phrase[i % phrase.size()] + (i / 997) % 3);
  }
  return bytes;
}

TBytes Random(std::size_t length, unsigned seed) {
  std::mt19937 generator(seed);
  TBytes bytes(length);
  for (auto &b : bytes) {
    b = static_cast<std::uint8_t>(generator());
  }
  return bytes;
}

using testing::RaisedCode;

class Compression : public ::testing::Test {
protected:
  TBytes Compress(const TBytes &input, std::uint8_t level) {
    return engine_.Compress(input.data(), static_cast<std::int32_t>(input.size()), level);
  }
  TBytes Decompress(const TBytes &input) {
    return engine_.Decompress(input.data(), static_cast<std::int32_t>(input.size()));
  }
  TDataEngine engine_;
};

TEST_F(Compression, RoundTripsAcrossSizesAndLevels) {
  struct TCase {
    TBytes Input;
    std::uint8_t Level;
  } cases[] = {
      {TextLike(1), 6},  {TextLike(255), 1},   {TextLike(4096), 9},   {TextLike(200000), 6},
      {Random(1, 1), 6}, {Random(1000, 2), 6}, {Random(70000, 3), 9}, {Random(4096, 4), 1},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Input.size());
    const TBytes packed = Compress(c.Input, c.Level);
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x78) << "a zlib stream header";
    EXPECT_EQ((packed[0] * 256 + packed[1]) % 31, 0) << "zlib header check bits";
    EXPECT_EQ(Decompress(packed), c.Input);
  }
}

TEST_F(Compression, TextShrinksAndIncompressibleDataGrowsTheBuffer) {
  const TBytes text = TextLike(100000);
  EXPECT_LT(Compress(text, 6).size(), text.size() / 5);
  // Random data does not shrink: the first output guess is exceeded for tiny inputs
  // and the buffer grows until the stream ends.
  for (std::size_t size : {1u, 16u, 300u, 65536u}) {
    const TBytes noise = Random(size, static_cast<unsigned>(size));
    EXPECT_EQ(Decompress(Compress(noise, 9)), noise) << size;
  }
}

TEST_F(Compression, EmptyInputCompressesToAnEmptyStream) {
  const TBytes packed = Compress({}, 6);
  EXPECT_FALSE(packed.empty());
  EXPECT_TRUE(Decompress(packed).empty());
}

TEST_F(Compression, DamagedStreamsRaise15002) {
  const TBytes packed = Compress(TextLike(5000), 6);
  TBytes flipped = packed;
  flipped[packed.size() / 2] ^= 0x55;
  TBytes badChecksum = packed;
  badChecksum.back() ^= 0x01;
  const TBytes truncated(packed.begin(), packed.begin() + static_cast<long>(packed.size() / 2));
  const TBytes cases[] = {flipped, badChecksum, truncated, TBytes{}, TBytes{0x78}, TextLike(100)};
  for (const TBytes &damaged : cases) {
    EXPECT_EQ(RaisedCode([&] { Decompress(damaged); }), NEXORA_UNCOMPRESS) << damaged.size();
  }
}

TEST_F(Compression, InvalidLevelRaises15001) {
  EXPECT_EQ(RaisedCode([&] { Compress(TextLike(10), 10); }), NEXORA_COMPRESS);
}

TEST_F(Compression, ErrorsCarryTheMessageAndNoNames) {
  try {
    Decompress(TextLike(100));
    FAIL();
  } catch (const ENEXORAEngineError &error) {
    EXPECT_STREQ(error.what(), "NEXORA Engine Error # 15002 Error uncompressing data");
    EXPECT_EQ(error.TableName(), "");
  }
}

TEST_F(Compression, HooksReplaceTheBuiltInRoutines) {
  engine_.Hooks().Compress = [](const void *in, std::int32_t n, std::uint8_t level, TBytes &out) {
    const auto *bytes = static_cast<const std::uint8_t *>(in);
    out.assign(bytes, bytes + n);
    out.push_back(level);
  };
  engine_.Hooks().Decompress = [](const void *in, std::int32_t n, TBytes &out) {
    const auto *bytes = static_cast<const std::uint8_t *>(in);
    out.assign(bytes, bytes + n - 1);
  };
  const TBytes value = TextLike(10);
  TBytes packed = Compress(value, 4);
  EXPECT_EQ(packed.back(), 4);
  EXPECT_EQ(Decompress(packed), value);
}

TEST_F(Compression, AnyExceptionFromAHookBecomesTheEngineError) {
  engine_.Hooks().Compress = [](const void *, std::int32_t, std::uint8_t, TBytes &) { throw 42; };
  engine_.Hooks().Decompress = [](const void *, std::int32_t, TBytes &) { throw std::runtime_error("broken"); };
  EXPECT_EQ(RaisedCode([&] { Compress(TextLike(10), 6); }), NEXORA_COMPRESS);
  EXPECT_EQ(RaisedCode([&] { Decompress(TextLike(10)); }), NEXORA_UNCOMPRESS);
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "engine/data_engine.h"
#include "engine/engine_error.h"
#include "posix_copy_stream.h"

namespace nexora {
namespace {

using TBytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

TBytes TableLike(std::size_t length, unsigned seed) {
  std::mt19937 generator(seed);
  TBytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    // Mostly structured bytes with some noise, like records with numbers in them.
    bytes[i] = (i % 16 < 12) ? static_cast<std::uint8_t>('A' + i % 16) : static_cast<std::uint8_t>(generator());
  }
  return bytes;
}

void WriteFile(const fs::path &path, const TBytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TBytes ReadFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), {});
}

// The parsed layout of a compressed copy: its level and the length of each chunk.
struct TCopyLayout {
  bool HasMarker = false;
  std::uint8_t Level = 0;
  std::vector<std::int32_t> ChunkLengths;
  bool EndsExactly = false;
};

TCopyLayout ParseCopy(const TBytes &copy) {
  TCopyLayout layout;
  const TDigest marker = DigestText("NEXORA_COMP");
  if (copy.size() < 17 || !std::equal(marker.begin(), marker.end(), copy.begin())) {
    return layout;
  }
  layout.HasMarker = true;
  layout.Level = copy[16];
  std::size_t at = 17;
  while (at + 4 <= copy.size()) {
    const std::int32_t length = static_cast<std::int32_t>(copy[at] | copy[at + 1] << 8 | copy[at + 2] << 16 |
                                                          static_cast<std::uint32_t>(copy[at + 3]) << 24);
    layout.ChunkLengths.push_back(length);
    at += 4 + static_cast<std::size_t>(length);
  }
  layout.EndsExactly = at == copy.size();
  return layout;
}

class CompressedCopy : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/nexora-copy-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Copies the bytes with the level and restores them; returns the copy's bytes.
  TBytes CopyAndRestore(const TBytes &original, std::uint8_t level, int progressStep = 10,
                        const TCopyProgress &progress = {}) {
    WriteFile(dir_ / "source.dat", original);
    {
      TPosixCopyStream source((dir_ / "source.dat").string(), false);
      TPosixCopyStream copy((dir_ / "copy.bak").string(), true);
      engine_.CompressCopy(source, copy, level, progressStep, progress);
    }
    {
      TPosixCopyStream copy((dir_ / "copy.bak").string(), false);
      TPosixCopyStream restored((dir_ / "restored.dat").string(), true);
      engine_.DecompressCopy(copy, restored, progressStep, {});
    }
    EXPECT_EQ(ReadFile(dir_ / "restored.dat"), original);
    return ReadFile(dir_ / "copy.bak");
  }

  fs::path dir_;
  TDataEngine engine_;
};

TEST_F(CompressedCopy, ChunksFollowTheSourceReads) {
  struct TCase {
    std::size_t Size;
    std::size_t Chunks;
  } cases[] = {{0, 0}, {1, 1}, {65535, 1}, {65536, 1}, {65537, 2}, {131072, 2}, {200000, 4}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Size);
    const TBytes copy = CopyAndRestore(TableLike(c.Size, 7), 6);
    const TCopyLayout layout = ParseCopy(copy);
    EXPECT_TRUE(layout.HasMarker);
    EXPECT_EQ(layout.Level, 6);
    EXPECT_EQ(layout.ChunkLengths.size(), c.Chunks);
    EXPECT_TRUE(layout.EndsExactly);
  }
}

TEST_F(CompressedCopy, EveryChunkButTheLastHoldsFullReads) {
  const TBytes original = TableLike(150000, 3);
  const TBytes copy = CopyAndRestore(original, 9);
  const TCopyLayout layout = ParseCopy(copy);
  ASSERT_EQ(layout.ChunkLengths.size(), 3u);
  std::size_t at = 17;
  const std::size_t expectedSizes[] = {65536, 65536, 150000 - 131072};
  for (std::size_t i = 0; i < 3; ++i) {
    const TBytes chunk = engine_.Decompress(copy.data() + at + 4, layout.ChunkLengths[i]);
    EXPECT_EQ(chunk.size(), expectedSizes[i]);
    at += 4 + static_cast<std::size_t>(layout.ChunkLengths[i]);
  }
}

TEST_F(CompressedCopy, LevelZeroCopiesRawBytesAndReadsBack) {
  const TBytes original = TableLike(70000, 5);
  const TBytes copy = CopyAndRestore(original, 0);
  EXPECT_EQ(copy, original);
  EXPECT_FALSE(ParseCopy(copy).HasMarker);
}

TEST_F(CompressedCopy, ProgressStartsAtZeroStepsAndEndsAtHundred) {
  std::vector<int> reports;
  std::vector<std::string> names;
  CopyAndRestore(TableLike(65536 * 10, 9), 1, 25, [&](const std::string &name, int percent) {
    names.push_back(name);
    reports.push_back(percent);
  });
  EXPECT_EQ(reports, (std::vector<int>{0, 30, 60, 90, 100}));
  EXPECT_EQ(names.front(), (dir_ / "source.dat").string());
}

TEST_F(CompressedCopy, MembersOfAStreamAreSkippedAndRestoredByLength) {
  const TBytes first = TableLike(100000, 1);
  const TBytes second = TableLike(70000, 2);
  WriteFile(dir_ / "a.dat", first);
  WriteFile(dir_ / "b.dat", second);
  {
    TPosixCopyStream backup((dir_ / "backup").string(), true);
    TPosixCopyStream a((dir_ / "a.dat").string(), false);
    TPosixCopyStream b((dir_ / "b.dat").string(), false);
    engine_.CompressInto(a, backup, 5, 10, {});
    engine_.CompressInto(b, backup, 0, 10, {}); // a raw member after a compressed one
    engine_.CompressInto(a, backup, 5, 10, {});
  }
  TPosixCopyStream backup((dir_ / "backup").string(), false);
  engine_.SkipCompressed(backup, static_cast<std::int64_t>(first.size()));
  {
    TPosixCopyStream out((dir_ / "b.out").string(), true);
    engine_.DecompressFrom(backup, out, static_cast<std::int64_t>(second.size()), 10, {});
  }
  EXPECT_EQ(ReadFile(dir_ / "b.out"), second);
  std::vector<int> reports;
  {
    TPosixCopyStream out((dir_ / "a.out").string(), true);
    engine_.DecompressFrom(backup, out, static_cast<std::int64_t>(first.size()), 50,
                           [&](const std::string &, int percent) { reports.push_back(percent); });
  }
  EXPECT_EQ(ReadFile(dir_ / "a.out"), first);
  EXPECT_EQ(reports, (std::vector<int>{0, 66, 100}));
  EXPECT_EQ(backup.Position(), backup.Size());
}

TEST_F(CompressedCopy, DamagedChunksRaise15002) {
  const TBytes copy = CopyAndRestore(TableLike(100000, 4), 6);
  TBytes badLength = copy;
  badLength[17 + 3] = 0x7F; // first chunk claims nearly 2 GiB
  TBytes badData = copy;
  badData[17 + 4 + 10] ^= 0xFF;
  TBytes cutShort(copy.begin(), copy.end() - 10);
  for (const TBytes &damaged : {badLength, badData, cutShort}) {
    WriteFile(dir_ / "damaged.bak", damaged);
    TPosixCopyStream source((dir_ / "damaged.bak").string(), false);
    TPosixCopyStream out((dir_ / "out.dat").string(), true);
    try {
      engine_.DecompressCopy(source, out, 10, {});
      ADD_FAILURE() << "no error for a damaged copy";
    } catch (const ENEXORAEngineError &error) {
      EXPECT_EQ(error.ErrorCode(), NEXORA_UNCOMPRESS);
    }
  }
}

} // namespace
} // namespace nexora

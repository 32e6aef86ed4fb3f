#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#include "engine/data_engine.h"
#include "file_test_support.h"
#include "platform/os/posix_io.h"
#include "storage/engine_file.h"
#include "storage/engine_file_copy_stream.h"

namespace nexora {
namespace {

using testing::RaisedCode;
using testing::TBytes;

// A table file names its table in errors.
class TTableFile : public TEngineFile {
public:
  using TEngineFile::TEngineFile;
  std::string GetErrorName() const override { return "orders"; }
};

class EngineFileTest : public ::testing::Test {
protected:
  void TearDown() override { ClearOSFaults(); }

  testing::TTempDir dir_;
  TDataEngine engine_;
};

class EngineFileKindTest : public EngineFileTest, public ::testing::WithParamInterface<bool> {
protected:
  // A file of 100 bytes on disk or in memory.
  void MakeHundredBytes(TEngineFile &file) {
    file.CreateFile();
    const TBytes bytes = testing::Filled(100, 0x5A);
    file.WriteBuffer(bytes.data(), 100);
    file.Seek(0, 0);
  }
  std::string Name(const std::string &file) const { return GetParam() ? file : dir_.File(file); }
};

TEST_P(EngineFileKindTest, ShortReadRaisesUnlessAllowed) {
  TTableFile file(engine_, Name("hundred.dat"), GetParam());
  file.SetDatabaseName("/data");
  MakeHundredBytes(file);
  std::vector<std::uint8_t> buffer(512);
  try {
    file.ReadBuffer(buffer.data(), 512, false);
    ADD_FAILURE() << "short read accepted";
  } catch (const ENEXORAEngineError &error) {
    EXPECT_EQ(error.ErrorCode(), NEXORA_READERR);
    EXPECT_EQ(error.TableName(), "orders");
    EXPECT_EQ(error.DatabaseName(), "/data");
  }
  file.Seek(0, 0);
  EXPECT_EQ(file.ReadBuffer(buffer.data(), 512, true), 100);
  EXPECT_EQ(buffer[99], 0x5A);
}

TEST_P(EngineFileKindTest, ZeroByteWriteTruncatesAtThePosition) {
  TEngineFile file(engine_, Name("cut.dat"), GetParam());
  MakeHundredBytes(file);
  EXPECT_EQ(file.Seek(0, 40), 40);
  file.WriteBuffer(nullptr, 0);
  EXPECT_EQ(file.GetFileSize(), 40);
  EXPECT_EQ(file.Seek(1, 0), 40); // GetFileSize kept the position
}

TEST_P(EngineFileKindTest, OpeningAMissingFileRaisesNotFound) {
  TEngineFile file(engine_, Name("missing.dat"), GetParam());
  EXPECT_FALSE(file.Exists());
  EXPECT_EQ(RaisedCode([&] { file.OpenFile(); }), NEXORA_OSENOENT);
  EXPECT_FALSE(file.IsOpen());
}

TEST_P(EngineFileKindTest, ClosedFileRefusesTransfers) {
  TEngineFile file(engine_, Name("closed.dat"), GetParam());
  std::uint8_t byte = 0;
  EXPECT_EQ(RaisedCode([&] { file.ReadBuffer(&byte, 1, true); }), NEXORA_READERR);
  EXPECT_EQ(RaisedCode([&] { file.WriteBuffer(&byte, 1); }), NEXORA_WRITEERR);
  EXPECT_EQ(file.Seek(0, 0), -1);
  EXPECT_FALSE(file.LockRegion(true, 1, 0));
}

TEST_P(EngineFileKindTest, RenameStoresTheNewNameAndDeleteRemovesTheFile) {
  TEngineFile file(engine_, Name("old.dat"), GetParam());
  MakeHundredBytes(file);
  EXPECT_EQ(RaisedCode([&] { file.RenameFile(Name("new.dat")); }), NEXORA_OSEACCES);
  file.CloseFile();
  file.RenameFile(Name("new.dat"));
  EXPECT_EQ(file.Name(), Name("new.dat"));
  file.OpenFile();
  EXPECT_EQ(file.GetFileSize(), 100);
  file.CloseFile();
  file.DeleteFile();
  EXPECT_FALSE(file.Exists());
}

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, EngineFileKindTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Memory" : "Disk"; });

TEST_F(EngineFileTest, MemoryFileWrittenPastTheFirstChunk) {
  TEngineFile file(engine_, "chunks.dat", true);
  file.CreateFile();
  const TBytes ten = testing::Filled(10, 3);
  file.Seek(0, 70000);
  file.WriteBuffer(ten.data(), 10);
  EXPECT_EQ(file.GetFileSize(), 70010);
  std::uint8_t back[20] = {};
  file.Seek(0, 70000);
  EXPECT_EQ(file.ReadBuffer(back, 20, true), 10);
  EXPECT_EQ(back[9], 3);
}

TEST_F(EngineFileTest, MemoryFileRangeLocks) {
  TEngineFile file(engine_, "locks.dat", true);
  file.CreateFile();
  EXPECT_TRUE(file.LockRegion(true, 10, 100));
  EXPECT_FALSE(file.LockRegion(true, 1, 109));
  EXPECT_TRUE(file.LockRegion(true, 1, 110));
}

struct TTransferFault {
  TOSCall Call;
  int ErrorNumber;
  TErrorCode Raised;
  TErrorCode OSCode;
};

class EngineFileFaultTest : public EngineFileTest, public ::testing::WithParamInterface<TTransferFault> {};

TEST_P(EngineFileFaultTest, FailedTransferRaisesWithTheMappedSystemError) {
  TEngineFile file(engine_, dir_.File("faulty.dat"), false);
  file.CreateFile();
  const TBytes bytes = testing::Filled(64, 1);
  file.WriteBuffer(bytes.data(), 64);
  file.Seek(0, 0);

  InjectOSFault(GetParam().Call, 1, GetParam().ErrorNumber);
  std::vector<std::uint8_t> buffer(64);
  try {
    if (GetParam().Call == TOSCall::Read) {
      file.ReadBuffer(buffer.data(), 64, true); // a failure is no short read
    } else {
      file.WriteBuffer(bytes.data(), 64);
    }
    ADD_FAILURE() << "transfer succeeded";
  } catch (const ENEXORAEngineError &error) {
    EXPECT_EQ(error.ErrorCode(), GetParam().Raised);
    EXPECT_EQ(error.OSErrorCode(), GetParam().OSCode);
  }
  EXPECT_EQ(file.Seek(1, 0), 0); // the position did not move
}

INSTANTIATE_TEST_SUITE_P(Faults, EngineFileFaultTest,
                         ::testing::Values(TTransferFault{TOSCall::Write, EIO, NEXORA_WRITEERR, NEXORA_OSUNKNOWN},
                                           TTransferFault{TOSCall::Write, ENOSPC, NEXORA_WRITEERR, NEXORA_OSUNKNOWN},
                                           TTransferFault{TOSCall::Read, EIO, NEXORA_READERR, NEXORA_OSUNKNOWN},
                                           TTransferFault{TOSCall::Read, EBADF, NEXORA_READERR, NEXORA_OSEBADF}));

TEST_F(EngineFileTest, FailedTruncationRaisesWriteError) {
  TEngineFile file(engine_, dir_.File("trunc.dat"), false);
  file.CreateFile();
  InjectOSFault(TOSCall::Write, 1, EIO);
  EXPECT_EQ(RaisedCode([&] { file.WriteBuffer(nullptr, 0); }), NEXORA_WRITEERR);
}

TBytes TableLike(std::size_t length) {
  std::mt19937 generator(7);
  TBytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = (i % 16 < 12) ? static_cast<std::uint8_t>('A' + i % 16) : static_cast<std::uint8_t>(generator());
  }
  return bytes;
}

TEST_F(EngineFileTest, CompressedCopyBetweenEngineFilesRoundTrips) {
  const TBytes original = TableLike(700'000);
  testing::WriteBytes(dir_.File("orders.dat"), original);
  TEngineFile source(engine_, dir_.File("orders.dat"), false);
  source.OpenFile();
  TEngineFile copy(engine_, dir_.File("orders.dat.z"), false);
  copy.CreateFile();
  {
    TEngineFileCopyStream from(source);
    TEngineFileCopyStream to(copy);
    engine_.CompressCopy(from, to, 6, 10, {});
  }
  const std::int64_t copySize = copy.GetFileSize();
  EXPECT_GT(copySize, 17);
  EXPECT_LT(copySize, static_cast<std::int64_t>(original.size()));

  TEngineFile restored(engine_, dir_.File("restored.dat"), false);
  restored.CreateFile();
  {
    TEngineFileCopyStream from(copy);
    TEngineFileCopyStream to(restored);
    EXPECT_EQ(from.Position(), copySize); // the stream starts where the file stands
    from.Seek(0);
    engine_.DecompressCopy(from, to, 10, {});
  }
  restored.CloseFile();
  EXPECT_EQ(testing::ReadBytes(dir_.File("restored.dat")), original);
}

} // namespace
} // namespace nexora

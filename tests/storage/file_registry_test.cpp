#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "engine/data_engine.h"
#include "file_test_support.h"
#include "platform/os/posix_io.h"
#include "storage/base_file.h"
#include "storage/engine_file.h"
#include "storage/file_registry.h"

namespace nexora {
namespace {

using testing::RaisedCode;

constexpr std::int32_t InUse = -static_cast<std::int32_t>(NEXORA_OSEACCES);
constexpr std::int32_t NotFound = -static_cast<std::int32_t>(NEXORA_OSENOENT);

std::size_t OpenDescriptorCount() {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

class FileRegistryTest : public ::testing::Test {
protected:
  void TearDown() override { ClearOSFaults(); }

  std::int32_t Open(const std::string &name, bool inMemory, std::shared_ptr<TBaseFile> &file) {
    bool readOnly = false;
    bool forced = false;
    return files_.OpenFile(name, inMemory, false, false, false, readOnly, forced, file);
  }

  testing::TTempDir dir_;
  TDataEngine engine_;
  TFileRegistry &files_ = FilesOf(engine_);
};

TEST_F(FileRegistryTest, FilesOfInstallsOneRegistryInTheEngine) {
  EXPECT_EQ(engine_.FileRegistry(), &files_);
  EXPECT_EQ(&FilesOf(engine_), &files_);
}

TEST_F(FileRegistryTest, OpenersOfOneNameShareOneFileAndClosingOneKeepsTheOther) {
  const std::string path = dir_.File("shared.dat");
  testing::WriteBytes(path, testing::Filled(10, 0));
  TEngineFile first(engine_, path, false);
  TEngineFile second(engine_, "  " + path + " ", false);
  first.OpenFile();
  second.OpenFile();
  EXPECT_NE(first.Handle(), second.Handle());

  const std::uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(first.Seek(2, 0), 10);
  first.WriteBuffer(bytes, 4);
  first.CloseFile();
  EXPECT_TRUE(files_.IsRegistered(path, false));

  std::uint8_t back[4] = {};
  second.Seek(0, 10);
  EXPECT_EQ(second.ReadBuffer(back, 4, false), 4);
  EXPECT_TRUE(std::equal(bytes, bytes + 4, back));
  second.CloseFile();
  EXPECT_FALSE(files_.IsRegistered(path, false));
}

TEST_F(FileRegistryTest, LastCloseOfATemporaryFileDeletesIt) {
  const std::string path = dir_.File("temp.dat");
  TEngineFile first(engine_, path, false);
  first.SetTemporary(true);
  first.CreateFile();
  TEngineFile second(engine_, path, false);
  second.OpenFile();
  first.CloseFile();
  EXPECT_TRUE(std::filesystem::exists(path));
  second.CloseFile();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(FileRegistryTest, RenameAndDeleteAreRefusedWhileTheFileIsOpen) {
  const std::string path = dir_.File("busy.dat");
  testing::WriteBytes(path, {1});
  std::shared_ptr<TBaseFile> file;
  const std::int32_t handle = Open(path, false, file);
  ASSERT_GT(handle, 0);
  EXPECT_EQ(files_.RenameFile(path, false, dir_.File("other.dat")), InUse);
  EXPECT_EQ(files_.DeleteFile(path, false), InUse);
  EXPECT_EQ(files_.CloseFile(file.get(), false, handle), 0);
  EXPECT_EQ(files_.CloseFile(file.get(), false, handle), NotFound);

  EXPECT_EQ(files_.RenameFile(path, false, dir_.File("other.dat")), 0);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("other.dat")));
  EXPECT_EQ(files_.DeleteFile(dir_.File("other.dat"), false), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("other.dat")));
  EXPECT_EQ(files_.DeleteFile(dir_.File("other.dat"), false), NotFound);
}

TEST_F(FileRegistryTest, RenameNeverReplacesAnExistingFileInAnyCase) {
  testing::WriteBytes(dir_.File("a.dat"), {1});
  testing::WriteBytes(dir_.File("B.DAT"), {2});
  EXPECT_EQ(files_.RenameFile(dir_.File("a.dat"), false, dir_.File("B.DAT")), InUse);
  EXPECT_EQ(files_.RenameFile(dir_.File("a.dat"), false, dir_.File("b.dat")), InUse);
  EXPECT_EQ(testing::ReadBytes(dir_.File("B.DAT")), testing::TBytes{2});
  EXPECT_TRUE(std::filesystem::exists(dir_.File("a.dat")));
}

TEST_F(FileRegistryTest, MemoryFilesKeepTheirContentWhileClosedUntilDeleted) {
  std::shared_ptr<TBaseFile> file;
  EXPECT_EQ(Open("mem.dat", true, file), NotFound);
  EXPECT_EQ(files_.RenameFile("mem.dat", true, "x.dat"), NotFound);
  EXPECT_EQ(files_.DeleteFile("mem.dat", true), NotFound);

  std::int32_t handle = files_.CreateFile("Mem.Dat", true, false, false, file);
  ASSERT_GT(handle, 0);
  const std::uint8_t byte = 42;
  file->Write(handle, &byte, 1);
  EXPECT_EQ(files_.CreateFile("MEM.DAT", true, false, false, file), InUse);
  EXPECT_EQ(files_.CloseFile(file.get(), true, handle), 0);
  EXPECT_TRUE(files_.FileExists(" mem.dat ", true));

  EXPECT_EQ(files_.RenameFile("mem.dat", true, "renamed.dat"), 0);
  EXPECT_FALSE(files_.FileExists("mem.dat", true));
  handle = Open("RENAMED.DAT", true, file);
  ASSERT_GT(handle, 0);
  std::uint8_t back = 0;
  EXPECT_EQ(file->Read(handle, &back, 1), 1);
  EXPECT_EQ(back, 42);
  EXPECT_EQ(files_.DeleteFile("renamed.dat", true), InUse);
  files_.CloseFile(file.get(), true, handle);
  EXPECT_EQ(files_.DeleteFile("renamed.dat", true), 0);
  EXPECT_FALSE(files_.FileExists("renamed.dat", true));
}

TEST_F(FileRegistryTest, EngineStopClosesEveryFile) {
  const std::string path = dir_.File("held.dat");
  const std::string tempPath = dir_.File("scratch.dat");
  TEngineFile held(engine_, path, false);
  held.SetExclusive(true);
  held.CreateFile();
  TEngineFile scratch(engine_, tempPath, false);
  scratch.SetTemporary(true);
  scratch.CreateFile();
  TEngineFile memory(engine_, "mem.dat", true);
  memory.CreateFile();

  engine_.Stop();
  EXPECT_FALSE(files_.IsRegistered(path, false));
  EXPECT_FALSE(files_.FileExists("mem.dat", true));
  EXPECT_FALSE(std::filesystem::exists(tempPath));
  // The descriptor is gone: a new exclusive open is not refused by our old flock.
  TEngineFile again(engine_, path, false);
  again.SetExclusive(true);
  EXPECT_EQ(RaisedCode([&] { again.OpenFile(); }), NEXORA_NONE);
  // The stopped opener fails its transfers and closes quietly.
  std::uint8_t byte = 0;
  EXPECT_EQ(RaisedCode([&] { held.ReadBuffer(&byte, 1, true); }), NEXORA_READERR);
  held.CloseFile();
  EXPECT_FALSE(held.IsOpen());
}

TEST_F(FileRegistryTest, FailedOpenLeavesNoEntryAndNoDescriptor) {
  const std::string path = dir_.File("fails.dat");
  testing::WriteBytes(path, {1});
  const std::size_t descriptors = OpenDescriptorCount();

  struct TFault {
    TOSCall Call;
    int ErrorNumber;
    TErrorCode Expected;
  };
  for (const TFault fault :
       {TFault{TOSCall::Open, EMFILE, NEXORA_OSEMFILE}, TFault{TOSCall::Open, ENFILE, NEXORA_OSEMFILE},
        TFault{TOSCall::Lock, EWOULDBLOCK, NEXORA_OSEACCES}, TFault{TOSCall::Open, EIO, NEXORA_OSUNKNOWN}}) {
    SCOPED_TRACE(fault.ErrorNumber);
    InjectOSFault(fault.Call, 1, fault.ErrorNumber);
    TEngineFile file(engine_, path, false);
    try {
      file.OpenFile();
      ADD_FAILURE() << "open succeeded";
    } catch (const ENEXORAEngineError &error) {
      EXPECT_EQ(error.ErrorCode(), fault.Expected);
      EXPECT_EQ(error.OSErrorCode(), fault.Expected);
      EXPECT_EQ(error.OSErrorNumber(), fault.ErrorNumber);
      EXPECT_EQ(error.TableName(), path);
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(files_.IsRegistered(path, false));
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
  }
}

TEST_F(FileRegistryTest, ReadWriteOpenRefusedByTheSystemIsRetriedReadOnly) {
  const std::string path = dir_.File("retry.dat");
  testing::WriteBytes(path, {1});
  InjectOSFault(TOSCall::Open, 1, EROFS);
  TEngineFile file(engine_, path, false);
  file.OpenFile();
  EXPECT_TRUE(file.ReadOnly());
  EXPECT_FALSE(file.ForcedReadOnly());
}

TEST_F(FileRegistryTest, FileWithoutWriteBitsOpensForcedReadOnlyEvenForRoot) {
  const std::string path = dir_.File("locked.dat");
  testing::WriteBytes(path, testing::Filled(16, 7));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TEngineFile file(engine_, path, false);
  file.OpenFile();
  EXPECT_TRUE(file.ReadOnly());
  EXPECT_TRUE(file.ForcedReadOnly());
  const std::uint8_t byte = 1;
  EXPECT_EQ(RaisedCode([&] { file.WriteBuffer(&byte, 1); }), NEXORA_WRITEERR);
  file.CloseFile();
  EXPECT_EQ(RaisedCode([&] { file.CreateFile(); }), NEXORA_OSEACCES);
  EXPECT_EQ(testing::ReadBytes(path), testing::Filled(16, 7));
}

TEST_F(FileRegistryTest, NameDifferingOnlyByCaseOpensTheSingleMatch) {
  testing::WriteBytes(dir_.File("ORDERS.DAT"), testing::Filled(3, 'U'));
  TEngineFile lower(engine_, dir_.File("orders.dat"), false);
  TEngineFile upper(engine_, dir_.File("ORDERS.DAT"), false);
  EXPECT_TRUE(lower.Exists());
  lower.OpenFile();
  upper.OpenFile();
  EXPECT_TRUE(files_.IsRegistered(dir_.File("ORDERS.DAT"), false));
  EXPECT_EQ(lower.GetFileSize(), 3);
  std::uint8_t byte = 0;
  lower.ReadBuffer(&byte, 1, false);
  EXPECT_EQ(byte, 'U');
  // One shared object: a range held through one name is held for the other.
  ASSERT_TRUE(lower.LockRegion(true, 1, 1000));
  EXPECT_FALSE(upper.LockRegion(true, 1, 1000));
}

TEST_F(FileRegistryTest, NamesThatDifferOnlyByCaseOnDiskOpenExactlyAndStaySeparate) {
  testing::WriteBytes(dir_.File("ORDERS.DAT"), testing::Filled(3, 'U'));
  testing::WriteBytes(dir_.File("Orders.dat"), testing::Filled(5, 'M'));
  TEngineFile ambiguous(engine_, dir_.File("orders.dat"), false);
  EXPECT_FALSE(ambiguous.Exists());
  EXPECT_EQ(RaisedCode([&] { ambiguous.OpenFile(); }), NEXORA_OSENOENT);

  TEngineFile upper(engine_, dir_.File("ORDERS.DAT"), false);
  TEngineFile mixed(engine_, dir_.File("Orders.dat"), false);
  upper.OpenFile();
  mixed.OpenFile();
  EXPECT_EQ(upper.GetFileSize(), 3);
  EXPECT_EQ(mixed.GetFileSize(), 5);
}

} // namespace
} // namespace nexora

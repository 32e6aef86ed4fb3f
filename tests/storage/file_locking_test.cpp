// Exclusive opens and byte-range locks between real processes and inside one process.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <limits>

#include "engine/data_engine.h"
#include "engine/engine_limits.h"
#include "file_test_support.h"
#include "platform/os/posix_io.h"
#include "storage/engine_file.h"

namespace nexora {
namespace {

using testing::RaisedCode;
using testing::TChildProcess;

class FileLockingTest : public ::testing::Test {
protected:
  void SetUp() override { testing::WriteBytes(path_, testing::Filled(100, 0x41)); }
  void TearDown() override { ClearOSFaults(); }

  // Opens path_ through a new engine of the calling process: the result code (0 = open).
  int OpenIn(TDataEngine &engine, bool exclusive, std::unique_ptr<TEngineFile> &file) const {
    file = std::make_unique<TEngineFile>(engine, path_, false);
    file->SetExclusive(exclusive);
    return RaisedCode([&] { file->OpenFile(); });
  }

  testing::TTempDir dir_;
  std::string path_ = dir_.File("table.dat");
  TDataEngine engine_;
};

struct TOpenModes {
  bool HolderExclusive;
  bool RequestExclusive;
};

class CrossProcessOpenTest : public FileLockingTest, public ::testing::WithParamInterface<TOpenModes> {};

TEST_P(CrossProcessOpenTest, OpenIsRefusedWhileTheOtherProcessHoldsTheFile) {
  std::unique_ptr<TEngineFile> holder;
  ASSERT_EQ(OpenIn(engine_, GetParam().HolderExclusive, holder), 0);
  TChildProcess child([&](TChildProcess &) {
    TDataEngine engine;
    std::unique_ptr<TEngineFile> file;
    return OpenIn(engine, GetParam().RequestExclusive, file) == NEXORA_OSEACCES ? 0 : 1;
  });
  EXPECT_EQ(child.Join(), 0);

  holder->CloseFile();
  TChildProcess afterwards([&](TChildProcess &) {
    TDataEngine engine;
    std::unique_ptr<TEngineFile> file;
    return OpenIn(engine, GetParam().RequestExclusive, file);
  });
  EXPECT_EQ(afterwards.Join(), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, CrossProcessOpenTest,
                         ::testing::Values(TOpenModes{true, false}, TOpenModes{true, true}, TOpenModes{false, true}),
                         [](const ::testing::TestParamInfo<TOpenModes> &info) {
                           return std::string(info.param.HolderExclusive ? "ExclusiveHolder" : "SharedHolder") +
                                  (info.param.RequestExclusive ? "ExclusiveRequest" : "SharedRequest");
                         });

TEST_F(FileLockingTest, SharedOpensInTwoProcessesCoexist) {
  std::unique_ptr<TEngineFile> holder;
  ASSERT_EQ(OpenIn(engine_, false, holder), 0);
  TChildProcess child([&](TChildProcess &) {
    TDataEngine engine;
    std::unique_ptr<TEngineFile> file;
    return OpenIn(engine, false, file);
  });
  EXPECT_EQ(child.Join(), 0);
}

TEST_F(FileLockingTest, ExclusiveRequestIsRefusedByASharedHolderInAnotherProcess) {
  TChildProcess child([&](TChildProcess &parent) {
    TDataEngine engine;
    std::unique_ptr<TEngineFile> file;
    if (OpenIn(engine, false, file) != 0) {
      return 1;
    }
    parent.Signal();
    parent.Wait(); // holds the file until the parent is done
    return 0;
  });
  ASSERT_TRUE(child.Wait());
  std::unique_ptr<TEngineFile> file;
  EXPECT_EQ(OpenIn(engine_, true, file), NEXORA_OSEACCES);
  child.Signal();
  EXPECT_EQ(child.Join(), 0);
  EXPECT_EQ(OpenIn(engine_, true, file), 0);
}

struct TLockRange {
  const char *Name;
  std::int64_t Offset;
  std::int64_t Length;
};

const TLockRange lockRanges[] = {
    {"record 1 below 2^32", ComputeEngineLimits(false).RecordLockTop - 1, 1},
    {"2^32 - 1", ComputeEngineLimits(false).LockTop, 1},
    {"lock-file header below 2^32", ComputeEngineLimits(false).LockFileHeaderBase, LockRegionLength},
    {"record 1 below 2^63", ComputeEngineLimits(true).RecordLockTop - 1, 1},
    {"2^63 - 1", ComputeEngineLimits(true).LockTop, 1},
    {"lock-file header below 2^63", ComputeEngineLimits(true).LockFileHeaderBase, LockRegionLength},
    {"table 1 region below 2^63", ComputeEngineLimits(true).TableRegionBase - LockRegionLength, LockRegionLength},
};

class CrossProcessRangeTest : public FileLockingTest, public ::testing::WithParamInterface<TLockRange> {};

TEST_P(CrossProcessRangeTest, RangeHeldByOneProcessIsRefusedToTheOtherUntilUnlocked) {
  const TLockRange range = GetParam();
  std::unique_ptr<TEngineFile> holder;
  ASSERT_EQ(OpenIn(engine_, false, holder), 0);
  ASSERT_TRUE(holder->LockRegion(true, range.Length, range.Offset));

  TChildProcess child([&](TChildProcess &parent) {
    TDataEngine engine;
    std::unique_ptr<TEngineFile> file;
    if (OpenIn(engine, false, file) != 0) {
      return 1;
    }
    // The last byte of the range alone conflicts too.
    if (file->LockRegion(true, range.Length, range.Offset) ||
        file->LockRegion(true, 1, range.Offset + (range.Length - 1))) {
      return 2;
    }
    parent.Signal();
    parent.Wait();
    if (!file->LockRegion(true, range.Length, range.Offset)) {
      return 3;
    }
    return file->LockRegion(false, range.Length, range.Offset) ? 0 : 4;
  });
  ASSERT_TRUE(child.Wait());
  EXPECT_TRUE(holder->LockRegion(false, range.Length, range.Offset));
  child.Signal();
  EXPECT_EQ(child.Join(), 0);
}

INSTANTIATE_TEST_SUITE_P(LockSpace, CrossProcessRangeTest, ::testing::ValuesIn(lockRanges),
                         [](const ::testing::TestParamInfo<TLockRange> &info) {
                           std::string name = info.param.Name;
                           for (char &c : name) {
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           }
                           return name;
                         });

TEST_F(FileLockingTest, RangeLocksExcludeOtherHandlesAndTheSameCallerInOneProcess) {
  const std::int64_t record1 = ComputeEngineLimits(true).RecordLockTop - 1;
  TEngineFile first(engine_, path_, false);
  TEngineFile second(engine_, path_, false);
  first.OpenFile();
  second.OpenFile();

  ASSERT_TRUE(first.LockRegion(true, 1, record1));
  EXPECT_FALSE(second.LockRegion(true, 1, record1));
  EXPECT_FALSE(first.LockRegion(true, 1, record1)); // not re-entrant
  EXPECT_FALSE(second.LockRegion(true, 3, record1 - 2));
  EXPECT_TRUE(second.LockRegion(true, 1, record1 - 1));

  EXPECT_TRUE(first.LockRegion(false, 1, record1));
  EXPECT_TRUE(second.LockRegion(true, 1, record1));
}

TEST_F(FileLockingTest, SystemRefusalRollsBackTheInProcessRange) {
  TEngineFile file(engine_, path_, false);
  file.OpenFile();
  InjectOSFault(TOSCall::Lock, 1, EAGAIN);
  EXPECT_FALSE(file.LockRegion(true, 1, 500));
  EXPECT_TRUE(file.LockRegion(true, 1, 500));
}

TEST_F(FileLockingTest, SecondExclusiveOpenInOneProcessIsRefusedWithoutAskingTheSystem) {
  TEngineFile first(engine_, path_, false);
  first.SetExclusive(true);
  first.OpenFile();
  for (const bool secondExclusive : {true, false}) {
    InjectOSFault(TOSCall::Open, 1, EIO);
    InjectOSFault(TOSCall::Lock, 1, EIO);
    TEngineFile second(engine_, path_, false);
    second.SetExclusive(secondExclusive);
    EXPECT_EQ(RaisedCode([&] { second.OpenFile(); }), NEXORA_OSEACCES);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(OSFaultPending(TOSCall::Open));
    EXPECT_TRUE(OSFaultPending(TOSCall::Lock));
  }
}

TEST_F(FileLockingTest, ExclusiveRequestIsRefusedWhileAnotherOpenerInTheProcessHoldsIt) {
  TEngineFile first(engine_, path_, false);
  first.OpenFile();
  TEngineFile second(engine_, path_, false);
  second.SetExclusive(true);
  EXPECT_EQ(RaisedCode([&] { second.OpenFile(); }), NEXORA_OSEACCES);
  first.CloseFile();
  EXPECT_EQ(RaisedCode([&] { second.OpenFile(); }), NEXORA_NONE);
}

TEST_F(FileLockingTest, CreateDoesNotTruncateAFileAnotherProcessHasOpen) {
  TChildProcess child([&](TChildProcess &parent) {
    TDataEngine engine;
    std::unique_ptr<TEngineFile> file;
    if (OpenIn(engine, false, file) != 0) {
      return 1;
    }
    parent.Signal();
    parent.Wait();
    return 0;
  });
  ASSERT_TRUE(child.Wait());
  TEngineFile creator(engine_, path_, false);
  EXPECT_EQ(RaisedCode([&] { creator.CreateFile(); }), NEXORA_OSEACCES);
  EXPECT_EQ(testing::ReadBytes(path_).size(), 100u);
  child.Signal();
  EXPECT_EQ(child.Join(), 0);
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>

#include "file_test_support.h"
#include "platform/os/file_name_case.h"
#include "platform/os/posix_io.h"

namespace nexora {
namespace {

using testing::TTempDir;

class PosixIOTest : public ::testing::Test {
protected:
  void TearDown() override { ClearOSFaults(); }
  TTempDir dir_;
};

TEST_F(PosixIOTest, FaultFiresOnTheNthCallOfItsKindOnly) {
  const std::string path = dir_.File("a.dat");
  testing::WriteBytes(path, {1, 2, 3});
  InjectOSFault(TOSCall::Open, 2, EMFILE);

  const int first = PosixOpen(path, O_RDONLY);
  ASSERT_GE(first, 0);
  EXPECT_TRUE(OSFaultPending(TOSCall::Open));
  char byte = 0;
  EXPECT_EQ(PosixPread(first, &byte, 1, 0), 1); // another kind does not count
  errno = 0;
  EXPECT_EQ(PosixOpen(path, O_RDONLY), -1);
  EXPECT_EQ(errno, EMFILE);
  EXPECT_FALSE(OSFaultPending(TOSCall::Open));
  const int third = PosixOpen(path, O_RDONLY);
  EXPECT_GE(third, 0);
  PosixClose(first);
  PosixClose(third);
}

TEST_F(PosixIOTest, ClearDropsPendingFaults) {
  InjectOSFault(TOSCall::Write, 1, EIO);
  InjectOSFault(TOSCall::Lock, 3, EAGAIN);
  ClearOSFaults();
  EXPECT_FALSE(OSFaultPending(TOSCall::Write));
  EXPECT_FALSE(OSFaultPending(TOSCall::Lock));
}

TEST_F(PosixIOTest, TruncateCountsAsWrite) {
  const int fd = PosixOpen(dir_.File("t.dat"), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  InjectOSFault(TOSCall::Write, 1, ENOSPC);
  EXPECT_EQ(PosixFtruncate(fd, 10), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(PosixFtruncate(fd, 10), 0);
  PosixClose(fd);
}

TEST_F(PosixIOTest, RenameNeverReplacesAnExistingFile) {
  testing::WriteBytes(dir_.File("from.dat"), {1});
  testing::WriteBytes(dir_.File("to.dat"), {2});
  errno = 0;
  EXPECT_EQ(PosixRename(dir_.File("from.dat"), dir_.File("to.dat")), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(testing::ReadBytes(dir_.File("to.dat")), testing::TBytes{2});
  EXPECT_EQ(PosixRename(dir_.File("from.dat"), dir_.File("new.dat")), 0);
  EXPECT_EQ(testing::ReadBytes(dir_.File("new.dat")), testing::TBytes{1});
}

struct TCaseCase {
  std::vector<std::string> Entries;
  std::string Asked;
  std::string Expected;
};

class FileNameCaseTest : public ::testing::TestWithParam<TCaseCase> {};

TEST_P(FileNameCaseTest, ResolvesTheSingleCaseInsensitiveMatch) {
  TTempDir dir;
  for (const std::string &entry : GetParam().Entries) {
    testing::WriteBytes(dir.File(entry), {0});
  }
  EXPECT_EQ(ResolveFileNameCase(dir.File(GetParam().Asked)), dir.File(GetParam().Expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, FileNameCaseTest,
                         ::testing::Values(TCaseCase{{"orders.dat"}, "orders.dat", "orders.dat"},
                                           TCaseCase{{"ORDERS.DAT"}, "orders.dat", "ORDERS.DAT"},
                                           TCaseCase{{"Orders.Dat", "other.dat"}, "ORDERS.DAT", "Orders.Dat"},
                                           TCaseCase{{"ORDERS.DAT", "Orders.dat"}, "orders.dat", "orders.dat"},
                                           TCaseCase{{"ORDERS.DAT", "orders.dat"}, "ORDERS.DAT", "ORDERS.DAT"},
                                           TCaseCase{{}, "missing.dat", "missing.dat"}));

} // namespace
} // namespace nexora

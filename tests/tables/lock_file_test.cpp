#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/os/posix_io.h"
#include "storage/file_registry.h"
#include "storage/lock_file_format.h"
#include "support/little_endian.h"
#include "tables/table_test_support.h"

namespace nexora {
namespace {

using testing::FileExists;
using testing::OrdersDefinition;
using testing::RaisedCode;
using testing::TBytes;
using testing::TTempDir;
using testing::TTestEngine;

// The lock file as stored: counter, then the names in slot order.
struct TLockFileImage {
  std::int32_t Counter = 0;
  std::vector<std::string> Names;
};

TLockFileImage ParseLockFile(const TBytes &bytes) {
  TLockFileImage image;
  image.Counter = static_cast<std::int32_t>(LoadU32(bytes.data()));
  const std::int32_t listSize = static_cast<std::int32_t>(LoadU32(bytes.data() + 4));
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(4 + listSize));
  for (std::size_t at = 8; at < bytes.size();) {
    const std::size_t length = bytes[at];
    image.Names.emplace_back(reinterpret_cast<const char *>(bytes.data() + at + 1), length);
    at += 1 + length;
  }
  return image;
}

TBytes LockFileBytes(std::int32_t counter, const std::vector<std::string> &names) {
  TBytes bytes(8, 0);
  for (const std::string &name : names) {
    bytes.push_back(static_cast<std::uint8_t>(name.size()));
    bytes.insert(bytes.end(), name.begin(), name.end());
  }
  StoreU32(bytes.data(), static_cast<std::uint32_t>(counter));
  StoreU32(bytes.data() + 4, static_cast<std::uint32_t>(bytes.size() - 4));
  return bytes;
}

class LockFile : public ::testing::Test {
protected:
  TDataDirectory &Open() { return OpenDirectory(session_, "orders db", dir_.File("")); }
  std::string LockPath() const { return dir_.File("nexora.lck"); }
  void CreateTables(const std::vector<std::string> &names) {
    TDataDirectory &directory = Open();
    for (const std::string &name : names) {
      directory.CreateTable(name, OrdersDefinition());
    }
    session_.CloseDirectory(directory);
  }

  TTempDir dir_;
  TTestEngine engine_;
  TDataSession &session_ = engine_.NewSession();
};

TEST_F(LockFile, NewLockFileListsTheDataFilesFromSlotOne) {
  CreateTables({"customers", "orders"});
  std::filesystem::remove(LockPath());
  TDataDirectory &directory = Open();
  EXPECT_FALSE(directory.ReadOnly());
  const TLockFileImage image = ParseLockFile(testing::ReadBytes(LockPath()));
  EXPECT_EQ(image.Counter, 1);
  EXPECT_EQ(image.Names, (std::vector<std::string>{"customers", "orders"}));
  EXPECT_EQ(directory.Locks().GetTableLocks("CUSTOMERS").Slot(), 1);
  EXPECT_EQ(directory.Locks().GetTableLocks("orders").Slot(), 2);
}

TEST_F(LockFile, OpeningANewTableAppendsItAndMovesTheCounter) {
  TDataDirectory &directory = Open();
  directory.CreateTable("orders", OrdersDefinition());
  const TLockFileImage before = ParseLockFile(testing::ReadBytes(LockPath()));
  EXPECT_TRUE(before.Names.empty());

  TDataTable &table = directory.OpenTable("orders.dat");
  ASSERT_NE(table.LockEntry(), nullptr);
  EXPECT_EQ(table.LockEntry()->Slot(), 1);
  const TLockFileImage after = ParseLockFile(testing::ReadBytes(LockPath()));
  EXPECT_EQ(after.Names, std::vector<std::string>{"orders"});
  EXPECT_EQ(after.Counter, before.Counter + 1);
}

TEST_F(LockFile, ANameAddedByAnotherProcessIsReadBeforeAppending) {
  CreateTables({"a", "b"});
  TDataDirectory &directory = Open();
  testing::TChildProcess child([&](testing::TChildProcess &) {
    TTestEngine childEngine;
    TDataDirectory &childDirectory = OpenDirectory(childEngine.NewSession(), "db", dir_.File(""));
    return childDirectory.OpenTable("b").LockEntry()->Slot() == 1 ? 0 : 1;
  });
  ASSERT_EQ(child.Join(), 0);
  // "b" took slot 1 in the file; this directory must not hand slot 1 to "a" as well.
  EXPECT_EQ(directory.OpenTable("a").LockEntry()->Slot(), 2);
  EXPECT_EQ(ParseLockFile(testing::ReadBytes(LockPath())).Names, (std::vector<std::string>{"b", "a"}));
}

TEST_F(LockFile, CounterWrapsToOne) {
  testing::WriteBytes(LockPath(), LockFileBytes(2'147'483'647, {"x"}));
  TDataDirectory &directory = Open();
  directory.CreateTable("orders", OrdersDefinition());
  directory.OpenTable("orders");
  EXPECT_EQ(ParseLockFile(testing::ReadBytes(LockPath())).Counter, 1);
}

TEST_F(LockFile, TheTable4097IsRefused) {
  std::vector<std::string> names;
  for (int i = 1; i <= 4096; ++i) {
    names.push_back("t" + std::to_string(i));
  }
  testing::WriteBytes(LockPath(), LockFileBytes(7, names));
  TDataDirectory &directory = Open();
  EXPECT_EQ(directory.Locks().GetTableLocks("T4096").Slot(), 4096);
  EXPECT_EQ(RaisedCode([&] { directory.Locks().GetTableLocks("one more"); }), NEXORA_DATABASEFULL);
  EXPECT_EQ(ParseLockFile(testing::ReadBytes(LockPath())).Counter, 7);
}

TEST_F(LockFile, ADamagedListMakesTheDirectoryReadOnly) {
  TBytes bytes = LockFileBytes(3, {"a"});
  StoreU32(bytes.data() + 4, 0x7FFFFFFF);
  testing::WriteBytes(LockPath(), bytes);
  TDataDirectory &directory = Open();
  // A list that cannot be read leaves no usable lock file: nothing may change unlocked.
  EXPECT_TRUE(directory.Locks().Unusable());
  EXPECT_TRUE(directory.ReadOnly());
}

TEST_F(LockFile, ReadOnlyFilesMakeAReadOnlyDirectoryWithoutLocks) {
  CreateTables({"orders"});
  for (const char *name : {"nexora.lck", "orders.dat", "orders.idx"}) {
    ASSERT_EQ(::chmod(dir_.File(name).c_str(), 0444), 0);
  }
  TDataDirectory &directory = Open();
  EXPECT_TRUE(directory.ReadOnly());
  TDataTable &table = directory.OpenTable("orders");
  EXPECT_TRUE(table.ReadOnly());
  EXPECT_EQ(table.LockEntry(), nullptr);
  EXPECT_EQ(table.DataFile().GetFieldCount(), 2);
  EXPECT_EQ(RaisedCode([&] { directory.CreateTable("new", OrdersDefinition()); }), NEXORA_OSEACCES);
  EXPECT_FALSE(FileExists(dir_.File("new.dat")));
  EXPECT_EQ(RaisedCode([&] { directory.DeleteTable("orders"); }), NEXORA_OSEACCES);
  // Every lock-file lock succeeds without effect, so two holders do not exclude each other.
  TDataDirectory &other = OpenDirectory(engine_.NewSession(), "db", dir_.File(""));
  const std::int64_t guard = engine_.Engine().Limits().LockFileHeaderBase;
  EXPECT_TRUE(directory.Locks().AcquireRegion(guard, 10, 0, 0));
  EXPECT_TRUE(other.Locks().AcquireRegion(guard, 10, 0, 0));
}

TEST_F(LockFile, TablesOfAnUnlockedDirectoryOpenReadOnly) {
  CreateTables({"orders"});
  ASSERT_EQ(::chmod(LockPath().c_str(), 0444), 0);
  TDataDirectory &directory = Open();
  ASSERT_TRUE(directory.ReadOnly());
  // The data files are writable, but without a lock file others could not see the writes
  // coming: the table is read-only.
  TDataTable &table = directory.OpenTable("orders");
  EXPECT_TRUE(table.ReadOnly());
  EXPECT_EQ(table.LockEntry(), nullptr);
}

TEST_F(LockFile, ALockFileThatCannotBeCreatedLeavesTheDirectoryReadOnly) {
  InjectOSFault(TOSCall::Open, 1, EROFS);
  TDataDirectory &directory = Open();
  ClearOSFaults();
  EXPECT_TRUE(directory.ReadOnly());
  EXPECT_TRUE(directory.Locks().Unusable());
  EXPECT_FALSE(FileExists(LockPath()));
  EXPECT_EQ(RaisedCode([&] { directory.CreateTable("orders", OrdersDefinition()); }), NEXORA_OSEACCES);
}

TEST_F(LockFile, MemoryDatabaseNeedsNoDirectoryOnDisk) {
  TDataDirectory &directory = OpenDirectory(session_, "memory", "");
  EXPECT_TRUE(directory.IsMemory());
  EXPECT_FALSE(directory.ReadOnly());
  directory.CreateTable("scratch", OrdersDefinition());
  EXPECT_EQ(directory.ListTables(), std::vector<std::string>{"scratch"});
  TDataTable &table = directory.OpenTable("scratch");
  EXPECT_EQ(table.LockEntry()->Slot(), 1);
  EXPECT_TRUE(FilesOf(engine_.Engine()).IsRegistered("nexora.lck", true));
  EXPECT_FALSE(FileExists("nexora.lck"));
  EXPECT_FALSE(FileExists("scratch.dat"));
}

TEST_F(LockFile, OpenDirectorySharesOneObjectPerPath) {
  TDataDirectory &first = OpenDirectory(session_, "db", dir_.File(""));
  std::string upper = dir_.File("");
  for (char &c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  TDataDirectory &second = OpenDirectory(session_, "other name", "  " + upper + "  ");
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.References(), 2);
  EXPECT_NE(&OpenDirectory(session_, "other name", dir_.File(""), true), &first);
  EXPECT_EQ(session_.DirectoryCount(), 2u);
  session_.CloseDirectory(first);
  EXPECT_EQ(session_.DirectoryCount(), 2u);
  session_.CloseDirectory(first);
  EXPECT_EQ(session_.DirectoryCount(), 1u);
}

} // namespace
} // namespace nexora

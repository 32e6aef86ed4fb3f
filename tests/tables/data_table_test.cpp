#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/posix_io.h"
#include "storage/field_values.h"
#include "storage/record.h"
#include "storage/record_allocation.h"
#include "storage/table_locks.h"
#include "tables/table_test_support.h"

namespace nexora {
namespace {

using testing::FileExists;
using testing::OrdersDefinition;
using testing::RaisedCode;
using testing::TBytes;
using testing::TChildProcess;
using testing::TTempDir;
using testing::TTestEngine;

// Appends a record holding id the way a writer outside a transaction does, without
// writing the changes out.
void AppendRecord(TDataTable &table, std::int64_t id) {
  TRecord *record = AllocateRecord(table.DataFile(), nullptr);
  ASSERT_NE(record, nullptr);
  WriteFieldValue(*table.DataFile().GetFieldDef(1), record->Image(), TFieldValue{id}, 0);
  record->MarkDirty();
  table.DataFile().ReleaseBuffer(record);
}

// Inserts a record under the table's write lock and writes the changes out.
void InsertRecord(TDataTable &table, std::int64_t id) {
  table.BeginWrite();
  AppendRecord(table, id);
  table.WriteChanges(false, true, false, false, false);
  table.EndWrite();
}

class DataTable : public ::testing::Test {
protected:
  std::string Path() const { return dir_.File(""); }
  TDataDirectory &Directory(TDataSession &session) { return OpenDirectory(session, "db", Path()); }
  TDataDirectory &Directory() { return Directory(session_); }
  bool AnyTableFile(const std::string &name) const {
    return FileExists(dir_.File(name + ".dat")) || FileExists(dir_.File(name + ".idx")) ||
           FileExists(dir_.File(name + ".blb"));
  }
  std::int32_t RecordCountOnDisk(const std::string &name) {
    return TDataFile::ReadClosedHeader(engine_.Engine(), dir_.File(name + ".dat")).RecordCount();
  }

  TTempDir dir_;
  TTestEngine engine_;
  TDataSession &session_ = engine_.NewSession();
};

TEST_F(DataTable, FileNamesComeFromTheTableNameAndTheExtensions) {
  TDataDirectory &directory = Directory();
  const struct {
    const char *TableName;
    const char *DataFile;
    const char *IndexFile;
  } cases[] = {
      {"customer", "customer.dat", "customer.idx"},
      {"customer.dat", "customer.dat", "customer.idx"},
      {"Customer.DAT", "Customer.dat", "Customer.idx"},
      {"my.table", "my.table.dat", "my.table.idx"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.TableName);
    TDataTable table(directory, c.TableName);
    EXPECT_EQ(table.FileName(".dat"), Path() + c.DataFile);
    EXPECT_EQ(table.FileName(".idx"), Path() + c.IndexFile);
  }
}

TEST_F(DataTable, AnotherProcessesInsertEmptiesEveryCacheAtTheNextReadLock) {
  Directory().CreateTable("orders", OrdersDefinition(true));
  TDataTable &table = Directory().OpenTable("orders");
  InsertRecord(table, 1);
  table.BlobFile().WriteValue(0, 1, TBytes(300, 'x'), 0);
  table.WriteChanges(false, false, false, true, false);
  ASSERT_FALSE(table.BeginRead());
  table.DataFile().ReleaseBuffer(table.DataFile().GetBuffer(nullptr, 0, 1, false, TReadDirection::None));
  table.EndRead();
  ASSERT_GT(table.DataFile().CachedCount(), 0);
  ASSERT_GT(table.BlobFile().CachedCount(), 0);

  TChildProcess writer([&](TChildProcess &) {
    TTestEngine engine;
    InsertRecord(Directory(engine.NewSession()).OpenTable("orders"), 2);
    return 0;
  });
  ASSERT_EQ(writer.Join(), 0);
  EXPECT_TRUE(table.BeginRead());
  EXPECT_EQ(table.DataFile().CachedCount(), 0);
  EXPECT_EQ(table.IndexFile().CachedCount(), 0);
  EXPECT_EQ(table.BlobFile().CachedCount(), 0);
  EXPECT_EQ(table.DataFile().GetRecordCount(), 2);
  // Held: taking it again is no new look.
  EXPECT_FALSE(table.BeginRead());
  table.EndRead();
  EXPECT_FALSE(table.BeginRead());
  table.EndRead();
}

TEST_F(DataTable, ABlobOnlyChangeStillMovesTheDataFilesCounter) {
  Directory().CreateTable("orders", OrdersDefinition(true));
  TDataTable &table = Directory().OpenTable("orders");
  const std::uint32_t counter = table.DataFile().Header().ChangeCounter();
  TChildProcess writer([&](TChildProcess &) {
    TTestEngine engine;
    TDataTable &other = Directory(engine.NewSession()).OpenTable("orders");
    other.BeginWrite();
    other.BlobFile().WriteValue(0, 1, TBytes(100, 'b'), 0);
    other.WriteChanges(false, false, false, true, false);
    other.EndWrite();
    return other.DataFile().HeaderChanged() ? 1 : 0;
  });
  ASSERT_EQ(writer.Join(), 0);
  EXPECT_TRUE(table.BeginRead());
  table.EndRead();
  EXPECT_GT(table.DataFile().Header().ChangeCounter(), counter);
  EXPECT_EQ(table.BlobFile().NextBlockNumber(), 2);
}

TEST_F(DataTable, ATransactionKeepsChangesInTheCachesUntilItsEnd) {
  Directory().CreateTable("orders", OrdersDefinition());
  TDataDirectory &directory = Directory();
  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    TDataTable &table = directory.OpenTable("orders");
    directory.StartTransaction(std::vector<std::string>{"orders"});
    AppendRecord(table, 5);
    table.WriteChanges(false, true, false, false, false);
    EXPECT_EQ(table.DataFile().GetRecordCount(), 1);
    EXPECT_EQ(RecordCountOnDisk("orders"), 0);
    // The table stays open while in the transaction, whatever its uses.
    directory.CloseTable(table);
    EXPECT_TRUE(table.IsOpen());
    commit ? directory.Commit() : directory.Rollback();
    EXPECT_EQ(RecordCountOnDisk("orders"), commit ? 1 : 0);
    EXPECT_EQ(directory.FindTable("orders"), nullptr);
  }
}

TEST_F(DataTable, EncryptedTablePasswords) {
  session_.AddPassword("secret");
  TTableDefinition definition = OrdersDefinition(true);
  definition.Encrypted = true;
  definition.Password = "secret";
  Directory().CreateTable("vault", definition);

  const auto open = [&](const std::vector<std::string> &passwords, std::optional<bool> hookContinues) {
    TDataSession &session = engine_.NewSession();
    for (const std::string &password : passwords) {
      session.AddPassword(password);
    }
    int calls = 0;
    if (hookContinues) {
      session.SetPasswordHook([&](TDataSession &asked, bool &tryAgain) {
        ++calls;
        asked.AddPassword("secret");
        tryAgain = *hookContinues;
      });
    }
    TDataDirectory &directory = Directory(session);
    const TErrorCode code = RaisedCode([&] {
      TDataTable &table = directory.OpenTable("vault");
      EXPECT_EQ(table.DataFile().FindFieldDefByName("Notes")->Number(), 3);
    });
    if (code != NEXORA_NONE) {
      EXPECT_EQ(directory.FindTable("vault"), nullptr);
    }
    return std::make_pair(code, calls);
  };
  EXPECT_EQ(open({"wrong", "secret"}, std::nullopt), std::make_pair(TErrorCode{NEXORA_NONE}, 0));
  EXPECT_EQ(open({"wrong"}, true), std::make_pair(TErrorCode{NEXORA_NONE}, 1));
  EXPECT_EQ(open({"wrong"}, false), std::make_pair(TErrorCode{NEXORA_NOTSUFFTABLERIGHTS}, 1));
  EXPECT_EQ(open({}, std::nullopt), std::make_pair(TErrorCode{NEXORA_NOTSUFFTABLERIGHTS}, 0));
}

TEST_F(DataTable, InvalidPasswordsAtCreationLeaveNoFiles) {
  for (const std::string &password : {std::string("   "), std::string(129, 'p')}) {
    TTableDefinition definition = OrdersDefinition();
    definition.Encrypted = true;
    definition.Password = password;
    session_.AddPassword(password);
    EXPECT_EQ(RaisedCode([&] { Directory().CreateTable("vault", definition); }), NEXORA_INVALIDPASSWORD);
    EXPECT_FALSE(AnyTableFile("vault"));
  }
  TTableDefinition unknown = OrdersDefinition();
  unknown.Encrypted = true;
  unknown.Password = "nobody knows";
  EXPECT_EQ(RaisedCode([&] { Directory().CreateTable("vault", unknown); }), NEXORA_NOTSUFFTABLERIGHTS);
  EXPECT_FALSE(AnyTableFile("vault"));
}

TEST_F(DataTable, EveryCreationCheckGivesItsCodeAndLeavesNoFiles) {
  const auto indexOn = [](std::string_view name, std::int16_t field) {
    TIndexDef index;
    index.SetName(name);
    index.SetFields({field});
    return index;
  };
  const struct {
    const char *Name;
    std::function<void(TTableDefinition &)> Change;
    TErrorCode Code;
  } cases[] = {
      {"no fields", [](TTableDefinition &d) { d.Fields.clear(); }, NEXORA_FLDLIMIT},
      {"index page size", [](TTableDefinition &d) { d.IndexPageSize = 512; }, NEXORA_INDEXLIMIT},
      {"BLOB block size", [](TTableDefinition &d) { d.BlobBlockSize = 32; }, NEXORA_BLOBLIMIT},
      {"field name", [](TTableDefinition &d) { d.Fields[1].SetName("1st"); }, NEXORA_INVALIDFIELDNAME},
      {"31 indexes", [&](TTableDefinition &d) { d.SecondaryIndexes.assign(31, indexOn("ByName", 2)); },
       NEXORA_INDEXLIMIT},
      // Found only while the index file is made, after the data file exists.
      {"unknown key field", [&](TTableDefinition &d) { d.SecondaryIndexes = {indexOn("ByX", 9)}; },
       NEXORA_INVALIDFIELDNAME},
      {"unnamed index", [&](TTableDefinition &d) { d.SecondaryIndexes = {indexOn("", 2)}; }, NEXORA_INDEXNAMEREQUIRED},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TTableDefinition definition = OrdersDefinition(true);
    c.Change(definition);
    EXPECT_EQ(RaisedCode([&] { Directory().CreateTable("orders", definition); }), c.Code);
    EXPECT_FALSE(AnyTableFile("orders"));
  }
}

TEST_F(DataTable, ADataFileThatCannotBeCreatedLeavesNoOtherFile) {
  InjectOSFault(TOSCall::Open, 1, EACCES);
  EXPECT_EQ(RaisedCode([&] { Directory().CreateTable("orders", OrdersDefinition(true)); }), NEXORA_OSEACCES);
  ClearOSFaults();
  EXPECT_FALSE(AnyTableFile("orders"));
}

TEST_F(DataTable, CreatingOverATableInUseLeavesItsFilesAlone) {
  Directory().CreateTable("orders", OrdersDefinition(true));
  TDataTable &inUse = Directory().OpenTable("orders");
  InsertRecord(inUse, 1);
  TDataDirectory &other = Directory(engine_.NewSession());
  EXPECT_EQ(RaisedCode([&] { other.CreateTable("orders", OrdersDefinition(true)); }), NEXORA_OSEACCES);
  EXPECT_TRUE(FileExists(dir_.File("orders.idx")));
  EXPECT_TRUE(FileExists(dir_.File("orders.blb")));
  EXPECT_EQ(RecordCountOnDisk("orders"), 1);
}

TEST_F(DataTable, AMissingOrUnreadableIndexFileIsReplacedAndReported) {
  for (const bool truncate : {false, true}) {
    SCOPED_TRACE(truncate ? "truncated" : "deleted");
    TDataDirectory &directory = Directory();
    directory.CreateTable("orders", OrdersDefinition());
    if (truncate) {
      std::filesystem::resize_file(dir_.File("orders.idx"), 100);
    } else {
      std::filesystem::remove(dir_.File("orders.idx"));
    }
    TDataTable &table = directory.OpenTable("orders");
    EXPECT_TRUE(table.IndexesLost());
    EXPECT_EQ(table.IndexFile().NextPageNumber(), 1);
    // Header and definition area, no pages: the first cursor rebuilds the primary index.
    EXPECT_EQ(std::filesystem::file_size(dir_.File("orders.idx")), 25088u);
    directory.CloseTable(table);
    directory.DeleteTable("orders");
  }
}

TEST_F(DataTable, AFailedOpenLeavesTheTableClosed) {
  Directory().CreateTable("orders", OrdersDefinition());
  std::fstream index(dir_.File("orders.idx"), std::ios::in | std::ios::out | std::ios::binary);
  index.seekp(8);
  index.put(9); // a newer format version
  index.close();
  TDataDirectory &directory = Directory();
  EXPECT_EQ(RaisedCode([&] { directory.OpenTable("orders"); }), NEXORA_BADSIGNATURE);
  EXPECT_EQ(directory.FindTable("orders"), nullptr);
  // Nothing stays open: the table can be deleted right away.
  directory.DeleteTable("orders");
  EXPECT_FALSE(AnyTableFile("orders"));
}

TEST_F(DataTable, ATableWithoutBlobFieldsNeverOpensABlobFile) {
  Directory().CreateTable("orders", OrdersDefinition());
  EXPECT_FALSE(FileExists(dir_.File("orders.blb")));
  testing::WriteBytes(dir_.File("orders.blb"), TBytes(700, 0xEE));
  TDataTable &table = Directory().OpenTable("orders");
  EXPECT_FALSE(table.BlobFile().IsOpen());
}

TEST_F(DataTable, AReadOnlyDataFileOpensTheTableReadOnlyWithoutLocks) {
  Directory().CreateTable("orders", OrdersDefinition());
  ASSERT_EQ(::chmod(dir_.File("orders.dat").c_str(), 0444), 0);
  TDataTable &table = Directory().OpenTable("orders");
  EXPECT_TRUE(table.ForcedReadOnly());
  EXPECT_TRUE(table.ReadOnly());
  EXPECT_EQ(table.LockEntry(), nullptr);
  const TBytes before = testing::ReadBytes(dir_.File("orders.dat"));
  table.WriteChanges(true, true, true, true, true);
  EXPECT_EQ(testing::ReadBytes(dir_.File("orders.dat")), before);
}

TEST_F(DataTable, ExclusiveOpensConflict) {
  Directory().CreateTable("orders", OrdersDefinition());
  TDataDirectory &directory = Directory();
  TDataTable &shared = directory.OpenTable("orders");
  EXPECT_EQ(RaisedCode([&] { directory.OpenTable("orders", {.Exclusive = true}); }), NEXORA_OSEACCES);
  EXPECT_EQ(&directory.OpenTable("ORDERS"), &shared);
  EXPECT_EQ(shared.UseCount(), 2);
  directory.CloseTable(shared);
  directory.CloseTable(shared);
  EXPECT_EQ(directory.FindTable("orders"), nullptr);

  TDataTable &exclusive = directory.OpenTable("orders", {.Exclusive = true});
  EXPECT_EQ(exclusive.LockEntry(), nullptr);
  EXPECT_EQ(RaisedCode([&] { directory.OpenTable("orders"); }), NEXORA_OSEACCES);
  // Another session is kept out by the files' sharing modes.
  EXPECT_EQ(RaisedCode([&] { Directory(engine_.NewSession()).OpenTable("orders"); }), NEXORA_OSEACCES);
}

TEST_F(DataTable, RenameAndDeleteMoveEveryFile) {
  TDataDirectory &directory = Directory();
  directory.CreateTable("orders", OrdersDefinition(true));
  TDataTable &open = directory.OpenTable("orders");
  EXPECT_EQ(RaisedCode([&] { directory.RenameTable("orders", "sales"); }), NEXORA_OSEACCES);
  directory.CloseTable(open);
  directory.RenameTable("orders", "sales");
  EXPECT_FALSE(AnyTableFile("orders"));
  EXPECT_TRUE(FileExists(dir_.File("sales.dat")) && FileExists(dir_.File("sales.idx")) &&
              FileExists(dir_.File("sales.blb")));
  EXPECT_TRUE(directory.TableExists("sales"));
  directory.DeleteTable("sales");
  EXPECT_FALSE(AnyTableFile("sales"));
  EXPECT_FALSE(directory.TableExists("sales"));
}

TEST_F(DataTable, EmptyTableResetsTheFiles) {
  Directory().CreateTable("orders", OrdersDefinition());
  TDataTable &table = Directory().OpenTable("orders", {.Exclusive = true});
  AppendRecord(table, 1);
  table.WriteChanges(true, true, false, false, false);
  table.EmptyTable();
  table.WriteChanges(true, true, false, false, false);
  EXPECT_EQ(table.DataFile().GetRecordCount(), 0);
  EXPECT_EQ(std::filesystem::file_size(dir_.File("orders.dat")), table.DataFile().GetFirstOffset());
}

} // namespace
} // namespace nexora

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "storage/table_locks.h"
#include "tables/table_test_support.h"

namespace nexora {
namespace {

using testing::LogLine;
using testing::LogLines;
using testing::OrdersDefinition;
using testing::RaisedCode;
using testing::TChildProcess;
using testing::TTempDir;
using testing::TTestEngine;

void Pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// A database with the table "orders", opened by a session of a patient engine (waits of
// seconds) and reachable from sessions of an impatient one (three retries 1 ms apart) and
// from forked processes, each with an engine of its own.
class TableLocks : public ::testing::Test {
protected:
  TableLocks() {
    TDataDirectory &directory = Directory(patient_);
    directory.CreateTable("orders", OrdersDefinition());
    orders_ = &directory.OpenTable("orders");
  }

  std::string Path() const { return dir_.File(""); }
  std::string LogPath() const { return dir_.File("order.log"); }
  TDataDirectory &Directory(TTestEngine &engine) { return OpenDirectory(engine.NewSession(), "db", Path()); }
  TDataTable &OpenOrders(TTestEngine &engine) { return Directory(engine).OpenTable("orders"); }

  TTempDir dir_;
  TTestEngine patient_;
  TTestEngine impatient_{3, 1};
  TDataTable *orders_ = nullptr;
};

TEST_F(TableLocks, TwoReadersHoldReadLocksAtOnceAndAWriterWaitsForBoth) {
  const auto reader = [&](TChildProcess &self) {
    TTestEngine engine;
    TDataTable &table = OpenOrders(engine);
    table.BeginRead();
    self.Signal();
    self.Wait();
    LogLine(LogPath(), "reader released");
    table.EndRead();
    return 0;
  };
  TChildProcess first(reader);
  TChildProcess second(reader);
  ASSERT_TRUE(first.Wait());
  ASSERT_TRUE(second.Wait());
  TChildProcess writer([&](TChildProcess &self) {
    TTestEngine engine;
    TDataTable &table = OpenOrders(engine);
    self.Signal();
    table.BeginWrite();
    LogLine(LogPath(), "writer acquired");
    table.EndWrite();
    return 0;
  });
  ASSERT_TRUE(writer.Wait());
  // Time for a writer that ignored the readers to get through first.
  Pause(100);
  first.Signal();
  Pause(50);
  second.Signal();
  EXPECT_EQ(first.Join(), 0);
  EXPECT_EQ(second.Join(), 0);
  EXPECT_EQ(writer.Join(), 0);
  EXPECT_EQ(LogLines(LogPath()), (std::vector<std::string>{"reader released", "reader released", "writer acquired"}));
}

TEST_F(TableLocks, AReaderWhoseSlotIsHeldDrawsAnother) {
  TDataTableLocks &entry = *orders_->LockEntry();
  const std::int64_t heldSlots = 32767;
  TChildProcess holder([&](TChildProcess &self) {
    TTestEngine engine;
    TDataDirectory &directory = Directory(engine);
    // Slots 1 to 32767 of the table's region: every other draw meets a held slot.
    const bool held = directory.Locks().AcquireRegion(entry.RegionStart(), heldSlots, 0, 0);
    self.Signal();
    self.Wait();
    return held ? 0 : 1;
  });
  ASSERT_TRUE(holder.Wait());
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(entry.ReadLock());
    EXPECT_GT(entry.ReadSlot(), heldSlots);
    entry.ReadUnlock();
  }
  holder.Signal();
  EXPECT_EQ(holder.Join(), 0);
}

TEST_F(TableLocks, AHeldWriteLockRefusesReadersAndWriters) {
  TDataTable &other = OpenOrders(impatient_);
  orders_->BeginWrite();
  EXPECT_EQ(RaisedCode([&] { other.BeginRead(); }), NEXORA_READLOCK);
  EXPECT_EQ(RaisedCode([&] { other.BeginWrite(); }), NEXORA_WRITELOCK);
  orders_->EndWrite();
  EXPECT_FALSE(other.BeginRead());
  other.EndRead();
}

TEST_F(TableLocks, ARefusedWriteLockGivesBackItsTransactionByte) {
  orders_->BeginRead();
  TDataTable &writer = OpenOrders(impatient_);
  EXPECT_EQ(RaisedCode([&] { writer.BeginWrite(); }), NEXORA_WRITELOCK);
  EXPECT_EQ(writer.LockEntry()->HeldLocks(), 0);
  // The byte is free again for another party.
  TDataTable &third = OpenOrders(impatient_);
  EXPECT_TRUE(third.LockEntry()->TransLock());
  third.LockEntry()->TransUnlock();
  orders_->EndRead();
}

TEST_F(TableLocks, TwoSessionsOfOneEngineExcludeEachOtherLikeTwoProcesses) {
  // Both sessions reach the lock file and the data file through one shared file object.
  TDataTable &first = OpenOrders(impatient_);
  TDataTable &second = OpenOrders(impatient_);
  ASSERT_NE(&first, &second);
  first.BeginRead();
  EXPECT_EQ(RaisedCode([&] { second.BeginWrite(); }), NEXORA_WRITELOCK);
  first.EndRead();
  first.LockRecord(7);
  first.EndRead();
  EXPECT_EQ(RaisedCode([&] { second.LockRecord(7); }), NEXORA_RECLOCKFAILED);
  EXPECT_TRUE(first.LockSemaphore(9));
  EXPECT_FALSE(second.LockSemaphore(9));
}

class TransactionHoldsOffWriters : public TableLocks, public ::testing::WithParamInterface<bool> {};

TEST_P(TransactionHoldsOffWriters, UntilItEnds) {
  const bool restricted = GetParam();
  TChildProcess holder([&](TChildProcess &self) {
    TTestEngine engine;
    TDataDirectory &directory = Directory(engine);
    directory.OpenTable("orders");
    directory.StartTransaction(restricted ? std::optional<std::vector<std::string>>({"orders"}) : std::nullopt);
    self.Signal();
    self.Wait();
    Pause(100);
    LogLine(LogPath(), "committed");
    directory.Commit();
    return 0;
  });
  ASSERT_TRUE(holder.Wait());
  holder.Signal();
  orders_->BeginWrite();
  LogLine(LogPath(), "writer acquired");
  orders_->EndWrite();
  EXPECT_EQ(holder.Join(), 0);
  EXPECT_EQ(LogLines(LogPath()), (std::vector<std::string>{"committed", "writer acquired"}));
}

INSTANTIATE_TEST_SUITE_P(RestrictedOrWholeDatabase, TransactionHoldsOffWriters, ::testing::Bool());

TEST_F(TableLocks, ARecordLockedInAnotherProcessIsRefusedAfterTheRetries) {
  TChildProcess holder([&](TChildProcess &self) {
    TTestEngine engine;
    TDataTable &table = OpenOrders(engine);
    table.LockRecord(7);
    table.EndRead();
    self.Signal();
    self.Wait();
    table.UnlockRecord(7);
    self.Signal();
    self.Wait();
    return 0;
  });
  ASSERT_TRUE(holder.Wait());
  TDataSession &session = orders_->Session();
  session.SetLockRetryCount(2);
  session.SetLockWaitTime(5);
  EXPECT_EQ(RaisedCode([&] { orders_->LockRecord(7); }), NEXORA_RECLOCKFAILED);
  EXPECT_FALSE(orders_->RecordLocked(7));
  // A failed attempt keeps no read lock: a writer elsewhere is not held up by it.
  EXPECT_EQ(orders_->LockEntry()->HeldLocks(), 0);
  EXPECT_FALSE(orders_->LockRecord(8));
  orders_->EndRead();
  holder.Signal();
  ASSERT_TRUE(holder.Wait());
  EXPECT_FALSE(orders_->LockRecord(7));
  orders_->EndRead();
  holder.Signal();
  EXPECT_EQ(holder.Join(), 0);
}

TEST_F(TableLocks, RecordLockRulesWithinOneTable) {
  orders_->Session().SetLockRetryCount(0);
  EXPECT_EQ(RaisedCode([&] { orders_->LockRecord(0); }), NEXORA_RECLOCKFAILED);
  orders_->LockRecord(7);
  EXPECT_EQ(RaisedCode([&] { orders_->LockRecord(7); }), NEXORA_RECLOCKFAILED);
  EXPECT_EQ(RaisedCode([&] { orders_->UnlockRecord(8); }), NEXORA_UNLOCKFAILED);
  orders_->UnlockRecord(7);
  EXPECT_EQ(RaisedCode([&] { orders_->UnlockRecord(7); }), NEXORA_UNLOCKFAILED);
  orders_->EndRead();
}

TEST_F(TableLocks, AnUnlockInsideATransactionWaitsForItsEnd) {
  TDataTable &other = OpenOrders(impatient_);
  TDataDirectory &directory = orders_->Directory();
  for (const bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    directory.StartTransaction(std::vector<std::string>{"orders"});
    orders_->LockRecord(7);
    orders_->UnlockRecord(7);
    EXPECT_TRUE(orders_->RecordUnlockDeferred(7));
    EXPECT_EQ(RaisedCode([&] { other.LockRecord(7); }), NEXORA_RECLOCKFAILED);
    // Taken again without a new lock: the byte never left.
    EXPECT_FALSE(orders_->LockRecord(7));
    EXPECT_TRUE(orders_->RecordLocked(7));
    orders_->UnlockRecord(7);
    commit ? directory.Commit() : directory.Rollback();
    EXPECT_FALSE(orders_->RecordUnlockDeferred(7));
    EXPECT_FALSE(other.LockRecord(7));
    other.UnlockRecord(7);
    other.EndRead();
  }
}

TEST_F(TableLocks, TheTableLockAndRecordLocksExcludeEachOther) {
  TDataTable &other = OpenOrders(impatient_);
  other.Session().SetLockRetryCount(1);
  orders_->LockRecord(3);
  orders_->EndRead();
  EXPECT_EQ(RaisedCode([&] { orders_->LockTable(); }), NEXORA_LOCKED);
  EXPECT_EQ(RaisedCode([&] { other.LockTable(); }), NEXORA_LOCKED);
  orders_->UnlockRecord(3);

  orders_->LockTable();
  EXPECT_FALSE(orders_->LockRecord(4));
  EXPECT_FALSE(orders_->RecordLocked(4));
  EXPECT_EQ(RaisedCode([&] { orders_->LockTable(); }), NEXORA_LOCKED);
  EXPECT_EQ(RaisedCode([&] { other.LockRecord(4); }), NEXORA_RECLOCKFAILED);
  orders_->UnlockTable();
  EXPECT_EQ(RaisedCode([&] { orders_->UnlockTable(); }), NEXORA_UNLOCKFAILED);
  EXPECT_FALSE(other.LockTable());
  other.UnlockTable();
}

TEST_F(TableLocks, Semaphores) {
  TDataTable &other = OpenOrders(impatient_);
  other.Session().SetLockRetryCount(1);
  const std::int32_t limit = patient_.Engine().Limits().MaxSemaphores;
  EXPECT_FALSE(orders_->LockSemaphore(0));
  EXPECT_FALSE(orders_->LockSemaphore(limit + 1));
  EXPECT_TRUE(orders_->LockSemaphore(limit));
  EXPECT_TRUE(orders_->LockSemaphore(5));
  EXPECT_FALSE(other.LockSemaphore(5));
  EXPECT_TRUE(other.LockSemaphore(6));
  EXPECT_TRUE(orders_->UnlockSemaphore(5));
  EXPECT_FALSE(orders_->UnlockSemaphore(5));
  EXPECT_TRUE(other.LockSemaphore(5));
  // Closing the table gives its semaphores back.
  orders_->Directory().CloseTable(*orders_);
  EXPECT_TRUE(other.LockSemaphore(limit));
}

TEST_F(TableLocks, ACommitThatCannotWriteLeavesTheTransactionOpen) {
  TDataDirectory &directory = OpenOrders(impatient_).Directory();
  TDataTable &table = *directory.FindTable("orders");
  directory.StartTransaction(std::vector<std::string>{"orders"});
  orders_->BeginRead();
  EXPECT_EQ(RaisedCode([&] { directory.Commit(); }), NEXORA_WRITELOCK);
  EXPECT_TRUE(directory.InTransaction());
  EXPECT_TRUE(table.InTransaction());
  EXPECT_TRUE(table.LockEntry()->Holds(TDataTableLocks::TransHeld));
  orders_->EndRead();
  directory.Commit();
  EXPECT_FALSE(directory.InTransaction());
  EXPECT_EQ(table.LockEntry()->HeldLocks(), 0);
}

} // namespace
} // namespace nexora

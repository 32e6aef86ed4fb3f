#include <gtest/gtest.h>

#include <set>

#include "engine/data_engine.h"

namespace nexora {
namespace {

TEST(EngineSettings, FreshEngineHasTheDefaults) {
  TDataEngine engine;
  const TEngineSettings &s = engine.Settings();
  EXPECT_FALSE(engine.Active());
  EXPECT_EQ(engine.EngineSignature(), "NEXORA_SIG");
  EXPECT_TRUE(SameDigest(engine.SignatureDigest(), DigestText("NEXORA_SIG")));
  EXPECT_FALSE(s.LargeFileSupport);
  EXPECT_EQ(s.LockFileName, "nexora.lck");
  const std::pair<const std::string *, const char *> extensions[] = {
      {&s.TableDataExtension, ".dat"},        {&s.TableIndexExtension, ".idx"},
      {&s.TableBlobExtension, ".blb"},        {&s.TableDataBackupExtension, ".dbk"},
      {&s.TableIndexBackupExtension, ".ibk"}, {&s.TableBlobBackupExtension, ".bbk"},
      {&s.TableDataUpgradeExtension, ".dup"}, {&s.TableIndexUpgradeExtension, ".iup"},
      {&s.TableBlobUpgradeExtension, ".bup"}, {&s.TableDataTempExtension, ".dat"},
      {&s.TableIndexTempExtension, ".idx"},   {&s.TableBlobTempExtension, ".blb"},
  };
  for (const auto &[value, expected] : extensions) {
    EXPECT_EQ(*value, expected);
  }
  EXPECT_FALSE(s.CreateTempTablesInDatabase);
  EXPECT_EQ(s.MaxTableDataBufferSize, 32768);
  EXPECT_EQ(s.MaxTableDataBufferCount, 8192);
  EXPECT_EQ(s.MaxTableIndexBufferSize, 65536);
  EXPECT_EQ(s.MaxTableIndexBufferCount, 8192);
  EXPECT_EQ(s.MaxTableBlobBufferSize, 32768);
  EXPECT_EQ(s.MaxTableBlobBufferCount, 8192);
  EXPECT_EQ(s.TableFilterIndexThreshhold, 1);
  EXPECT_EQ(s.TableReadLockWaitTime, 3);
  EXPECT_EQ(s.TableReadLockRetryCount, 32768);
  EXPECT_EQ(s.TableWriteLockWaitTime, 3);
  EXPECT_EQ(s.TableWriteLockRetryCount, 32768);
  EXPECT_EQ(s.TableTransLockWaitTime, 3);
  EXPECT_EQ(s.TableTransLockRetryCount, 32768);
  EXPECT_EQ(s.TableMaxReadLockCount, 100);
}

TEST(EngineSettings, SignatureChangeRecomputesTheDigest) {
  TDataEngine engine;
  engine.SetEngineSignature("ACME_TABLES");
  EXPECT_EQ(engine.EngineSignature(), "ACME_TABLES");
  EXPECT_TRUE(SameDigest(engine.SignatureDigest(), DigestText("ACME_TABLES")));
  EXPECT_FALSE(SameDigest(engine.SignatureDigest(), DigestText("NEXORA_SIG")));
  engine.SetEngineSignature(std::string(300, 's'));
  EXPECT_EQ(engine.EngineSignature().size(), 255u);
  EXPECT_TRUE(SameDigest(engine.SignatureDigest(), DigestText(std::string(255, 's'))));
}

struct TLimitsCase {
  bool LargeFileSupport;
  std::int64_t MaxTableFileSize;
  std::int64_t MaxRecordCount;
  std::int64_t LockTop;
};

class EngineLimits : public ::testing::TestWithParam<TLimitsCase> {};

TEST_P(EngineLimits, StartFixesLimitsAndLockSpace) {
  const TLimitsCase &c = GetParam();
  TDataEngine engine;
  engine.Settings().LargeFileSupport = c.LargeFileSupport;
  engine.Start("other.lck");
  EXPECT_TRUE(engine.Active());
  EXPECT_EQ(engine.Settings().LockFileName, "other.lck");
  const TEngineLimits &l = engine.Limits();
  EXPECT_EQ(l.MaxTableFileSize, c.MaxTableFileSize);
  EXPECT_EQ(l.MaxRecordCount, c.MaxRecordCount);
  EXPECT_EQ(l.LockTop, c.LockTop);
  EXPECT_EQ(l.LockFileHeaderBase, c.LockTop - 65535);
  EXPECT_EQ(l.TransByteBase, c.LockTop - 65535);
  EXPECT_EQ(l.TransRegionLength, 4096);
  EXPECT_EQ(l.TableRegionBase, c.LockTop - 65535 - 4096);
  EXPECT_EQ(l.TableRegionLength, 65535);
  EXPECT_EQ(l.AllTablesLength, 268'431'360);
  EXPECT_EQ(l.RecordLockTop, c.LockTop);
  EXPECT_EQ(l.SemaphoreBase, c.LockTop - c.MaxRecordCount);
  EXPECT_EQ(l.MaxSemaphores, 1024);
  // Lock file: the table regions lie below the transaction bytes, all above offset 0.
  EXPECT_EQ(l.TableRegionBase, l.TransByteBase - l.TransRegionLength);
  EXPECT_GT(l.TableRegionBase - l.AllTablesLength, 0);
  // Data file: the record-lock bytes of every record slot end where the semaphores start.
  EXPECT_EQ(l.RecordLockTop - l.MaxRecordCount, l.SemaphoreBase);
  EXPECT_GT(l.SemaphoreBase - l.MaxSemaphores, l.MaxTableFileSize) << "locks lie beyond any data";
  if (!c.LargeFileSupport) {
    EXPECT_LE(l.LockTop, 0xFFFFFFFFLL) << "every lock offset fits in 32 bits";
  }
  engine.Stop();
  EXPECT_FALSE(engine.Active());
}

INSTANTIATE_TEST_SUITE_P(LargeFileSupport, EngineLimits,
                         ::testing::Values(TLimitsCase{false, 4'000'000'000LL, 200'000'000LL, 4'294'967'295LL},
                                           TLimitsCase{true, 128'000'000'000LL, 1'000'000'000LL,
                                                       9'223'372'036'854'775'807LL}));

TEST(EngineRandom, StaysInRangeAndVaries) {
  TDataEngine engine;
  engine.Start("nexora.lck");
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 200; ++i) {
    const std::uint32_t value = engine.Random(10);
    EXPECT_LT(value, 10u);
    seen.insert(value);
  }
  EXPECT_GT(seen.size(), 5u);
  EXPECT_EQ(engine.Random(0), 0u);
}

TEST(TableVersions, OldVersionsAndNames) {
  const std::pair<std::uint8_t, const char *> names[] = {
      {0, "1.00"}, {1, "1.02"}, {2, "1.04"}, {3, "1.08"}, {4, "2.00"}, {5, "3.00"}, {6, "4.00"}, {7, ""}, {255, ""}};
  for (const auto &[version, name] : names) {
    EXPECT_EQ(TDataEngine::TableVersionName(version), name) << int(version);
  }
  EXPECT_TRUE(TDataEngine::IsOldTableVersion(0));
  EXPECT_TRUE(TDataEngine::IsOldTableVersion(6));
  EXPECT_FALSE(TDataEngine::IsOldTableVersion(7));
  EXPECT_FALSE(TDataEngine::IsOldTableVersion(200));
}

TEST(EngineHooks, TextIndexFiltersDefaultToUnchangedAndAccepted) {
  TDataEngine engine;
  EXPECT_EQ(engine.FilterTextIndex("t", "f", "Some Text"), "Some Text");
  EXPECT_TRUE(engine.FilterTextIndexToken("t", "f", "word"));
  engine.Hooks().TextIndexFilter = [](const std::string &table, const std::string &field, std::string &text) {
    text = table + "." + field + ":" + text;
  };
  engine.Hooks().TextIndexTokenFilter = [](const std::string &, const std::string &, const std::string &token,
                                           bool &include) { include = token != "the"; };
  EXPECT_EQ(engine.FilterTextIndex("t", "f", "x"), "t.f:x");
  EXPECT_FALSE(engine.FilterTextIndexToken("t", "f", "the"));
  EXPECT_TRUE(engine.FilterTextIndexToken("t", "f", "cat"));
}

TEST(EngineAccessor, OneEngineWithItsLocales) {
  TDataEngine &engine = DataEngine();
  EXPECT_EQ(&engine, &DataEngine());
  ASSERT_FALSE(engine.Locales().empty());
  EXPECT_EQ(engine.Locales().front()->LanguageName(), "ANSI Standard");
}

} // namespace
} // namespace nexora

// Inserting and deleting keys in a counted tree of 1,000,000 keys, on a memory file and on
// disk, with random and ascending keys. Counters: cache page reads and write transfers per
// operation. The reference in the same run: SQLite inserting and deleting the same keys in
// a table keyed by them (a B-tree without row ids), with the same page size and cache.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "storage/counted_tree.h"
#include "storage/record_layout.h"
#include "test_buffer_file.h"

namespace {

using namespace nexora;

constexpr std::int32_t KeyTotal = 1'000'000;
constexpr std::int32_t IndexNumber = 1;

// A table of one integer field, indexed unique at 4096-byte pages.
class TIntegerContext : public TIndexFileContext {
public:
  TIntegerContext() {
    field_.SetNumber(1);
    field_.SetName("N");
    field_.SetType(ftcInteger);
    field_.SetPhysicalSize(4);
    field_.SetRecordOffset(static_cast<std::uint16_t>(RecordFieldsOffset));
  }
  std::int32_t IndexPageSize() const override { return 4096; }
  std::uint32_t LocaleId() const override { return 0; }
  std::string TableName() const override { return "bench"; }
  const TFieldDef *FieldDef(std::int16_t number) const override { return number == 1 ? &field_ : nullptr; }
  std::int32_t FieldCount() const override { return 1; }

private:
  TFieldDef field_;
};

struct TBenchTree {
  explicit TBenchTree(bool inMemory)
      : path_(inMemory ? "bench-tree.idx"
                       : (std::filesystem::temp_directory_path() / "nexora-counted-tree-bench.idx").string()),
        file(engine, path_, inMemory, owner, context) {
    file.CreateFile();
    file.SetIndexDef(PrimaryIndexSlot, TIndexFile::DefaultPrimaryIndexDef());
    file.SetIndexDef(TextIndexSlot, TIndexFile::TextIndexDef({}));
    TIndexDef def;
    def.SetName("ByNumber");
    def.SetFields({1});
    def.SetUnique(true);
    file.AddIndex(def);
    tree = std::make_unique<TCountedTree>(file, IndexNumber);
  }
  ~TBenchTree() {
    file.CloseFile();
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  std::array<std::uint8_t, 5> Key(std::int32_t value) const {
    std::array<std::uint8_t, 5> key{1};
    StoreKeyInt32(key.data() + 1, value);
    return key;
  }
  void Insert(std::int32_t value) {
    const auto key = Key(value);
    tree->InsertKey(key.data(), value, keyPath);
  }
  void Delete(std::int32_t value) {
    const auto key = Key(value);
    tree->DeleteKey(key.data(), keyPath);
  }

  std::string path_;
  TDataEngine engine;
  TTestCacheOwner owner;
  TIntegerContext context;
  TIndexFile file;
  std::unique_ptr<TCountedTree> tree;
  TKeyPath keyPath;
};

std::vector<std::int32_t> Values(bool random) {
  std::vector<std::int32_t> values(KeyTotal);
  std::iota(values.begin(), values.end(), 1);
  if (random) {
    std::shuffle(values.begin(), values.end(), std::mt19937(42));
  }
  return values;
}

void Report(benchmark::State &state, const TCacheStatistics &before, const TCacheStatistics &after) {
  const auto operations = static_cast<double>(KeyTotal) * static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(operations));
  state.counters["reads/op"] = static_cast<double>(after.Reads - before.Reads) / operations;
  state.counters["writes/op"] = static_cast<double>(after.WriteTransfers - before.WriteTransfers) / operations;
}

// Arguments: random keys (1) or ascending (0); memory file (1) or disk (0).
void Insert(benchmark::State &state) {
  const std::vector<std::int32_t> values = Values(state.range(0) != 0);
  TCacheStatistics before;
  TCacheStatistics after;
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = std::make_unique<TBenchTree>(state.range(1) != 0);
    before = tree->file.Statistics();
    state.ResumeTiming();
    for (const std::int32_t value : values) {
      tree->Insert(value);
    }
    tree->file.FlushBuffers(false);
    state.PauseTiming();
    after = tree->file.Statistics();
    tree.reset();
    state.ResumeTiming();
  }
  Report(state, before, after);
}

void Delete(benchmark::State &state) {
  const std::vector<std::int32_t> values = Values(state.range(0) != 0);
  TCacheStatistics before;
  TCacheStatistics after;
  for (auto _ : state) {
    state.PauseTiming();
    auto tree = std::make_unique<TBenchTree>(state.range(1) != 0);
    for (const std::int32_t value : Values(false)) {
      tree->Insert(value);
    }
    tree->file.FlushBuffers(false);
    before = tree->file.Statistics();
    state.ResumeTiming();
    for (const std::int32_t value : values) {
      tree->Delete(value);
    }
    tree->file.FlushBuffers(false);
    state.PauseTiming();
    after = tree->file.Statistics();
    tree.reset();
    state.ResumeTiming();
  }
  Report(state, before, after);
}

// SQLite with the same keys, page size and cache, no journal and no syncing (the counted
// tree writes through the cache and does not sync either), one transaction per run.
class TSqliteTable {
public:
  explicit TSqliteTable(bool inMemory)
      : path_(inMemory ? ":memory:" : (std::filesystem::temp_directory_path() / "nexora-sqlite-bench.db").string()) {
    std::filesystem::remove(path_);
    if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) {
      std::abort();
    }
    Run("PRAGMA page_size=4096; PRAGMA cache_size=-64; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
        "CREATE TABLE keys(n INTEGER PRIMARY KEY) WITHOUT ROWID;");
  }
  ~TSqliteTable() {
    sqlite3_close(db_);
    if (path_ != ":memory:") {
      std::filesystem::remove(path_);
    }
  }
  void Run(const char *sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::abort();
    }
  }
  // Runs the statement once per value inside one transaction.
  void ForEach(const char *sql, const std::vector<std::int32_t> &values) {
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
    Run("BEGIN");
    for (const std::int32_t value : values) {
      sqlite3_bind_int(statement, 1, value);
      if (sqlite3_step(statement) != SQLITE_DONE) {
        std::abort();
      }
      sqlite3_reset(statement);
    }
    Run("COMMIT");
    sqlite3_finalize(statement);
  }

private:
  std::filesystem::path path_;
  sqlite3 *db_ = nullptr;
};

void SqliteInsert(benchmark::State &state) {
  const std::vector<std::int32_t> values = Values(state.range(0) != 0);
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<TSqliteTable>(state.range(1) != 0);
    state.ResumeTiming();
    table->ForEach("INSERT INTO keys VALUES (?)", values);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(KeyTotal) * state.iterations());
}

void SqliteDelete(benchmark::State &state) {
  const std::vector<std::int32_t> values = Values(state.range(0) != 0);
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<TSqliteTable>(state.range(1) != 0);
    table->ForEach("INSERT INTO keys VALUES (?)", Values(false));
    state.ResumeTiming();
    table->ForEach("DELETE FROM keys WHERE n = ?", values);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(KeyTotal) * state.iterations());
}

BENCHMARK(Insert)
    ->ArgsProduct({{1, 0}, {1, 0}})
    ->ArgNames({"random", "memory"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Delete)
    ->ArgsProduct({{1, 0}, {1, 0}})
    ->ArgNames({"random", "memory"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(SqliteInsert)
    ->ArgsProduct({{1, 0}, {1, 0}})
    ->ArgNames({"random", "memory"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SqliteDelete)
    ->ArgsProduct({{1, 0}, {1, 0}})
    ->ArgNames({"random", "memory"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

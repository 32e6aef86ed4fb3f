// Reading and writing a table of 200,000 records through a cursor, beside SQLite doing the
// same with the same rows in the same run: a full scan in key order, a point lookup by key,
// positioning by record number, and single inserts each written out at once (SQLite in
// autocommit mode without syncing, as the cursor does not sync either).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cursor/data_cursor.h"
#include "engine/data_session.h"
#include "storage/field_values.h"

namespace {

using namespace nexora;

constexpr std::int32_t RecordTotal = 200'000;

std::string NameOf(std::int64_t id) { return "customer " + std::to_string(id * 7919 % 100'003); }

// The table "bench" (Id integer, the primary index; Name string of 20) in a temporary
// directory, and the same rows in an SQLite database beside it.
struct TBenchTables {
  TBenchTables() : path((std::filesystem::temp_directory_path() / "nexora-cursor-bench").string()) {
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    engine.Start("nexora.lck");
    directory = &OpenDirectory(engine.CreateSession(), "bench", path);
    TTableDefinition definition;
    for (const auto &[name, type, size] : {std::tuple{"Id", ftcInteger, 0}, std::tuple{"Name", ftcString, 20}}) {
      TFieldDef def;
      def.SetName(name);
      def.SetType(type);
      def.SetDeclaredSize(static_cast<std::uint16_t>(size));
      def.SetNumber(static_cast<std::uint16_t>(definition.Fields.size() + 1));
      definition.Fields.push_back(def);
    }
    TIndexDef primary;
    primary.SetFields({1});
    primary.SetUnique(true);
    definition.PrimaryIndex = primary;
    directory->CreateTable("bench", definition);
    cursor = std::make_unique<TDataCursor>(*directory);
    cursor->SetTableName("bench");
    cursor->Open();
    directory->StartTransaction(std::vector<std::string>{"bench"});
    for (std::int64_t id = 1; id <= RecordTotal; ++id) {
      Insert(id);
    }
    directory->Commit();

    sqlite3_open((path + "/bench.sqlite").c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY;"
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT); BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
    for (std::int64_t id = 1; id <= RecordTotal; ++id) {
      const std::string name = NameOf(id);
      sqlite3_bind_int64(insert, 1, id);
      sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  }
  ~TBenchTables() {
    sqlite3_close(db);
    cursor.reset();
    std::filesystem::remove_all(path);
  }
  void Insert(std::int64_t id) {
    std::vector<std::uint8_t> image = cursor->InitNewRecord();
    WriteFieldValue(cursor->FieldDef(1), image, id, 0);
    WriteFieldValue(cursor->FieldDef(2), image, NameOf(id), 0);
    cursor->InsertRecord(image, false);
  }
  std::vector<std::uint8_t> KeyOf(std::int64_t id) {
    std::vector<std::uint8_t> image(cursor->RecordSize(), 0);
    WriteFieldValue(cursor->FieldDef(1), image, id, 0);
    return cursor->BuildKey(image);
  }

  std::string path;
  TDataEngine engine;
  TDataDirectory *directory = nullptr;
  std::unique_ptr<TDataCursor> cursor;
  sqlite3 *db = nullptr;
};

TBenchTables &Tables() {
  static TBenchTables tables;
  return tables;
}

void BM_CursorScan(benchmark::State &state) {
  TDataCursor &cursor = *Tables().cursor;
  std::vector<std::uint8_t> image(cursor.RecordSize());
  for (auto _ : state) {
    std::int64_t sum = 0;
    cursor.First();
    while (cursor.Next(image.data()) == NEXORA_NONE) {
      sum += std::get<std::int64_t>(ReadFieldValue(cursor.FieldDef(1), image));
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * RecordTotal);
}
BENCHMARK(BM_CursorScan)->Unit(benchmark::kMillisecond);

void BM_SqliteScan(benchmark::State &state) {
  sqlite3_stmt *scan = nullptr;
  sqlite3_prepare_v2(Tables().db, "SELECT id, name FROM t ORDER BY id", -1, &scan, nullptr);
  for (auto _ : state) {
    std::int64_t sum = 0;
    while (sqlite3_step(scan) == SQLITE_ROW) {
      sum += sqlite3_column_int64(scan, 0);
      benchmark::DoNotOptimize(sqlite3_column_text(scan, 1));
    }
    sqlite3_reset(scan);
    benchmark::DoNotOptimize(sum);
  }
  sqlite3_finalize(scan);
  state.SetItemsProcessed(state.iterations() * RecordTotal);
}
BENCHMARK(BM_SqliteScan)->Unit(benchmark::kMillisecond);

void BM_CursorFindKey(benchmark::State &state) {
  TBenchTables &tables = Tables();
  std::mt19937 random(1);
  std::uniform_int_distribution<std::int64_t> ids(1, RecordTotal);
  for (auto _ : state) {
    const std::vector<std::uint8_t> key = tables.KeyOf(ids(random));
    benchmark::DoNotOptimize(tables.cursor->FindKey(key.data(), false));
  }
}
BENCHMARK(BM_CursorFindKey);

void BM_SqliteFindKey(benchmark::State &state) {
  sqlite3_stmt *find = nullptr;
  sqlite3_prepare_v2(Tables().db, "SELECT id, name FROM t WHERE id = ?", -1, &find, nullptr);
  std::mt19937 random(1);
  std::uniform_int_distribution<std::int64_t> ids(1, RecordTotal);
  for (auto _ : state) {
    sqlite3_bind_int64(find, 1, ids(random));
    benchmark::DoNotOptimize(sqlite3_step(find));
    benchmark::DoNotOptimize(sqlite3_column_text(find, 1));
    sqlite3_reset(find);
  }
  sqlite3_finalize(find);
}
BENCHMARK(BM_SqliteFindKey);

void BM_CursorSetRecNo(benchmark::State &state) {
  TDataCursor &cursor = *Tables().cursor;
  std::mt19937 random(2);
  std::uniform_int_distribution<std::int32_t> recNos(1, RecordTotal);
  for (auto _ : state) {
    benchmark::DoNotOptimize(cursor.SetRecNo(recNos(random)));
  }
}
BENCHMARK(BM_CursorSetRecNo);

void BM_CursorInsert(benchmark::State &state) {
  TBenchTables &tables = Tables();
  static std::int64_t next = RecordTotal;
  for (auto _ : state) {
    tables.Insert(++next);
  }
}
BENCHMARK(BM_CursorInsert);

void BM_SqliteInsert(benchmark::State &state) {
  sqlite3_stmt *insert = nullptr;
  sqlite3_prepare_v2(Tables().db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr);
  static std::int64_t next = RecordTotal;
  for (auto _ : state) {
    const std::string name = NameOf(++next);
    sqlite3_bind_int64(insert, 1, next);
    sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
}
BENCHMARK(BM_SqliteInsert);

} // namespace

BENCHMARK_MAIN();

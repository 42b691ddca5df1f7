// The program's own work through the database and table components, against SQLite on
// the same table (fg, dat, mlg, thnd, nhnd, sstat with an index on fg, dat): opening
// the database and walking all 100 000 records, finding one record by VIN and date,
// walking one vehicle's records newest first through a record filter, and storing one
// new record. SQLite runs with synchronous=OFF, as the engine does not flush the file
// after a commit either.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_table.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"

namespace hdb {
namespace {

constexpr int RecordCount = 100000;
constexpr int VinCount = 10000;

std::string BenchFile(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

std::string Vin(int n) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", n);
  return text;
}

std::int32_t DayOf(int i) { return EncodeDayNumber(2000, 1, 1) + (i / VinCount) * 200 + i % 97; }

// dsTable with 100 000 records over 10 000 VINs, made once through the cursor layer.
const std::string& EngineFile() {
  static const std::string path = [] {
    const std::string p = BenchFile("hdb-components-bench.hdb");
    std::filesystem::remove(p);
    THDBLocalSession maker;
    maker.DatabaseFileName = p;
    maker.CreateDatabase();
    THDBLocalSession s;
    s.DatabaseName = "Bench";
    s.DatabaseFileName = p;
    s.SetConnected(true);
    THDBFieldDefs fields;
    fields.AddField("FG", dtChar, 17);
    fields.AddField("DAT", dtDate);
    fields.AddField("MLG", dtLargeInt);
    fields.AddField("THND", dtWord);
    fields.AddField("NHND", dtChar, 7);
    fields.AddField("SSTAT", dtWord);
    fields.RecalcOffsets();
    THDBIndexDefs indexes;
    THDBIndexDef& index = indexes.AddNew();
    index.Name = "FGDAT";
    index.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
    THDBConstraintDefs constraints;
    for (int i = 0; i < fields.Count(); ++i) {
      auto nn = std::make_unique<THDBConstraintDefNotNull>();
      nn->FieldRef.Name = fields[i].Name;
      constraints.Add(std::move(nn));
    }
    THDBLocalCursor cursor(s);
    cursor.TableName = "dsTable";
    cursor.CreateTable(fields, indexes, constraints);
    cursor.OpenTable();
    std::vector<std::uint8_t> buffer = cursor.AllocRecordBuffer();
    cursor.BeginBatchUpdate();
    for (int i = 0; i < RecordCount; ++i) {
      cursor.InitRecordBuffer(buffer.data(), true);
      char fg[18] = {}, nhnd[8] = "AG1";
      std::memcpy(fg, Vin(i % VinCount).c_str(), 17);
      const std::int32_t dat = DayOf(i);
      const std::int64_t mlg = 1000 + i;
      const std::uint16_t thnd = 1, sstat = 16385;
      cursor.WriteField(0, buffer.data(), fg);
      cursor.WriteField(1, buffer.data(), &dat);
      cursor.WriteField(2, buffer.data(), &mlg);
      cursor.WriteField(3, buffer.data(), &thnd);
      cursor.WriteField(4, buffer.data(), nhnd);
      cursor.WriteField(5, buffer.data(), &sstat);
      cursor.CurrentRecord = buffer.data();
      cursor.WriteRecord(true);
    }
    cursor.EndBatchUpdate();
    return p;
  }();
  return path;
}

const std::string& SQLiteFile() {
  static const std::string path = [] {
    const std::string p = BenchFile("hdb-components-bench.sqlite");
    std::filesystem::remove(p);
    sqlite3* db = nullptr;
    sqlite3_open(p.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA synchronous=OFF; CREATE TABLE dsTable(fg TEXT NOT NULL, dat INTEGER NOT NULL, mlg INTEGER "
                 "NOT NULL, thnd INTEGER NOT NULL, nhnd TEXT NOT NULL, sstat INTEGER NOT NULL);"
                 "CREATE INDEX fgdat ON dsTable(fg, dat); BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO dsTable VALUES(?, ?, ?, 1, 'AG1', 16385)", -1, &st, nullptr);
    for (int i = 0; i < RecordCount; ++i) {
      const std::string vin = Vin(i % VinCount);
      sqlite3_bind_text(st, 1, vin.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(st, 2, DayOf(i));
      sqlite3_bind_int64(st, 3, 1000 + i);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return p;
  }();
  return path;
}

struct Program {
  explicit Program(const std::string& path) {
    db.SetDatabaseName("Dataset");
    db.SetDatabaseFileName(path);
    db.SilentMode = true;
    db.Open();
    table.SetDatabaseName("Dataset");
    table.SetTableName("dsTable");
    FG = &table.CreateField<THDBStringField>("FG", 17, ftFixedChar);
    DAT = &table.CreateField<THDBDateField>("DAT");
    MLG = &table.CreateField<THDBLargeintField>("MLG");
    THND = &table.CreateField<THDBWordField>("THND");
    NHND = &table.CreateField<THDBStringField>("NHND", 7, ftFixedChar);
    SSTAT = &table.CreateField<THDBWordField>("SSTAT");
  }
  THDBDatabase db;
  THDBTable table;
  THDBStringField* FG;
  THDBDateField* DAT;
  THDBLargeintField* MLG;
  THDBWordField* THND;
  THDBStringField* NHND;
  THDBWordField* SSTAT;
};

// ---- open and walk everything --------------------------------------------------------

void BM_OpenWalk_Components(benchmark::State& state) {
  const std::string& path = EngineFile();
  const bool indexed = state.range(0) != 0;
  for (auto _ : state) {
    Program p(path);
    if (indexed) p.table.SetIndexFieldNames("FG;DAT");
    p.table.Open();
    std::int64_t sum = 0, n = 0;
    for (p.table.GoFirst(); !p.table.IsAtEnd(); p.table.GoNext()) {
      sum += p.MLG->AsLargeInt();
      ++n;
    }
    if (n != RecordCount) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * RecordCount);
}
BENCHMARK(BM_OpenWalk_Components)->Arg(0)->Arg(1)->ArgName("indexed")->Unit(benchmark::kMillisecond);

void BM_OpenWalk_SQLite(benchmark::State& state) {
  const std::string& path = SQLiteFile();
  const bool indexed = state.range(0) != 0;
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       indexed ? "SELECT fg, dat, mlg, thnd, nhnd, sstat FROM dsTable ORDER BY fg, dat"
                               : "SELECT fg, dat, mlg, thnd, nhnd, sstat FROM dsTable",
                       -1, &st, nullptr);
    std::int64_t sum = 0, n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      sum += sqlite3_column_int64(st, 2);
      ++n;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    if (n != RecordCount) state.SkipWithError("wrong count");
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * RecordCount);
}
BENCHMARK(BM_OpenWalk_SQLite)->Arg(0)->Arg(1)->ArgName("indexed")->Unit(benchmark::kMillisecond);

// ---- one record by VIN and date ------------------------------------------------------

void BM_SeekKey_Components(benchmark::State& state) {
  Program p(EngineFile());
  p.table.SetIndexName("FGDAT");
  p.table.Open();
  int i = 0;
  for (auto _ : state) {
    const int r = (i++ * 7919) % RecordCount;
    p.table.BeginKeyEntry();
    p.FG->SetAsString(Vin(r % VinCount));
    p.DAT->SetAsDateTime(DayOf(r) - DateDelta);
    if (!p.table.SeekKey()) state.SkipWithError("not found");
    benchmark::DoNotOptimize(p.MLG->AsLargeInt());
  }
}
BENCHMARK(BM_SeekKey_Components);

void BM_SeekKey_SQLite(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(SQLiteFile().c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT mlg FROM dsTable WHERE fg = ? AND dat = ? LIMIT 1", -1, &st, nullptr);
  int i = 0;
  for (auto _ : state) {
    const int r = (i++ * 7919) % RecordCount;
    const std::string vin = Vin(r % VinCount);
    sqlite3_bind_text(st, 1, vin.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 2, DayOf(r));
    if (sqlite3_step(st) != SQLITE_ROW) state.SkipWithError("not found");
    benchmark::DoNotOptimize(sqlite3_column_int64(st, 0));
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}
BENCHMARK(BM_SeekKey_SQLite);

// ---- one vehicle newest first ---------------------------------------------------------

// Through a record filter the cursor tests every record (no index can serve a
// handler), so this is a walk of the whole table per vehicle.
void BM_FilterWalkOneVin_Components(benchmark::State& state) {
  Program p(EngineFile());
  p.table.SetIndexFieldNames("FG;DAT");
  p.table.Open();
  std::string vin;
  p.table.SetOnFilterRecord([&](THDBDataSet&, bool& accept) { accept = p.FG->AsString() == vin; });
  int i = 0;
  for (auto _ : state) {
    vin = Vin((i++ * 7919) % VinCount);
    p.table.SetFiltered(false);
    p.table.SetFiltered(true);
    int n = 0;
    for (p.table.GoLast(); !p.table.IsAtStart(); p.table.GoPrior()) ++n;
    if (n != RecordCount / VinCount) state.SkipWithError("wrong count");
  }
}
BENCHMARK(BM_FilterWalkOneVin_Components)->Unit(benchmark::kMillisecond);

void BM_WalkOneVin_SQLite(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(SQLiteFile().c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT dat, mlg FROM dsTable WHERE fg = ? ORDER BY dat DESC", -1, &st, nullptr);
  int i = 0;
  for (auto _ : state) {
    const std::string vin = Vin((i++ * 7919) % VinCount);
    sqlite3_bind_text(st, 1, vin.c_str(), -1, SQLITE_TRANSIENT);
    int n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) ++n;
    sqlite3_reset(st);
    if (n != RecordCount / VinCount) state.SkipWithError("wrong count");
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}
BENCHMARK(BM_WalkOneVin_SQLite)->Unit(benchmark::kMicrosecond);

// ---- one new record -------------------------------------------------------------------

void BM_InsertPost_Components(benchmark::State& state) {
  const std::string path = BenchFile("hdb-components-bench-insert.hdb");
  std::filesystem::copy_file(EngineFile(), path, std::filesystem::copy_options::overwrite_existing);
  {
    Program p(path);
    p.table.Open();
    int i = 0;
    for (auto _ : state) {
      p.table.BeginInsert();
      p.FG->SetAsString(Vin(RecordCount + i));
      p.DAT->SetAsDateTime(DayOf(i) - DateDelta);
      p.MLG->SetAsLargeInt(i);
      p.THND->SetAsInteger(1);
      p.NHND->SetAsString("AG1");
      p.SSTAT->SetAsInteger(16385);
      p.table.PostRecord();
      ++i;
    }
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_InsertPost_Components)->Unit(benchmark::kMicrosecond);

void BM_Insert_SQLite(benchmark::State& state) {
  const std::string path = BenchFile("hdb-components-bench-insert.sqlite");
  std::filesystem::copy_file(SQLiteFile(), path, std::filesystem::copy_options::overwrite_existing);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO dsTable VALUES(?, ?, ?, 1, 'AG1', 16385)", -1, &st, nullptr);
  int i = 0;
  for (auto _ : state) {
    const std::string vin = Vin(RecordCount + i);
    sqlite3_bind_text(st, 1, vin.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 2, DayOf(i));
    sqlite3_bind_int64(st, 3, i);
    sqlite3_step(st);
    sqlite3_reset(st);
    ++i;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::filesystem::remove(path);
}
BENCHMARK(BM_Insert_SQLite)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace hdb

BENCHMARK_MAIN();

// What a commit costs: the service record table with its FGDAT index, one record per
// commit and 1000 records in one commit, with and without the rollback journal and with
// flushing on and off; and SQLite on the same work (the same six columns and index),
// in journal modes DELETE and WAL with synchronous FULL and OFF.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/session_link.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/cursor_state.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"

namespace hdb {
namespace {

std::string BenchFile(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

struct BenchSession : THDBSessionLink {
  bool ExclusiveRequested() const override { return false; }
  bool MultiUserRequested() const override { return false; }
  std::int32_t SessionID() const override { return id; }
  void SetSessionID(std::int32_t v) override { id = v; }
  void SetOpenResult(bool, bool) override {}
  bool InTransaction() const override { return inTransaction; }
  std::int32_t id = -1;
  bool inTransaction = false;
};

struct BenchCursor : THDBCursorState {
  BenchSession* session = nullptr;
  bool InTransaction() const override { return session->inTransaction; }
};

// A new file holding dsTable, opened for inserts.
class ServiceTable {
 public:
  ServiceTable(const std::string& path, bool flushing, bool journaling) : db_(path) {
    {
      THDBDiskDatabaseData maker(path);
      maker.FlushCommits = false;
      maker.CreateDatabase();
    }
    db_.FlushCommits = flushing;
    db_.Attach(session_);
    db_.PageManager()->SetJournaling(journaling);
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
    table_ = std::make_unique<THDBDiskTableData>(db_, "dsTable");
    cursor_.session = &session_;
    cursor_.Session = session_.SessionID();
    cursor_.TableName = "dsTable";
    table_->CreateTable(cursor_, fields, indexes, constraints);
    table_->OpenTable(cursor_);
    buffer_.resize(static_cast<std::size_t>(table_->Fields().MemoryRecordSize()));
  }
  ~ServiceTable() {
    table_->CloseTable(cursor_);
    table_.reset();
    db_.Detach(session_);
  }

  void Insert(std::int64_t n) {
    const THDBBaseFieldManager& f = table_->Fields();
    f.InitRecord(buffer_.data(), false);
    const std::string fg = "WBA" + std::to_string(1000000 + n % 5000) + "0000000";
    const std::int32_t dat = 40000 + static_cast<std::int32_t>(n % 3000);
    const std::uint16_t thnd = 1, sstat = 16513;
    f.SetFieldValue(0, fg.c_str(), buffer_.data());
    f.SetFieldValue(1, &dat, buffer_.data());
    f.SetFieldValue(2, &n, buffer_.data());
    f.SetFieldValue(3, &thnd, buffer_.data());
    f.SetFieldValue(4, "1234567", buffer_.data());
    f.SetFieldValue(5, &sstat, buffer_.data());
    cursor_.CurrentRecord = buffer_.data();
    table_->InsertTableRecord(cursor_);
  }
  void Begin() { session_.inTransaction = true; }
  void Commit() {
    session_.inTransaction = false;
    db_.Commit(cursor_.Session, false);
  }

 private:
  BenchSession session_;
  THDBDiskDatabaseData db_;
  std::unique_ptr<THDBDiskTableData> table_;
  BenchCursor cursor_;
  std::vector<std::uint8_t> buffer_;
};

// Arguments: records per commit, flushing (0/1), journal (0/1).
void BM_EngineCommit(benchmark::State& state) {
  const std::string path = BenchFile("hdb-bench-commit.hdb");
  const int perCommit = static_cast<int>(state.range(0));
  ServiceTable table(path, state.range(1) != 0, state.range(2) != 0);
  std::int64_t n = 0;
  for (int i = 0; i < 200; ++i) table.Insert(n++);  // a table that is not empty
  for (auto _ : state) {
    if (perCommit == 1) {
      table.Insert(n++);  // commits at once, as the program's post does
    } else {
      table.Begin();
      for (int i = 0; i < perCommit; ++i) table.Insert(n++);
      table.Commit();
    }
  }
  state.SetItemsProcessed(state.iterations() * perCommit);
  state.SetLabel(std::string(state.range(1) ? "flush" : "no flush") + (state.range(2) ? ", journal" : ", no journal"));
}
BENCHMARK(BM_EngineCommit)
    ->ArgsProduct({{1}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineCommit)
    ->ArgsProduct({{1000}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// Arguments: records per commit, synchronous FULL (1) or OFF (0), WAL (1) or DELETE (0).
void BM_SQLiteCommit(benchmark::State& state) {
  const std::string path = BenchFile("hdb-bench-commit.sqlite");
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  const int perCommit = static_cast<int>(state.range(0));
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const std::string pragmas = std::string("PRAGMA page_size=4096; PRAGMA journal_mode=") +
                              (state.range(2) ? "WAL" : "DELETE") + "; PRAGMA synchronous=" +
                              (state.range(1) ? "FULL" : "OFF") + ";";
  sqlite3_exec(db, pragmas.c_str(), nullptr, nullptr, nullptr);
  sqlite3_exec(db,
               "CREATE TABLE dsTable(FG CHAR(17) NOT NULL, DAT INTEGER NOT NULL, MLG INTEGER NOT NULL, "
               "THND INTEGER NOT NULL, NHND CHAR(7) NOT NULL, SSTAT INTEGER NOT NULL);"
               "CREATE INDEX FGDAT ON dsTable(FG, DAT);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO dsTable VALUES(?, ?, ?, 1, '1234567', 16513)", -1, &insert, nullptr);
  std::int64_t n = 0;
  auto insertOne = [&] {
    const std::string fg = "WBA" + std::to_string(1000000 + n % 5000) + "0000000";
    sqlite3_bind_text(insert, 1, fg.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 2, 40000 + static_cast<int>(n % 3000));
    sqlite3_bind_int64(insert, 3, n);
    sqlite3_step(insert);
    sqlite3_reset(insert);
    ++n;
  };
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < 200; ++i) insertOne();
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  for (auto _ : state) {
    if (perCommit == 1) {
      insertOne();
    } else {
      sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
      for (int i = 0; i < perCommit; ++i) insertOne();
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
  }
  sqlite3_finalize(insert);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * perCommit);
  state.SetLabel(std::string(state.range(2) ? "WAL" : "DELETE") + (state.range(1) ? ", FULL" : ", OFF"));
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
}
BENCHMARK(BM_SQLiteCommit)->ArgsProduct({{1}, {0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SQLiteCommit)->ArgsProduct({{1000}, {0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hdb

BENCHMARK_MAIN();

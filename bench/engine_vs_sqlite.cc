// engine_vs_sqlite: the program's own work on its service record table, once on the
// engine through the database and table components (as the program drives them) and
// once on SQLite through its C API with prepared statements, on the same machine in
// one run, one after the other. Prints one Markdown table line per workload and size:
//
//   | workload | records | vehicles | engine µs/op | SQLite µs/op | ratio |
//
// The table is dsTable: FG (17 characters), DAT (date), MLG (64-bit), THND (16-bit),
// NHND (7 characters), SSTAT (16-bit), every field required, and the index FGDAT on
// FG then DAT. Each vehicle has records / vehicles services on distinct dates.
//
// Workloads:
//   1 insert one record per commit: 1 000 new services added to a table that already
//     holds the records, each its own commit (the editor's Save);
//   2 insert every record in one transaction: the table filled from empty;
//   3 one vehicle's history: filter to the VIN, index "FG;DAT", GoLast, then GoPrior
//     to the start reading DAT, MLG and SSTAT (ShowHistory);
//   4 seek by VIN and date with the index "FGDAT" (the editor's duplicate check);
//   5 the VIN list: every distinct FG in order (ReloadVinList), one op = one list;
//   6 a filtered record count for one VIN.
//
// SQLite runs with journal_mode WAL and synchronous OFF, and the engine with its commit
// flushes turned off: neither side asks the disk to flush, both still write their
// journal first. --sqlite-default adds a column set for SQLite in its default mode
// (rollback journal, synchronous FULL) against the engine with its commits flushed (the
// journal, then the file), the same durability on both sides. --quick runs only the smaller size. --workloads=1,3
// picks workloads; --dir=PATH says where the files go (default: the temp directory).
// Each figure is wall-clock time, the best of three rounds.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <strings.h>
#include <vector>

#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_table.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"

namespace {

using namespace hdb;
using Clock = std::chrono::steady_clock;

struct Size {
  int Records;
  int Vehicles;
};

struct Options {
  bool Quick = false;
  bool SQLiteDefault = false;
  std::vector<int> Workloads{1, 2, 3, 4, 5, 6};
  std::filesystem::path Dir = std::filesystem::temp_directory_path();
};

constexpr int SingleCommitInserts = 1000;
// Every figure is the best of this many rounds: the machine is shared, and the best
// round is the one least disturbed by others.
constexpr int Rounds = 3;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

// ---- the data ----------------------------------------------------------------------------

std::string Vin(int vehicle) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", vehicle);
  return text;
}

// Service k of a vehicle: about half a year after the one before, spread over the week.
std::int32_t DayNumber(int vehicle, int k) { return EncodeDayNumber(2000, 1, 1) + k * 180 + vehicle % 97; }

struct Service {
  std::string FG;
  std::int32_t Day;  // day number
  std::int64_t MLG;
  int THND;
  std::string NHND;
  int SSTAT;
};

// Record i: vehicle i % vehicles, its (i / vehicles)-th service, so the vehicles come in
// turn, as they do to a workshop.
Service MakeService(const Size& size, int i) {
  const int vehicle = i % size.Vehicles;
  const int k = i / size.Vehicles;
  return {Vin(vehicle), DayNumber(vehicle, k), 10000 + 15000LL * k, i % 2, "AG" + std::to_string(i % 1000),
          16384 * (1 + i % 3) + 1 + (i % 7) * 2};
}

int QueryVehicle(const Size& size, int j) { return static_cast<int>((j * 7919LL) % size.Vehicles); }

std::string FilterFor(const std::string& vin) { return "FG='" + vin + "'"; }

// The VIN list sorts and drops duplicates ignoring case.
struct IgnoreCase {
  bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};
using VinList = std::set<std::string, IgnoreCase>;

// ---- the engine --------------------------------------------------------------------------

// An empty database file holding dsTable and its index, made through the engine session
// and cursor (the program itself only opens an existing file).
void CreateEngineFile(const std::string& path) {
  std::filesystem::remove(path);
  THDBLocalSession maker;
  maker.DatabaseFileName = path;
  maker.CreateDatabase();
  THDBLocalSession s;
  s.DatabaseName = "BenchCreate";
  s.DatabaseFileName = path;
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
    auto notNull = std::make_unique<THDBConstraintDefNotNull>();
    notNull->FieldRef.Name = fields[i].Name;
    constraints.Add(std::move(notNull));
  }
  THDBLocalCursor cursor(s);
  cursor.TableName = "dsTable";
  cursor.CreateTable(fields, indexes, constraints);
}

// HDBDatabase1 and HDBTable1 as the program configures them, with the table open.
// flushing: whether commits flush the journal and the file (the engine's default) or
// only write them, as SQLite with synchronous OFF does.
struct Program {
  explicit Program(const std::string& path, bool flushing = false) {
    db.SetDatabaseName("Dataset");
    db.SetDatabaseFileName(path);
    db.MaxConnections = 500;
    db.SilentMode = true;
    db.Open();
    THDBDiskDatabaseData* data = db.EngineSession().DatabaseData();
    if (!data) Fail("engine: no open database");
    data->FlushCommits = flushing;
    data->PageManager()->SetFlushing(flushing);
    table.SetDatabaseName("Dataset");
    table.SetTableName("dsTable");
    table.StoreDefs = true;
    FG = &table.CreateField<THDBStringField>("FG", 17, ftFixedChar);
    DAT = &table.CreateField<THDBDateField>("DAT");
    MLG = &table.CreateField<THDBLargeintField>("MLG");
    THND = &table.CreateField<THDBWordField>("THND");
    NHND = &table.CreateField<THDBStringField>("NHND", 7, ftFixedChar);
    SSTAT = &table.CreateField<THDBWordField>("SSTAT");
    table.Open();
  }
  ~Program() {
    table.Close();
    db.Close();
  }

  void Insert(const Service& s) {
    table.BeginInsert();
    FG->SetAsString(s.FG);
    DAT->SetAsDateTime(s.Day - DateDelta);
    MLG->SetAsLargeInt(s.MLG);
    THND->SetAsInteger(s.THND);
    NHND->SetAsString(s.NHND);
    SSTAT->SetAsInteger(s.SSTAT);
    table.PostRecord();
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

// ---- SQLite ------------------------------------------------------------------------------

class SQLite {
 public:
  SQLite(const std::string& path, bool defaultMode) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) Fail("sqlite3_open " + path);
    if (!defaultMode) Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;");
  }
  ~SQLite() {
    for (sqlite3_stmt* st : statements_) sqlite3_finalize(st);
    sqlite3_close(db_);
  }
  SQLite(const SQLite&) = delete;
  SQLite& operator=(const SQLite&) = delete;

  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error ? error : "?";
      sqlite3_free(error);
      Fail(std::string(sql) + ": " + text);
    }
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) Fail(std::string(sql) + ": " + sqlite3_errmsg(db_));
    statements_.push_back(st);
    return st;
  }
  void Done(sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_DONE) Fail(std::string("step: ") + sqlite3_errmsg(db_));
    sqlite3_reset(st);
  }

  static void CreateSchema(const std::string& path, bool defaultMode) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix);
    SQLite s(path, defaultMode);
    s.Exec(
        "CREATE TABLE dsTable(FG CHAR(17) NOT NULL, DAT INTEGER NOT NULL, MLG INTEGER NOT NULL, "
        "THND INTEGER NOT NULL, NHND CHAR(7) NOT NULL, SSTAT INTEGER NOT NULL);"
        "CREATE INDEX FGDAT ON dsTable(FG, DAT);");
  }

  void Insert(sqlite3_stmt* st, const Service& s) {
    sqlite3_bind_text(st, 1, s.FG.c_str(), static_cast<int>(s.FG.size()), SQLITE_STATIC);
    sqlite3_bind_int(st, 2, s.Day);
    sqlite3_bind_int64(st, 3, s.MLG);
    sqlite3_bind_int(st, 4, s.THND);
    sqlite3_bind_text(st, 5, s.NHND.c_str(), static_cast<int>(s.NHND.size()), SQLITE_STATIC);
    sqlite3_bind_int(st, 6, s.SSTAT);
    Done(st);
  }

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

constexpr const char* InsertSQL = "INSERT INTO dsTable VALUES(?, ?, ?, ?, ?, ?)";

// ---- the workloads -----------------------------------------------------------------------

// One side of one workload on one size: µs per operation. The file of N records that
// workload 2 leaves behind is what the others start from.
struct Files {
  std::string Engine;       // N records, closed
  std::string SQLiteFast;   // N records, WAL
  std::string SQLiteSlow;   // N records, default mode
};

std::string Path(const Options& o, const std::string& name) { return (o.Dir / name).string(); }

// Workload 2 on the engine: an empty table filled in one transaction.
double EngineBulk(const Size& size, const std::string& path, bool flushing) {
  CreateEngineFile(path);
  Program p(path, flushing);
  const Clock::time_point start = Clock::now();
  p.db.EngineSession().StartTransaction();
  for (int i = 0; i < size.Records; ++i) p.Insert(MakeService(size, i));
  p.db.EngineSession().CommitTransaction(false);
  const double us = Micros(Clock::now() - start);
  if (p.table.RecordCount() != size.Records) Fail("engine bulk: wrong count");
  return us / size.Records;
}

double SQLiteBulk(const Size& size, const std::string& path, bool defaultMode) {
  SQLite::CreateSchema(path, defaultMode);
  SQLite s(path, defaultMode);
  sqlite3_stmt* insert = s.Prepare(InsertSQL);
  const Clock::time_point start = Clock::now();
  s.Exec("BEGIN");
  for (int i = 0; i < size.Records; ++i) s.Insert(insert, MakeService(size, i));
  s.Exec("COMMIT");
  return Micros(Clock::now() - start) / size.Records;
}

// Workload 1: new services (later dates) for existing vehicles, one commit each, on a
// copy of the full file.
Service NewService(const Size& size, int j) {
  Service s = MakeService(size, j % size.Vehicles);
  s.Day = DayNumber(j % size.Vehicles, size.Records / size.Vehicles + j / size.Vehicles);
  return s;
}

double EngineSingle(const Size& size, const std::string& full, const std::string& path, bool flushing) {
  std::filesystem::copy_file(full, path, std::filesystem::copy_options::overwrite_existing);
  Program p(path, flushing);
  const Clock::time_point start = Clock::now();
  for (int j = 0; j < SingleCommitInserts; ++j) p.Insert(NewService(size, j));
  const double us = Micros(Clock::now() - start);
  if (p.table.RecordCount() != size.Records + SingleCommitInserts) Fail("engine single: wrong count");
  return us / SingleCommitInserts;
}

double SQLiteSingle(const Size& size, const std::string& full, const std::string& path, bool defaultMode) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix);
  {
    // The full file's WAL is checkpointed into it when its last connection closed.
    std::filesystem::copy_file(full, path, std::filesystem::copy_options::overwrite_existing);
  }
  SQLite s(path, defaultMode);
  sqlite3_stmt* insert = s.Prepare(InsertSQL);
  const Clock::time_point start = Clock::now();
  for (int j = 0; j < SingleCommitInserts; ++j) s.Insert(insert, NewService(size, j));
  return Micros(Clock::now() - start) / SingleCommitInserts;
}

// The best of Rounds runs of a whole measurement.
double BestOf(const std::function<double()>& run) {
  double best = run();
  for (int round = 1; round < Rounds; ++round) best = std::min(best, run());
  return best;
}

// The best of Rounds rounds of `ops` calls of one op, in µs per op.
double Best(int ops, const std::function<void(int)>& op) {
  double best = 0;
  for (int round = 0; round < Rounds; ++round) {
    const Clock::time_point start = Clock::now();
    for (int j = 0; j < ops; ++j) op(j);
    const double us = Micros(Clock::now() - start) / ops;
    if (round == 0 || us < best) best = us;
  }
  return best;
}

int HistoryOps(const Size&) { return 1000; }
int SeekOps(const Size&) { return 10000; }
int VinListOps(const Size& size) { return std::max(3, 300000 / size.Records); }
int CountOps(const Size&) { return 1000; }

// ShowHistory in the program's order: the key press before switched the
// filter off.
double EngineHistory(const Size& size, const std::string& path) {
  Program p(path);
  const int perVehicle = size.Records / size.Vehicles;
  std::int64_t sum = 0;
  const double us = Best(HistoryOps(size), [&](int j) {
    p.table.SetFiltered(false);
    p.table.SetFilter(FilterFor(Vin(QueryVehicle(size, j))));
    p.table.SetFiltered(true);
    p.table.SetIndexFieldNames("FG;DAT");
    const std::string root = p.FG->AsString();
    int n = 0;
    for (p.table.GoLast(); !p.table.IsAtStart(); p.table.GoPrior()) {
      sum += static_cast<std::int64_t>(p.DAT->AsDateTime()) + p.MLG->AsLargeInt() + p.SSTAT->AsInteger();
      ++n;
    }
    if (n != perVehicle || root.size() != 17) Fail("engine history: wrong records");
  });
  if (sum == 0) Fail("engine history: nothing read");
  return us;
}

double SQLiteHistory(const Size& size, const std::string& path, bool defaultMode) {
  SQLite s(path, defaultMode);
  sqlite3_stmt* st = s.Prepare("SELECT FG, DAT, MLG, SSTAT FROM dsTable WHERE FG = ? ORDER BY DAT DESC");
  const int perVehicle = size.Records / size.Vehicles;
  std::int64_t sum = 0;
  const double us = Best(HistoryOps(size), [&](int j) {
    const std::string vin = Vin(QueryVehicle(size, j));
    sqlite3_bind_text(st, 1, vin.c_str(), static_cast<int>(vin.size()), SQLITE_STATIC);
    int n = 0;
    std::string root;
    while (sqlite3_step(st) == SQLITE_ROW) {
      if (n == 0) root = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      sum += sqlite3_column_int64(st, 1) + sqlite3_column_int64(st, 2) + sqlite3_column_int(st, 3);
      ++n;
    }
    sqlite3_reset(st);
    if (n != perVehicle || root.size() != 17) Fail("SQLite history: wrong records");
  });
  if (sum == 0) Fail("SQLite history: nothing read");
  return us;
}

double EngineSeek(const Size& size, const std::string& path) {
  Program p(path);
  const int perVehicle = size.Records / size.Vehicles;
  std::int64_t sum = 0;
  const double us = Best(SeekOps(size), [&](int j) {
    const int vehicle = QueryVehicle(size, j);
    p.table.SetIndexName("FGDAT");
    p.table.BeginKeyEntry();
    p.FG->SetAsString(Vin(vehicle));
    p.DAT->SetAsDateTime(DayNumber(vehicle, j % perVehicle) - DateDelta);
    if (!p.table.SeekKey()) Fail("engine seek: not found");
    sum += p.MLG->AsLargeInt();
  });
  if (sum == 0) Fail("engine seek: nothing read");
  return us;
}

double SQLiteSeek(const Size& size, const std::string& path, bool defaultMode) {
  SQLite s(path, defaultMode);
  sqlite3_stmt* st = s.Prepare("SELECT MLG FROM dsTable WHERE FG = ? AND DAT = ? LIMIT 1");
  const int perVehicle = size.Records / size.Vehicles;
  std::int64_t sum = 0;
  const double us = Best(SeekOps(size), [&](int j) {
    const int vehicle = QueryVehicle(size, j);
    const std::string vin = Vin(vehicle);
    sqlite3_bind_text(st, 1, vin.c_str(), static_cast<int>(vin.size()), SQLITE_STATIC);
    sqlite3_bind_int(st, 2, DayNumber(vehicle, j % perVehicle));
    if (sqlite3_step(st) != SQLITE_ROW) Fail("SQLite seek: not found");
    sum += sqlite3_column_int64(st, 0);
    sqlite3_reset(st);
  });
  if (sum == 0) Fail("SQLite seek: nothing read");
  return us;
}

// ReloadVinList: the filter off, every record from GoFirst to IsAtEnd into the sorted
// list. With the index "FG;DAT" in force (as after ShowHistory) the records of one VIN
// come together, so only a change of FG is offered to the list; the list is the same.
double EngineVinList(const Size& size, const std::string& path) {
  Program p(path);
  p.table.SetIndexFieldNames("FG;DAT");
  const double us = Best(VinListOps(size), [&](int) {
    p.table.SetFiltered(false);
    VinList list;
    std::string last;
    for (p.table.GoFirst(); !p.table.IsAtEnd(); p.table.GoNext()) {
      std::string fg = p.FG->AsString();
      if (fg == last) continue;
      last = fg;
      list.insert(std::move(fg));
    }
    if (static_cast<int>(list.size()) != size.Vehicles) Fail("engine VIN list: wrong size");
  });
  return us;
}

double SQLiteVinList(const Size& size, const std::string& path, bool defaultMode) {
  SQLite s(path, defaultMode);
  sqlite3_stmt* st = s.Prepare("SELECT DISTINCT FG FROM dsTable ORDER BY FG");
  const double us = Best(VinListOps(size), [&](int) {
    VinList list;
    while (sqlite3_step(st) == SQLITE_ROW) list.insert(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_reset(st);
    if (static_cast<int>(list.size()) != size.Vehicles) Fail("SQLite VIN list: wrong size");
  });
  return us;
}

double EngineCount(const Size& size, const std::string& path) {
  Program p(path);
  const int perVehicle = size.Records / size.Vehicles;
  return Best(CountOps(size), [&](int j) {
    p.table.SetFiltered(false);
    p.table.SetFilter(FilterFor(Vin(QueryVehicle(size, j))));
    p.table.SetFiltered(true);
    if (p.table.RecordCount() != perVehicle) Fail("engine count: wrong count");
  });
}

double SQLiteCount(const Size& size, const std::string& path, bool defaultMode) {
  SQLite s(path, defaultMode);
  sqlite3_stmt* st = s.Prepare("SELECT COUNT(*) FROM dsTable WHERE FG = ?");
  const int perVehicle = size.Records / size.Vehicles;
  return Best(CountOps(size), [&](int j) {
    const std::string vin = Vin(QueryVehicle(size, j));
    sqlite3_bind_text(st, 1, vin.c_str(), static_cast<int>(vin.size()), SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_ROW || sqlite3_column_int(st, 0) != perVehicle) Fail("SQLite count: wrong count");
    sqlite3_reset(st);
  });
}

// ---- the table ---------------------------------------------------------------------------

const char* WorkloadName(int w) {
  switch (w) {
    case 1: return "1 insert, one commit each";
    case 2: return "2 insert, one transaction";
    case 3: return "3 one vehicle's history";
    case 4: return "4 seek VIN and date";
    case 5: return "5 VIN list";
    case 6: return "6 filtered count";
    default: return "?";
  }
}

std::string Number(int n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
    out += digits[i];
  }
  return out;
}

std::string Us(double us) {
  char text[32];
  std::snprintf(text, sizeof text, us < 10 ? "%.2f" : us < 1000 ? "%.1f" : "%.0f", us);
  return text;
}

std::string Ratio(double a, double b) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", b > 0 ? a / b : 0.0);
  return text;
}

bool Wanted(const Options& o, int w) { return std::find(o.Workloads.begin(), o.Workloads.end(), w) != o.Workloads.end(); }

void RunSize(const Options& o, const Size& size) {
  const std::string tag = std::to_string(size.Records);
  Files files{Path(o, "evs-" + tag + ".hdb"), Path(o, "evs-" + tag + ".sqlite"), Path(o, "evs-" + tag + "-default.sqlite")};
  // The full files, measured as workload 2 when it is wanted. With --sqlite-default the
  // engine also fills a table with its commits flushed, the durability of SQLite's
  // default mode, to set against that mode.
  double bulk[4] = {BestOf([&] { return EngineBulk(size, files.Engine, false); }),
                    BestOf([&] { return SQLiteBulk(size, files.SQLiteFast, false); }),
                    o.SQLiteDefault ? BestOf([&] { return SQLiteBulk(size, files.SQLiteSlow, true); }) : 0,
                    o.SQLiteDefault ? BestOf([&] { return EngineBulk(size, Path(o, "evs-flushing.hdb"), true); }) : 0};
  auto line = [&](int w, double engine, double fast, double slow, double flushing) {
    std::printf("| %s | %s | %s | %s | %s | %s |", WorkloadName(w), Number(size.Records).c_str(),
                Number(size.Vehicles).c_str(), Us(engine).c_str(), Us(fast).c_str(), Ratio(engine, fast).c_str());
    if (o.SQLiteDefault)
      std::printf(" %s | %s | %s |", Us(flushing).c_str(), Us(slow).c_str(), Ratio(flushing, slow).c_str());
    std::printf("\n");
    std::fflush(stdout);
  };
  for (int w : {1, 2, 3, 4, 5, 6}) {
    if (!Wanted(o, w)) continue;
    // flushing: the engine with flushed commits; the same as engine where nothing commits.
    double engine = 0, fast = 0, slow = 0, flushing = 0;
    switch (w) {
      case 1:
        engine = BestOf([&] { return EngineSingle(size, files.Engine, Path(o, "evs-single.hdb"), false); });
        fast = BestOf([&] { return SQLiteSingle(size, files.SQLiteFast, Path(o, "evs-single.sqlite"), false); });
        if (o.SQLiteDefault) {
          flushing = BestOf([&] { return EngineSingle(size, files.Engine, Path(o, "evs-single.hdb"), true); });
          slow = BestOf([&] { return SQLiteSingle(size, files.SQLiteSlow, Path(o, "evs-single-default.sqlite"), true); });
        }
        break;
      case 2:
        engine = bulk[0];
        fast = bulk[1];
        slow = bulk[2];
        flushing = bulk[3];
        break;
      case 3:
        engine = flushing = EngineHistory(size, files.Engine);
        fast = SQLiteHistory(size, files.SQLiteFast, false);
        if (o.SQLiteDefault) slow = SQLiteHistory(size, files.SQLiteSlow, true);
        break;
      case 4:
        engine = flushing = EngineSeek(size, files.Engine);
        fast = SQLiteSeek(size, files.SQLiteFast, false);
        if (o.SQLiteDefault) slow = SQLiteSeek(size, files.SQLiteSlow, true);
        break;
      case 5:
        engine = flushing = EngineVinList(size, files.Engine);
        fast = SQLiteVinList(size, files.SQLiteFast, false);
        if (o.SQLiteDefault) slow = SQLiteVinList(size, files.SQLiteSlow, true);
        break;
      case 6:
        engine = flushing = EngineCount(size, files.Engine);
        fast = SQLiteCount(size, files.SQLiteFast, false);
        if (o.SQLiteDefault) slow = SQLiteCount(size, files.SQLiteSlow, true);
        break;
    }
    line(w, engine, fast, slow, flushing);
  }
  for (const std::string& f : {files.Engine, files.SQLiteFast, files.SQLiteSlow, Path(o, "evs-flushing.hdb"), Path(o, "evs-single.hdb"),
                               Path(o, "evs-single.sqlite"), Path(o, "evs-single-default.sqlite")})
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(f + suffix);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      o.Quick = true;
    } else if (arg == "--sqlite-default") {
      o.SQLiteDefault = true;
    } else if (arg.rfind("--workloads=", 0) == 0) {
      o.Workloads.clear();
      for (char c : arg.substr(12))
        if (c >= '1' && c <= '6') o.Workloads.push_back(c - '0');
      if (o.Workloads.empty()) Fail("--workloads= wants numbers 1 to 6");
    } else if (arg.rfind("--dir=", 0) == 0) {
      o.Dir = arg.substr(6);
    } else {
      Fail("unknown argument '" + arg + "' (--quick, --sqlite-default, --workloads=1,2,..., --dir=PATH)");
    }
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = ParseOptions(argc, argv);
    std::printf("| workload | records | vehicles | engine µs/op | SQLite µs/op | ratio |");
    if (o.SQLiteDefault) std::printf(" engine flushing µs/op | SQLite default µs/op | ratio |");
    std::printf("\n|---|---:|---:|---:|---:|---:|%s\n", o.SQLiteDefault ? "---:|---:|---:|" : "");
    std::fflush(stdout);
    std::vector<Size> sizes{{10000, 1000}};
    if (!o.Quick) sizes.push_back({100000, 10000});
    for (const Size& size : sizes) RunSize(o, size);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "engine_vs_sqlite: %s\n", e.what());
    return 1;
  }
  return 0;
}

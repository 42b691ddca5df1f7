// hdbtool on the service store: importing 100 000 records from CSV in one transaction
// and dumping them again, in stored order and in the order of FGDAT, run in process
// through the verbs themselves. SQLite does the same work on the same rows for
// comparison: the CSV read by the same reader, inserted with a prepared statement into
// a table of the same columns and index in one transaction (its default, durable
// settings, as the tool's commit is), and read back into the same CSV writer.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "tools/hdbtool/command_line.h"
#include "tools/hdbtool/csv_format.h"
#include "tools/hdbtool/tool_commands.h"

namespace {

constexpr int Records = 100000;
constexpr int Vehicles = 10000;

std::string BenchFile(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

// Output that is counted and dropped.
class TDiscard : public std::streambuf {
 public:
  std::size_t Bytes() const { return bytes_; }

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    bytes_ += static_cast<std::size_t>(n);
    return n;
  }
  int overflow(int ch) override {
    ++bytes_;
    return ch;
  }

 private:
  std::size_t bytes_ = 0;
};

// 100 000 service records over 10 000 VINs, the same every run.
const std::string& CsvFile() {
  static const std::string path = [] {
    const std::string file = BenchFile("hdbtool-bench.csv");
    std::mt19937 draw(11);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "FG,DAT,MLG,THND,NHND,SSTAT\r\n";
    char line[96];
    for (int i = 0; i < Records; ++i) {
      const unsigned v = draw() % Vehicles;
      std::snprintf(line, sizeof line, "WBA%014u,%04u-%02u-%02u,%u,%u,%07u,%u\r\n", v * 7919u, 2000 + draw() % 25,
                    1 + draw() % 12, 1 + draw() % 28, draw() % 300000, draw() % 2, 4711000 + draw() % 50,
                    16384 + draw() % 16383);
      out << line;
    }
    return file;
  }();
  return path;
}

int RunVerb(hdbtool::TVerbHandler verb, std::vector<std::string> operands, std::ostream& out,
            std::map<std::string, std::string> values = {}) {
  hdbtool::TParsedArgs args;
  args.Operands = std::move(operands);
  args.Values = std::move(values);
  args.Flags.insert("--force");
  std::istringstream in;
  hdbtool::TToolStreams streams{in, out};
  return verb(args, streams);
}

void MakeStore(const std::string& file) {
  TDiscard sink;
  std::ostream out(&sink);
  RunVerb(hdbtool::RunCreateStore, {file}, out);
  RunVerb(hdbtool::RunImport, {file, "dsTable", CsvFile()}, out);
}

void BM_ToolImport(benchmark::State& state) {
  const std::string file = BenchFile("hdbtool-bench-import.hdb");
  const std::string& csv = CsvFile();
  TDiscard sink;
  std::ostream out(&sink);
  for (auto _ : state) {
    state.PauseTiming();
    RunVerb(hdbtool::RunCreateStore, {file}, out);
    state.ResumeTiming();
    if (RunVerb(hdbtool::RunImport, {file, "dsTable", csv}, out) != 0) state.SkipWithError("import failed");
  }
  state.SetItemsProcessed(state.iterations() * Records);
  std::filesystem::remove(file);
}
BENCHMARK(BM_ToolImport)->Unit(benchmark::kMillisecond);

void BM_ToolDump(benchmark::State& state) {
  const std::string file = BenchFile("hdbtool-bench-dump.hdb");
  MakeStore(file);
  const bool byIndex = state.range(0) != 0;
  for (auto _ : state) {
    TDiscard sink;
    std::ostream out(&sink);
    RunVerb(hdbtool::RunDump, {file, "dsTable"}, out,
            byIndex ? std::map<std::string, std::string>{{"--index", "FGDAT"}} : std::map<std::string, std::string>{});
    benchmark::DoNotOptimize(sink.Bytes());
  }
  state.SetItemsProcessed(state.iterations() * Records);
  state.SetLabel(byIndex ? "FGDAT order" : "stored order");
  std::filesystem::remove(file);
}
BENCHMARK(BM_ToolDump)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error);
    sqlite3_free(error);
  }
}

std::int64_t Number(const std::string& text) {
  std::int64_t n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

void SqliteImport(const std::string& file, const std::string& csv) {
  std::filesystem::remove(file);
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  Exec(db,
       "CREATE TABLE dsTable(FG VARCHAR(17) NOT NULL, DAT DATE NOT NULL, MLG BIGINT NOT NULL, THND INT NOT NULL,"
       " NHND VARCHAR(7) NOT NULL, SSTAT INT NOT NULL);"
       "CREATE INDEX FGDAT ON dsTable(FG, DAT);");
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO dsTable VALUES(?,?,?,?,?,?)", -1, &insert, nullptr);
  std::ifstream in(csv, std::ios::binary);
  hdbtool::TCsvReader reader(in);
  std::vector<std::string> cells;
  reader.Next(cells);  // the header
  while (reader.Next(cells)) {
    sqlite3_bind_text(insert, 1, cells[0].data(), static_cast<int>(cells[0].size()), SQLITE_STATIC);
    sqlite3_bind_text(insert, 2, cells[1].data(), static_cast<int>(cells[1].size()), SQLITE_STATIC);
    sqlite3_bind_int64(insert, 3, Number(cells[2]));
    sqlite3_bind_int64(insert, 4, Number(cells[3]));
    sqlite3_bind_text(insert, 5, cells[4].data(), static_cast<int>(cells[4].size()), SQLITE_STATIC);
    sqlite3_bind_int64(insert, 6, Number(cells[5]));
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

void BM_SQLiteImport(benchmark::State& state) {
  const std::string file = BenchFile("hdbtool-bench-import.db");
  const std::string& csv = CsvFile();
  for (auto _ : state) SqliteImport(file, csv);
  state.SetItemsProcessed(state.iterations() * Records);
  std::filesystem::remove(file);
}
BENCHMARK(BM_SQLiteImport)->Unit(benchmark::kMillisecond);

void BM_SQLiteDump(benchmark::State& state) {
  const std::string file = BenchFile("hdbtool-bench-dump.db");
  SqliteImport(file, CsvFile());
  const bool byIndex = state.range(0) != 0;
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  for (auto _ : state) {
    TDiscard sink;
    std::ostream out(&sink);
    hdbtool::TCsvWriter csv(out);
    for (const char* name : {"FG", "DAT", "MLG", "THND", "NHND", "SSTAT"}) csv.Cell(name);
    csv.EndRecord();
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db,
                       byIndex ? "SELECT * FROM dsTable INDEXED BY FGDAT ORDER BY FG, DAT" : "SELECT * FROM dsTable",
                       -1, &select, nullptr);
    char digits[24];
    while (sqlite3_step(select) == SQLITE_ROW) {
      for (int c = 0; c < 6; ++c) {
        if (c == 2 || c == 3 || c == 5) {
          auto [end, ec] = std::to_chars(digits, digits + sizeof digits, sqlite3_column_int64(select, c));
          csv.Cell(std::string_view(digits, static_cast<std::size_t>(end - digits)));
        } else {
          csv.Cell(std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(select, c)),
                                    static_cast<std::size_t>(sqlite3_column_bytes(select, c))));
        }
      }
      csv.EndRecord();
    }
    sqlite3_finalize(select);
    csv.Flush();
    benchmark::DoNotOptimize(sink.Bytes());
  }
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * Records);
  state.SetLabel(byIndex ? "FGDAT order" : "stored order");
  std::filesystem::remove(file);
}
BENCHMARK(BM_SQLiteDump)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

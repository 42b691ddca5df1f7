// Filters: the cost of evaluating a parsed filter on one record (an equality on FG, and
// a three-term AND), and a filtered count and first-to-last walk through the cursor,
// answered by the FGDAT index against the same filter tested on every record (a case
// rule the index does not have forces the scan). 100 000 records over 10 000 VINs.
#include <benchmark/benchmark.h>

// The replaced operator new below allocates with malloc, so its delete frees with free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <algorithm>
#include <atomic>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/expression.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/navigation_request.h"

// Every allocation of the process is counted, so the per-record benchmarks can report
// how many a record's evaluation makes.
namespace hdb {
static std::atomic<std::int64_t> g_allocations{0};

}  // namespace hdb

void* operator new(std::size_t n) {
  hdb::g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace hdb {
namespace {

constexpr int RecordCount = 100000;
constexpr int VinCount = 10000;

std::string Vin(int n) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", n);
  return text;
}

struct Fixture {
  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvarin-bench-XXXXXX").string();
    dir = ::mkdtemp(pattern.data()) ? pattern : std::string("/tmp");
    const std::string path = dir + "/Data.hdb";
    {
      THDBLocalSession maker;
      maker.DatabaseName = "Bench";
      maker.DatabaseFileName = path;
      maker.CreateDatabase();
    }
    session.DatabaseName = "Bench";
    session.DatabaseFileName = path;
    session.SetConnected(true);
    {
      THDBLocalCursor maker(session);
      maker.TableName = "dsTable";
      THDBFieldDefs fields;
      fields.AddField("FG", dtChar, 17);
      fields.AddField("DAT", dtDate);
      fields.AddField("MLG", dtLargeInt);
      fields.AddField("THND", dtWord);
      fields.AddField("NHND", dtChar, 7);
      fields.AddField("SSTAT", dtWord);
      fields.RecalcOffsets();
      THDBIndexDefs indexes;
      THDBIndexDef& fgdat = indexes.AddNew();
      fgdat.Name = "FGDAT";
      fgdat.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
      maker.CreateTable(fields, indexes, THDBConstraintDefs());
    }
    cursor = std::make_unique<THDBLocalCursor>(session);
    cursor->TableName = "dsTable";
    cursor->OpenTable();
    cursor->SetIndexByName("FGDAT");
    buffer = cursor->AllocRecordBuffer();
    std::vector<int> order(RecordCount);
    for (int i = 0; i < RecordCount; ++i) order[static_cast<std::size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    session.StartTransaction();
    for (int i : order) {
      records.push_back(Record(i));
      std::memcpy(buffer.data(), records.back().data(), buffer.size());
      cursor->CurrentRecord = buffer.data();
      cursor->WriteRecord(true);
      if (cursor->LastResult != 0) std::abort();
    }
    session.CommitTransaction(true);
  }
  ~Fixture() {
    cursor->CloseTable();
    cursor.reset();
    session.SetConnected(false);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::vector<std::uint8_t> Record(int i) {
    std::vector<std::uint8_t> r = cursor->AllocRecordBuffer();
    cursor->InitRecordBuffer(r.data(), false);
    const std::string fg = Vin(i % VinCount);
    const std::int32_t dat = EncodeDayNumber(2010, 1, 1) + i / VinCount;
    const std::int64_t mlg = (i * 7919) % 200000;
    const std::uint16_t thnd = static_cast<std::uint16_t>(i % 2);
    char nhnd[8] = {};
    std::snprintf(nhnd, sizeof nhnd, "N%d", i % 50);
    const std::uint16_t sstat = 16513;
    cursor->WriteField(0, r.data(), fg.c_str());
    cursor->WriteField(1, r.data(), &dat);
    cursor->WriteField(2, r.data(), &mlg);
    cursor->WriteField(3, r.data(), &thnd);
    cursor->WriteField(4, r.data(), nhnd);
    cursor->WriteField(5, r.data(), &sstat);
    return r;
  }

  std::string dir;
  THDBLocalSession session;
  std::unique_ptr<THDBLocalCursor> cursor;
  std::vector<std::uint8_t> buffer;
  std::vector<std::vector<std::uint8_t>> records;
};

Fixture& F() {
  static Fixture f;
  return f;
}

void PerRecord(benchmark::State& state, const std::string& text) {
  Fixture& f = F();
  THDBExpression e(f.cursor.get());
  e.ParseFilter(text);
  std::int64_t passed = 0;
  // One pass first, so texts that keep their storage have it.
  for (const auto& r : f.records) passed += e.Passes(r.data()) ? 1 : 0;
  passed = 0;
  const std::int64_t allocationsBefore = g_allocations.load();
  for (auto _ : state) {
    for (const auto& r : f.records) passed += e.Passes(r.data()) ? 1 : 0;
    benchmark::DoNotOptimize(passed);
  }
  state.counters["allocs_per_record"] = static_cast<double>(g_allocations.load() - allocationsBefore) /
                                        (static_cast<double>(state.iterations()) * RecordCount);
  state.counters["per_record"] = benchmark::Counter(static_cast<double>(state.iterations()) * RecordCount,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["passed"] = static_cast<double>(passed) / static_cast<double>(state.iterations());
}

void BM_EvaluateEquality(benchmark::State& state) { PerRecord(state, "FG='" + Vin(4321) + "'"); }
BENCHMARK(BM_EvaluateEquality)->Unit(benchmark::kMillisecond);

// Every record reaches the third term.
void BM_EvaluateThreeTermAnd(benchmark::State& state) {
  PerRecord(state, "MLG >= 0 AND THND <= 1 AND FG='" + Vin(4321) + "'");
}
BENCHMARK(BM_EvaluateThreeTermAnd)->Unit(benchmark::kMillisecond);

void BM_EvaluateThreeTermAndOfStrings(benchmark::State& state) {
  PerRecord(state, "NHND <> 'X' AND FG >= 'WBA' AND FG='" + Vin(4321) + "'");
}
BENCHMARK(BM_EvaluateThreeTermAndOfStrings)->Unit(benchmark::kMillisecond);

// One VIN's records. Index: the filter as written; scan: the same VIN under the
// case-insensitive option, which the case-sensitive FGDAT cannot answer.
void Count(benchmark::State& state, bool useIndex) {
  Fixture& f = F();
  THDBLocalCursor& c = *f.cursor;
  std::mt19937 random(3);
  std::int64_t records = 0;
  for (auto _ : state) {
    c.SetFilterText("FG='" + Vin(static_cast<int>(random() % VinCount)) + "'", !useIndex, false);
    records += c.GetRecordCount();
  }
  if (records != 10 * static_cast<std::int64_t>(state.iterations())) state.SkipWithError("wrong count");
  state.counters["records_read"] = static_cast<double>(c.LastSearch.RecordsRead);
  c.ClearFilter();
}
void BM_FilteredCountIndex(benchmark::State& state) { Count(state, true); }
void BM_FilteredCountScan(benchmark::State& state) { Count(state, false); }
BENCHMARK(BM_FilteredCountIndex)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilteredCountScan)->Unit(benchmark::kMillisecond);

void Walk(benchmark::State& state, bool useIndex) {
  Fixture& f = F();
  THDBLocalCursor& c = *f.cursor;
  std::mt19937 random(4);
  std::int64_t records = 0;
  for (auto _ : state) {
    c.SetFilterText("FG='" + Vin(static_cast<int>(random() % VinCount)) + "'", !useIndex, false);
    c.CurrentRecord = f.buffer.data();
    c.SetToBegin();
    while (c.GetRecord(gmNext) == grOK) ++records;
  }
  if (records != 10 * static_cast<std::int64_t>(state.iterations())) state.SkipWithError("wrong walk");
  c.ClearFilter();
}
void BM_FilteredWalkIndex(benchmark::State& state) { Walk(state, true); }
void BM_FilteredWalkScan(benchmark::State& state) { Walk(state, false); }
BENCHMARK(BM_FilteredWalkIndex)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilteredWalkScan)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hdb

BENCHMARK_MAIN();

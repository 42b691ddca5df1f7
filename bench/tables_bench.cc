// Record paths of the tables layer: field access, record comparison and the value order
// as index keys and filters use them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/value_compare.h"

namespace hdb {
namespace {

struct ServiceTable {
  THDBBaseFieldManager fm;
  std::vector<std::uint8_t> rec;
  ServiceTable() {
    THDBFieldDefs defs;
    defs.AddField("FG", dtString, 17);
    defs.AddField("DAT", dtDate);
    defs.AddField("MLG", dtLargeInt);
    defs.AddField("THND", dtWord);
    defs.AddField("NHND", dtString, 7);
    defs.AddField("SSTAT", dtWord);
    fm.SetFieldDefs(defs);
    rec.resize(static_cast<std::size_t>(fm.MemoryRecordSize()));
    fm.InitRecord(rec.data(), false);
    fm.SetFieldValue(0, "WBA12345678901234", rec.data());
    std::int32_t day = EncodeDayNumber(2020, 5, 17);
    fm.SetFieldValue(1, &day, rec.data());
    std::int64_t mlg = 123456;
    fm.SetFieldValue(2, &mlg, rec.data());
  }
};

void BM_SetAndGetSixFields(benchmark::State& state) {
  ServiceTable t;
  char fg[18] = "WBA12345678901234", nhnd[8] = "1234567", out[18];
  std::int32_t day = 737000;
  std::int64_t mlg = 99999;
  std::uint16_t word = 16513;
  for (auto _ : state) {
    t.fm.SetFieldValue(0, fg, t.rec.data());
    t.fm.SetFieldValue(1, &day, t.rec.data());
    t.fm.SetFieldValue(2, &mlg, t.rec.data());
    t.fm.SetFieldValue(3, &word, t.rec.data());
    t.fm.SetFieldValue(4, nhnd, t.rec.data());
    t.fm.SetFieldValue(5, &word, t.rec.data());
    for (int f = 0; f < 6; ++f) benchmark::DoNotOptimize(t.fm.GetFieldValue(f, t.rec.data(), out));
  }
}
BENCHMARK(BM_SetAndGetSixFields);

void BM_RecordsEqual(benchmark::State& state) {
  ServiceTable t;
  std::vector<std::uint8_t> copy = t.rec;
  for (auto _ : state) benchmark::DoNotOptimize(t.fm.RecordsEqual(t.rec.data(), copy.data()));
}
BENCHMARK(BM_RecordsEqual);

void BM_CompareVin(benchmark::State& state) {
  const char a[] = "WBA12345678901234", b[] = "WBA12345678901299";
  bool ci = state.range(0) != 0;
  for (auto _ : state) benchmark::DoNotOptimize(CompareValues(a, b, btString, btString, false, false, -1, ci));
}
BENCHMARK(BM_CompareVin)->Arg(0)->Arg(1);

void BM_CompareEqualVin(benchmark::State& state) {
  const char a[] = "WBA12345678901234", b[] = "WBA12345678901234";
  for (auto _ : state) benchmark::DoNotOptimize(CompareValues(a, b, btString, btString, false, false, -1, false));
}
BENCHMARK(BM_CompareEqualVin);

void BM_CompareDates(benchmark::State& state) {
  std::int32_t a = 737000, b = 737001;
  for (auto _ : state) benchmark::DoNotOptimize(CompareValues(&a, &b, btDate, btDate, false, false, -1, false));
}
BENCHMARK(BM_CompareDates);

void BM_CompareMixedIntegerDouble(benchmark::State& state) {
  std::int32_t a = 5;
  double b = 5.5;
  for (auto _ : state) benchmark::DoNotOptimize(CompareValues(&a, &b, btInteger, btDouble, false, false, -1, false));
}
BENCHMARK(BM_CompareMixedIntegerDouble);

void BM_CompareTextWithDate(benchmark::State& state) {
  const char text[] = "17.05.2020";
  std::int32_t day = 737562;
  for (auto _ : state) benchmark::DoNotOptimize(CompareValues(text, &day, btString, btDate, false, false, -1, false));
}
BENCHMARK(BM_CompareTextWithDate);

}  // namespace
}  // namespace hdb

BENCHMARK_MAIN();

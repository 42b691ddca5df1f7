// The record index of the service table, (FG, DAT), on 100 000 keys over 10 000
// vehicles: inserting them, finding one, and walking them all in key order; beside a
// std::multimap of the same keys in memory, the floor to compare with.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/tables/btree_record_index.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/index_defs.h"
#include "dbengine/tables/indexed_table.h"

namespace hdb {
namespace {

constexpr int KeyCount = 100000;
constexpr int VehicleCount = 10000;
constexpr SessionID S0 = 0;

std::string Vin(int n) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", n * 7919 % 100000000);
  return text;
}

// Service records in memory, their keys in a B-tree in a database file of their own.
class KeyedRecords : public THDBIndexedTable {
 public:
  KeyedRecords() {
    char folder[] = "/tmp/halvarin-bench-XXXXXX";
    dir_ = ::mkdtemp(folder);
    pages_.Create(dir_ + "/Data.hdb", {}, 8, 4096);
    fields_.FieldDefs().AddField("FG", dtString, 17);
    fields_.FieldDefs().AddField("DAT", dtDate);
    fields_.DefinitionsChanged();
    std::mt19937 random(42);
    for (int i = 0; i < KeyCount; ++i) {
      std::vector<std::uint8_t> r(static_cast<std::size_t>(fields_.MemoryRecordSize()));
      fields_.InitRecord(r.data(), false);
      const std::string vin = Vin(i % VehicleCount);
      const std::int32_t day = 730000 + static_cast<std::int32_t>(random() % 8000);
      fields_.SetFieldValue(0, vin.c_str(), r.data());
      fields_.SetFieldValue(1, &day, r.data());
      records.push_back(std::move(r));
      keys.emplace_back(vin, day);
    }
    def_.Name = "FGDAT";
    def_.ObjectID = 1;
    def_.Columns = {{"FG"}, {"DAT"}};
  }
  ~KeyedRecords() override {
    index.reset();
    pages_.Close();
    std::filesystem::remove_all(dir_);
  }

  // A fresh index holding every record, committed.
  void Fill() {
    index = std::make_unique<THDBBTreeRecordIndex>(*this, def_);
    index->Build(S0, false);
    for (int i = 0; i < KeyCount; ++i) index->AddRecordKey({S0, IdOf(i), records[static_cast<std::size_t>(i)].data()});
    pages_.CommitPages(S0);
  }
  static RecordID IdOf(int i) { return {1 + i / 94, static_cast<std::uint16_t>(i % 94)}; }

  THDBPageManager& IndexPageManager() override { return pages_; }
  const THDBBaseFieldManager& IndexFieldManager() const override { return fields_; }
  bool ReadIndexedRecord(SessionID, RecordID id, std::uint8_t* record) override {
    const std::size_t i = static_cast<std::size_t>((id.PageNo - 1) * 94 + id.SlotNo);
    std::memcpy(record, records[i].data(), records[i].size());
    return true;
  }
  void ForEachIndexedRecord(SessionID, const std::function<void(RecordID, const std::uint8_t*)>& visit) override {
    for (int i = 0; i < KeyCount; ++i) visit(IdOf(i), records[static_cast<std::size_t>(i)].data());
  }

  std::vector<std::vector<std::uint8_t>> records;
  std::vector<std::pair<std::string, std::int32_t>> keys;
  std::unique_ptr<THDBBTreeRecordIndex> index;

 private:
  std::string dir_;
  THDBDiskPageManager pages_;
  THDBBaseFieldManager fields_;
  THDBIndexDef def_;
};

KeyedRecords& Filled() {
  static KeyedRecords* keyed = [] {
    auto* k = new KeyedRecords;
    k->Fill();
    return k;
  }();
  return *keyed;
}

using Multimap = std::multimap<std::pair<std::string, std::int32_t>, RecordID>;

const Multimap& FilledMultimap() {
  static const Multimap map = [] {
    Multimap m;
    KeyedRecords& k = Filled();
    for (int i = 0; i < KeyCount; ++i) m.emplace(k.keys[static_cast<std::size_t>(i)], KeyedRecords::IdOf(i));
    return m;
  }();
  return map;
}

void BM_IndexInsert(benchmark::State& state) {
  KeyedRecords keyed;
  for (auto _ : state) keyed.Fill();
  state.SetItemsProcessed(state.iterations() * KeyCount);
}
BENCHMARK(BM_IndexInsert)->Unit(benchmark::kMillisecond);

void BM_MultimapInsert(benchmark::State& state) {
  KeyedRecords& keyed = Filled();
  for (auto _ : state) {
    Multimap m;
    for (int i = 0; i < KeyCount; ++i) m.emplace(keyed.keys[static_cast<std::size_t>(i)], KeyedRecords::IdOf(i));
    benchmark::DoNotOptimize(m);
  }
  state.SetItemsProcessed(state.iterations() * KeyCount);
}
BENCHMARK(BM_MultimapInsert)->Unit(benchmark::kMillisecond);

// A (FG, DAT) key looked up as the record editor does: the first entry equal to it.
void BM_IndexPointSearch(benchmark::State& state) {
  KeyedRecords& keyed = Filled();
  auto scan = keyed.index->NewScanState();
  std::mt19937 random(1);
  for (auto _ : state) {
    const std::size_t i = random() % KeyCount;
    const THDBKeyCondition equal{ctEqual, keyed.records[i].data(), 2, false};
    RecordID id;
    benchmark::DoNotOptimize(keyed.index->ScanNext(S0, true, *scan, id, nullptr, &equal, &equal, true));
  }
}
BENCHMARK(BM_IndexPointSearch);

void BM_MultimapPointSearch(benchmark::State& state) {
  const Multimap& map = FilledMultimap();
  KeyedRecords& keyed = Filled();
  std::mt19937 random(1);
  for (auto _ : state) benchmark::DoNotOptimize(map.find(keyed.keys[random() % KeyCount]));
}
BENCHMARK(BM_MultimapPointSearch);

void BM_IndexFullScan(benchmark::State& state) {
  KeyedRecords& keyed = Filled();
  auto scan = keyed.index->NewScanState();
  for (auto _ : state) {
    RecordID id;
    int n = 0;
    for (bool first = true; keyed.index->ScanNext(S0, first, *scan, id, nullptr, nullptr, nullptr, true); first = false)
      ++n;
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * KeyCount);
}
BENCHMARK(BM_IndexFullScan)->Unit(benchmark::kMillisecond);

void BM_MultimapFullScan(benchmark::State& state) {
  const Multimap& map = FilledMultimap();
  for (auto _ : state) {
    int n = 0;
    for (const auto& entry : map) n += entry.second.SlotNo;
    benchmark::DoNotOptimize(n);
  }
  state.SetItemsProcessed(state.iterations() * KeyCount);
}
BENCHMARK(BM_MultimapFullScan)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hdb

BENCHMARK_MAIN();

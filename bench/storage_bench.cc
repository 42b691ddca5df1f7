// The page layer on the work a table does with it: cached page hits, a session that
// adds pages and commits them (each allocation goes through the free-space maps and
// every commit through the header bracket), and the same amount of data written into
// SQLite in one transaction for comparison.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "dbengine/storage/disk_page_manager.h"

namespace hdb {
namespace {

std::string BenchFile(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

void BM_CachedGetRelease(benchmark::State& state) {
  const std::string path = BenchFile("hdb-bench-cache.hdb");
  THDBDiskPageManager pm;
  pm.Create(path, {}, 8, 4096);
  std::vector<std::int32_t> pages;
  for (int i = 0; i < 500; ++i) {
    THDBPinnedPage p(pm, pm.AddPage(0, ptTableRecord));
    pages.push_back(p->PageNo());
  }
  pm.CommitPages(0);
  std::size_t i = 0;
  for (auto _ : state) {
    THDBPinnedPage p(pm, pm.GetPage(0, pages[i++ % pages.size()], false, ptTableRecord));
    benchmark::DoNotOptimize(p->Buffer());
  }
  pm.Close();
  std::filesystem::remove(path);
}
BENCHMARK(BM_CachedGetRelease);

void BM_AddPagesAndCommit(benchmark::State& state) {
  const std::string path = BenchFile("hdb-bench-add.hdb");
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    THDBDiskPageManager pm;
    pm.Create(path, {}, 8, 4096);
    for (int i = 0; i < n; ++i) {
      THDBPinnedPage p(pm, pm.AddPage(0, ptTableRecord));
      std::memset(p->Buffer() + 40, i & 0xFF, 4056);
    }
    pm.CommitPages(0);
    pm.Close();
  }
  state.SetItemsProcessed(state.iterations() * n);
  std::filesystem::remove(path);
}
BENCHMARK(BM_AddPagesAndCommit)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_SQLiteInsertBlobs(benchmark::State& state) {
  const std::string path = BenchFile("hdb-bench-sqlite.db");
  const int n = static_cast<int>(state.range(0));
  std::vector<unsigned char> blob(4000, 0x5A);
  for (auto _ : state) {
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA page_size=4096; CREATE TABLE t(b BLOB);", nullptr, nullptr,
                 nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?)", -1, &st, nullptr);
    for (int i = 0; i < n; ++i) {
      sqlite3_bind_blob(st, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  state.SetItemsProcessed(state.iterations() * n);
  std::filesystem::remove(path);
}
BENCHMARK(BM_SQLiteInsertBlobs)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_AllocateFreeCycle(benchmark::State& state) {
  const std::string path = BenchFile("hdb-bench-alloc.hdb");
  THDBDiskPageManager pm;
  pm.Create(path, {}, 8, 4096);
  for (int i = 0; i < 2000; ++i) THDBPinnedPage p(pm, pm.AddPage(0, ptTableRecord));
  pm.CommitPages(0);
  std::int32_t next = 2;
  for (auto _ : state) {
    // Free one page in the middle and take it again, as record pages come and go.
    pm.FreeSpace()->FreePage(next);
    benchmark::DoNotOptimize(pm.FreeSpace()->AllocatePage());
    next = next >= 1900 ? 2 : next + 7;
  }
  pm.Close();
  std::filesystem::remove(path);
}
BENCHMARK(BM_AllocateFreeCycle);

}  // namespace
}  // namespace hdb

BENCHMARK_MAIN();

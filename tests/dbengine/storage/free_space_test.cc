#include "dbengine/storage/free_space.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/storage/map_page.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using hdbtest::CatchHDB;
using hdbtest::ReadFileBytes;

constexpr TSessionID S0 = 0;

class FreeSpaceTest : public ::testing::Test {
 protected:
  void Create(std::uint16_t pageSize = 4096, std::uint16_t extentPages = 8) {
    // These tests commit thousands of times and are about the maps, not about power
    // losses.
    pm_.SetFlushing(false);
    pm_.Create(path_, {}, extentPages, pageSize);
  }
  std::int32_t Allocate() {
    THDBPinnedPage page(pm_, pm_.AddPage(S0, ptTableRecord));
    return page->PageNo();
  }
  std::int32_t Total() { return pm_.Header().TotalPageCount(); }
  std::int32_t LastUsed() { return pm_.Header().LastUsedPageNo(); }
  void ExpectConsistent() {
    auto problems = CheckFreeSpaceMaps(pm_);
    EXPECT_TRUE(problems.empty()) << problems.front();
  }

  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  THDBDiskPageManager pm_;
};

TEST_F(FreeSpaceTest, FirstAllocationsOfANewFile) {
  Create();
  EXPECT_EQ(Allocate(), 2);
  EXPECT_EQ(Total(), 6);
  EXPECT_EQ(LastUsed(), 2);
  EXPECT_EQ(static_cast<std::int64_t>(ReadFileBytes(path_).size()), 380 + 6 * 4096);
  EXPECT_EQ(Allocate(), 3);
  EXPECT_EQ(Allocate(), 4);
  EXPECT_EQ(Allocate(), 5);
  EXPECT_EQ(Total(), 6);
  // Pages 0-5 in use: the file grows by max(6 div 10, 8) pages.
  EXPECT_EQ(Allocate(), 6);
  EXPECT_EQ(Total(), 14);
  EXPECT_EQ(LastUsed(), 6);
  pm_.CommitPages(S0);
  ExpectConsistent();

  THDBMapPage pfs(pm_, 0, ptPFS, 0);
  for (int p = 0; p <= 6; ++p) EXPECT_TRUE(pfs.Bit(p)) << p;
  EXPECT_FALSE(pfs.Bit(7));
  THDBMapPage eam(pm_, 1, ptEAM, 0);
  EXPECT_EQ(eam.Code(0), 1);  // page 7 of the first extent is still free
}

TEST_F(FreeSpaceTest, FreeingTheLastPageCutsTheFreeTail) {
  Create();
  while (LastUsed() < 99) Allocate();
  pm_.CommitPages(S0);
  pm_.TruncateUnusedTail();
  ASSERT_EQ(Total(), 100);
  ExpectConsistent();
  for (std::int32_t p = 50; p <= 98; ++p) pm_.RemovePage(S0, p);
  pm_.CommitPages(S0);
  EXPECT_EQ(Total(), 100);
  EXPECT_EQ(LastUsed(), 99);
  pm_.RemovePage(S0, 99);
  pm_.CommitPages(S0);
  // LastUsedPageNo drops to 49: 50 free pages, 5 growth steps of 10.
  EXPECT_EQ(LastUsed(), 49);
  EXPECT_EQ(Total(), 50);
  EXPECT_EQ(static_cast<std::int64_t>(ReadFileBytes(path_).size()), 380 + 50 * 4096);
  ExpectConsistent();
}

// With 512-byte pages PFS page 4 (page 15104) and EAM page 1 (page 15105) stand side
// by side. A cut of the free tail that ended between them would leave the file with
// the PFS page and without its EAM page, which no later growth creates again.
TEST_F(FreeSpaceTest, CuttingTheFreeTailKeepsTheMapPagesTogether) {
  Create(512, 8);
  const THDBDatabaseFreeSpaceManager& fsm = *pm_.FreeSpace();
  ASSERT_EQ(fsm.PFSPageNo(4), 15104);
  ASSERT_EQ(fsm.EAMPageNo(1), 15105);
  while (LastUsed() < 16782) {
    Allocate();
    if (LastUsed() % 2000 == 0) pm_.CommitPages(S0);
  }
  pm_.CommitPages(S0);
  pm_.TruncateUnusedTail();
  ASSERT_EQ(Total(), 16783);
  // Freed from the top, LastUsedPageNo falls past the two map pages to 15103; the
  // free tail is then one growth step (1678 pages) long.
  for (std::int32_t p = 16782; p >= 15106; --p) pm_.RemovePage(S0, p);
  pm_.CommitPages(S0);
  EXPECT_EQ(LastUsed(), 15103);
  EXPECT_FALSE(fsm.IsMapPage(Total() - 1)) << Total();
  EXPECT_GE(Total(), 15106);
  ExpectConsistent();
  EXPECT_EQ(Allocate(), 15106);
  pm_.CommitPages(S0);
  ExpectConsistent();
}

// Fails the first write of one page, as a full disk fails a write into a file that
// has just been extended.
class FailingWritePageManager : public THDBDiskPageManager {
 public:
  void WritePage(THDBPage* page) override {
    if (page->PageNo() == failPageNo) {
      failPageNo = -1;
      RaiseHDB(Errors::PageWrite, "No space left on device");
    }
    THDBDiskPageManager::WritePage(page);
  }
  std::int32_t failPageNo = -1;
};

// A growth that fails before its map pages are written is undone, so the next growth
// makes them; a header that counted the new pages would leave them missing for good.
TEST_F(FreeSpaceTest, FailedGrowthIsMadeAgainByTheNextAllocation) {
  FailingWritePageManager pm;
  pm.Create(path_, {}, 8, 512);
  ASSERT_EQ(pm.FreeSpace()->PFSPageNo(1), 3776);
  pm.failPageNo = 3776;
  auto allocate = [&] {
    THDBPinnedPage page(pm, pm.AddPage(S0, ptTableRecord));
    return page->PageNo();
  };
  int failures = 0;
  while (pm.Header().LastUsedPageNo() < 3800) {
    try {
      allocate();
    } catch (const EHDBException& e) {
      ASSERT_EQ(e.NativeError(), 10469);
      ASSERT_EQ(++failures, 1);
      EXPECT_EQ(pm.HeaderLockDepth(), 0);
      auto problems = CheckFreeSpaceMaps(pm);
      EXPECT_TRUE(problems.empty()) << problems.front();
    }
    if (pm.Header().LastUsedPageNo() % 500 == 0) pm.CommitPages(S0);
  }
  pm.CommitPages(S0);
  EXPECT_EQ(failures, 1);
  auto problems = CheckFreeSpaceMaps(pm);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

// A damaged header's page count is reported, not walked: a negative one, and one far
// beyond the end of the file, would have the check allocate for pages that are not there.
TEST_F(FreeSpaceTest, CheckReportsAPageCountTheFileCannotHold) {
  Create();
  Allocate();
  pm_.CommitPages(S0);
  for (std::int32_t total : {-16777210, 1 << 30}) {
    SCOPED_TRACE(total);
    pm_.Header().SetTotalPageCount(total);
    pm_.WriteHeader();
    const auto problems = CheckFreeSpaceMaps(pm_);
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find("does not match TotalPageCount"), std::string::npos) << problems.front();
  }
}

TEST_F(FreeSpaceTest, MisuseIsRefused) {
  Create();
  const std::int32_t p = Allocate();
  pm_.CommitPages(S0);
  THDBDatabaseFreeSpaceManager& fsm = *pm_.FreeSpace();
  fsm.FreePage(p);
  auto twice = CatchHDB([&] { fsm.FreePage(p); });
  EXPECT_EQ(twice.NativeError(), 30427);
  EXPECT_EQ(twice.Message(), "Page: 2 already free");
  auto outside = CatchHDB([&] { fsm.FreePage(100); });
  EXPECT_EQ(outside.NativeError(), 30430);
  EXPECT_EQ(outside.Message(), "Page: 100 cannot be addressed. TotalPageCount=6");
  EXPECT_EQ(CatchHDB([&] { pm_.RemovePage(S0, 0); }).NativeError(), 30434);
  EXPECT_EQ(CatchHDB([&] { pm_.RemovePage(S0, 1); }).NativeError(), 30434);
  EXPECT_EQ(pm_.HeaderLockDepth(), 0);  // errors release HeaderLock
}

TEST_F(FreeSpaceTest, DamagedMapPageIsReportedByType) {
  Create();
  Allocate();
  pm_.CommitPages(S0);
  // Overwrite the EAM page with a record page.
  THDBPage bogus(&pm_, 1, pm_.PageSize());
  bogus.SetPageType(ptTableRecord);
  pm_.WritePage(&bogus);
  auto e = CatchHDB([&] { Allocate(); });
  EXPECT_EQ(e.NativeError(), 30423);
  EXPECT_EQ(e.Message(), "Wrong page type. Found 'TableRecord Page', but expecting: 'EAM Page'");
  EXPECT_FALSE(CheckFreeSpaceMaps(pm_).empty());
}

TEST_F(FreeSpaceTest, MapPagePositions) {
  Create();
  const THDBDatabaseFreeSpaceManager& fsm = *pm_.FreeSpace();
  EXPECT_EQ(fsm.PagesPerPFS(), 32448);
  EXPECT_EQ(fsm.ExtentsPerEAM(), 16224);
  EXPECT_EQ(fsm.PagesPerEAM(), 129792);
  EXPECT_EQ(fsm.PFSPageNo(1), 32448);
  EXPECT_EQ(fsm.EAMPageNo(0), 1);
  EXPECT_EQ(fsm.EAMPageNo(1), 129793);
  for (std::int32_t p : {0, 1, 32448, 64896, 129792, 129793}) EXPECT_TRUE(fsm.IsMapPage(p)) << p;
  for (std::int32_t p : {2, 32447, 32449, 129794, 129791}) EXPECT_FALSE(fsm.IsMapPage(p)) << p;
}

// Two processes allocating and freeing in turn (two managers, each with its own
// descriptor and locks): a manager's copies of the map pages go with its HeaderLock,
// so neither hands out a page the other holds, and the maps stay whole. A single-user
// manager keeps its copies from one step to the next.
TEST_F(FreeSpaceTest, ProcessesAllocatingInTurnNeverShareAPage) {
  Create();
  pm_.Close();
  auto open = [&](THDBDiskPageManager& pm) {
    bool multiUser = true, readOnly = false;
    pm.Open(path_, {}, multiUser, false, readOnly);
    ASSERT_TRUE(multiUser);
    pm.SetFlushing(false);
  };
  THDBDiskPageManager a, b;
  open(a);
  open(b);
  std::set<std::int32_t> held;
  std::vector<std::int32_t> committedByA;
  for (int i = 0; i < 300; ++i) {
    THDBDiskPageManager& pm = i % 3 == 0 ? b : a;
    {
      THDBPinnedPage page(pm, pm.AddPage(S0, ptTableRecord));
      ASSERT_TRUE(held.insert(page->PageNo()).second) << "page " << page->PageNo() << " handed out twice";
      if (&pm == &a) committedByA.push_back(page->PageNo());
    }
    if (i % 7 == 6) {
      a.CommitPages(S0);
      b.CommitPages(S0);
    }
    // Now and then a page goes again, and may be handed out anew.
    if (i % 11 == 10 && !committedByA.empty()) {
      a.CommitPages(S0);
      const std::int32_t freed = committedByA.back();
      committedByA.pop_back();
      a.RemovePage(S0, freed);
      a.CommitPages(S0);
      held.erase(freed);
    }
  }
  a.CommitPages(S0);
  b.CommitPages(S0);
  auto problems = CheckFreeSpaceMaps(b);
  EXPECT_TRUE(problems.empty()) << problems.front();
  a.Close();
  b.Close();
}

// Allocates and frees pages at random, with commits and rollbacks between, against a
// plain model of the used pages, and checks the maps after every step.
struct RandomCase {
  std::uint16_t pageSize;
  std::uint16_t extentPages;
  int steps;
  std::uint32_t seed;
};

class FreeSpaceRandomTest : public FreeSpaceTest, public ::testing::WithParamInterface<RandomCase> {};

TEST_P(FreeSpaceRandomTest, MatchesAModelOfTheUsedPages) {
  const RandomCase c = GetParam();
  Create(c.pageSize, c.extentPages);
  std::mt19937 rng(c.seed);
  std::set<std::int32_t> used;  // committed pages in use, map pages excluded
  for (int step = 0; step < c.steps; ++step) {
    // Grow for the first half, shrink in the second, so the tail is cut as well.
    const bool growing = step < c.steps / 2;
    std::set<std::int32_t> added, removed;
    const int ops = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < ops; ++i) {
      const bool add = used.size() - removed.size() < 2 || rng() % 100 < (growing ? 75u : 30u);
      if (add) {
        const std::int32_t p = Allocate();
        ASSERT_FALSE(used.count(p) || added.count(p)) << "page " << p << " handed out twice";
        ASSERT_FALSE(pm_.FreeSpace()->IsMapPage(p));
        added.insert(p);
      } else {
        auto it = used.begin();
        std::advance(it, rng() % used.size());
        if (removed.insert(*it).second) pm_.RemovePage(S0, *it);
      }
    }
    if (rng() % 5 == 0) {
      pm_.RollbackPages(S0);
    } else {
      pm_.CommitPages(S0);
      used.insert(added.begin(), added.end());
      for (std::int32_t p : removed) used.erase(p);
    }
    auto problems = CheckFreeSpaceMaps(pm_);
    ASSERT_TRUE(problems.empty()) << "step " << step << ": " << problems.front();
    // The maps mark exactly the model's pages (and the map pages).
    const THDBDatabaseFreeSpaceManager& fsm = *pm_.FreeSpace();
    ASSERT_EQ(LastUsed(), used.empty() ? LastUsed() : *used.rbegin()) << "step " << step;
    for (std::int32_t g = 0; g <= fsm.LastPFSIndex() && Total() > 0; ++g) {
      THDBMapPage pfs(pm_, fsm.PFSPageNo(g), ptPFS, 0);
      for (std::int32_t k = 0; k < fsm.PagesPerPFS() && fsm.PFSPageNo(g) + k < Total(); ++k) {
        const std::int32_t p = fsm.PFSPageNo(g) + k;
        ASSERT_EQ(pfs.Bit(k), fsm.IsMapPage(p) || used.count(p) > 0) << "page " << p << " at step " << step;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, FreeSpaceRandomTest,
                         ::testing::Values(RandomCase{4096, 8, 600, 1}, RandomCase{512, 8, 900, 2},
                                           RandomCase{512, 1, 900, 3}, RandomCase{512, 3, 600, 4}));

}  // namespace
}  // namespace hdb

#include "dbengine/storage/page_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <set>

#include "dbengine/storage/disk_page_manager.h"
#include "forked_child.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using hdbtest::CatchHDB;
using hdbtest::ReadFileBytes;

constexpr TSessionID S0 = 0;
constexpr TSessionID S1 = 1;

class PageManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { pm_.Create(path_, {}, 8, 4096); }

  // Adds a committed page of the given type whose data starts with text.
  std::int32_t AddCommitted(const char* text, std::uint16_t type = ptTableRecord) {
    THDBPinnedPage page(pm_, pm_.AddPage(S0, type));
    std::strcpy(reinterpret_cast<char*>(page->Buffer() + 40), text);
    const std::int32_t no = page->PageNo();
    page.Release();
    pm_.CommitPages(S0);
    return no;
  }
  std::string DataOf(THDBPage* page) const { return reinterpret_cast<const char*>(page->Buffer() + 40); }
  std::string DiskPage(std::int32_t pageNo) const {
    return ReadFileBytes(path_).substr(static_cast<std::size_t>(380 + pageNo * 4096), 4096);
  }
  THDBFileHeader DiskHeader() const {
    THDBFileHeader h;
    std::memcpy(h.Bytes().data(), ReadFileBytes(path_).data(), 76);
    return h;
  }
  std::set<std::int32_t> CachedPages() const {
    std::set<std::int32_t> out;
    for (std::int32_t i = 0; i < pm_.SharedCache().Count(); ++i) out.insert(pm_.SharedCache().At(i)->PageNo());
    return out;
  }

  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  THDBDiskPageManager pm_;
};

TEST_F(PageManagerTest, CommitWithNothingChangedLeavesTheFileAlone) {
  AddCommitted("x");
  const std::string before = ReadFileBytes(path_);
  pm_.CommitPages(S1);  // a session never seen
  {
    THDBPinnedPage page(pm_, pm_.GetPage(S0, 2));  // read, not changed
  }
  pm_.CommitPages(S0);
  EXPECT_EQ(ReadFileBytes(path_), before);
}

TEST_F(PageManagerTest, CommitBracketsChangedPagesWithTheHeader) {
  const std::int32_t no = AddCommitted("first");
  const std::int32_t counter = DiskHeader().ChangeCounter();
  const std::int32_t version = le::Load<std::int32_t>(DiskPage(no).data(), 4);
  {
    THDBPinnedPage page(pm_, pm_.GetPage(S0, no, false, ptTableRecord));
    std::strcpy(reinterpret_cast<char*>(page->Buffer() + 40), "second");
    page.SetDirty();
  }
  EXPECT_EQ(DiskPage(no).substr(40, 5), "first");  // nothing written before the commit
  pm_.CommitPages(S0);
  EXPECT_EQ(DiskHeader().ChangeCounter(), counter + 1);
  EXPECT_EQ(DiskHeader().DatabaseState(), 2);
  EXPECT_EQ(le::Load<std::int32_t>(DiskPage(no).data(), 4), version + 1);
  EXPECT_EQ(DiskPage(no).substr(40, 6), "second");
}

TEST_F(PageManagerTest, PageVersionSkipsTheReservedValues) {
  // In memory, then on disk after the next write. 0x7FFFFFFF is what a page carries
  // that was read with the freed mark.
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {0x7FFFFFFB, 0x7FFFFFFC}, {0x7FFFFFFC, 0}, {0x7FFFFFFE, 0}, {0x7FFFFFFF, 0}};
  const std::int32_t no = AddCommitted("v");
  for (const auto& [before, after] : cases) {
    {
      THDBPinnedPage page(pm_, pm_.GetPage(S0, no));
      page->SetPageVersion(before);
      page.SetDirty();
    }
    pm_.CommitPages(S0);
    EXPECT_EQ(le::Load<std::int32_t>(DiskPage(no).data(), 4), after) << before;
  }
}

TEST_F(PageManagerTest, ChangedPageComesBackFromTheSessionsChanges) {
  const std::int32_t no = AddCommitted("old");
  THDBPage* changed = nullptr;
  {
    THDBPinnedPage page(pm_, pm_.GetPage(S0, no));
    std::strcpy(reinterpret_cast<char*>(page->Buffer() + 40), "new");
    page.SetDirty();
    changed = page.Get();
  }
  EXPECT_EQ(pm_.FindSession(S0)->ChangedPages.Find(no), changed);
  EXPECT_EQ(pm_.SharedCache().Find(no), nullptr);
  {
    THDBPinnedPage again(pm_, pm_.GetPage(S0, no));
    EXPECT_EQ(again.Get(), changed);
    EXPECT_EQ(DataOf(again.Get()), "new");
    // Another session still sees the committed content.
    THDBPinnedPage other(pm_, pm_.GetPage(S1, no));
    EXPECT_NE(other.Get(), changed);
    EXPECT_EQ(DataOf(other.Get()), "old");
  }
  pm_.RollbackPages(S0);
  THDBPinnedPage after(pm_, pm_.GetPage(S0, no));
  EXPECT_EQ(DataOf(after.Get()), "old");
}

TEST_F(PageManagerTest, PinsBelongToOneSession) {
  const std::int32_t no = AddCommitted("p");
  THDBPinnedPage first(pm_, pm_.GetPage(S0, no));
  THDBPinnedPage second(pm_, pm_.GetPage(S0, no));
  EXPECT_EQ(first.Get(), second.Get());
  EXPECT_EQ(first->UseCount, 2);
  EXPECT_EQ(CatchHDB([&] { pm_.GetPage(S1, no); }).NativeError(), 20090);
  EXPECT_EQ(CatchHDB([&] { pm_.GetPage(-1, no); }).NativeError(), 20186);
  {
    // A pinned page of the committing session stops the commit.
    THDBPinnedPage added(pm_, pm_.AddPage(S0, ptTableRecord));
  }
  EXPECT_EQ(CatchHDB([&] { pm_.CommitPages(S0); }).NativeError(), 20152);
  first.Release();
  second.Release();
  pm_.CommitPages(S0);
  EXPECT_FALSE(pm_.HasPendingChanges(S0));
}

TEST_F(PageManagerTest, PinnedChangedPagesStopCommitAndRollback) {
  const std::int32_t no = AddCommitted("p");
  {
    THDBPinnedPage page(pm_, pm_.GetPage(S0, no));
    page.SetDirty();
  }
  THDBPinnedPage pinned(pm_, pm_.GetPage(S0, no));
  EXPECT_EQ(CatchHDB([&] { pm_.CommitPages(S0); }).NativeError(), 20086);
  EXPECT_EQ(CatchHDB([&] { pm_.RollbackPages(S0); }).NativeError(), 20088);
  EXPECT_EQ(CatchHDB([&] { pm_.CheckNoPendingChanges(); }).NativeError(), 20097);
  pinned.Release();
  pm_.RollbackPages(S0);
  pm_.CheckNoPendingChanges();
}

// A commit that its own checks refuse must not have started: no freed page, no page
// written, and no state byte left at 1 (which would ask for a repair at the next open).
TEST_F(PageManagerTest, RefusedCommitLeavesTheFileAsItWas) {
  struct Case {
    const char* what;
    int code;
    // Changes `changed`, removes `removed`, and returns the page left pinned.
    std::function<THDBPage*(std::int32_t changed, std::int32_t removed)> prepare;
  };
  auto change = [&](std::int32_t no) {
    THDBPinnedPage page(pm_, pm_.GetPage(S0, no));
    std::strcpy(reinterpret_cast<char*>(page->Buffer() + 40), "changed");
    page.SetDirty();
  };
  const Case cases[] = {
      {"a changed page still pinned", 20086,
       [&](std::int32_t changed, std::int32_t removed) {
         change(changed);
         pm_.RemovePage(S0, removed);
         return pm_.GetPage(S0, changed);
       }},
      {"the removed page itself still pinned", 20086,
       [&](std::int32_t changed, std::int32_t removed) {
         change(changed);
         change(removed);
         pm_.RemovePage(S0, removed);
         return pm_.GetPage(S0, removed);
       }},
      {"a cached page still pinned", 20152,
       [&](std::int32_t changed, std::int32_t removed) {
         const std::int32_t other = AddCommitted("other");
         change(changed);
         pm_.RemovePage(S0, removed);
         return pm_.GetPage(S0, other);
       }},
  };
  for (const Case& c : cases) {
    const std::int32_t changed = AddCommitted("before");
    const std::int32_t removed = AddCommitted("removed");
    THDBPage* pinned = c.prepare(changed, removed);
    const std::string before = ReadFileBytes(path_);
    EXPECT_EQ(CatchHDB([&] { pm_.CommitPages(S0); }).NativeError(), c.code) << c.what;
    EXPECT_TRUE(ReadFileBytes(path_) == before) << c.what;
    EXPECT_EQ(pm_.HeaderLockDepth(), 0) << c.what;
    // The session goes on: once the pin is gone the same commit succeeds.
    pm_.ReleasePage(pinned);
    pm_.CommitPages(S0);
    EXPECT_EQ(DiskHeader().DatabaseState(), 2) << c.what;
    EXPECT_EQ(DiskPage(changed).substr(40, 7), "changed") << c.what;
    EXPECT_EQ(le::Load<std::int32_t>(DiskPage(removed).data(), 4), 0x7FFFFFFF) << c.what;
  }
}

TEST_F(PageManagerTest, AddedPageRolledBackIsFreeAndUnwritten) {
  THDBPage* page = pm_.AddPage(S0, ptTableRecord);
  const std::int32_t no = page->PageNo();
  EXPECT_EQ(no, 2);
  std::memset(page->Buffer() + 40, 0xAB, 100);
  pm_.ReleasePage(page);
  pm_.RollbackPages(S0);

  std::string disk = DiskPage(no);
  EXPECT_EQ(le::Load<std::int32_t>(disk.data(), 4), 0x7FFFFFFF);  // only the freed mark
  disk.replace(4, 4, 4, '\0');
  EXPECT_EQ(disk, std::string(4096, '\0'));
  EXPECT_EQ(pm_.FreeSpace()->LastUsedPageNo(), -1);

  THDBPinnedPage again(pm_, pm_.AddPage(S0, ptTableRecord));
  EXPECT_EQ(again->PageNo(), no);
}

TEST_F(PageManagerTest, RemovedPageIsFreedAtCommit) {
  const std::int32_t a = AddCommitted("a");
  const std::int32_t b = AddCommitted("b");
  pm_.RemovePage(S0, a);
  EXPECT_EQ(pm_.FreeSpace()->LastUsedPageNo(), b);
  pm_.CommitPages(S0);
  EXPECT_EQ(le::Load<std::int32_t>(DiskPage(a).data(), 4), 0x7FFFFFFF);
  THDBPinnedPage reused(pm_, pm_.AddPage(S0, ptTableRecord));
  EXPECT_EQ(reused->PageNo(), a);
  EXPECT_EQ(reused->PageType(), ptTableRecord);
}

TEST_F(PageManagerTest, TypeCheckOnGetPage) {
  const std::int32_t no = AddCommitted("i", ptTableIndex);
  pm_.Close();
  bool mu = false, ro = false;
  pm_.Open(path_, {}, mu, false, ro);
  auto e = CatchHDB([&] { pm_.GetPage(S0, no, false, ptTableRecord); });
  EXPECT_EQ(e.NativeError(), 20153);
  EXPECT_EQ(e.Message(), "Invalid page type. Possible data corruption. Expecting type 10, but found 12");
  { THDBPinnedPage any(pm_, pm_.GetPage(S0, no, false, AnyPageType)); }
  pm_.SuppressChecks = true;
  { THDBPinnedPage unchecked(pm_, pm_.GetPage(S0, no, false, ptTableRecord)); }
  EXPECT_EQ(CatchHDB([&] { pm_.GetPage(S0, 0); }).Message(), "Cannot delete PFS or EAM page. PageNo=0");
  EXPECT_EQ(CatchHDB([&] { pm_.RemovePage(S0, 1); }).NativeError(), 30434);
}

// A page number that cannot be read (a damaged chain's -1, for one) fails every time
// it is asked for, and leaves nothing behind in the cache.
TEST_F(PageManagerTest, UnreadablePageNumberLeavesNothingCached) {
  AddCommitted("x");
  const std::set<std::int32_t> before = CachedPages();
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(CatchHDB([&] { pm_.GetPage(S0, -1, false, AnyPageType); }).NativeError(), 10471) << attempt;
    EXPECT_EQ(CachedPages(), before) << attempt;
  }
}

TEST_F(PageManagerTest, ReleaseEvictsExactlyTheLeastRecentlyUsedPage) {
  std::vector<std::int32_t> pages;
  for (int i = 0; i < 6; ++i) pages.push_back(AddCommitted("c"));  // pages 2..7
  pm_.Close();
  bool mu = false, ro = false;
  pm_.Open(path_, {}, mu, false, ro);
  pm_.SetCacheLimit(3);
  auto touch = [&](std::int32_t no) { THDBPinnedPage p(pm_, pm_.GetPage(S0, no)); };
  touch(2);
  touch(3);
  touch(4);
  EXPECT_EQ(CachedPages(), (std::set<std::int32_t>{2, 3, 4}));
  touch(5);
  EXPECT_EQ(CachedPages(), (std::set<std::int32_t>{3, 4, 5}));
  touch(3);
  touch(6);
  EXPECT_EQ(CachedPages(), (std::set<std::int32_t>{3, 5, 6}));
  {
    // A pinned least recently used page stops the eviction.
    THDBPinnedPage held(pm_, pm_.GetPage(S1, 5));
    touch(7);
    EXPECT_EQ(CachedPages(), (std::set<std::int32_t>{3, 5, 6, 7}));
  }
  // Its own release then evicts the oldest unpinned one.
  EXPECT_EQ(CachedPages(), (std::set<std::int32_t>{5, 6, 7}));
}

TEST_F(PageManagerTest, CacheLimitFromAvailableMemory) {
  EXPECT_GT(pm_.CacheLimit(), 0);
  EXPECT_LE(pm_.CacheLimit(), 1000);
}

// Kills itself as soon as the commit writes a table page: between the header writes.
class DyingPageManager : public THDBDiskPageManager {
 public:
  void WritePage(THDBPage* page) override {
    if (page->PageType() == ptTableRecord) ::_exit(7);
    THDBDiskPageManager::WritePage(page);
  }
};

TEST_F(PageManagerTest, ProcessKilledInsideCommitIsRolledBackAtOpen) {
  const std::int32_t no = AddCommitted("before");
  pm_.Close();
  hdbtest::ForkedChild child([&](hdbtest::ForkedChild&) {
    DyingPageManager pm;
    bool mu = false, ro = false;
    pm.Open(path_, {}, mu, false, ro);
    THDBPinnedPage page(pm, pm.GetPage(S0, no));
    std::strcpy(reinterpret_cast<char*>(page->Buffer() + 40), "after");
    page.SetDirty();
    page.Release();
    pm.CommitPages(S0);
    return 0;
  });
  ASSERT_EQ(child.Wait(), 7);
  // A reader that knows nothing of the journal finds the commit unfinished.
  EXPECT_EQ(DiskHeader().DatabaseState(), 1);
  THDBDiskPageManager pm;
  bool mu = false, ro = false;
  EXPECT_FALSE(pm.Open(path_, {}, mu, false, ro));
  EXPECT_EQ(pm.Header().DatabaseState(), 2);
  THDBPinnedPage page(pm, pm.GetPage(S0, no));
  EXPECT_EQ(DataOf(page.Get()), "before");
}

TEST_F(PageManagerTest, MultiUserCachedPagesAreRevalidated) {
  const std::int32_t no = AddCommitted("v1");
  pm_.Close();
  bool mu = true, ro = false;
  THDBDiskPageManager writer, reader;
  writer.Open(path_, {}, mu, false, ro);
  mu = true;
  reader.Open(path_, {}, mu, false, ro);
  ASSERT_TRUE(reader.MultiUser());
  auto read = [&](bool revalidate) {
    THDBPinnedPage p(reader, reader.GetPage(S0, no, revalidate));
    return DataOf(p.Get());
  };
  auto write = [&](const char* text) {
    {
      THDBPinnedPage p(writer, writer.GetPage(S0, no));
      std::strcpy(reinterpret_cast<char*>(p->Buffer() + 40), text);
      p.SetDirty();
    }
    writer.CommitPages(S0);
  };
  EXPECT_EQ(read(false), "v1");
  write("v2");
  EXPECT_EQ(read(false), "v1");  // the cache is used as it is
  EXPECT_EQ(read(true), "v2");   // no table version: the page's version on disk decides

  // With a table version captured and the page marked, the cached copy is current.
  auto& cache = reader.TablePagesCache();
  cache.TableLocked(S0, 77, false);
  cache.PushTable(S0, 77);
  cache.CaptureTableVersion(S0, 77, 5);
  EXPECT_EQ(read(true), "v2");
  write("v3");
  EXPECT_EQ(read(true), "v2");
  cache.CaptureTableVersion(S0, 77, 6);  // the table has changed since
  EXPECT_EQ(read(true), "v3");
  // The last unlock forgets the version.
  cache.TableUnlocked(S0, 77, false);
  EXPECT_FALSE(cache.CurrentVersion(S0).has_value());
}

}  // namespace
}  // namespace hdb

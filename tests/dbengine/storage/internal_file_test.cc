#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <set>
#include <vector>

#include "dbengine/storage/direct_file.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/transacted_file.h"
#include "dbengine/storage/zlib_stream.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using hdbtest::CatchHDB;
using hdbtest::ReadFileBytes;

constexpr TSessionID S = SystemSessionID;

class InternalFileTest : public ::testing::Test {
 protected:
  void SetUp() override { pm_.Create(path_, {}, 8, 4096); }
  std::string DiskPage(std::int32_t pageNo) const {
    return ReadFileBytes(path_).substr(static_cast<std::size_t>(380 + pageNo * 4096), 4096);
  }
  std::vector<std::int32_t> Chain(const THDBInternalDBTransactedAccessFile& f) {
    std::vector<std::int32_t> chain;
    for (std::int32_t no = f.StartPageNo(); no != -1;) {
      chain.push_back(no);
      THDBPinnedPage p(pm_, pm_.GetPage(S, no));
      no = p->NextPageNo();
    }
    return chain;
  }
  static std::vector<std::uint8_t> Pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return v;
  }

  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  THDBDiskPageManager pm_;
};

TEST_F(InternalFileTest, EmptyTransactedFileIsOnePage) {
  THDBInternalDBTransactedAccessFile f(pm_, ptTableList);
  f.Create(S);
  pm_.CommitPages(S);
  const std::string page = DiskPage(f.StartPageNo());
  EXPECT_EQ(le::Load<std::uint16_t>(page.data(), 8), ptTableList);
  EXPECT_EQ(le::Load<std::int32_t>(page.data(), 10), -1);
  EXPECT_EQ(page.substr(40, 10), std::string("\x0a\0\0\0\0\0\0\0\0\0", 10));
  EXPECT_EQ(f.GetPlainSize(S, true), 0);
  EXPECT_EQ(CatchHDB([&] { f.Create(S); }).NativeError(), 30383);
}

TEST_F(InternalFileTest, ContentSpansPagesAtThePageDataSize) {
  struct {
    std::size_t size;
    std::size_t pages;
  } cases[] = {{0, 1}, {4046, 1}, {4047, 2}, {4046 + 4056, 2}, {4046 + 4056 + 1, 3}};
  for (const auto& c : cases) {
    THDBInternalDBTransactedAccessFile f(pm_, ptTableMostUpdated);
    f.Create(S);
    const auto content = Pattern(c.size);
    f.WriteFile(S, content.data(), 0, caNone, static_cast<std::int32_t>(content.size()));
    pm_.CommitPages(S);
    EXPECT_EQ(Chain(f).size(), c.pages) << c.size;
    EXPECT_EQ(f.ReadAll(S, true), content) << c.size;
  }
}

TEST_F(InternalFileTest, ZlibContentRoundTrips) {
  THDBInternalDBTransactedAccessFile f(pm_, ptTableMetaData);
  f.Create(S);
  std::vector<std::uint8_t> content(20000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>("definition"[i % 10]);
  f.WriteFile(S, content.data(), 1, caZlib, static_cast<std::int32_t>(content.size()));
  pm_.CommitPages(S);
  const auto size = f.GetSize(S, true);
  EXPECT_EQ(size.Algorithm, caZlib);
  EXPECT_EQ(size.PlainSize, 20000);
  EXPECT_EQ(static_cast<std::size_t>(size.StoredSize), ZlibCompress(content.data(), content.size(), 1)->size());
  EXPECT_EQ(f.ReadAll(S, true), content);
  EXPECT_EQ(Chain(f).size(), 1u);  // the stream is small
  EXPECT_EQ(CatchHDB([&] { f.WriteFile(S, content.data(), 1, caZlib, 0); }).NativeError(), 20187);
}

TEST_F(InternalFileTest, ReadErrors) {
  THDBInternalDBTransactedAccessFile f(pm_, ptTableMostUpdated);
  EXPECT_EQ(CatchHDB([&] { f.GetSize(S, true); }).Message(),
            "Cannot perform this operation (GetSize) on closed internal file");
  f.Create(S);
  f.WriteFile(S, "abcd", 0, caNone, 4);
  char buf[5];
  auto e = CatchHDB([&] { f.ReadFile(S, buf, true, 5); });
  EXPECT_EQ(e.NativeError(), 30387);
  EXPECT_EQ(e.Message(), "Cannot read internal file. FileSize=4. ReadSize=5");
  // Content recorded as another algorithm than zlib is refused on reading.
  f.SetSize(S, 4, caBzip2, 4);
  auto bz = CatchHDB([&] { f.ReadFile(S, buf, true, 4); });
  EXPECT_EQ(bz.NativeError(), 20189);
  EXPECT_NE(bz.Message().find("algorithm 2 is not supported"), std::string::npos);
  // A damaged stream names zlib's reason.
  f.SetSize(S, 4, caZlib, 4);
  EXPECT_EQ(CatchHDB([&] { f.ReadFile(S, buf, true, 4); }).NativeError(), 20189);
}

TEST_F(InternalFileTest, ShrinkingReturnsTheSurplusPages) {
  THDBInternalDBTransactedAccessFile f(pm_, ptTableMostUpdated);
  f.Create(S);
  const auto big = Pattern(10000);
  f.WriteFile(S, big.data(), 0, caNone, 10000);
  pm_.CommitPages(S);
  const auto before = Chain(f);
  ASSERT_EQ(before.size(), 3u);
  f.WriteFile(S, big.data(), 0, caNone, 100);
  pm_.CommitPages(S);
  EXPECT_EQ(Chain(f), std::vector<std::int32_t>{before[0]});
  // The two pages are free again and serve the next growth.
  f.WriteFile(S, big.data(), 0, caNone, 10000);
  pm_.CommitPages(S);
  const auto after = Chain(f);
  EXPECT_EQ(std::set<std::int32_t>(after.begin(), after.end()), std::set<std::int32_t>(before.begin(), before.end()));
  EXPECT_EQ(f.ReadAll(S, true), big);
}

TEST_F(InternalFileTest, DeleteReturnsEveryPage) {
  THDBInternalDBTransactedAccessFile f(pm_, ptTableMostUpdated);
  f.Create(S);
  const auto big = Pattern(9000);
  f.WriteFile(S, big.data(), 0, caNone, 9000);
  pm_.CommitPages(S);
  const std::int32_t lastUsed = pm_.Header().LastUsedPageNo();
  ASSERT_GT(lastUsed, 2);
  f.Delete(S);
  pm_.CommitPages(S);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(pm_.Header().LastUsedPageNo(), -1);
}

// A damaged chain whose last page leads back into the chain ends the walk with an
// error instead of going round for ever.
TEST_F(InternalFileTest, ChainThatLoopsIsReportedNotWalkedForEver) {
  THDBInternalDBTransactedAccessFile f(pm_, ptTableMostUpdated);
  f.Create(S);
  const auto big = Pattern(10000);
  f.WriteFile(S, big.data(), 0, caNone, 10000);
  pm_.CommitPages(S);
  const auto chain = Chain(f);
  ASSERT_EQ(chain.size(), 3u);
  {
    THDBPinnedPage last(pm_, pm_.GetPage(S, chain[2]));
    last->SetNextPageNo(chain[1]);
    last.SetDirty();
  }
  THDBInternalDBDirectAccessFile direct(pm_, ptTableLocks);
  direct.Create(6000);
  pm_.CommitPages(S);
  ASSERT_EQ(direct.Pages().size(), 2u);
  std::uint8_t next[4];
  le::Store<std::int32_t>(next, 0, direct.Pages()[0]);
  pm_.WritePageRange(next, direct.Pages()[1], 4, PageHeaderLayout::NextPageNo::offset);
  struct {
    const char* what;
    std::function<void()> walk;
  } cases[] = {
      {"shrinking", [&] { f.WriteFile(S, big.data(), 0, caNone, 10); }},
      {"deleting", [&] { f.Delete(S); }},
      {"deleting a direct file by its start page",
       [&] { THDBInternalDBDirectAccessFile(pm_, ptTableLocks).Delete(direct.StartPageNo()); }},
  };
  for (const auto& c : cases) {
    const auto e = CatchHDB(c.walk);
    EXPECT_EQ(e.NativeError(), 20300) << c.what;
    pm_.RollbackPages(S);
  }
}

TEST_F(InternalFileTest, DirectFileOfOnePageAddressesTheWholePage) {
  THDBInternalDBDirectAccessFile f(pm_, ptActiveSessionList);
  f.Create(500);
  pm_.CommitPages(S);
  THDBInternalDBDirectAccessFile g(pm_, ptActiveSessionList);
  g.Open(f.StartPageNo());
  EXPECT_EQ(g.GetSize(), 500);
  EXPECT_EQ(g.SizeLimit(), 4046);
  // The whole page can be addressed, though only 500 bytes are recorded; the page's
  // capacity ends at 4045 and the position after it lies in no page.
  EXPECT_TRUE(g.LockByte(4045));
  EXPECT_TRUE(g.UnlockByte(4045));
  EXPECT_EQ(CatchHDB([&] { g.LockByte(4046); }).Message(),
            "Seek position bigger than file size. FileSize=4046. Position=4046");
  g.DirectWriteBuffer("xyz", 3, 497);
  auto e = CatchHDB([&] { g.DirectWriteBuffer("xyz", 3, 498); });
  EXPECT_EQ(e.NativeError(), 20158);
  EXPECT_EQ(e.Message(), "Cannot write after end of file. FileSize=500. Position=498, Count=3");
  char back[3];
  g.DirectReadBuffer(back, 3, 497);
  EXPECT_EQ(std::string(back, 3), "xyz");
  EXPECT_EQ(DiskPage(g.StartPageNo()).substr(40 + 10 + 497, 3), "xyz");
}

TEST_F(InternalFileTest, DirectFilePositionsCrossPages) {
  THDBInternalDBDirectAccessFile f(pm_, ptTableLocks);
  f.Create(6000);
  pm_.CommitPages(S);
  ASSERT_EQ(f.Pages().size(), 2u);
  f.DirectWriteBuffer("AB", 2, 4045);  // last byte of page one, first of page two
  EXPECT_EQ(DiskPage(f.Pages()[0])[4095], 'A');
  EXPECT_EQ(DiskPage(f.Pages()[1])[40], 'B');
  EXPECT_TRUE(f.LockByte(4046));
  EXPECT_TRUE(f.IsRegionLocked(4000, 100));
  EXPECT_FALSE(f.IsRegionLocked(4000, 46));
  EXPECT_TRUE(f.UnlockByte(4046));
  EXPECT_FALSE(f.IsRegionLocked(0, 6000));

  THDBInternalDBDirectAccessFile wrongType(pm_, ptActiveSessionList);
  EXPECT_EQ(CatchHDB([&] { wrongType.Open(f.StartPageNo()); }).Message(),
            "Invalid PageType found: 7 but expecting: 5");
  THDBInternalDBDirectAccessFile closed(pm_, ptTableLocks);
  EXPECT_EQ(CatchHDB([&] { closed.LockFile(); }).NativeError(), 20156);
}

}  // namespace
}  // namespace hdb

// Database files damaged in one place, each made by the engine and then changed by
// writing bytes into it: every damage must give its engine error, quickly and
// without allocating what a damaged size claims, and leave the file as it was.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/transacted_file.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using hdbtest::NativeErrorInLimitedChild;
using hdbtest::ReadFileBytes;
using hdbtest::TestSession;
using hdbtest::WriteFileBytes;

constexpr std::int32_t NearTwoGB = 0x7FFFFFF0;
constexpr std::size_t PagesStart = 380;
constexpr std::size_t PageSize = 4096;
constexpr std::size_t DataArea = 40;
// Where the fields of an internal file's header lie in its first page.
constexpr std::size_t StoredSizeAt = DataArea + 1;
constexpr std::size_t PlainSizeAt = DataArea + 5;
constexpr std::size_t NextPageNoAt = 10;

// A new database (system directory at page 2, sessions file at 3, table list at 4) and
// one zlib-compressed internal file at page 5, as a table definition is stored.
class DamagedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    THDBDiskDatabaseData db(path_);
    db.CreateDatabase();
    THDBDiskPageManager pm;
    bool multiUser = false, readOnly = false;
    pm.Open(path_, {}, multiUser, false, readOnly);
    THDBInternalDBTransactedAccessFile compressed(pm, ptTableMetaData);
    compressed.Create(SystemSessionID);
    const std::string content(20000, 'd');
    compressed.WriteFile(SystemSessionID, content.data(), 1, caZlib, static_cast<std::int32_t>(content.size()));
    pm.CommitPages(SystemSessionID);
    ASSERT_EQ(compressed.StartPageNo(), CompressedPage);
    pm.Close();
  }

  static void Put(std::string& bytes, std::size_t pageNo, std::size_t offset, std::int32_t value) {
    le::Store<std::int32_t>(bytes.data(), PagesStart + pageNo * PageSize + offset, value);
  }
  void Attach() const {
    THDBDiskDatabaseData db(path_);
    TestSession s;
    db.Attach(s);
    db.Detach(s);
  }
  void ReadCompressedFile() const {
    THDBDiskPageManager pm;
    bool multiUser = false, readOnly = true;
    pm.Open(path_, {}, multiUser, false, readOnly);
    THDBInternalDBTransactedAccessFile f(pm, ptTableMetaData);
    f.Open(CompressedPage);
    f.ReadAll(SystemSessionID, true);
  }
  void AddPage() const {
    THDBDiskDatabaseData db(path_);
    TestSession s;
    db.Attach(s);
    THDBDiskPageManager& pm = *db.PageManager();
    { THDBPinnedPage page(pm, pm.AddPage(s.id, ptTableRecord)); }
    db.Commit(s.id, false);
    db.Detach(s);
  }

  static constexpr std::int32_t CompressedPage = 5;
  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
};

TEST_F(DamagedFileTest, EachDamageGivesItsErrorAndChangesNothing) {
  const std::string good = ReadFileBytes(path_);
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    std::function<void()> use;
    int code;
  } cases[] = {
      {"table list: plain size near 2^31", [](std::string& b) { Put(b, 4, PlainSizeAt, NearTwoGB); }, [&] { Attach(); },
       30388},
      {"compressed file: stored size near 2^31",
       [](std::string& b) { Put(b, CompressedPage, StoredSizeAt, NearTwoGB); }, [&] { ReadCompressedFile(); }, 30388},
      {"compressed file: plain size near 2^31", [](std::string& b) { Put(b, CompressedPage, PlainSizeAt, NearTwoGB); },
       [&] { ReadCompressedFile(); }, 20189},
      // One page leading back to itself, with a content of 33 entries: read round the
      // loop, the list would come out as 33 entries of the same page's bytes.
      {"table list: chain loops back",
       [](std::string& b) {
         Put(b, 4, NextPageNoAt, 4);
         Put(b, 4, StoredSizeAt, 33 * 272);
         Put(b, 4, PlainSizeAt, 33 * 272);
       },
       [&] { Attach(); }, 20300},
      {"sessions file: chain loops back, size near 2^31",
       [](std::string& b) {
         Put(b, 3, NextPageNoAt, 3);
         Put(b, 3, StoredSizeAt, NearTwoGB);
       },
       [&] { Attach(); }, 20300},
      // The bits of pages 0-7 cleared: page 0, the PFS page itself, looks free.
      {"free-space map: first byte zeroed", [](std::string& b) { b[PagesStart + DataArea] = 0; }, [&] { AddPage(); },
       30453},
  };
  for (const auto& c : cases) {
    std::string damaged = good;
    c.damage(damaged);
    WriteFileBytes(path_, damaged);
    EXPECT_EQ(NativeErrorInLimitedChild(c.use), c.code) << c.what;
    EXPECT_TRUE(ReadFileBytes(path_) == damaged) << c.what << ": the file was changed";
  }
}

}  // namespace
}  // namespace hdb

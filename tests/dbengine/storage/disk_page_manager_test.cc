#include "dbengine/storage/disk_page_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "dbengine/platform/system_services.h"
#include "dbengine/storage/hdb_exception.h"
#include "forked_child.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using hdbtest::ForkedChild;
using hdbtest::TempDir;

struct ImageSpec {
  std::size_t prefix = 0;        // foreign bytes before the header
  std::uint16_t pageSize = 4096;
  int pages = 2;
  std::int32_t counter = 0;
  std::function<void(THDBFileHeader&, THDBSecurityBlock&)> tweak;
};

std::string MakeImage(const ImageSpec& image) {
  std::string bytes(image.prefix, 'q');
  auto header = THDBFileHeader::Fresh(image.pageSize, 8);
  header.SetTotalPageCount(image.pages);
  auto security = THDBSecurityBlock::Fresh();
  if (image.tweak) image.tweak(header, security);
  auto lock = THDBLockBlock::Fresh();
  bytes.append(reinterpret_cast<const char*>(header.Bytes().data()), header.Bytes().size());
  bytes.append(reinterpret_cast<const char*>(security.Bytes().data()), security.Bytes().size());
  bytes.append(reinterpret_cast<const char*>(lock.Bytes().data()), lock.Bytes().size());
  char counter[4];
  le::Store<std::int32_t>(counter, 0, image.counter);
  bytes.append(counter, 4);
  bytes.append(static_cast<std::size_t>(image.pages) * image.pageSize, '\0');
  return bytes;
}

using hdbtest::CatchHDB;
using hdbtest::ReadFileBytes;
using hdbtest::WriteFileBytes;

class DiskPageManagerTest : public ::testing::Test {
 protected:
  hdbtest::CountingSleep sleep_;

  bool Open(THDBDiskPageManager& pm, bool multiUser = false) {
    multiUser_ = multiUser;
    readOnly_ = false;
    return pm.Open(path_, {}, multiUser_, false, readOnly_);
  }

  TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  bool multiUser_ = false;
  bool readOnly_ = false;
};

class HeaderPositionTest : public DiskPageManagerTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(HeaderPositionTest, RegionsFollowTheHeader) {
  const std::size_t at = GetParam();
  WriteFileBytes(path_, MakeImage({.prefix = at}));
  THDBDiskPageManager pm;
  EXPECT_FALSE(Open(pm));
  const auto hp = static_cast<std::int64_t>(at);
  EXPECT_EQ(pm.HeaderPosition(), hp);
  EXPECT_EQ(pm.SecurityBlockPosition(), hp + 76);
  EXPECT_EQ(pm.LockBlockPosition(), hp + 356);
  EXPECT_EQ(pm.ObjectIDCounterPosition(), hp + 376);
  EXPECT_EQ(pm.PagesStart(), hp + 380);
  EXPECT_EQ(pm.PageOffset(0), hp + 380);
  EXPECT_EQ(pm.PageOffset(3), hp + 380 + 3 * 4096);
  EXPECT_EQ(pm.Header().TotalPageCount(), 2);
  EXPECT_EQ(pm.PageDataSize(), 4096 - 40);
  EXPECT_EQ(pm.HeaderLockDepth(), 0);
}

// 0: found by the first read; 1000: found by the search; 9983..9990: the signature or
// its size field straddles the end of the first 10000-byte chunk; 25000: third chunk.
INSTANTIATE_TEST_SUITE_P(Offsets, HeaderPositionTest, ::testing::Values(0, 1000, 9983, 9984, 9990, 25000));

TEST_F(DiskPageManagerTest, ForeignFileFailsWithSignatureFound) {
  std::string bytes = "SQLite format 3";
  bytes.push_back('\0');
  bytes.append(5000, 'x');
  WriteFileBytes(path_, bytes);
  THDBDiskPageManager pm;
  auto e = CatchHDB([&] { Open(pm); });
  EXPECT_EQ(e.NativeError(), 10470);
  EXPECT_EQ(e.Message(), "Invalid file format. Found signature: 'SQLite format 3.', expected: 'HALVARINDATABASE'");
  EXPECT_FALSE(pm.IsOpen());
}

TEST_F(DiskPageManagerTest, EmptyAndTruncatedFilesAreRefused) {
  struct {
    std::string content;
    int code;
  } cases[] = {{"", 10470}, {"HALVARINDATABASE", 20237}, {MakeImage({}).substr(0, 100), 20237}};
  for (const auto& c : cases) {
    WriteFileBytes(path_, c.content);
    THDBDiskPageManager pm;
    EXPECT_EQ(CatchHDB([&] { Open(pm); }).NativeError(), c.code) << c.content.size() << " bytes";
    EXPECT_FALSE(pm.IsOpen());
  }
}

struct RepairCase {
  std::uint8_t state;
  double version;
  bool needsRepair;
};

class NeedsRepairTest : public DiskPageManagerTest, public ::testing::WithParamInterface<RepairCase> {};

TEST_P(NeedsRepairTest, FromStateAndVersion) {
  const auto c = GetParam();
  WriteFileBytes(path_, MakeImage({.tweak = [&](THDBFileHeader& h, THDBSecurityBlock&) {
                               h.SetDatabaseState(c.state);
                               h.SetFormatVersion(c.version);
                             }}));
  THDBDiskPageManager pm;
  EXPECT_EQ(Open(pm), c.needsRepair);
}

INSTANTIATE_TEST_SUITE_P(States, NeedsRepairTest,
                         ::testing::Values(RepairCase{2, 7.92, false}, RepairCase{1, 7.92, true},
                                           RepairCase{2, 2.5, true}, RepairCase{2, 2.99, false},
                                           RepairCase{0, 7.92, true}));

TEST_F(DiskPageManagerTest, DamagedRegionsAreRefused) {
  WriteFileBytes(path_, MakeImage({.tweak = [](THDBFileHeader&, THDBSecurityBlock& s) {
                               SecurityBlockLayout::BlockSize::Set(s.Bytes().data(), 200);
                             }}));
  THDBDiskPageManager pm;
  EXPECT_EQ(CatchHDB([&] { Open(pm); }).NativeError(), 20237);
  EXPECT_FALSE(pm.IsOpen());

  WriteFileBytes(path_, MakeImage({.tweak = [](THDBFileHeader& h, THDBSecurityBlock&) { h.SetEncryptedFlag(0xFF); }}));
  EXPECT_EQ(CatchHDB([&] { Open(pm); }).NativeError(), 30447);
  EXPECT_FALSE(pm.IsOpen());

  WriteFileBytes(path_, MakeImage({.tweak = [](THDBFileHeader& h, THDBSecurityBlock&) { h.SetPageSize(0); }}));
  EXPECT_EQ(CatchHDB([&] { Open(pm); }).NativeError(), 20237);
  EXPECT_FALSE(pm.IsOpen());

  // Pages per EAM page, (PageSize - 40) x 4 x ExtentPageCount, beyond 32-bit page numbers.
  WriteFileBytes(path_, MakeImage({.pageSize = 65535, .tweak = [](THDBFileHeader& h, THDBSecurityBlock&) {
                                 h.SetExtentPageCount(8198);
                               }}));
  EXPECT_EQ(CatchHDB([&] { Open(pm); }).NativeError(), 20237);
  EXPECT_FALSE(pm.IsOpen());
}

TEST_F(DiskPageManagerTest, OpenTwiceIsRefused) {
  WriteFileBytes(path_, MakeImage({}));
  THDBDiskPageManager pm;
  Open(pm);
  auto e = CatchHDB([&] { Open(pm); });
  EXPECT_EQ(e.NativeError(), 10462);
  EXPECT_EQ(e.Message(), "Error - database file " + path_ + " is in use.");
  EXPECT_TRUE(pm.IsOpen());
}

TEST_F(DiskPageManagerTest, CreateWritesTheFixedRegions) {
  WriteFileBytes(path_, std::string(10000, 'o'));  // replaced
  THDBDiskPageManager pm;
  pm.Create(path_, {}, 8, 4096);
  pm.Close();
  std::string bytes = ReadFileBytes(path_);
  ASSERT_EQ(bytes.size(), 380u);
  EXPECT_EQ(bytes.substr(0, 16), "HALVARINDATABASE");
  EXPECT_EQ(le::Load<std::int16_t>(bytes.data(), 16), 76);
  EXPECT_EQ(le::Load<double>(bytes.data(), 18), 7.92);
  EXPECT_EQ(le::Load<std::uint16_t>(bytes.data(), 26), 4096);
  EXPECT_EQ(le::Load<std::uint16_t>(bytes.data(), 28), 8);
  EXPECT_EQ(le::Load<std::int32_t>(bytes.data(), 30), 0);
  EXPECT_EQ(le::Load<std::int32_t>(bytes.data(), 34), -1);
  EXPECT_EQ(le::Load<std::int32_t>(bytes.data(), 38), 0);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[42]), 2);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[43]), 0);
  EXPECT_EQ(le::Load<std::int16_t>(bytes.data(), 76), 280);
  EXPECT_EQ(le::Load<std::int16_t>(bytes.data(), 356), 20);
  EXPECT_EQ(le::Load<std::int32_t>(bytes.data(), 376), 0);
  EXPECT_EQ(bytes.substr(44, 32), std::string(32, '\0'));

  EXPECT_EQ(CatchHDB([&] { pm.Create(path_, {"secret", 0}, 8, 4096); }).NativeError(), 30448);
  EXPECT_EQ(CatchHDB([&] { pm.Create(path_, {}, 8, 40); }).NativeError(), 30449);
  EXPECT_FALSE(pm.IsOpen());
  // The largest extents whose EAM range still has 32-bit page numbers.
  auto tooLarge = CatchHDB([&] { pm.Create(path_, {}, 8198, 65535); });
  EXPECT_EQ(tooLarge.NativeError(), 30450);
  EXPECT_EQ(tooLarge.Message(), "Invalid extent page count: 8198");
  EXPECT_FALSE(pm.IsOpen());
  pm.Create(path_, {}, 8197, 65535);
  pm.Close();
}

TEST_F(DiskPageManagerTest, PageAddressingChecks) {
  WriteFileBytes(path_, MakeImage({}));
  THDBDiskPageManager pm;
  Open(pm);
  auto bad = CatchHDB([&] { pm.PageOffset(-1); });
  EXPECT_EQ(bad.NativeError(), 10471);
  EXPECT_EQ(bad.Message(), "Invalid PageNo = -1");

  char buf[16] = "direct content!";
  pm.WritePageRange(buf, 1, 16, 4080);
  char back[16] = {};
  pm.ReadPageRange(back, 1, 16, 4080);
  EXPECT_EQ(std::memcmp(buf, back, 16), 0);
  EXPECT_EQ(ReadFileBytes(path_).substr(380 + 4096 + 4080, 15), "direct content!");

  auto r = CatchHDB([&] { pm.ReadPageRange(back, 1, 16, 4081); });
  EXPECT_EQ(r.NativeError(), 10476);
  EXPECT_EQ(r.Message(), "Error - invalid page offset = 4097, page size = 4096");
  EXPECT_EQ(CatchHDB([&] { pm.WritePageRange(buf, 1, 2, 4095); }).NativeError(), 10477);
}

TEST_F(DiskPageManagerTest, HeaderLockIsReentrant) {
  WriteFileBytes(path_, MakeImage({}));
  THDBDiskPageManager pm;
  Open(pm);
  ForkedChild child([&](ForkedChild& self) {
    // Reports, for each step of the parent, whether the header lock byte is held.
    THDBDatabaseFile f;
    f.OpenFile(path_, 1, THDBDatabaseFile::ShareReadWrite);
    while (self.Receive() == 'q') self.Send(f.IsByteLocked(360) ? 'L' : 'F');
    return 0;
  });
  auto probe = [&] {
    child.Send('q');
    return child.Receive();
  };
  EXPECT_EQ(probe(), 'F');
  ASSERT_TRUE(pm.HeaderLock());
  EXPECT_EQ(pm.HeaderLockDepth(), 1);
  EXPECT_EQ(probe(), 'L');
  ASSERT_TRUE(pm.HeaderLock());
  EXPECT_EQ(pm.HeaderLockDepth(), 2);
  pm.HeaderUnlock();
  EXPECT_EQ(pm.HeaderLockDepth(), 1);
  EXPECT_EQ(probe(), 'L');
  pm.HeaderUnlock();
  EXPECT_EQ(pm.HeaderLockDepth(), 0);
  EXPECT_EQ(probe(), 'F');
  child.Send('e');
  EXPECT_EQ(child.Wait(), 0);
}

// A child that holds one byte of the file until told to stop.
class ByteHolder {
 public:
  ByteHolder(const std::string& path, std::int64_t position)
      : child_([path, position](ForkedChild& self) {
          THDBDatabaseFile f;
          f.OpenFile(path, 1, THDBDatabaseFile::ShareReadWrite);
          if (!f.LockByte(1, position)) return 1;
          self.Send();
          self.Receive();
          return 0;
        }) {
    held_ = child_.Receive() == 'x';
  }
  ~ByteHolder() {
    child_.Send();
    child_.Wait();
  }
  bool Held() const { return held_; }

 private:
  ForkedChild child_;
  bool held_ = false;
};

TEST_F(DiskPageManagerTest, LocksHeldByAnotherProcess) {
  WriteFileBytes(path_, MakeImage({}));
  {
    ByteHolder header(path_, 360);
    ASSERT_TRUE(header.Held());
    THDBDiskPageManager pm;
    hdbtest::CountingSleep::Calls() = 0;
    EXPECT_EQ(CatchHDB([&] { Open(pm); }).NativeError(), 20230);
    EXPECT_EQ(hdbtest::CountingSleep::Calls(), 4499);
    EXPECT_FALSE(pm.IsOpen());
  }
  THDBDiskPageManager pm;
  Open(pm);
  {
    ByteHolder header(path_, 360);
    hdbtest::CountingSleep::Calls() = 0;
    EXPECT_EQ(CatchHDB([&] { pm.GetPageCount(); }).NativeError(), 20236);
    EXPECT_EQ(hdbtest::CountingSleep::Calls(), 0);
    EXPECT_EQ(pm.HeaderLockDepth(), 0);
  }
  EXPECT_EQ(pm.GetPageCount(), 2);
  {
    ByteHolder tables(path_, 359);
    hdbtest::CountingSleep::Calls() = 0;
    EXPECT_EQ(CatchHDB([&] { pm.TablesLock(); }).NativeError(), 20210);
    EXPECT_EQ(hdbtest::CountingSleep::Calls(), 199);
  }
  pm.TablesLock();
  pm.TablesUnlock();
  EXPECT_EQ(CatchHDB([&] { pm.TablesUnlock(); }).NativeError(), 20211);
  {
    ByteHolder counter(path_, 376);
    auto e = CatchHDB([&] { pm.NextObjectID(); });
    EXPECT_EQ(e.NativeError(), 30401);
    EXPECT_EQ(e.Message(), "Cannot get NextObjectID. File area is Locked.");
  }
}

TEST_F(DiskPageManagerTest, NextObjectIDCountsInTheFile) {
  WriteFileBytes(path_, MakeImage({.counter = 41}));
  THDBDiskPageManager pm;
  Open(pm);
  EXPECT_EQ(pm.NextObjectID(), 42);
  EXPECT_EQ(pm.NextObjectID(), 43);
  EXPECT_EQ(le::Load<std::int32_t>(ReadFileBytes(path_).data(), 376), 43);
  pm.Close();
  EXPECT_EQ(CatchHDB([&] { pm.NextObjectID(); }).NativeError(), 30399);
}

TEST_F(DiskPageManagerTest, ReadOnlyFileHandsOutIdsWithoutWriting) {
  WriteFileBytes(path_, MakeImage({.counter = 41}));
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  const std::string before = ReadFileBytes(path_);
  THDBDiskPageManager pm;
  multiUser_ = true;
  readOnly_ = false;
  pm.Open(path_, {}, multiUser_, false, readOnly_);
  EXPECT_TRUE(readOnly_);
  EXPECT_FALSE(multiUser_);
  EXPECT_TRUE(pm.IsReadOnly());
  for (int i = 0; i < 20; ++i) {
    std::int32_t id = pm.NextObjectID();
    EXPECT_GE(id, 42);
    EXPECT_LT(id, 42 + 10000);
  }
  char page[8];
  pm.ReadPageRange(page, 0, 8, 0);
  pm.Close();
  EXPECT_EQ(ReadFileBytes(path_), before);
}

TEST_F(DiskPageManagerTest, ExclusiveOpenIsSingleUser) {
  WriteFileBytes(path_, MakeImage({}));
  THDBDiskPageManager pm;
  bool multiUser = true, readOnly = false;
  pm.Open(path_, {}, multiUser, true, readOnly);
  EXPECT_FALSE(multiUser);
  EXPECT_TRUE(pm.Exclusive());
  THDBDiskPageManager other;
  EXPECT_EQ(CatchHDB([&] { Open(other); }).NativeError(), 30364);
}

TEST_F(DiskPageManagerTest, HeaderIOFailureNamesFileAndReason) {
  WriteFileBytes(path_, MakeImage({}));
  THDBDiskPageManager pm;
  Open(pm);
  pm.Close();
  EXPECT_EQ(CatchHDB([&] { pm.ReadHeader(); }).NativeError(), 10459);
  EXPECT_EQ(CatchHDB([&] { pm.WriteHeader(); }).NativeError(), 10460);

  bool multiUser = false, readOnly = true;
  pm.Open(path_, {}, multiUser, false, readOnly);
  auto e = CatchHDB([&] { pm.WriteHeader(); });
  EXPECT_EQ(e.NativeError(), 10462);
  EXPECT_NE(e.Message().find("Cannot Write to file: '" + path_ + "' Position = 0, Count = 76"), std::string::npos);
  EXPECT_NE(e.Message().find("Bad file descriptor"), std::string::npos);
}

}  // namespace
}  // namespace hdb

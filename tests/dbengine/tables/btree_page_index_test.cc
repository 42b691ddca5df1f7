// Page indexes: the record page index's counts, its search for a page with room, and a
// random run of additions and removals against a map of the same pages.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/tables/btree_page_index.h"
#include "temp_dir.h"
#include "test_tables.h"

namespace hdb {
namespace {

using test::Raised;

constexpr SessionID S0 = 0;

class PageIndexTest : public ::testing::Test {
 protected:
  void Open(std::uint16_t pageSize, std::int32_t recordsPerPage) {
    pages_.Create(dir_.File("Data.hdb"), {}, 8, pageSize);
    index_ = std::make_unique<THDBBTreeRecordPageIndex>(pages_);
    index_->RecordsPerPage = recordsPerPage;
    index_->CreateRoot(S0);
  }
  std::map<std::int32_t, std::int32_t> Entries() {
    std::map<std::int32_t, std::int32_t> out;
    for (bool more = index_->First(S0); more; more = index_->Next(S0)) out[index_->ReadPageNo(S0)] = index_->ReadCount(S0);
    return out;
  }

  hdbtest::TempDir dir_;
  THDBDiskPageManager pages_;
  std::unique_ptr<THDBBTreeRecordPageIndex> index_;
};

TEST_F(PageIndexTest, CountsGrowToThePageLimitAndAnEmptiedPageLeaves) {
  Open(4096, 94);
  index_->AddToPageCount(S0, 12, 1);
  EXPECT_EQ(Entries(), (std::map<std::int32_t, std::int32_t>{{12, 1}}));
  for (int i = 1; i < 94; ++i) index_->AddToPageCount(S0, 12, 1);
  EXPECT_EQ(Entries()[12], 94);
  EXPECT_EQ(Raised([&] { index_->AddToPageCount(S0, 12, 1); }).code, 20106);
  EXPECT_EQ(index_->FindPageWithRoom(S0), -1);
  index_->SetCount(S0, 12, 93);
  EXPECT_EQ(index_->FindPageWithRoom(S0), 12);
  index_->SetCount(S0, 12, 0);
  EXPECT_TRUE(Entries().empty());
  EXPECT_EQ(Raised([&] { index_->SetCount(S0, 12, 3); }).code, 20110);
  EXPECT_EQ(Raised([&] { index_->SetCount(S0, 12, 0); }).code, 20111);
  index_->Drop(S0);
  EXPECT_EQ(Raised([&] { index_->First(S0); }).code, 20117);
}

TEST_F(PageIndexTest, RoomIsLookedForOnTheLastAndTheFirstLeafOnly) {
  Open(512, 10);  // 75 entries a leaf
  for (std::int32_t page = 1; page <= 400; ++page) index_->AddToPageCount(S0, page, 10);
  index_->CheckIntegrity(S0);
  EXPECT_EQ(index_->FindPageWithRoom(S0), -1);
  index_->SetCount(S0, 200, 9);
  EXPECT_EQ(index_->FindPageWithRoom(S0), -1) << "a page in a middle leaf is not looked at";
  index_->SetCount(S0, 3, 9);
  EXPECT_EQ(index_->FindPageWithRoom(S0), 3);
  index_->SetCount(S0, 399, 2);
  EXPECT_EQ(index_->FindPageWithRoom(S0), 399) << "the last leaf first, from its end";
  EXPECT_EQ(index_->CountSum(S0), 400 * 10 - 1 - 1 - 8);
}

TEST_F(PageIndexTest, AnEmptiedLeafBesideAFullOneStillGoes) {
  Open(4096, 100);  // a leaf of 6-byte entries holds exactly 673 of them: 4038 bytes
  // Two leaves after the first split; the left one then filled to the last byte.
  for (std::int32_t page = 0; page < 674 * 2; page += 2) index_->AddToPageCount(S0, page, 1);
  for (std::int32_t page = 1; page < 673; page += 2) index_->AddToPageCount(S0, page, 1);
  index_->CheckIntegrity(S0);
  std::map<std::int32_t, std::int32_t> left = Entries();
  for (std::int32_t page = 674; page < 674 * 2; page += 2) index_->SetCount(S0, page, 0);
  index_->CheckIntegrity(S0);
  for (auto it = left.begin(); it != left.end();) it = it->first >= 674 ? left.erase(it) : std::next(it);
  EXPECT_EQ(Entries(), left);
  EXPECT_EQ(index_->EntryCount(S0), 673);
}

TEST_F(PageIndexTest, RandomAdditionsAndRemovalsMatchAMap) {
  Open(512, 30);
  std::map<std::int32_t, std::int32_t> model;
  std::mt19937 random(7);
  auto next = [&](int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random); };
  for (int batch = 0; batch < 40; ++batch) {
    for (int op = 0; op < 300; ++op) {
      const std::int32_t page = 1 + next(3000);
      const int dice = next(10);
      if (dice < 6) {
        if (model.count(page) && model[page] >= 30) {
          EXPECT_EQ(Raised([&] { index_->AddToPageCount(S0, page, 1); }).code, 20106);
          continue;
        }
        index_->AddToPageCount(S0, page, 1);
        ++model[page];
      } else if (!model.empty()) {
        auto it = model.lower_bound(page);
        if (it == model.end()) it = model.begin();
        const std::int32_t count = dice < 8 ? 0 : next(30) + 1;
        index_->SetCount(S0, it->first, count);
        if (count == 0) {
          model.erase(it);
        } else {
          it->second = count;
        }
      }
    }
    if (batch % 5 == 3) {
      pages_.RollbackPages(S0);
      model = Entries();  // what the last commit left
    } else {
      pages_.CommitPages(S0);
    }
    index_->CheckIntegrity(S0);
    ASSERT_EQ(Entries(), model) << "after batch " << batch;
    ASSERT_EQ(index_->EntryCount(S0), static_cast<std::int64_t>(model.size()));
  }
}

}  // namespace
}  // namespace hdb

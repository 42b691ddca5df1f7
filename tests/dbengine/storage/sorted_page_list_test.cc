#include "dbengine/storage/sorted_page_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "dbengine/storage/page.h"
#include "storage_test_util.h"

namespace hdb {
namespace {

using hdbtest::CatchHDB;

class SortedPageListTest : public ::testing::Test {
 protected:
  THDBPage* Make(std::int32_t pageNo) {
    pages_.push_back(std::make_unique<THDBPage>(nullptr, pageNo, 0));
    return pages_.back().get();
  }
  std::vector<std::unique_ptr<THDBPage>> pages_;
  THDBSortedPageList list_;
};

TEST_F(SortedPageListTest, KeepsPagesOrderedAndFindsThem) {
  for (std::int32_t no : {40, 7, 19, 3, 100}) list_.Insert(Make(no));
  ASSERT_EQ(list_.Count(), 5);
  std::vector<std::int32_t> order;
  for (std::int32_t i = 0; i < list_.Count(); ++i) order.push_back(list_.At(i)->PageNo());
  EXPECT_EQ(order, (std::vector<std::int32_t>{3, 7, 19, 40, 100}));
  EXPECT_EQ(list_.Find(19)->PageNo(), 19);
  EXPECT_EQ(list_.Find(20), nullptr);
  EXPECT_EQ(list_.At(0)->List, &list_);
  THDBPage* removed = list_.Delete(19);
  EXPECT_EQ(removed->List, nullptr);
  EXPECT_EQ(list_.IndexOf(40), 2);
}

TEST_F(SortedPageListTest, LeastRecentlyUsedFollowsInsertsAndTouches) {
  for (std::int32_t no : {1, 2, 3}) list_.Insert(Make(no));
  EXPECT_EQ(list_.LeastRecentlyUsed()->PageNo(), 1);
  list_.Touch(1);
  EXPECT_EQ(list_.LeastRecentlyUsed()->PageNo(), 2);
  list_.Delete(2);
  EXPECT_EQ(list_.LeastRecentlyUsed()->PageNo(), 3);
  list_.Touch(3);
  EXPECT_EQ(list_.LeastRecentlyUsed()->PageNo(), 1);
}

TEST_F(SortedPageListTest, GrowthAndShrinkSteps) {
  list_.Insert(Make(0));
  // The growth step doubles before the capacity grows by it.
  EXPECT_EQ(list_.GrowthStep(), 2000);
  EXPECT_EQ(list_.Capacity(), 2000);
  for (std::int32_t no = 1; no <= 2000; ++no) list_.Insert(Make(no));
  EXPECT_EQ(list_.GrowthStep(), 4000);
  EXPECT_EQ(list_.Capacity(), 6000);
  // Spare room beyond the shrink step is given back.
  for (std::int32_t no = 2000; no >= 1000; --no) list_.Delete(no);
  EXPECT_EQ(list_.Count(), 1000);
  EXPECT_LT(list_.Capacity(), 6000);
  EXPECT_GE(list_.ShrinkStep(), 2000);
  while (list_.Count() > 0) list_.Delete(list_.At(0)->PageNo());
  EXPECT_EQ(list_.Capacity(), 0);
}

TEST_F(SortedPageListTest, Errors) {
  EXPECT_EQ(CatchHDB([&] { list_.Delete(5); }).NativeError(), 20165);
  list_.Insert(Make(4));
  auto e = CatchHDB([&] { list_.Delete(5); });
  EXPECT_EQ(e.Message(), "TSortedPageList.Delete - element not found, key = 5, itemCount = 1");
  EXPECT_EQ(CatchHDB([&] { list_.Touch(5); }).NativeError(), 20167);
}

TEST(PageBuffer, FreshHeaderAndGrowth) {
  THDBPage page(nullptr, 9, 4096);
  const std::uint8_t* b = page.Buffer();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), 4), "HDBP");
  EXPECT_EQ(page.PageVersion(), 0);
  EXPECT_EQ(page.PageType(), 0);
  EXPECT_EQ(page.NextPageNo(), -1);
  EXPECT_EQ(page.OwnerTableID(), -1);
  EXPECT_EQ(le::Load<std::int32_t>(b, 26), -1);
  EXPECT_EQ(b[4095], 0);

  page.Buffer()[100] = 0x5A;
  page.GrowBuffer(9000, 4096);
  EXPECT_EQ(page.BufferSize(), 9000u);
  EXPECT_EQ(page.Buffer()[100], 0x5A);
  EXPECT_EQ(CatchHDB([&] { page.GrowBuffer(100, 4096); }).NativeError(), 20039);
  THDBPage empty(nullptr, 1, 0);
  EXPECT_EQ(CatchHDB([&] { empty.GrowBuffer(4096, 4096); }).NativeError(), 20038);
  // A buffer the page does not own becomes an owned copy, and growing never cuts it.
  std::vector<std::uint8_t> foreign(8192, 0);
  foreign[6000] = 0x77;
  THDBPage over(nullptr, 2, foreign.data(), 8192);
  over.GrowBuffer(5000, 4096);
  EXPECT_NE(over.Buffer(), foreign.data());
  ASSERT_GE(over.BufferSize(), 8192u);
  EXPECT_EQ(over.Buffer()[6000], 0x77);
  EXPECT_STREQ(PageTypeName(3), "PFS Page");
  EXPECT_STREQ(PageTypeName(12), "TableIndex Page");
  EXPECT_EQ(CatchHDB([] { PageTypeName(13); }).Message(), "Unknown Page Type: (13)");
}

}  // namespace
}  // namespace hdb

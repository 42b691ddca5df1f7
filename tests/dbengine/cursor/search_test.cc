// The filtered paths of a cursor that need no filter text: the intersection of key
// conditions, key search, key ranges that are one index scan, the record callback,
// and the record bitmap behind filtered counts, record numbers and steps.
#include <gtest/gtest.h>

#include <algorithm>

#include <random>
#include <set>

#include "cursor_test_support.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/cursor/scan_condition.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using test::Connection;
using test::OpenCursor;
using test::Raised;
using test::Vin;
using I = THDBIntersection;

TEST(Intersection, EveryCellOfTheTable) {
  struct Cell {
    std::uint8_t p, q;
    I less, equal, greater;
  };
  // The outcome for rc < 0 / = 0 / > 0 with equal key field counts (nP = nQ = 1).
  const Cell cells[] = {
      {1, 1, I::Empty, I::More, I::Empty},   {1, 2, I::P, I::Empty, I::Empty},
      {1, 3, I::Empty, I::Empty, I::P},      {1, 4, I::P, I::P, I::Empty},
      {1, 5, I::Empty, I::P, I::P},          {2, 1, I::Empty, I::Empty, I::Q},
      {2, 2, I::P, I::Fewer, I::Q},          {2, 3, I::Empty, I::Empty, I::Both},
      {2, 4, I::P, I::P, I::Q},              {2, 5, I::Empty, I::Empty, I::Both},
      {3, 1, I::Q, I::Empty, I::Empty},      {3, 2, I::Both, I::Empty, I::Empty},
      {3, 3, I::Q, I::Fewer, I::P},          {3, 4, I::Both, I::Empty, I::Empty},
      {3, 5, I::Q, I::P, I::P},              {4, 1, I::Empty, I::Q, I::Q},
      {4, 2, I::P, I::Both, I::Q},           {4, 3, I::Empty, I::Empty, I::Both},
      {4, 4, I::P, I::More, I::Q},           {4, 5, I::Empty, I::Equal, I::Both},
      {5, 1, I::Q, I::Q, I::Empty},          {5, 2, I::Both, I::Empty, I::Empty},
      {5, 3, I::Q, I::Q, I::P},              {5, 4, I::Both, I::Equal, I::Empty},
      {5, 5, I::Q, I::More, I::P},
  };
  for (const Cell& c : cells) {
    SCOPED_TRACE(std::to_string(c.p) + " against " + std::to_string(c.q));
    EXPECT_EQ(Intersect(c.p, c.q, -1, 1, 1), c.less);
    EXPECT_EQ(Intersect(c.p, c.q, 0, 1, 1), c.equal);
    EXPECT_EQ(Intersect(c.p, c.q, 1, 1, 1), c.greater);
  }
  // The cells that depend on the key field counts, at rc = 0.
  struct Counted {
    std::uint8_t p, q;
    std::int32_t nP, nQ;
    I outcome;
  } counted[] = {
      {1, 4, 2, 1, I::P},     {1, 4, 1, 2, I::Both},  {2, 5, 1, 2, I::Empty}, {2, 5, 2, 1, I::Both},
      {4, 1, 1, 2, I::Q},     {4, 1, 2, 1, I::Both},  {4, 3, 2, 1, I::Empty}, {4, 3, 1, 2, I::Both},
      {4, 5, 1, 2, I::Both},  {5, 1, 1, 2, I::Q},     {5, 2, 2, 1, I::Empty}, {3, 4, 1, 2, I::Empty},
  };
  for (const Counted& c : counted) {
    SCOPED_TRACE(std::to_string(c.p) + " against " + std::to_string(c.q) + " with " + std::to_string(c.nP) + "/" +
                 std::to_string(c.nQ));
    EXPECT_EQ(Intersect(c.p, c.q, 0, c.nP, c.nQ), c.outcome);
  }
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Connection::CreateFile(path_);
    connection_ = std::make_unique<Connection>(path_);
    t_ = std::make_unique<OpenCursor>(connection_->session, "FGDAT");
    // 40 vehicles with 5 records each, inserted in a shuffled order.
    std::vector<std::pair<int, int>> rows;
    for (int v = 0; v < 40; ++v)
      for (int d = 0; d < 5; ++d) rows.emplace_back(v, d);
    std::mt19937 random(3);
    std::shuffle(rows.begin(), rows.end(), random);
    for (auto [v, d] : rows) t_->Insert(Vin(v), 1000 + d, v * 10 + d);
  }
  // A key buffer of the cursor's layout with FG (and DAT when given).
  std::vector<std::uint8_t> Key(int vin, const std::int32_t* dat = nullptr) {
    std::vector<std::uint8_t> key(t_->cursor.KeySize);
    t_->cursor.InitRecordBuffer(scratch_.data(), false);
    std::memcpy(key.data(), scratch_.data(), key.size());
    t_->cursor.WriteField(0, key.data(), OpenCursor::Padded(Vin(vin)).data());
    if (dat) t_->cursor.WriteField(1, key.data(), dat);
    return key;
  }
  std::vector<std::string> WalkFG() {
    std::vector<std::string> out;
    t_->cursor.SetToBegin();
    while (t_->Step(gmNext) == grOK) out.push_back(t_->FG());
    return out;
  }

  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  std::unique_ptr<Connection> connection_;
  std::unique_ptr<OpenCursor> t_;
  std::vector<std::uint8_t> scratch_ = std::vector<std::uint8_t>(4096);
};

TEST_F(SearchTest, KeySearchFindsTheFirstMatchAndLeavesTheCursorWhenThereIsNone) {
  THDBLocalCursor& c = t_->cursor;
  const std::int32_t day = 1003;
  auto both = Key(17, &day);
  c.KeyBuffer = both.data();
  c.KeyFieldCount = 2;
  ASSERT_TRUE(c.GotoKeyRecord(ctEqual));
  ASSERT_EQ(t_->Step(gmCurrent), grOK);
  EXPECT_EQ(t_->FG(), Vin(17));
  EXPECT_EQ(t_->DAT(), 1003);
  EXPECT_EQ(c.LastSearch.IndexNo, c.IndexID) << "the key search scans the cursor's index";
  EXPECT_LE(c.LastSearch.RecordsRead, 1);

  auto first = Key(23);
  c.KeyBuffer = first.data();
  c.KeyFieldCount = 1;
  ASSERT_TRUE(c.GotoKeyRecord(ctEqual));
  ASSERT_EQ(t_->Step(gmCurrent), grOK);
  EXPECT_EQ(t_->FG(), Vin(23));
  EXPECT_EQ(t_->DAT(), 1000) << "one key column: the first record of the vehicle";

  const RecordID before = c.Position;
  const std::int32_t missing = 999;
  auto none = Key(23, &missing);
  c.KeyBuffer = none.data();
  c.KeyFieldCount = 2;
  EXPECT_FALSE(c.GotoKeyRecord(ctEqual));
  EXPECT_EQ(c.Position, before);

  c.SetIndexByName("");
  EXPECT_EQ(Raised([&] { c.GotoKeyRecord(ctEqual); }), 30487);
}

TEST_F(SearchTest, AKeyRangeIsOneIndexScanAndCountsOnlyItsRecords) {
  THDBLocalCursor& c = t_->cursor;
  auto from = Key(10), to = Key(12);
  c.SetRange(from.data(), 1, false, to.data(), 1, false);
  const auto seen = WalkFG();
  ASSERT_EQ(seen.size(), 15u);
  EXPECT_EQ(seen.front(), Vin(10));
  EXPECT_EQ(seen.back(), Vin(12));
  EXPECT_EQ(c.LastSearch.IndexNo, c.IndexID);
  EXPECT_EQ(c.LastSearch.RecordsRead, 0) << "nothing beyond the keys needs testing";
  EXPECT_EQ(c.GetRecordCount(), 15);
  c.SetToEnd();
  ASSERT_EQ(t_->Step(gmPrior), grOK);
  EXPECT_EQ(t_->FG(), Vin(12));
  EXPECT_EQ(t_->DAT(), 1004);
  c.SetRange(from.data(), 1, true, to.data(), 1, true);
  EXPECT_EQ(WalkFG(), std::vector<std::string>(5, Vin(11))) << "both bounds exclusive";
  c.CancelRange();
  EXPECT_EQ(c.GetRecordCount(), 200);
}

TEST_F(SearchTest, TheBitmapAnswersCountsNumbersAndStepsUntilTheTableChanges) {
  THDBLocalCursor& c = t_->cursor;
  // Vehicles whose number is a multiple of 7: a test on every record.
  c.OnFilterRecord = [&](const std::uint8_t* buffer) {
    char fg[18] = {};
    c.ReadField(0, buffer, fg);
    return std::atoi(fg + 3) % 7 == 0;
  };
  c.ClearRecordBitmap();
  EXPECT_EQ(c.GetRecordCount(), 6 * 5);
  EXPECT_TRUE(c.RecordBitmap.Valid);
  const std::int64_t readToCount = c.LastSearch.RecordsRead;
  EXPECT_EQ(readToCount, 200);
  // Steps along the set bits read nothing more.
  std::vector<std::string> seen = WalkFG();
  EXPECT_EQ(seen.size(), 30u);
  EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()),
            (std::set<std::string>{Vin(0), Vin(7), Vin(14), Vin(21), Vin(28), Vin(35)}));
  c.SetRecNo(6);
  ASSERT_EQ(t_->Step(gmCurrent), grOK);
  EXPECT_EQ(t_->FG(), Vin(7));
  EXPECT_EQ(c.GetRecNo(), 6);
  ASSERT_EQ(t_->Step(gmPrior), grOK);
  EXPECT_EQ(t_->FG(), Vin(0));
  // Another cursor's insert makes the bitmap stale: the next count looks again.
  OpenCursor other(connection_->session, "FGDAT");
  other.Insert(Vin(42), 1, 1);
  EXPECT_TRUE(c.RecordBitmap.IsStale(c.Table()->ChangeCount()));
  EXPECT_EQ(c.GetRecordCount(), 31);
}

// Filtered steps on the cursor's own index go on from where the last step left the
// index; records another cursor adds ahead of and behind the position between two steps
// are met, or not, as their keys say, in both directions.
TEST_F(SearchTest, AFilteredWalkOnItsIndexGoesOnFromItsPlaceWhenAnotherCursorAddsRecords) {
  THDBLocalCursor& c = t_->cursor;
  c.SetFilterText("FG >= '" + Vin(10) + "' AND FG <= '" + Vin(12) + "'", false, false);
  std::vector<std::pair<std::string, std::int32_t>> seen, expected;
  auto step = [&](std::uint8_t mode) {
    if (t_->Step(mode) != grOK) return false;
    seen.emplace_back(t_->FG(), t_->DAT());
    return true;
  };
  c.SetToBegin();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(step(gmNext));
  EXPECT_EQ(seen.back(), std::make_pair(Vin(10), 1002));
  OpenCursor other(connection_->session, "FGDAT");
  other.Insert(Vin(10), 1001, 1);  // behind
  other.Insert(Vin(10), 1010, 1);  // ahead, same vehicle
  other.Insert(Vin(12), 999, 1);   // ahead, the last vehicle
  other.Insert(Vin(13), 999, 1);   // outside the filter
  while (step(gmNext)) {
  }
  // The second (10, 1001) stands behind (10, 1002), where the cursor was.
  for (int d : {1000, 1001, 1002, 1003, 1004, 1010}) expected.emplace_back(Vin(10), d);
  for (int d : {1000, 1001, 1002, 1003, 1004}) expected.emplace_back(Vin(11), d);
  for (int d : {999, 1000, 1001, 1002, 1003, 1004}) expected.emplace_back(Vin(12), d);
  EXPECT_EQ(seen, expected);
  // Back from the end: every passing record, the one added behind included.
  seen.clear();
  while (step(gmPrior)) {
  }
  EXPECT_EQ(seen.size(), expected.size() + 1);
  EXPECT_EQ(seen.back(), std::make_pair(Vin(10), 1000));
  EXPECT_EQ(seen[seen.size() - 2], std::make_pair(Vin(10), 1001));
}

// A filtered walk keeps the plan its first step chose for the steps after it; a new
// filter, another index for the cursor, or an index of the plan dropped by another
// cursor between two steps make the next step plan again.
TEST_F(SearchTest, AFilteredWalkPlansAgainWhenItsFilterOrTheIndexesChangeBetweenSteps) {
  THDBLocalCursor& c = t_->cursor;
  const ObjectID fgdat = c.IndexID;
  c.SetFilterText("FG = '" + Vin(10) + "'", false, false);
  c.SetToBegin();
  ASSERT_EQ(t_->Step(gmNext), grOK);
  ASSERT_EQ(t_->Step(gmNext), grOK);
  EXPECT_EQ(std::make_pair(t_->FG(), t_->DAT()), std::make_pair(Vin(10), 1001));
  ASSERT_TRUE(c.SearchPlan.Valid);

  // Another filter: the step goes on in index order to the first record it passes.
  c.SetFilterText("FG = '" + Vin(12) + "' AND MLG >= 122", false, false);
  ASSERT_EQ(t_->Step(gmNext), grOK);
  EXPECT_EQ(std::make_pair(t_->FG(), t_->DAT()), std::make_pair(Vin(12), 1002));
  EXPECT_EQ(c.LastSearch.IndexNo, fgdat);

  // Natural order: the same filter over FGDAT's range, in storage order.
  c.SetIndexByName("");
  std::vector<std::int32_t> days;
  c.SetToBegin();
  while (t_->Step(gmNext) == grOK) {
    EXPECT_EQ(t_->FG(), Vin(12));
    days.push_back(t_->DAT());
    if (days.size() == 1) {
      EXPECT_EQ(c.LastSearch.IndexNo, fgdat);
      // The index the plan scans goes: the walk reads the table instead.
      OpenCursor other(connection_->session);
      other.cursor.DeleteIndex("FGDAT");
      // The first step's bitmap would answer the rest without a search.
      c.ClearRecordBitmap();
    }
  }
  std::sort(days.begin(), days.end());
  EXPECT_EQ(days, (std::vector<std::int32_t>{1002, 1003, 1004}));
  EXPECT_EQ(c.LastSearch.IndexNo, -1);
}

}  // namespace
}  // namespace hdb

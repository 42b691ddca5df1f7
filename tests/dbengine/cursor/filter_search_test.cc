// Filter texts on the cursor: which comparisons an index answers (and how many records
// the search still reads), filtered navigation against a plain walk that tests every
// record, SetFilterText's failure, and LocateRecord / LocateByValue.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "dbengine/cursor/expression.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/index_requests.h"
#include "service_table_support.h"

namespace hdb {
namespace {

using test::Day;
using test::NativeErrorOf;
using test::Row;
using test::ServiceTable;

std::string Vin(int n) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", n);
  return text;
}

class IndexedFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 40 vehicles with 5 records each, in a shuffled order.
    std::vector<std::pair<int, int>> rows;
    for (int v = 0; v < 40; ++v)
      for (int d = 0; d < 5; ++d) rows.emplace_back(v, d);
    std::mt19937 random(5);
    std::shuffle(rows.begin(), rows.end(), random);
    for (auto [v, d] : rows) t_.Insert({Vin(v), Day(2020, 1, 1 + d), v * 10 + d, v % 2, "N" + std::to_string(v % 3), {}});
    t_.cursor->SetIndexByName("FGDAT");
  }
  THDBLocalCursor& C() { return *t_.cursor; }
  ObjectID FGDAT() { return C().IndexID; }

  std::vector<std::string> Walk(bool forward = true) {
    std::vector<std::string> out;
    if (forward) C().SetToBegin();
    else C().SetToEnd();
    while (t_.Step(forward ? gmNext : gmPrior) == grOK) out.push_back(*t_.Text(0));
    return out;
  }

  ServiceTable t_;
};

TEST_F(IndexedFilterTest, AnEqualityOnTheIndexReadsNoRecord) {
  C().SetFilterText("FG='" + Vin(17) + "'", false, false);
  EXPECT_EQ(Walk(), std::vector<std::string>(5, Vin(17)));
  EXPECT_EQ(C().LastSearch.IndexNo, FGDAT());
  EXPECT_EQ(C().LastSearch.RecordsRead, 0) << "the key range answers the filter alone";
  EXPECT_EQ(C().GetRecordCount(), 5);
  EXPECT_EQ(C().LastSearch.RecordsRead, 0);

  // Another comparison is tested on the records of the range only.
  C().SetFilterText("FG='" + Vin(17) + "' AND MLG >= 172", false, false);
  EXPECT_EQ(C().GetRecordCount(), 3);
  EXPECT_EQ(C().LastSearch.IndexNo, FGDAT());
  EXPECT_EQ(C().LastSearch.RecordsRead, 5);
}

TEST_F(IndexedFilterTest, ACaseRuleOtherThanTheIndexScansEveryRecord) {
  std::string lower = Vin(17);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  C().SetFilterText("FG='" + lower + "'", true, false);
  EXPECT_EQ(Walk(), std::vector<std::string>(5, Vin(17)));
  EXPECT_EQ(C().GetRecordCount(), 5);
  EXPECT_EQ(C().LastSearch.IndexNo, -1);
  EXPECT_EQ(C().LastSearch.RecordsRead, 200);
  // Under the filter's own rule: case-sensitive, the lower-case text matches nothing.
  C().SetFilterText("FG='" + lower + "'", false, false);
  EXPECT_EQ(C().GetRecordCount(), 0);
}

TEST_F(IndexedFilterTest, ContradictoryEqualitiesFindNothingWithoutReading) {
  C().SetFilterText("FG='" + Vin(1) + "' AND FG='" + Vin(2) + "'", false, false);
  EXPECT_EQ(C().GetRecordCount(), 0);
  EXPECT_EQ(C().LastSearch.RecordsRead, 0);
  C().SetToBegin();
  EXPECT_EQ(t_.Step(gmNext), grEOF);
  EXPECT_EQ(C().LastSearch.RecordsRead, 0);
}

TEST_F(IndexedFilterTest, TwoBoundsAreOneRangeScan) {
  C().SetFilterText("FG>='" + Vin(10) + "' AND FG<'" + Vin(13) + "'", false, false);
  const auto seen = Walk();
  ASSERT_EQ(seen.size(), 15u);
  EXPECT_EQ(seen.front(), Vin(10));
  EXPECT_EQ(seen.back(), Vin(12));
  EXPECT_EQ(C().LastSearch.IndexNo, FGDAT());
  EXPECT_EQ(C().GetRecordCount(), 15);
  EXPECT_EQ(C().LastSearch.IndexNo, FGDAT());
  EXPECT_EQ(C().LastSearch.StartType, ctGreaterOrEqual);
  EXPECT_EQ(C().LastSearch.StopType, ctLess);
  EXPECT_EQ(C().LastSearch.RecordsRead, 0);
  // Backwards the range is walked from its upper bound.
  EXPECT_EQ(Walk(false), std::vector<std::string>(seen.rbegin(), seen.rend()));
}

TEST_F(IndexedFilterTest, OrAndNotEqualUseNoIndex) {
  for (const std::string& text : {"FG='" + Vin(1) + "' OR FG='" + Vin(2) + "'", "FG<>'" + Vin(1) + "'",
                                  "NOT FG='" + Vin(1) + "'", "FG LIKE '%" + Vin(1).substr(10) + "'"}) {
    SCOPED_TRACE(text);
    C().SetFilterText(text, false, false);
    C().GetRecordCount();
    EXPECT_EQ(C().LastSearch.IndexNo, -1);
    EXPECT_EQ(C().LastSearch.RecordsRead, 200);
  }
  C().SetFilterText("FG='" + Vin(1) + "' OR FG='" + Vin(2) + "'", false, false);
  EXPECT_EQ(C().GetRecordCount(), 10);
  C().SetFilterText("FG<>'" + Vin(1) + "'", false, false);
  EXPECT_EQ(C().GetRecordCount(), 195);
}

TEST_F(IndexedFilterTest, AConstantOnTheLeftSelectsWhatItSelectsOnTheRight) {
  C().SetFilterText("FG>'" + Vin(35) + "'", false, false);
  const auto right = Walk();
  const std::int64_t count = C().GetRecordCount();
  C().SetFilterText("'" + Vin(35) + "'<FG", false, false);
  EXPECT_EQ(Walk(), right);
  EXPECT_EQ(C().GetRecordCount(), count);
  EXPECT_EQ(right.size(), 20u);
  EXPECT_EQ(C().LastSearch.IndexNo, FGDAT());
  EXPECT_EQ(C().LastSearch.StartType, ctGreater);
  C().SetFilterText("'" + Vin(2) + "'>=FG", false, false);
  EXPECT_EQ(C().GetRecordCount(), 15);
  EXPECT_EQ(C().LastSearch.StopType, ctLessOrEqual);
}

TEST_F(IndexedFilterTest, AFilterThatDoesNotParseLeavesTheCursorUnfiltered) {
  C().SetFilterText("FG='" + Vin(3) + "'", false, false);
  EXPECT_EQ(C().GetRecordCount(), 5);
  std::string message;
  EXPECT_EQ(NativeErrorOf([&] { C().SetFilterText("FG='" + Vin(3), false, false); }, &message), 30707);
  EXPECT_EQ(message, "Unterminated string at line 1, column 4");
  EXPECT_FALSE(C().FilterExpression);
  EXPECT_EQ(C().GetRecordCount(), 200);
  EXPECT_EQ(Walk().size(), 200u);
  C().SetFilterText("FG='" + Vin(3) + "'", false, false);
  C().ClearFilter();
  EXPECT_EQ(C().GetRecordCount(), 200);
}

TEST_F(IndexedFilterTest, AnEqualityOnBothColumnsUsesTheWholeKey) {
  C().SetFilterText("DAT = DATE '2020-01-03' AND FG='" + Vin(8) + "'", false, false);
  EXPECT_EQ(C().GetRecordCount(), 1);
  EXPECT_EQ(C().LastSearch.IndexNo, FGDAT());
  EXPECT_EQ(C().LastSearch.RecordsRead, 0) << "both comparisons are answered by the two-column key";
  C().SetToBegin();
  ASSERT_EQ(t_.Step(gmNext), grOK);
  EXPECT_EQ(t_.MLG(), 82);
}

TEST_F(IndexedFilterTest, LocateRecordAndLocateByValue) {
  THDBLocalCursor& c = C();
  ASSERT_TRUE(c.LocateRecord("fg ; DAT", {THDBVariant::FromString(Vin(21)),
                                          THDBVariant::FromScalar<std::int32_t>(btDate, Day(2020, 1, 4))},
                             false, false));
  EXPECT_EQ(t_.MLG(), 213) << "the record is read into the buffer";
  EXPECT_EQ(c.GetRecNo(), 21 * 5 + 4);
  EXPECT_EQ(c.LastSearch.IndexNo, FGDAT());

  // A number for a date field is a date-time.
  const double stamp = TimeStampToDateTime({Day(2020, 1, 2), 0});
  ASSERT_TRUE(c.LocateRecord("FG;DAT", {THDBVariant::FromString(Vin(5)), THDBVariant::FromScalar<double>(btDouble, stamp)},
                             false, false));
  EXPECT_EQ(t_.MLG(), 51);

  // Partial and case options.
  const RecordID before = c.Position;
  EXPECT_FALSE(c.LocateRecord("FG", {THDBVariant::FromString("wba0000000000003")}, true, false));
  EXPECT_EQ(c.Position, before) << "the cursor stays where it was";
  ASSERT_TRUE(c.LocateRecord("FG", {THDBVariant::FromString("wba0000000000003")}, true, true));
  EXPECT_EQ(*t_.Text(0), Vin(30));

  // Within the cursor's filter only.
  c.SetFilterText("MLG > 300", false, false);
  EXPECT_FALSE(c.LocateRecord("FG", {THDBVariant::FromString(Vin(12))}, false, false));
  ASSERT_TRUE(c.LocateByValue("MLG", opGreaterOrEqual, THDBVariant::FromScalar<std::int64_t>(btLargeInt, 350)));
  EXPECT_EQ(t_.MLG(), 350);
  c.ClearFilter();

  std::string message;
  EXPECT_EQ(NativeErrorOf([&] { c.LocateRecord("FG;DAT", {THDBVariant::FromString(Vin(1))}, false, false); }, &message),
            30718);
  EXPECT_EQ(message, "Count of FieldNames (2) does not equal counts of KeyValues (1)");
  EXPECT_EQ(NativeErrorOf([&] { c.LocateByValue("NOPE", opEqual, THDBVariant::FromString("x")); }, &message), 30714);
  EXPECT_EQ(message, "Field 'NOPE' not found");
}

TEST(FilterOnStoredRows, NullValuesLocateNullFieldsAndMemoFieldsAreRead) {
  ServiceTable t;
  t.Insert({"A", Day(2020, 1, 1), 1, 1, "x", "oil and brakes"});
  t.Insert({"B", Day(2020, 1, 2), std::nullopt, 1, "y", std::nullopt});
  t.Insert({"C", Day(2020, 1, 3), 3, 0, "z", "tyres"});
  THDBLocalCursor& c = *t.cursor;
  ASSERT_TRUE(c.LocateRecord("MLG", {THDBVariant::Null(btLargeInt)}, false, false));
  EXPECT_EQ(*t.Text(0), "B");
  // Not null-aware: a NULL field sorts before every value.
  ASSERT_TRUE(c.LocateByValue("MLG", opLess, THDBVariant::FromScalar<std::int64_t>(btLargeInt, 1)));
  EXPECT_EQ(*t.Text(0), "B");

  c.SetFilterText("NOTE LIKE '%brake%' OR NOTE = 'tyres'", false, false);
  EXPECT_EQ(c.GetRecordCount(), 2);
  c.SetToBegin();
  ASSERT_EQ(t.Step(gmNext), grOK);
  EXPECT_EQ(*t.Text(0), "A");
  ASSERT_EQ(t.Step(gmNext), grOK);
  EXPECT_EQ(*t.Text(0), "C");
}

// Which comparisons drive which index: each text's count must equal a record-by-record
// test, and the search must have scanned the named index (or none).
TEST(IndexChoice, WhatDrivesAnIndexAndWhatDoesNot) {
  ServiceTable t({{"MLGX", {"MLG"}, {}, {}, true}, {"NHNDX", {"NHND"}, {}, {"NO_CASE"}}});
  for (int i = 0; i < 60; ++i) {
    Row row;
    row.FG = Vin(i % 6);
    row.DAT = Day(2020, 1, 1 + i % 5);
    if (i != 7) row.MLG = i * 3;  // one NULL: the index is unique
    if (i % 5) row.NHND = (i % 2 ? "ab" : "AB") + std::to_string(i % 3);
    t.Insert(row);
  }
  THDBLocalCursor& c = *t.cursor;
  auto indexName = [&](ObjectID id) -> std::string {
    if (id == -1) return "";
    for (int i = 0; i < c.IndexDefs.Count(); ++i)
      if (c.IndexDefs[i].ObjectID == id) return c.IndexDefs[i].Name;
    return "?";
  };
  struct Case {
    const char* Text;
    bool CaseInsensitive;
    const char* Index;
  } cases[] = {
      {"MLG = 30", false, "MLGX"},          // unique one-column index: taken at once
      {"MLG > 150", false, "MLGX"},
      {"MLG < 30", false, "MLGX"},          // NULLs lie in that range: the test stays per record
      {"MLG = 30.0", false, "MLGX"},
      {"MLG > 29.5", false, ""},            // 29.5 is no integer key
      {"MLG = 100000000000000000000", false, ""},
      {"MLG = '30'", false, ""},            // compared as texts, not in the index's order
      {"MLG IS NULL", false, "MLGX"},
      {"MLG IS NOT NULL AND MLG < 20", false, "MLGX"},
      {"UPPER(NHND) = 'AB1'", false, "NHNDX"},
      {"UPPER(NHND) = 'ab1'", false, ""},   // a constant that UPPER cannot give
      {"LOWER(NHND) = 'ab1'", false, "NHNDX"},
      {"NHND = 'ab1'", true, "NHNDX"},
      {"NHND = 'ab1'", false, ""},          // the index ignores case, the comparison does not
      {"NHND = 'AB12345'", true, "NHNDX"},  // as long as the field
      {"NHND = 'AB123456'", true, ""},      // longer than the field
      {"FG = '" "WBA00000000000003" "' AND DAT >= DATE '2020-01-04'", false, "FGDAT"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.Text) + (k.CaseInsensitive ? " [case-insensitive]" : ""));
    THDBExpression e(&c);
    e.CaseInsensitive = k.CaseInsensitive;
    e.ParseFilter(k.Text);
    std::int64_t expected = 0;
    c.ClearFilter();
    c.SetToBegin();
    while (t.Step(gmNext) == grOK) expected += e.Passes(t.buffer.data()) ? 1 : 0;
    c.SetFilterText(k.Text, k.CaseInsensitive, false);
    EXPECT_EQ(c.GetRecordCount(), expected);
    EXPECT_EQ(indexName(c.LastSearch.IndexNo), k.Index);
  }
}

// ---- Random filters against a record-by-record walk ---------------------------------

class RandomFilterTest : public ::testing::TestWithParam<const char*> {};

// In natural order a filter on FGDAT's first column is answered by a range the search
// sizes first; the scan then starts where that estimate found the range's start. A
// range within one leaf is counted there, one over several leaves is estimated.
TEST(FilterOnStoredRows, ARangeSizedByItsEstimateIsScannedWhole) {
  ServiceTable t;
  // Vehicle 1 has enough records to fill several leaves of FGDAT; the others a few.
  std::vector<std::pair<int, int>> rows;
  for (int d = 0; d < 400; ++d) rows.emplace_back(1, d);
  for (int v = 2; v < 12; ++v)
    for (int d = 0; d < 3; ++d) rows.emplace_back(v, d);
  std::mt19937 random(7);
  std::shuffle(rows.begin(), rows.end(), random);
  for (auto [v, d] : rows) t.Insert({Vin(v), Day(2000, 1, 1) + d, v * 1000 + d, 0, "N", {}});
  THDBLocalCursor& c = *t.cursor;
  const struct {
    std::string filter;
    std::int64_t count;
    bool ranged;  // small enough for the range to beat reading the table
  } cases[] = {
      {"FG='" + Vin(1) + "'", 400, false},
      {"FG='" + Vin(5) + "'", 3, true},
      {"FG>='" + Vin(11) + "'", 3, true},
      {"FG<'" + Vin(3) + "'", 403, false},
      {"FG='" + Vin(40) + "'", 0, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.filter);
    c.SetFilterText(k.filter, false, false);
    std::int64_t walked = 0;
    c.SetToBegin();
    for (bool first = true; t.Step(gmNext) == grOK; first = false) {
      // The first step's search scans; the ones after it go by the bitmap it filled.
      if (first && k.ranged) EXPECT_NE(c.LastSearch.IndexNo, -1) << "the range is scanned, not the table";
      ++walked;
    }
    EXPECT_EQ(walked, k.count);
    EXPECT_EQ(c.GetRecordCount(), k.count);
  }
}

std::string RandomFilter(std::mt19937& r, int depth = 0) {
  auto pick = [&](int n) { return static_cast<int>(r() % static_cast<unsigned>(n)); };
  if (depth < 2 && pick(3) == 0) {
    const char* op = pick(3) == 0 ? " OR " : " AND ";
    std::string s = "(" + RandomFilter(r, depth + 1) + op + RandomFilter(r, depth + 1) + ")";
    return pick(6) == 0 ? "NOT " + s : s;
  }
  static const char* ops[] = {"=", "<", ">", "<=", ">=", "<>"};
  const std::string op = ops[pick(6)];
  char buf[64];
  switch (pick(9)) {
    case 0:
      std::snprintf(buf, sizeof buf, "FG %s '%s'", op.c_str(), Vin(pick(12)).c_str());
      return buf;
    case 1:
      std::snprintf(buf, sizeof buf, "'%s' %s FG", Vin(pick(12)).c_str(), op.c_str());
      return buf;
    case 2:
      std::snprintf(buf, sizeof buf, "MLG %s %d", op.c_str(), pick(130) - 5);
      return buf;
    case 3:
      std::snprintf(buf, sizeof buf, "NHND %s 'n%d'", op.c_str(), pick(4));
      return buf;
    case 4:
      std::snprintf(buf, sizeof buf, "DAT %s DATE '2020-01-%02d'", op.c_str(), 1 + pick(6));
      return buf;
    case 5:
      return pick(2) ? "MLG IS NULL" : "NHND IS NOT NULL";
    case 6:
      std::snprintf(buf, sizeof buf, "UPPER(NHND) %s 'N%d'", op.c_str(), pick(4));
      return buf;
    case 7:
      std::snprintf(buf, sizeof buf, "MLG BETWEEN %d AND %d", pick(60), 40 + pick(80));
      return buf;
    default:
      std::snprintf(buf, sizeof buf, "THND = %d", pick(2));
      return buf;
  }
}

TEST_P(RandomFilterTest, FilteredNavigationEqualsTestingEveryRecord) {
  ServiceTable t({{"MLGX", {"MLG"}, {}, {}},
                  {"NHNDX", {"NHND"}, {}, {"NO_CASE"}},
                  {"DATDESC", {"DAT", "FG"}, {"DESC", ""}, {}}});
  std::mt19937 r(11);
  // Duplicates and NULLs in every field.
  for (int i = 0; i < 120; ++i) {
    Row row;
    if (r() % 10) row.FG = Vin(static_cast<int>(r() % 12));
    if (r() % 8) row.DAT = Day(2020, 1, 1 + static_cast<int>(r() % 6));
    if (r() % 7) row.MLG = static_cast<std::int64_t>(r() % 120);
    if (r() % 9) row.THND = static_cast<int>(r() % 2);
    if (r() % 6) row.NHND = (r() % 2 ? "n" : "N") + std::to_string(r() % 4);
    t.Insert(row);
  }
  THDBLocalCursor& c = *t.cursor;
  c.SetIndexByName(GetParam());
  for (int round = 0; round < 40; ++round) {
    const bool caseInsensitive = r() % 3 == 0;
    const std::string text = RandomFilter(r);
    SCOPED_TRACE(text + (caseInsensitive ? " [case-insensitive]" : ""));
    // Expected: every record in the cursor's order, tested one by one.
    c.ClearFilter();
    THDBExpression e(&c);
    e.CaseInsensitive = caseInsensitive;
    e.ParseFilter(text);
    std::vector<RecordID> expected;
    c.SetToBegin();
    while (t.Step(gmNext) == grOK)
      if (e.Passes(t.buffer.data())) expected.push_back(c.Position);

    c.SetFilterText(text, caseInsensitive, false);
    std::vector<RecordID> forward, backward;
    c.SetToBegin();
    while (t.Step(gmNext) == grOK) forward.push_back(c.Position);
    c.SetToEnd();
    while (t.Step(gmPrior) == grOK) backward.push_back(c.Position);
    std::reverse(backward.begin(), backward.end());
    ASSERT_EQ(forward, expected);
    ASSERT_EQ(backward, expected);
    ASSERT_EQ(c.GetRecordCount(), static_cast<std::int64_t>(expected.size()));
    // Steps and record numbers along the bitmap.
    std::vector<RecordID> viaBits;
    c.SetToBegin();
    for (std::int64_t n = 1; t.Step(gmNext) == grOK; ++n) {
      viaBits.push_back(c.Position);
      ASSERT_EQ(c.GetRecNo(), n);
    }
    ASSERT_EQ(viaBits, expected);
    if (!expected.empty()) {
      const std::int64_t n = 1 + static_cast<std::int64_t>(r() % expected.size());
      c.SetRecNo(n);
      ASSERT_EQ(c.Position, expected[static_cast<std::size_t>(n - 1)]);
      // The first passing record after a random one.
      ASSERT_EQ(t.Step(gmCurrent), grOK);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Orders, RandomFilterTest, ::testing::Values("", "FGDAT", "MLGX", "NHNDX", "DATDESC"),
                         [](const auto& info) { return std::string(*info.param ? info.param : "Natural"); });

}  // namespace
}  // namespace hdb

// The filter properties of the table component with a record handler: when the
// filter reaches the cursor, the filter state the handler runs in, where the view goes
// when the filter changes, counts of a filtered view, an empty view, errors raised by
// the handler, and a text the cursor refuses. Ends with the program's own sequence of
// calls on dsTable.
#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <vector>

#include "component_test_support.h"
#include "dbengine/cursor/cursor.h"
#include "table_fixture.h"

namespace hdb {
namespace {

using test::MessageOf;
using test::ServiceTable;
using test::TableTest;
using test::Vin;

using Keys = std::vector<std::string>;

// A handler that passes the records of one VIN, noting the states it saw.
struct VinFilter {
  explicit VinFilter(ServiceTable& t) : t(t) {}
  THDBDataSet::FilterRecordEvent Handler() {
    return [this](THDBDataSet& ds, bool& accept) {
      states.push_back(ds.State());
      ++calls;
      accept = t.FG->AsString() == vin;
    };
  }
  ServiceTable& t;
  std::string vin = Vin(1);
  std::vector<THDBDataSetState> states;
  int calls = 0;
};

TEST_F(TableTest, AHandlerAppliesOnlyWhileFiltered) {
  ServiceTable t;
  VinFilter filter(t);
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.Open();
  t.table.GoLast();
  t.table.SetOnFilterRecord(filter.Handler());
  EXPECT_EQ(filter.calls, 0) << "not filtered: the handler is not asked";
  EXPECT_EQ(t.Key(), K(3, "01.01.2022"));
  EXPECT_EQ(t.table.RecordCount(), 6);

  t.table.SetFiltered(true);
  EXPECT_EQ(t.Key(), K(1, "01.03.2020")) << "switching on goes to the first passing record";
  EXPECT_TRUE(t.table.IsAtStart());
  EXPECT_GT(filter.calls, 0);
  for (THDBDataSetState s : filter.states) EXPECT_EQ(s, dsFilter);
  EXPECT_EQ(t.table.State(), dsBrowse);
  EXPECT_EQ(t.table.RecordCount(), 3);
  EXPECT_EQ(t.Walk(true), (Keys{K(1, "01.03.2020"), K(1, "01.03.2021"), K(1, "01.03.2022")}));
  EXPECT_EQ(t.Walk(false), (Keys{K(1, "01.03.2022"), K(1, "01.03.2021"), K(1, "01.03.2020")}));
  t.table.GoLast();
  t.table.GoNext();
  EXPECT_TRUE(t.table.IsAtEnd()) << "the ends are those of the subset";
  EXPECT_EQ(t.Key(), K(1, "01.03.2022"));

  t.table.GoPrior();
  t.table.SetFiltered(false);
  EXPECT_EQ(t.Key(), K(1, "01.03.2021")) << "switching off keeps the current record";
  EXPECT_EQ(t.table.RecordCount(), 6);
  t.table.GoNext();
  t.table.GoNext();
  EXPECT_EQ(t.Key(), K(2, "01.05.2021")) << "and shows every record again";
}

TEST_F(TableTest, SwitchingOnAgainOrChangingTheHandlerGoesToTheFirstPassingRecord) {
  ServiceTable t;
  VinFilter filter(t);
  filter.vin = Vin(3);
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.SetOnFilterRecord(filter.Handler());
  t.table.SetFiltered(true);
  t.table.Open();
  EXPECT_EQ(t.Key(), K(3, "01.01.2020")) << "a table opened filtered applies it";
  t.table.GoNext();
  t.table.SetFiltered(true);
  EXPECT_EQ(t.Key(), K(3, "01.01.2020")) << "setting it on while on still goes to the first";

  VinFilter other(t);
  other.vin = Vin(2);
  t.table.SetOnFilterRecord(other.Handler());
  EXPECT_EQ(t.Key(), K(2, "01.05.2021"));
  EXPECT_EQ(t.table.RecordCount(), 1) << "the new handler counts afresh";

  t.table.SetOnFilterRecord(nullptr);
  EXPECT_EQ(t.table.RecordCount(), 6) << "without a handler every record passes";
  EXPECT_FALSE(t.table.Cursor()->IsFiltered());
}

TEST_F(TableTest, AFilterNoRecordPassesGivesAnEmptyView) {
  ServiceTable t;
  VinFilter filter(t);
  filter.vin = Vin(99);
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.Open();
  t.table.SetOnFilterRecord(filter.Handler());
  t.table.SetFiltered(true);
  t.table.GoFirst();
  EXPECT_TRUE(t.table.IsAtEnd());
  EXPECT_TRUE(t.table.IsAtStart());
  EXPECT_TRUE(t.FG->IsNull());
  EXPECT_EQ(t.table.RecordCount(), 0);
  t.table.GoLast();
  EXPECT_TRUE(t.table.IsAtEnd() && t.table.IsAtStart());
  EXPECT_EQ(MessageOf([&] { t.table.DeleteCurrent(); }), "Cannot perform this operation on an empty dataset");
}

TEST_F(TableTest, ARecordPostedIntoAFilteredViewIsCountedByTheFilter) {
  ServiceTable t;
  VinFilter filter(t);
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.SetOnFilterRecord(filter.Handler());
  t.table.SetFiltered(true);
  t.table.Open();
  EXPECT_EQ(t.table.RecordCount(), 3);
  t.table.BeginInsert();
  t.Fill(Vin(1), "05.05.2023", 40000);
  t.table.PostRecord();
  t.table.BeginInsert();
  t.Fill(Vin(7), "05.05.2023", 1);
  t.table.PostRecord();
  EXPECT_EQ(t.table.RecordCount(), 4) << "only the record of the filtered VIN joins the view";
  EXPECT_EQ(t.Walk(false).front(), K(1, "05.05.2023"));
}

TEST_F(TableTest, DeletingInAFilteredViewLandsOnAPassingRecord) {
  ServiceTable t;
  VinFilter filter(t);
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.SetOnFilterRecord(filter.Handler());
  t.table.SetFiltered(true);
  t.table.Open();
  t.table.GoLast();
  ASSERT_EQ(t.Key(), K(1, "01.03.2022"));
  t.table.DeleteCurrent();  // the record that follows belongs to another vehicle
  EXPECT_EQ(t.Key(), K(1, "01.03.2021"));
  t.table.GoFirst();
  t.table.DeleteCurrent();
  EXPECT_EQ(t.Key(), K(1, "01.03.2021"));
  t.table.DeleteCurrent();
  EXPECT_TRUE(t.table.IsEmpty());
  EXPECT_TRUE(t.table.IsAtStart() && t.table.IsAtEnd());
  EXPECT_EQ(t.table.RecordCount(), 0);
  t.table.SetFiltered(false);
  EXPECT_EQ(t.table.RecordCount(), 3);
}

TEST_F(TableTest, AnErrorInTheHandlerGoesToTheApplicationAndTheFlagDecides) {
  std::vector<std::string> reported;
  THDBDataSet::SetApplicationErrorHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      reported.push_back(x.what());
    }
  });
  ServiceTable t;
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.Open();
  t.table.SetOnFilterRecord([&](THDBDataSet&, bool& accept) {
    accept = t.FG->AsString() == Vin(2);
    if (t.FG->AsString() == Vin(3)) {
      accept = true;
      throw std::runtime_error("handler failed");
    }
  });
  t.table.SetFiltered(true);
  EXPECT_EQ(t.Walk(true), (Keys{K(2, "01.05.2021"), K(3, "01.01.2020"), K(3, "01.01.2022")}));
  EXPECT_FALSE(reported.empty());
  EXPECT_EQ(reported.front(), "handler failed");
  THDBDataSet::SetApplicationErrorHandler(nullptr);
}

TEST_F(TableTest, AFilterTextTheCursorRefusesLeavesFilteredAsItWas) {
  ServiceTable t;
  t.table.Open();
  t.table.SetFilter("FG = = 'x'");
  EXPECT_EQ(t.table.Filter(), "FG = = 'x'") << "stored while not filtered, nothing else";
  EXPECT_EQ(t.table.RecordCount(), 6);
  EXPECT_THROW(t.table.SetFiltered(true), EHDBException);
  EXPECT_FALSE(t.table.Filtered());
  EXPECT_EQ(t.table.RecordCount(), 6);
  t.table.SetFilterOptions(foCaseInsensitive | foNoPartialCompare);
  EXPECT_EQ(t.table.FilterOptions(), foCaseInsensitive | foNoPartialCompare);
  t.table.SetFilter("");
  t.table.SetFiltered(true);
  EXPECT_TRUE(t.table.Filtered()) << "an empty text filters nothing and is accepted";
  EXPECT_EQ(t.table.RecordCount(), 6);
}

// The program's calls in its own order: connect, open dsTable, show one vehicle newest
// first, find a record by VIN and date, add, edit and delete records.
TEST_F(TableTest, TheProgramsSequenceOfCalls) {
  ServiceTable t;
  t.table.Open();
  VinFilter filter(t);
  filter.vin = Vin(1);
  t.table.SetOnFilterRecord(filter.Handler());
  t.table.SetFiltered(true);
  t.table.SetIndexFieldNames("FG;DAT");
  Keys newestFirst;
  for (t.table.GoLast(); !t.table.IsAtStart(); t.table.GoPrior()) newestFirst.push_back(t.DAT->AsString());
  EXPECT_EQ(newestFirst, (Keys{"01.03.2022", "01.03.2021", "01.03.2020"}));

  // The editor's scan before an insert: a date collision and the highest mileage.
  std::int64_t highest = 0;
  bool collision = false;
  for (t.table.GoFirst(); !t.table.IsAtEnd(); t.table.GoNext()) {
    collision = collision || t.DAT->AsString() == "01.03.2023";
    highest = std::max(highest, t.MLG->AsLargeInt());
  }
  EXPECT_FALSE(collision);
  EXPECT_EQ(highest, 30000);
  t.table.BeginInsert();
  t.Fill(Vin(1), "01.03.2023", 45000, "AG12345678", 3 * 16384 + 16383);
  t.table.PostRecord();
  EXPECT_EQ(t.SSTAT->AsInteger(), 65535);
  EXPECT_EQ(t.NHND->AsString(), "AG12345");

  t.table.SetFiltered(false);
  t.table.SetIndexName("FGDAT");
  t.table.BeginKeyEntry();
  t.table.Fields(0).SetAsString(Vin(1));
  t.table.Fields(1).SetAsString("01.03.2021");
  ASSERT_TRUE(t.table.SeekKey());
  t.table.BeginEdit();
  t.FG->SetAsString(Vin(1));
  t.DAT->SetAsString("01.03.2021");
  t.MLG->SetAsLargeInt(21000);
  t.table.PostRecord();
  EXPECT_EQ(t.MLG->AsLargeInt(), 21000);
  t.table.BeginEdit();
  EXPECT_EQ(MessageOf([&] { t.MLG->SetAsString("12x"); }), "'12x' is not a valid integer value");
  EXPECT_EQ(t.table.State(), dsEdit) << "the edit stays pending until cancelled";
  t.table.CancelRecord();
  EXPECT_EQ(t.MLG->AsLargeInt(), 21000);

  t.table.BeginKeyEntry();
  t.FG->SetAsString(Vin(1));
  t.DAT->SetAsString("01.03.2020");
  ASSERT_TRUE(t.table.SeekKey());
  t.table.DeleteCurrent();
  t.table.SetFiltered(true);
  t.table.SetIndexFieldNames("FG;DAT");
  EXPECT_EQ(t.Walk(true), (Keys{K(1, "01.03.2021"), K(1, "01.03.2022"), K(1, "01.03.2023")}));
  EXPECT_EQ(t.table.RecordCount(), 3);
}

}  // namespace
}  // namespace hdb

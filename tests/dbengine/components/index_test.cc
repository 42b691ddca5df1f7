// Choosing the index of a table component by name or by fields, and finding records
// by key: the resolution rules and their errors, the current record kept across a
// change of index, key entry (its state, its field check, commit and cancel) and the
// exact key search found and not found.
#include <gtest/gtest.h>

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

// A second table with several indexes, to tell the resolution rules apart.
class IndexChoiceTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    test::SetupSession s(path_);
    THDBFieldDefs fields;
    fields.AddField("A", dtInteger);
    fields.AddField("B", dtInteger);
    fields.AddField("C", dtInteger);
    fields.RecalcOffsets();
    THDBIndexDefs indexes;
    auto add = [&](const char* name, std::vector<std::string> cols, bool descending) {
      THDBIndexDef& d = indexes.AddNew();
      d.Name = name;
      std::vector<std::string> orders(cols.size(), descending ? "DESC" : ""), cases(cols.size(), "");
      d.SetColumns(cols, orders, cases);
    };
    add("A_DOWN", {"A"}, true);
    add("AB", {"A", "B"}, false);
    add("ABC", {"A", "B", "C"}, false);
    add("A_ONLY", {"A"}, false);
    add("B_C", {"B", "C"}, false);
    s.CreateTable("Many", fields, indexes, THDBConstraintDefs());
  }
};

TEST_F(IndexChoiceTest, FieldListsResolveByTheirRules) {
  THDBTable table;
  table.SetDatabaseName("Dataset");
  table.SetTableName("Many");
  table.Open();
  struct Rule {
    std::string fields;
    std::string index;  // "" : refused
  };
  const Rule rules[] = {
      {"A", "A_ONLY"},      // an exact list wins over an earlier prefix; descending ones are skipped
      {"a;b", "AB"},        // without regard to case
      {"A;B;C", "ABC"},
      {"B", "B_C"},         // the first whose list begins with the fields
      {"C", ""},            // no index begins with C
      {"A;C", ""},
      {"A;B;C;D", ""},
  };
  for (const Rule& r : rules) {
    SCOPED_TRACE(r.fields);
    if (r.index.empty()) {
      EXPECT_EQ(MessageOf([&] { table.SetIndexFieldNames(r.fields); }), "No index for fields '" + r.fields + "'");
      continue;
    }
    table.SetIndexFieldNames(r.fields);
    EXPECT_EQ(table.Cursor()->IndexName, r.index);
    EXPECT_EQ(table.IndexFieldNames(), r.fields);
    EXPECT_EQ(table.IndexName(), "");
  }
  table.SetIndexName("A_DOWN");
  EXPECT_EQ(table.IndexName(), "A_DOWN") << "by name a descending index is taken";
  EXPECT_EQ(table.IndexFieldNames(), "");
  EXPECT_EQ(table.IndexFields(), (std::vector<std::int32_t>{1}));
  EXPECT_EQ(table.KeySize(), 4);
  table.SetIndexName("ABC");
  EXPECT_EQ(table.IndexFields(), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(table.KeySize(), 12);
  EXPECT_EQ(MessageOf([&] { table.SetIndexName("NOPE"); }), "Cannot find index NOPE");
  EXPECT_EQ(table.IndexName(), "ABC") << "a refused name leaves the index as it was";
  EXPECT_EQ(table.Cursor()->IndexName, "ABC");
  table.SetIndexFieldNames("");
  EXPECT_EQ(table.Cursor()->IndexID, -1) << "no text is natural order";
  ASSERT_EQ(table.IndexDefs().size(), 5u);
  EXPECT_EQ(table.IndexDefs()[2].Fields, "A;B;C");
  EXPECT_TRUE(table.IndexDefs()[0].Descending);
}

TEST_F(IndexChoiceTest, AnIndexThatCannotBeResolvedFailsTheOpen) {
  THDBTable table;
  table.SetDatabaseName("Dataset");
  table.SetTableName("Many");
  table.SetIndexName("NOPE");
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "Cannot find index NOPE");
  EXPECT_FALSE(table.Active());
  table.SetIndexFieldNames("C");
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "No index for fields 'C'");
  table.SetIndexFieldNames("b");
  table.Open();
  EXPECT_EQ(table.Cursor()->IndexName, "B_C");
}

TEST_F(TableTest, BothSpellingsOfTheServiceIndexSelectIt) {
  ServiceTable t;
  t.table.Open();
  for (const char* fields : {"FG;DAT", "fg;dat", "FG"}) {
    t.table.SetIndexName("");
    t.table.SetIndexFieldNames(fields);
    EXPECT_EQ(t.table.Cursor()->IndexName, "FGDAT") << fields;
  }
  t.table.SetIndexName("FGDAT");
  EXPECT_EQ(t.table.Cursor()->IndexName, "FGDAT");
}

TEST_F(TableTest, TheCurrentRecordStaysCurrentAcrossAChangeOfIndex) {
  ServiceTable t;
  t.table.Open();  // natural order: VIN 2 first, then VIN 1 of 2020
  t.table.GoNext();
  ASSERT_EQ(t.Key(), K(1, "01.03.2020"));
  t.table.SetIndexFieldNames("FG;DAT");
  EXPECT_EQ(t.Key(), K(1, "01.03.2020"));
  t.table.GoNext();
  EXPECT_EQ(t.Key(), K(1, "01.03.2021")) << "the next step follows the new index";
  t.table.SetIndexName("");
  EXPECT_EQ(t.Key(), K(1, "01.03.2021"));
  t.table.GoNext();
  EXPECT_EQ(t.Key(), K(3, "01.01.2020")) << "back in natural order the step follows the storing";
}

TEST_F(TableTest, TheSameChoiceAgainDoesNothingButTheOtherSpellingResolvesAgain) {
  ServiceTable a, b;
  a.table.SetIndexName("FGDAT");
  a.table.Open();
  b.table.SetIndexName("FGDAT");
  b.table.Open();
  ASSERT_EQ(a.Key(), K(1, "01.03.2020"));
  b.table.DeleteCurrent();
  a.table.SetIndexName("FGDAT");
  EXPECT_EQ(a.Key(), K(1, "01.03.2020")) << "no refresh: the view still shows what it read";
  a.table.SetIndexFieldNames("FG;DAT");
  EXPECT_EQ(a.Key(), K(1, "01.03.2021")) << "a new choice refreshes: the vanished record gives way";
  EXPECT_EQ(a.table.RecordCount(), 5);
}

TEST_F(TableTest, SeekKeyFindsTheExactKeyOrLeavesTheRecordWhereItWas) {
  ServiceTable t;
  t.table.SetIndexName("FGDAT");
  t.table.Open();
  t.table.GoLast();
  int afterScroll = 0;
  t.table.AfterScroll = [&](THDBDataSet&) { ++afterScroll; };

  t.table.BeginKeyEntry();
  EXPECT_EQ(t.table.State(), dsSetKey);
  EXPECT_TRUE(t.FG->IsNull()) << "key entry starts from an empty key";
  t.FG->SetAsString(Vin(1));
  t.DAT->SetAsString("01.03.2021");
  EXPECT_EQ(t.FG->AsString(), Vin(1)) << "fields read the key while it is entered";
  EXPECT_EQ(MessageOf([&] { t.MLG->SetAsLargeInt(1); }), "Field MLG is not in the current index");
  EXPECT_TRUE(t.table.SeekKey());
  EXPECT_EQ(t.table.State(), dsBrowse);
  EXPECT_EQ(t.Key(), K(1, "01.03.2021"));
  EXPECT_EQ(t.MLG->AsLargeInt(), 20000);
  EXPECT_EQ(afterScroll, 1);
  EXPECT_FALSE(t.table.IsAtEnd());
  t.table.GoNext();
  EXPECT_EQ(t.Key(), K(1, "01.03.2022")) << "navigation goes on from the found record";

  t.table.BeginKeyEntry();
  t.FG->SetAsString(Vin(1));
  t.DAT->SetAsString("02.03.2021");
  EXPECT_FALSE(t.table.SeekKey());
  EXPECT_EQ(t.Key(), K(1, "01.03.2022")) << "not found: the current record stays";
  EXPECT_EQ(afterScroll, 2) << "and no scroll was announced";

  t.table.BeginKeyEntry();
  t.FG->SetAsString(Vin(3));
  EXPECT_FALSE(t.table.SeekKey()) << "the unassigned DAT is NULL and takes part in the key";
  t.table.BeginKeyEntry();
  t.FG->SetAsString(Vin(3));
  t.table.SetKeyFieldCount(1);
  EXPECT_TRUE(t.table.SeekKey());
  EXPECT_EQ(t.Key(), K(3, "01.01.2020")) << "over one field the first record of the VIN";
}

TEST_F(TableTest, KeyEntryIsCommittedByNavigationAndRestoredByCancel) {
  ServiceTable t;
  t.table.SetIndexName("FGDAT");
  t.table.Open();
  t.table.BeginKeyEntry();
  t.FG->SetAsString(Vin(2));
  t.DAT->SetAsString("01.05.2021");
  t.table.GoLast();  // commits the entry
  EXPECT_EQ(t.table.State(), dsBrowse);
  t.table.BeginKeyEntry();
  t.FG->SetAsString(Vin(3));
  t.table.CancelRecord();
  EXPECT_EQ(t.table.State(), dsBrowse);
  EXPECT_TRUE(t.table.SeekKey()) << "the cancelled entry gave the earlier key back";
  EXPECT_EQ(t.Key(), K(2, "01.05.2021"));
}

TEST_F(TableTest, KeySearchNeedsAnOpenTableWithAnIndex) {
  ServiceTable t;
  EXPECT_EQ(MessageOf([&] { t.table.BeginKeyEntry(); }), "Nil pointer occured");
  EXPECT_EQ(MessageOf([&] { t.table.SeekKey(); }), "Nil pointer occured");
  t.table.Open();
  t.table.BeginKeyEntry();
  EXPECT_EQ(MessageOf([&] { t.FG->SetAsString(Vin(1)); }), "Field FG is not in the current index")
      << "in natural order no field is a key field";
  EXPECT_EQ(MessageOf([&] { t.table.SeekKey(); }),
            "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
}

}  // namespace
}  // namespace hdb

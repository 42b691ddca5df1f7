// The table component on a real file: opening and its messages, navigation at both
// ends in natural and index order, the edit cycle and the errors of its failures
// (required fields, states, read-only tables, records changed or deleted by another
// table), bookmarks and record numbers, calculated fields and old values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component_test_support.h"
#include "dbengine/components/engine_error.h"
#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_table.h"
#include "dbengine/cursor/cursor.h"
#include "forked_child.h"
#include "table_fixture.h"

namespace hdb {
namespace {

using test::MessageOf;
using test::ServiceTable;
using test::TableTest;
using test::Vin;

using Keys = std::vector<std::string>;

TEST_F(TableTest, OpeningRefusesWhatItCannotOpenAndLeavesNothingBehind) {
  THDBTable table;
  EXPECT_EQ(table.RecordCount(), 0) << "a closed table counts nothing";
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "DatabaseName property is blank");
  table.SetDatabaseName("Dataset");
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "Missing TableName property");
  table.SetTableName("  ");
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "Missing TableName property");
  EXPECT_EQ(db_.UseCount(), 0) << "a failed open releases the database";
  table.SetTableName("NoSuchTable");
  EXPECT_NE(MessageOf([&] { table.Open(); }), "");
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(db_.UseCount(), 0);
  EXPECT_TRUE(db_.DataSets().empty());

  ServiceTable program;
  program.table.CreateField<THDBIntegerField>("EXTRA");
  EXPECT_EQ(MessageOf([&] { program.table.Open(); }), "Field 'EXTRA' not found");
  ServiceTable wrongType;
  wrongType.table.CreateField<THDBStringField>("MLG2", 5);
  THDBTable mismatch;
  mismatch.SetDatabaseName("Dataset");
  mismatch.SetTableName("dsTable");
  mismatch.CreateField<THDBStringField>("MLG", 10);
  EXPECT_EQ(MessageOf([&] { mismatch.Open(); }), "Type mismatch for field 'MLG', expecting: String actual: Largeint");
  EXPECT_FALSE(mismatch.Active());
}

TEST_F(TableTest, DefaultFieldsFollowTheTableAndGoWithTheOpen) {
  THDBTable table;
  table.SetDatabaseName("Dataset");
  table.SetTableName(" dsTable ");
  table.Open();
  ASSERT_EQ(table.FieldCount(), 6);
  EXPECT_EQ(table.Fields(0).FieldName(), "FG");
  EXPECT_EQ(table.Fields(0).DataType(), ftFixedChar);
  EXPECT_EQ(table.Fields(0).Size(), 17);
  EXPECT_EQ(table.Fields(2).DataType(), ftLargeint);
  EXPECT_EQ(table.Fields(3).DataType(), ftWord);
  EXPECT_TRUE(table.Fields(4).Required) << "every dsTable field is NOT NULL";
  EXPECT_EQ(table.Fields(5).FieldNo(), 6);
  EXPECT_EQ(&table.FieldByName("sstat"), &table.Fields(5));
  EXPECT_EQ(MessageOf([&] { table.FieldByName("NOPE"); }), "Field 'NOPE' not found");
  EXPECT_EQ(table.RecordCount(), 6);
  table.Close();
  EXPECT_EQ(table.FieldCount(), 0);
  EXPECT_EQ(table.RecordCount(), 0);
}

TEST_F(TableTest, NavigationAtBothEnds) {
  ServiceTable t;
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.Open();
  EXPECT_TRUE(t.table.IsAtStart());
  EXPECT_FALSE(t.table.IsAtEnd());
  EXPECT_EQ(t.Key(), K(1, "01.03.2020"));
  t.table.GoPrior();
  EXPECT_TRUE(t.table.IsAtStart());
  EXPECT_EQ(t.Key(), K(1, "01.03.2020")) << "a step before the first keeps the first";
  t.table.GoLast();
  EXPECT_TRUE(t.table.IsAtEnd());
  EXPECT_FALSE(t.table.IsAtStart());
  EXPECT_EQ(t.Key(), K(3, "01.01.2022"));
  t.table.GoNext();
  EXPECT_TRUE(t.table.IsAtEnd());
  EXPECT_EQ(t.Key(), K(3, "01.01.2022"));
  t.table.GoPrior();
  EXPECT_FALSE(t.table.IsAtEnd());
  EXPECT_EQ(t.Key(), K(3, "01.01.2020")) << "from the end a step back leaves the last record";

  const Keys ordered{K(1, "01.03.2020"), K(1, "01.03.2021"), K(1, "01.03.2022"),
                     K(2, "01.05.2021"), K(3, "01.01.2020"), K(3, "01.01.2022")};
  EXPECT_EQ(t.Walk(true), ordered);
  EXPECT_EQ(t.Walk(false), Keys(ordered.rbegin(), ordered.rend()));

  t.table.SetIndexName("");
  const Keys natural = t.Walk(true);
  EXPECT_EQ(natural.size(), 6u);
  EXPECT_EQ(natural.front(), K(2, "01.05.2021")) << "natural order is the order of storing";
}

TEST_F(TableTest, AnEmptyViewIsAtBothEnds) {
  THDBTable table;
  table.SetDatabaseName("Dataset");
  table.SetTableName("dsTable");
  table.Open();
  while (table.RecordCount() > 0) table.DeleteCurrent();
  EXPECT_TRUE(table.IsEmpty());
  for (auto step : {&THDBDataSet::GoFirst, &THDBDataSet::GoLast, &THDBDataSet::GoNext, &THDBDataSet::GoPrior}) {
    (table.*step)();
    EXPECT_TRUE(table.IsAtStart());
    EXPECT_TRUE(table.IsAtEnd());
    EXPECT_TRUE(table.FieldByName("FG").IsNull());
    EXPECT_EQ(table.FieldByName("FG").AsString(), "");
  }
  EXPECT_EQ(table.RecNo(), -1);
}

TEST_F(TableTest, InsertEditCancelAndDeleteMoveTheViewAsExpected) {
  ServiceTable t;
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.Open();
  t.table.GoLast();
  t.table.BeginInsert();
  EXPECT_EQ(t.table.State(), dsInsert);
  EXPECT_TRUE(t.FG->IsNull()) << "a new record starts with every field NULL";
  t.Fill(Vin(2), "01.06.2022", 40000, "1234567890");
  EXPECT_EQ(t.NHND->AsString(), "1234567") << "text is cut to the field's size";
  t.table.PostRecord();
  EXPECT_EQ(t.table.State(), dsBrowse);
  EXPECT_EQ(t.Key(), K(2, "01.06.2022")) << "the posted record is current";
  EXPECT_EQ(t.table.RecordCount(), 7);
  t.table.GoNext();
  EXPECT_EQ(t.Key(), K(3, "01.01.2020")) << "and stands in the index's order";

  t.table.BeginEdit();
  t.MLG->SetAsLargeInt(1500);
  EXPECT_EQ(t.table.InState(dsOldValue, [&] { return t.MLG->AsLargeInt(); }), 1000);
  t.table.CancelRecord();
  EXPECT_EQ(t.MLG->AsLargeInt(), 1000) << "cancel brings the values back";
  t.table.BeginEdit();
  t.MLG->SetAsLargeInt(1500);
  t.table.PostRecord();
  t.table.GoFirst();
  t.table.SetIndexName("FGDAT");
  t.table.BeginKeyEntry();
  t.FG->SetAsString(Vin(3));
  t.DAT->SetAsString("01.01.2020");
  ASSERT_TRUE(t.table.SeekKey());
  EXPECT_EQ(t.MLG->AsLargeInt(), 1500) << "the edit was stored";

  t.table.BeginInsert();
  t.Fill(Vin(9), "01.01.2023", 1);
  t.table.CancelRecord();
  EXPECT_EQ(t.Key(), K(3, "01.01.2020")) << "cancelling an insert returns to the record before it";
  EXPECT_EQ(t.table.RecordCount(), 7);
  t.table.CancelRecord();  // nothing pending: nothing happens
  EXPECT_EQ(MessageOf([&] { t.table.PostRecord(); }), "Dataset is not in insert or edit mode");

  t.table.DeleteCurrent();
  EXPECT_EQ(t.Key(), K(3, "01.01.2022")) << "the record that followed becomes current";
  t.table.DeleteCurrent();
  EXPECT_EQ(t.Key(), K(2, "01.06.2022")) << "after the last one the one before it";
  EXPECT_EQ(t.table.RecordCount(), 5);
}

TEST_F(TableTest, APostWithARequiredFieldNullFailsAndTheInsertStaysPending) {
  ServiceTable t;
  t.table.Open();
  t.table.BeginInsert();
  t.Fill(Vin(5), "02.02.2022", 7);
  t.NHND->Clear();
  EXPECT_EQ(MessageOf([&] { t.table.PostRecord(); }), "Field 'NHND' must have a value");
  EXPECT_EQ(t.table.State(), dsInsert);
  EXPECT_EQ(t.FG->AsString(), Vin(5)) << "the values entered are kept";
  t.NHND->DisplayLabel = "Agent";
  EXPECT_EQ(MessageOf([&] { t.table.PostRecord(); }), "Field 'Agent' must have a value");
  t.NHND->SetAsString("AG");
  t.table.PostRecord();
  EXPECT_EQ(t.table.RecordCount(), 7);
}

TEST_F(TableTest, WritesNeedTheRightState) {
  ServiceTable t;
  EXPECT_EQ(MessageOf([&] { t.table.DeleteCurrent(); }), "Dataset is not opened");
  EXPECT_EQ(MessageOf([&] { t.table.BeginInsert(); }), "Cannot perform this operation on a closed dataset");
  t.table.Open();
  EXPECT_EQ(MessageOf([&] { t.MLG->SetAsLargeInt(1); }), "Dataset not in edit or insert mode");
  EXPECT_EQ(MessageOf([&] { t.table.SetTableName("x"); }), "Cannot perform this operation on an open dataset");
  t.MLG->ReadOnly = true;
  t.table.BeginEdit();
  EXPECT_EQ(MessageOf([&] { t.MLG->SetAsLargeInt(1); }), "Field 'MLG' cannot be modified");
  t.table.CancelRecord();
  t.table.Close();
  t.table.SetReadOnly(true);
  t.table.Open();
  EXPECT_TRUE(t.table.ReadOnly());
  EXPECT_EQ(MessageOf([&] { t.table.BeginInsert(); }), "Dataset is in read only mode");
  EXPECT_EQ(MessageOf([&] { t.table.BeginEdit(); }), "Dataset is in read only mode");
  EXPECT_EQ(MessageOf([&] { t.table.DeleteCurrent(); }), "Dataset is in read only mode");
  EXPECT_EQ(t.table.RecordCount(), 6);
}

TEST_F(TableTest, ChangesByAnotherTableBecomeEngineErrors) {
  ServiceTable a, b;
  a.table.Open();
  b.table.Open();
  // a edits the first record; b changes it meanwhile.
  a.table.BeginEdit();
  a.MLG->SetAsLargeInt(111);
  b.table.BeginEdit();
  b.MLG->SetAsLargeInt(222);
  b.table.PostRecord();
  try {
    a.table.PostRecord();
    FAIL() << "the post must fail";
  } catch (const EHDBEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), -4);
    EXPECT_STREQ(e.what(), "HDB Engine Error # -4 Error updating record - record was modified by another process");
    EXPECT_STREQ(ExceptionClassName(e), "EHDBEngineError");
  }
  EXPECT_EQ(a.table.State(), dsEdit);
  EXPECT_EQ(a.MLG->AsLargeInt(), 111) << "the values entered stay for the caller to correct or cancel";
  a.table.CancelRecord();
  EXPECT_EQ(MessageOf([&] { a.table.DeleteCurrent(); }),
            "HDB Engine Error # -5 Error deleting record - record was modified by another process");
  a.table.GoFirst();
  EXPECT_EQ(a.MLG->AsLargeInt(), 222);
  b.table.DeleteCurrent();
  EXPECT_EQ(MessageOf([&] { a.table.DeleteCurrent(); }),
            "HDB Engine Error # -7 Error deleting record - record was deleted by another process");
  a.table.GoFirst();
  EXPECT_EQ(a.table.RecordCount(), 5);
}

TEST_F(TableTest, ConstraintFailuresCarryTheirOwnText) {
  test::SetupSession s(path_);
  THDBFieldDefs fields;
  fields.AddField("CODE", dtInteger);
  fields.RecalcOffsets();
  THDBIndexDefs indexes;
  THDBIndexDef& index = indexes.AddNew();
  index.Name = "UCODE";
  index.IsUnique = true;
  index.SetColumns({"CODE"}, {""}, {""});
  s.CreateTable("Codes", fields, indexes, THDBConstraintDefs());
  THDBTable table;
  table.SetDatabaseName("Dataset");
  table.SetTableName("Codes");
  table.Open();
  for (int i = 0; i < 2; ++i) {
    table.BeginInsert();
    table.FieldByName("CODE").SetAsInteger(7);
    if (i == 0) table.PostRecord();
  }
  const std::string message = MessageOf([&] { table.PostRecord(); });
  EXPECT_EQ(message.rfind("HDB Engine Error # -8 Constraint unique", 0), 0u) << message;
  EXPECT_EQ(table.State(), dsInsert);
}

TEST_F(TableTest, BookmarksAndRecordNumbers) {
  ServiceTable t;
  t.table.SetIndexName("FGDAT");
  t.table.Open();
  t.table.GoNext();
  const THDBBookmark second = t.table.GetBookmark();
  EXPECT_EQ(t.table.RecNo(), 2);
  t.table.GoLast();
  const THDBBookmark last = t.table.GetBookmark();
  EXPECT_EQ(t.table.RecNo(), 6);
  EXPECT_EQ(t.table.CompareBookmarks(second, last), -1);
  EXPECT_EQ(t.table.CompareBookmarks(last, second), 1);
  t.table.GotoBookmark(second);
  EXPECT_EQ(t.Key(), K(1, "01.03.2021"));
  EXPECT_FALSE(t.table.IsAtStart());
  EXPECT_TRUE(t.table.BookmarkValid(last));
  t.table.SetRecNo(4);
  EXPECT_EQ(t.Key(), K(2, "01.05.2021"));
  t.table.SetRecNo(100);
  EXPECT_EQ(t.Key(), K(3, "01.01.2022")) << "a number beyond the count lands on the last record";
  t.table.DeleteCurrent();
  EXPECT_FALSE(t.table.BookmarkValid(last));
  EXPECT_EQ(MessageOf([&] { t.table.GotoBookmark(last); }), "Record not found");
  EXPECT_EQ(t.Key(), K(3, "01.01.2020")) << "a failed jump leaves the view where it was";
}

TEST_F(TableTest, CalculatedFieldsAreComputedForEachRecord) {
  ServiceTable t;
  auto& thousands = t.table.CreateField<THDBIntegerField>("KKM");
  thousands.FieldKind = fkCalculated;
  t.table.OnCalcFields = [&](THDBDataSet& ds) {
    EXPECT_EQ(ds.State(), dsCalcFields);
    thousands.SetAsLargeInt(t.MLG->AsLargeInt() / 1000);
  };
  t.table.SetIndexFieldNames("FG;DAT");
  t.table.Open();
  std::vector<std::int32_t> values;
  for (t.table.GoFirst(); !t.table.IsAtEnd(); t.table.GoNext()) values.push_back(thousands.AsInteger());
  EXPECT_EQ(values, (std::vector<std::int32_t>{10, 20, 30, 30, 1, 5}));
  EXPECT_EQ(t.table.State(), dsBrowse);
}

// Two processes on one file in multi-user mode: the record one of them edits is locked
// for the other, whose edit fails as an engine error and leaves it browsing.
TEST_F(TableTest, ARecordEditedInAnotherProcessIsLocked) {
  db_.Close();
  hdbtest::ForkedChild child([&](hdbtest::ForkedChild& self) {
    if (self.Receive() != 'x') return 5;
    THDBDatabase db;
    db.SetDatabaseName("Child");
    db.SetDatabaseFileName(path_);
    db.MultiUser = true;
    db.Open();
    ServiceTable t("Child");
    t.table.SetIndexName("FGDAT");
    t.table.Open();
    const std::string message = MessageOf([&] { t.table.BeginEdit(); });
    if (message != "HDB Engine Error # -12 Record is locked") {
      std::fprintf(stderr, "child: %s\n", message.c_str());
      return 1;
    }
    if (t.table.State() != dsBrowse) return 2;
    t.table.GoNext();
    t.table.BeginEdit();  // another record is free
    t.MLG->SetAsLargeInt(5);
    t.table.PostRecord();
    return 0;
  });
  THDBDatabase db;
  db.SetDatabaseName("Multi");
  db.SetDatabaseFileName(path_);
  db.MultiUser = true;
  db.Open();
  ServiceTable t("Multi");
  t.table.SetIndexName("FGDAT");
  t.table.Open();
  t.table.BeginEdit();
  child.Send('x');
  EXPECT_EQ(child.Wait(), 0);
  t.MLG->SetAsLargeInt(9);
  t.table.PostRecord();
  t.table.GoNext();
  EXPECT_EQ(t.MLG->AsLargeInt(), 5) << "the other process's post is seen";
}

}  // namespace
}  // namespace hdb

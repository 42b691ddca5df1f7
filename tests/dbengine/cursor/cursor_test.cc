// Engine sessions and table cursors on a real file: the registry shares one database
// per file, navigation at both ends, record numbers and bookmarks, the write cycle
// with its result codes, and two cursors (or two processes) on one table.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/cursor/blob_stream.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/cursor/open_databases.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/free_space.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/navigation_request.h"
#include "cursor_test_support.h"
#include "forked_child.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using test::Connection;
using test::OpenCursor;
using test::Raised;
using test::Vin;

class CursorTest : public ::testing::Test {
 protected:
  void SetUp() override { Connection::CreateFile(path_); }
  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
};

TEST_F(CursorTest, NavigationAtBothEndsOfTheTable) {
  Connection c(path_);
  OpenCursor t(c.session, "FGDAT");
  for (std::uint8_t mode : {gmCurrent, gmNext, gmPrior}) {
    t.cursor.SetToBegin();
    EXPECT_EQ(t.Step(mode), grEOF) << "an empty table gives after-last for every mode";
  }
  t.Insert(Vin(2), 20);
  t.Insert(Vin(1), 10);
  t.Insert(Vin(3), 30);
  t.cursor.SetToBegin();
  ASSERT_EQ(t.Step(gmNext), grOK);
  EXPECT_EQ(t.FG(), Vin(1));
  EXPECT_EQ(t.cursor.GetRecNo(), 1);
  EXPECT_EQ(t.Step(gmPrior), grBOF);
  EXPECT_TRUE(t.cursor.AtBOF);
  EXPECT_EQ(t.cursor.GetRecNo(), -1);
  t.cursor.SetToEnd();
  ASSERT_EQ(t.Step(gmPrior), grOK);
  EXPECT_EQ(t.FG(), Vin(3));
  EXPECT_EQ(t.Step(gmNext), grEOF);
  EXPECT_TRUE(t.cursor.AtEOF);
  t.cursor.SetRecNo(99);
  ASSERT_EQ(t.Step(gmCurrent), grOK);
  EXPECT_EQ(t.FG(), Vin(3)) << "a record number past the count lands on the last record";
  t.cursor.SetRecNo(2);
  ASSERT_EQ(t.Step(gmCurrent), grOK);
  EXPECT_EQ(t.FG(), Vin(2));
  EXPECT_EQ(t.cursor.GetRecordCount(), 3);
}

TEST_F(CursorTest, EqualKeysAreOrderedByRecordIDInBookmarks) {
  Connection c(path_);
  OpenCursor t(c.session, "FGDAT");
  const RecordID a = t.Insert(Vin(5), 50), b = t.Insert(Vin(5), 50), other = t.Insert(Vin(1), 50);
  EXPECT_EQ(t.cursor.CompareBookmarks(a, b), -1);
  EXPECT_EQ(t.cursor.CompareBookmarks(b, a), 1);
  EXPECT_EQ(t.cursor.CompareBookmarks(other, a), -1) << "the key decides first";
  EXPECT_EQ(t.cursor.CompareBookmarks(a, a), 0);
}

TEST_F(CursorTest, AnInsertLeavesItsRecordIDAndFlagInTheBufferAndDeletesMoveTheCursor) {
  Connection c(path_);
  OpenCursor t(c.session, "FGDAT");
  const RecordID first = t.Insert(Vin(1), 10);
  EXPECT_EQ(t.cursor.BufferRecordID(t.buffer.data()), first);
  EXPECT_EQ(t.buffer[t.cursor.RecordIDOffset + 6], BookmarkInserted);
  EXPECT_EQ(t.cursor.Position, first);
  t.Insert(Vin(1), 20);
  const RecordID last = t.Insert(Vin(1), 30);
  t.cursor.SetToEnd();
  ASSERT_EQ(t.Step(gmPrior), grOK);
  ASSERT_EQ(t.cursor.Position, last);
  t.cursor.RemoveRecord();
  ASSERT_EQ(t.cursor.LastResult, 0);
  ASSERT_EQ(t.Step(gmCurrent), grOK);
  EXPECT_EQ(t.DAT(), 20) << "deleting the last in order leaves the cursor on the one before";
  // Single-user: editing takes no lock and always succeeds.
  t.cursor.EditRecord();
  EXPECT_EQ(t.cursor.LastResult, 0);
}

TEST_F(CursorTest, TwoCursorsOnOneTableSeeEachOthersChanges) {
  Connection c(path_);
  OpenCursor a(c.session, "FGDAT"), b(c.session, "FGDAT");
  EXPECT_EQ(a.cursor.Table(), b.cursor.Table()) << "one shared table data object";
  for (int i = 0; i < 5; ++i) a.Insert(Vin(i), i);
  EXPECT_EQ(b.cursor.GetRecordCount(), 5);
  b.cursor.SetToBegin();
  ASSERT_EQ(b.Step(gmNext), grOK);
  ASSERT_EQ(b.Step(gmNext), grOK);
  ASSERT_EQ(b.FG(), Vin(1));
  // a deletes the record b stands on; b's next step lands on the following record.
  a.cursor.CurrentRecord = a.buffer.data();
  a.cursor.Position = b.cursor.Position;
  a.cursor.AtBOF = a.cursor.AtEOF = false;
  ASSERT_EQ(a.Step(gmCurrent), grOK);
  a.cursor.RemoveRecord();
  ASSERT_EQ(a.cursor.LastResult, 0);
  ASSERT_EQ(b.Step(gmNext), grOK);
  EXPECT_EQ(b.FG(), Vin(2));
  a.Insert(Vin(9), 9);
  EXPECT_EQ(b.cursor.GetRecordCount(), 5);
  b.cursor.SetToEnd();
  ASSERT_EQ(b.Step(gmPrior), grOK);
  EXPECT_EQ(b.FG(), Vin(9));
}

TEST_F(CursorTest, TheRegistrySharesOneDatabasePerFileAndForgetsItWithTheLastSession) {
  const std::size_t before = THDBOpenDatabases::Instance().Count();
  std::string upper = path_;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  // The file system is case-sensitive here: the second name only has to match.
  Connection first(path_);
  THDBLocalSession second;
  second.DatabaseName = "Other";
  second.DatabaseFileName = upper;
  second.SetConnected(true);
  EXPECT_EQ(first.session.Database(), second.Database());
  EXPECT_EQ(THDBOpenDatabases::Instance().Count(), before + 1);
  {
    OpenCursor t(first.session, "FGDAT");
    t.Insert(Vin(1), 1);
    first.session.StartTransaction();
    t.Insert(Vin(2), 2);
    EXPECT_EQ(t.cursor.GetRecordCount(), 2);
  }
  second.SetConnected(false);
  first.session.SetConnected(false);
  EXPECT_EQ(THDBOpenDatabases::Instance().Count(), before) << "the last session took its database with it";
  Connection again(path_);
  OpenCursor t(again.session);
  EXPECT_EQ(t.cursor.GetRecordCount(), 1) << "the open transaction was rolled back";
  EXPECT_EQ(Raised([&] { again.session.CommitTransaction(false); }), 30473);
}

TEST_F(CursorTest, APostOverARecordAnotherProcessChangedIsRefused) {
  hdbtest::TempDir dir;
  const std::string path = dir.File("Multi.hdb");
  Connection::CreateFile(path, true);
  RecordID id;
  {
    Connection c(path, true);
    OpenCursor t(c.session, "FGDAT");
    id = t.Insert(Vin(1), 10, 100);
  }
  Connection c(path, true);
  OpenCursor t(c.session, "FGDAT");
  t.cursor.SetToBegin();
  ASSERT_EQ(t.Step(gmNext), grOK);
  std::vector<std::uint8_t> old = t.buffer;
  t.cursor.OldRecord = old.data();
  // Another process changes the mileage meanwhile.
  hdbtest::ForkedChild other([&](hdbtest::ForkedChild&) {
    Connection oc(path, true);
    OpenCursor ot(oc.session, "FGDAT");
    ot.cursor.SetToBegin();
    if (ot.Step(gmNext) != grOK) return 1;
    std::vector<std::uint8_t> before = ot.buffer;
    ot.cursor.OldRecord = before.data();
    std::int64_t mlg = 200;
    ot.cursor.WriteField(2, ot.buffer.data(), &mlg);
    ot.cursor.WriteRecord(false);
    return ot.cursor.LastResult == 0 ? 0 : 2;
  });
  ASSERT_EQ(other.Wait(), 0);
  std::int64_t mlg = 300;
  t.cursor.WriteField(2, t.buffer.data(), &mlg);
  t.cursor.CurrentRecord = t.buffer.data();
  t.cursor.WriteRecord(false);
  EXPECT_EQ(t.cursor.LastResult, wrModifiedBeforeUpdate);
  std::int64_t kept = 0;
  t.cursor.ReadField(2, t.buffer.data(), &kept);
  EXPECT_EQ(kept, 300) << "the caller's values stay in the buffer";
  EXPECT_EQ(t.cursor.Position, id);
}


TEST(Sessions, TheReservedDatabasesConnectButHaveNoTablesAndNamedObjectsAreReplaced) {
  for (const char* name : {"MEMORY", "TEMP"}) {
    THDBLocalSession session;
    session.DatabaseName = name;
    session.SetConnected(true);
    EXPECT_TRUE(session.IsConnected());
    THDBLocalCursor cursor(session);
    cursor.TableName = "T";
    EXPECT_EQ(Raised([&] { cursor.OpenTable(); }), 30470) << name;
    session.SetConnected(false);
    EXPECT_FALSE(session.IsConnected());
  }
  THDBLocalSession session;
  auto named = [](std::int32_t id, const char* name) {
    auto o = std::make_unique<THDBSessionNamedObject>();
    o->ID = id;
    o->Name = name;
    return o;
  };
  session.RegisterNamedObject(named(-1, "seq"));
  session.RegisterNamedObject(named(-1, "SEQ"));
  session.RegisterNamedObject(named(7, "other"));
  session.RegisterNamedObject(named(7, "again"));
  EXPECT_EQ(session.FindNamedObject("Seq")->Name, "SEQ");
  EXPECT_EQ(session.FindNamedObjectByID(7)->Name, "again");
  session.RemoveNamedObject(7);
  EXPECT_EQ(session.FindNamedObjectByID(7), nullptr);
}

// Pages the free-space map marks used.
int UsedPages(THDBLocalSession& session) {
  THDBDiskPageManager& pages = *session.DatabaseData()->PageManager();
  int used = 0;
  for (std::int32_t p = 0; p < pages.GetPageCount(); ++p) used += pages.FreeSpace()->IsPageUsed(p);
  return used;
}

TEST(CursorBlobs, ValuesWrittenThroughStreamsReadBackAfterAReopenAndClearingFreesTheirPages) {
  hdbtest::TempDir dir;
  const std::string path = dir.File("Docs.hdb");
  {
    THDBLocalSession maker;
    maker.DatabaseName = "Docs";
    maker.DatabaseFileName = path;
    maker.CreateDatabase();
    Connection c(path);
    THDBLocalCursor cursor(c.session);
    cursor.TableName = "Docs";
    THDBFieldDefs fields;
    fields.AddField("ID", dtInteger);
    fields.AddField("DOC", dtBlob);
    fields.RecalcOffsets();
    cursor.CreateTable(fields, THDBIndexDefs(), THDBConstraintDefs());
  }
  std::vector<std::uint8_t> small(10), large(1 << 20);
  for (std::size_t i = 0; i < small.size(); ++i) small[i] = static_cast<std::uint8_t>(i + 1);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
  int usedBefore = 0;
  {
    Connection c(path);
    usedBefore = UsedPages(c.session);
    THDBLocalCursor cursor(c.session);
    cursor.TableName = "Docs";
    cursor.OpenTable();
    std::vector<std::uint8_t> buffer = cursor.AllocRecordBuffer();
    for (std::int32_t id : {1, 2}) {
      cursor.InitRecordBuffer(buffer.data(), true);
      cursor.CurrentRecord = buffer.data();
      cursor.WriteField(0, buffer.data(), &id);
      THDBLocalBLOBStream& stream = cursor.OpenBlob(1, true);
      const auto& bytes = id == 1 ? small : large;
      stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      EXPECT_EQ(Raised([&] { cursor.OpenBlob(1, true); }), 30484);
      cursor.WriteRecord(true);
      ASSERT_EQ(cursor.LastResult, 0) << cursor.LastErrorText;
    }
    EXPECT_GT(UsedPages(c.session), usedBefore + 256);
  }
  Connection c(path);
  THDBLocalCursor cursor(c.session);
  cursor.TableName = "Docs";
  cursor.OpenTable();
  std::vector<std::uint8_t> buffer = cursor.AllocRecordBuffer();
  cursor.CurrentRecord = buffer.data();
  cursor.SetToBegin();
  for (const auto* expected : {&small, &large}) {
    ASSERT_EQ(cursor.GetRecord(gmNext), grOK);
    THDBLocalBLOBStream& stream = cursor.OpenBlob(1, false);
    std::vector<std::uint8_t> read(static_cast<std::size_t>(stream.Size()));
    stream.Read(read.data(), stream.Size());
    EXPECT_TRUE(read == *expected) << "a value of " << expected->size() << " bytes";
    EXPECT_EQ(Raised([&] { stream.Write("x", 1); }), 30485);
    cursor.CloseBlob(1);
    // Cleared: the value goes and so do its pages.
    std::vector<std::uint8_t> old = buffer;
    cursor.OldRecord = old.data();
    cursor.OpenBlob(1, true).SetSize(0);
    cursor.WriteRecord(false);
    ASSERT_EQ(cursor.LastResult, 0) << cursor.LastErrorText;
  }
  EXPECT_EQ(UsedPages(c.session), usedBefore + 1) << "only the record page of the two records is left";
  EXPECT_TRUE(cursor.Table()->CheckTable(cursor.Session).empty());
  EXPECT_TRUE(CheckFreeSpaceMaps(*c.session.DatabaseData()->PageManager()).empty());
}

}  // namespace
}  // namespace hdb

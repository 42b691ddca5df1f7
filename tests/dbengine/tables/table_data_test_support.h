// A database file with the service record table for the tests of the record store and
// the table data object: the file made and attached through the engine, a cursor
// state that writes the way the cursor does (automatic values, constraints, then the
// table), and readers of the table's pages.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/table_lock_type.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/cursor_state.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/disk_table_data.h"
#include "storage_test_util.h"
#include "temp_dir.h"
#include "test_tables.h"

namespace hdb::test {

struct TestCursor : THDBCursorState {
  hdbtest::TestSession* session = nullptr;
  bool InTransaction() const override { return session && session->inTransaction; }
};

// FG char(17), DAT date, MLG largeint, THND word, NHND char(7), SSTAT word; every
// field NOT NULL; the index FGDAT over FG;DAT.
inline void ServiceTableDefs(THDBFieldDefs& fields, THDBIndexDefs& indexes, THDBConstraintDefs& constraints) {
  fields.AddField("FG", dtChar, 17);
  fields.AddField("DAT", dtDate);
  fields.AddField("MLG", dtLargeInt);
  fields.AddField("THND", dtWord);
  fields.AddField("NHND", dtChar, 7);
  fields.AddField("SSTAT", dtWord);
  fields.RecalcOffsets();
  THDBIndexDef& index = indexes.AddNew();
  index.Name = "FGDAT";
  index.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
  for (int i = 0; i < fields.Count(); ++i) {
    auto c = std::make_unique<THDBConstraintDefNotNull>();
    c->FieldRef = {fields[i].Name, -1};
    constraints.Add(std::move(c));
  }
}

struct ServiceRecord {
  std::string fg;
  std::int32_t dat = 0;
  std::int64_t mlg = 0;
  std::uint16_t thnd = 1;
  std::string nhnd = "1234567";
  std::uint16_t sstat = 16513;
};

class ServiceDatabase {
 public:
  // A new file with the table (create), or the existing file at path.
  ServiceDatabase(const std::string& path, bool create, bool multiUser = false) : session_(multiUser), path_(path) {
    if (create) {
      THDBDiskDatabaseData maker(path_);
      maker.MultiUser = multiUser;
      maker.CreateDatabase();
    }
    Attach(multiUser);
    if (create) {
      THDBFieldDefs fields;
      THDBIndexDefs indexes;
      THDBConstraintDefs constraints;
      ServiceTableDefs(fields, indexes, constraints);
      table().CreateTable(cursor, fields, indexes, constraints);
    }
    table().OpenTable(cursor);
  }
  ~ServiceDatabase() {
    try {
      if (table_) table_->CloseTable(cursor);
      table_.reset();
      if (db_ && db_->IsOpen()) db_->Detach(session_);
    } catch (...) {
    }
  }

  THDBDiskTableData& table() { return *table_; }
  THDBDiskDatabaseData& database() { return *db_; }
  THDBDiskPageManager& pages() { return *db_->PageManager(); }
  const std::string& path() const { return path_; }
  hdbtest::TestSession& session() { return session_; }

  std::vector<std::uint8_t> Record(const ServiceRecord& r) {
    THDBBaseFieldManager& f = table_->Fields();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(f.MemoryRecordSize()));
    f.InitRecord(buffer.data(), false);
    f.SetFieldValue(0, r.fg.c_str(), buffer.data());
    f.SetFieldValue(1, &r.dat, buffer.data());
    f.SetFieldValue(2, &r.mlg, buffer.data());
    f.SetFieldValue(3, &r.thnd, buffer.data());
    f.SetFieldValue(4, r.nhnd.c_str(), buffer.data());
    f.SetFieldValue(5, &r.sstat, buffer.data());
    return buffer;
  }
  std::string FG(const std::vector<std::uint8_t>& record) {
    return reinterpret_cast<const char*>(record.data() + table_->Fields().Field(0).MemoryOffset);
  }
  std::int32_t DAT(const std::vector<std::uint8_t>& record) {
    std::int32_t d = 0;
    std::memcpy(&d, record.data() + table_->Fields().Field(1).MemoryOffset, 4);
    return d;
  }

  // The cursor's way of writing: automatic values, constraints, then the table.
  RecordID Insert(const ServiceRecord& r) {
    buffer_ = Record(r);
    return InsertBuffer(buffer_);
  }
  RecordID InsertBuffer(std::vector<std::uint8_t>& buffer) {
    // In multi-user mode a post holds the table's commit lock and works on the state
    // other processes left.
    const bool multi = pages().MultiUser();
    if (multi) EXPECT_TRUE(table_->LockTable(cursor.Session, tlCommit, 2250, 40));
    table_->RefreshForSession(cursor.Session);
    cursor.CurrentRecord = buffer.data();
    table_->AssignAutoincValues(cursor.Session, buffer.data());
    table_->CheckConstraints(cursor.Session, buffer.data(), true, true, {}, true, nullptr);
    EXPECT_TRUE(table_->InsertTableRecord(cursor)) << table_->Records().LastErrorText();
    if (multi) table_->UnlockTable(cursor.Session, tlCommit, true);
    return cursor.Position;
  }
  bool Update(RecordID id, const ServiceRecord& r) {
    std::vector<std::uint8_t> old(static_cast<std::size_t>(table_->Fields().MemoryRecordSize()));
    table_->ReadIndexedRecord(cursor.Session, id, old.data());
    buffer_ = Record(r);
    cursor.Position = id;
    cursor.AtBOF = cursor.AtEOF = false;
    cursor.CurrentRecord = buffer_.data();
    cursor.OldRecord = old.data();
    table_->CheckConstraints(cursor.Session, buffer_.data(), true, true, id, false, old.data());
    return table_->UpdateTableRecord(cursor);
  }
  bool Delete(RecordID id) {
    buffer_.assign(static_cast<std::size_t>(table_->Fields().MemoryRecordSize()), 0);
    cursor.Position = id;
    cursor.AtBOF = cursor.AtEOF = false;
    cursor.CurrentRecord = buffer_.data();
    return table_->DeleteTableRecord(cursor);
  }
  // Every record in the order of the cursor's index (or natural order).
  std::vector<RecordID> Walk(ObjectID index = -1, bool forward = true) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(table_->Fields().MemoryRecordSize()));
    TestCursor walker;
    walker.Session = cursor.Session;
    walker.session = &session_;
    walker.IndexID = index;
    walker.CurrentRecord = buffer.data();
    walker.AtBOF = forward;
    walker.AtEOF = !forward;
    std::vector<RecordID> out;
    while (table_->GetRecord(walker, forward ? 1 : 2) == 0) out.push_back(walker.Position);
    return out;
  }
  ObjectID IndexID(const std::string& name) {
    const THDBIndexDefs& defs = table_->Indexes().Definitions();
    return defs[defs.FindByName(name)].ObjectID;
  }

  TestCursor cursor;

 private:
  void Attach(bool multiUser) {
    db_ = std::make_unique<THDBDiskDatabaseData>(path_);
    db_->MultiUser = multiUser;
    db_->Attach(session_);
    cursor.Session = session_.SessionID();
    cursor.session = &session_;
    cursor.TableName = "dsTable";
    table_ = std::make_unique<THDBDiskTableData>(*db_, "dsTable");
  }

  hdbtest::TestSession session_;
  std::string path_;
  std::unique_ptr<THDBDiskDatabaseData> db_;
  std::unique_ptr<THDBDiskTableData> table_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace hdb::test

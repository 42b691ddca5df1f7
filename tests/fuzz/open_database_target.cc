#include "open_database_target.h"

#include <fstream>
#include <memory>
#include <vector>

#include "dbengine/platform/posix_file.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/session_link.h"
#include "dbengine/storage/table_list_file.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/cursor_state.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"

namespace hdbfuzz {

using namespace hdb;

namespace {

struct Session : THDBSessionLink {
  bool ExclusiveRequested() const override { return false; }
  bool MultiUserRequested() const override { return false; }
  std::int32_t SessionID() const override { return id; }
  void SetSessionID(std::int32_t v) override { id = v; }
  void SetOpenResult(bool, bool) override {}
  bool InTransaction() const override { return false; }
  std::int32_t id = -1;
};

void ReadTable(THDBDiskDatabaseData& db, Session& session, const std::string& name) {
  THDBDiskTableData table(db, name);
  THDBCursorState cursor;
  cursor.Session = session.SessionID();
  cursor.TableName = name;
  table.OpenTable(cursor);
  try {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(table.Fields().MemoryRecordSize()) + 64);
    std::vector<ObjectID> orders{-1};
    const THDBIndexDefs& defs = table.Indexes().Definitions();
    for (int i = 0; i < defs.Count(); ++i) orders.push_back(defs[i].ObjectID);
    for (ObjectID order : orders) {
      for (bool forward : {true, false}) {
        THDBCursorState walker;
        walker.Session = cursor.Session;
        walker.TableName = name;
        walker.IndexID = order;
        walker.CurrentRecord = buffer.data();
        walker.AtBOF = forward;
        walker.AtEOF = !forward;
        while (table.GetRecord(walker, forward ? 1 : 2) == 0) {
        }
      }
    }
    table.GetRecordCount(cursor);
    table.CheckTable(cursor.Session);
  } catch (const EHDBException&) {
    table.CloseTable(cursor);
    throw;
  }
  table.CloseTable(cursor);
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

void OpenDatabaseFromBytes(const std::uint8_t* data, std::size_t size, const std::string& path) {
  WriteBytes(path, data, size);
  platform::RemoveFile(path + "-journal");
  Session session;
  THDBDiskDatabaseData db(path);
  db.FlushCommits = false;
  try {
    db.Attach(session);
  } catch (const EHDBException&) {
    return;
  }
  try {
    CheckFreeSpaceMaps(*db.PageManager());
    std::vector<std::string> names;
    for (const TableListEntry& entry : db.TableList()->Entries()) names.push_back(entry.Name);
    for (const std::string& name : names) {
      try {
        ReadTable(db, session, name);
      } catch (const EHDBException&) {
      }
    }
  } catch (const EHDBException&) {
  }
  try {
    db.Detach(session);
  } catch (const EHDBException&) {
  }
}

namespace {

struct SeedCursor : THDBCursorState {};

void InsertRecords(THDBDiskDatabaseData& db, Session& session, const std::string& name, int count,
                   void (*fill)(const THDBBaseFieldManager&, std::uint8_t*, int)) {
  THDBDiskTableData table(db, name);
  SeedCursor cursor;
  cursor.Session = session.SessionID();
  cursor.TableName = name;
  table.OpenTable(cursor);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(table.Fields().MemoryRecordSize()));
  for (int i = 0; i < count; ++i) {
    table.Fields().InitRecord(buffer.data(), false);
    fill(table.Fields(), buffer.data(), i);
    cursor.CurrentRecord = buffer.data();
    table.AssignAutoincValues(cursor.Session, buffer.data());
    table.CheckConstraints(cursor.Session, buffer.data(), true, true, {}, true, nullptr);
    table.InsertTableRecord(cursor);
  }
  table.CloseTable(cursor);
}

void MakeServiceTable(THDBDiskDatabaseData& db, Session& session) {
  THDBFieldDefs fields;
  fields.AddField("FG", dtChar, 17);
  fields.AddField("DAT", dtDate);
  fields.AddField("MLG", dtLargeInt);
  fields.AddField("THND", dtWord);
  fields.AddField("NHND", dtChar, 7);
  fields.AddField("SSTAT", dtWord);
  fields.RecalcOffsets();
  THDBIndexDefs indexes;
  THDBIndexDef& index = indexes.AddNew();
  index.Name = "FGDAT";
  index.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
  THDBConstraintDefs constraints;
  for (int i = 0; i < fields.Count(); ++i) {
    auto c = std::make_unique<THDBConstraintDefNotNull>();
    c->FieldRef = {fields[i].Name, -1};
    constraints.Add(std::move(c));
  }
  THDBDiskTableData table(db, "dsTable");
  SeedCursor cursor;
  cursor.Session = session.SessionID();
  cursor.TableName = "dsTable";
  table.CreateTable(cursor, fields, indexes, constraints);
  InsertRecords(db, session, "dsTable", 30, [](const THDBBaseFieldManager& f, std::uint8_t* record, int i) {
    const std::string fg = "WBA000000000000" + std::to_string(10 + i % 7);
    const std::int32_t dat = 40000 + i;
    const std::int64_t mlg = 1000 * i;
    const std::uint16_t thnd = 1, sstat = static_cast<std::uint16_t>(16384 + i);
    f.SetFieldValue(0, fg.c_str(), record);
    f.SetFieldValue(1, &dat, record);
    f.SetFieldValue(2, &mlg, record);
    f.SetFieldValue(3, &thnd, record);
    f.SetFieldValue(4, "1234567", record);
    f.SetFieldValue(5, &sstat, record);
  });
}

void MakeNotesTable(THDBDiskDatabaseData& db, Session& session) {
  THDBFieldDefs fields;
  fields.AddField("ID", dtInteger);
  fields.AddField("NAME", dtString, 20);
  fields.AddField("PRICE", dtDouble);
  fields.AddField("NOTE", dtMemo);
  fields.RecalcOffsets();
  THDBIndexDefs indexes;
  THDBIndexDef& byName = indexes.AddNew();
  byName.Name = "BYNAME";
  byName.SetColumns({"NAME"}, {""}, {""});
  THDBIndexDef& byID = indexes.AddNew();
  byID.Name = "BYID";
  byID.SetColumns({"ID", "PRICE"}, {"", ""}, {"", ""});
  THDBConstraintDefs constraints;
  THDBDiskTableData table(db, "Notes");
  SeedCursor cursor;
  cursor.Session = session.SessionID();
  cursor.TableName = "Notes";
  table.CreateTable(cursor, fields, indexes, constraints);
  InsertRecords(db, session, "Notes", 12, [](const THDBBaseFieldManager& f, std::uint8_t* record, int i) {
    const std::int32_t id = 12 - i;
    const std::string name = "part " + std::to_string(i * 7 % 12);
    const double price = 9.5 * i;
    f.SetFieldValue(0, &id, record);
    f.SetFieldValue(1, name.c_str(), record);
    f.SetFieldValue(2, &price, record);
  });
}

}  // namespace

std::vector<std::string> MakeSeedDatabases(const std::string& folder) {
  std::vector<std::string> made;
  for (std::int32_t pageSize : {512, 4096}) {
    for (bool withTables : {false, true}) {
      const std::string path =
          folder + "/seed-" + std::to_string(pageSize) + (withTables ? "-tables" : "-empty") + ".hdb";
      {
        THDBDiskDatabaseData maker(path);
        maker.PageSize = pageSize;
        maker.MaxSessions = 8;
        maker.FlushCommits = false;
        maker.CreateDatabase();
      }
      if (withTables) {
        Session session;
        THDBDiskDatabaseData db(path);
        db.FlushCommits = false;
        db.Attach(session);
        MakeServiceTable(db, session);
        MakeNotesTable(db, session);
        db.Detach(session);
      }
      made.push_back(path);
    }
  }
  return made;
}

}  // namespace hdbfuzz

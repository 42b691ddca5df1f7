// THDBTableData, the one object per open table that every cursor on the table shares:
// its operations in slot order. THDBDiskTableData (disk_table_data.h) is the table of a
// database file; the in-memory and temporary table engines are not built.
//
// Every operation runs under the owning database object's in-process lock.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/storage/record_id.h"
#include "dbengine/tables/engine_ids.h"

namespace hdb {

class THDBCursorState;
class THDBFieldDefs;
class THDBIndexDefs;
class THDBIndexDef;
class THDBConstraintDefs;

struct THDBBufferSizes {
  std::int32_t FirstFieldOffset = 0;
  std::int32_t RecordSize = 0;
};

class THDBTableData {
 public:
  virtual ~THDBTableData() = default;

  // Virtual operations in slot order; slots the cursor layer's own issues add (locate,
  // key search, BLOB streams) follow their numbers there.
  virtual void CreateRecordManager() = 0;                                                     // 0
  virtual void SetFieldDefs(const THDBFieldDefs& defs) = 0;                                   // 1
  virtual void SetIndexDefs(const THDBIndexDefs& defs) = 0;                                   // 2
  virtual void SetConstraintDefs(const THDBConstraintDefs& defs) = 0;                         // 3
  virtual THDBBufferSizes GetBufferSizes(const THDBCursorState& cursor) = 0;                  // 4
  virtual void CommitIfIdle(SessionID session, bool inTransaction) = 0;                       // 5
  virtual void RollbackIfIdle(SessionID session, bool inTransaction) = 0;                     // 6
  virtual void CreateTable(THDBCursorState& cursor, const THDBFieldDefs& fields, const THDBIndexDefs& indexes,
                           const THDBConstraintDefs& constraints) = 0;                        // 7
  virtual void DeleteTable(THDBCursorState& cursor, bool force) = 0;                          // 8
  virtual void EmptyTable(THDBCursorState& cursor) = 0;                                       // 9
  virtual void RenameTable(const std::string& newName, THDBCursorState& cursor) = 0;          // 10
  virtual void OpenTable(THDBCursorState& cursor) = 0;                                        // 11
  virtual void CloseTable(THDBCursorState& cursor) = 0;                                       // 12
  virtual void RenameField(const std::string& oldName, const std::string& newName) = 0;       // 13
  virtual void AddIndex(const THDBIndexDef& def, THDBCursorState& cursor) = 0;                // 14
  virtual void DeleteIndex(ObjectID indexID, THDBCursorState& cursor) = 0;                    // 15
  virtual std::int64_t RecordIDLimit(SessionID session) = 0;                                  // 16
  virtual std::int64_t RecordIDToOrdinal(RecordID id) = 0;                                    // 17
  virtual RecordID OrdinalToRecordID(std::int64_t n) = 0;                                     // 18
  virtual void FreeRecordBlobs(std::uint8_t* record) = 0;                                     // 19
  // One unfiltered step of the cursor (natural order or its index); the result code.
  virtual std::uint8_t GetRecord(THDBCursorState& cursor, std::uint8_t mode) = 0;             // 20
  virtual void ClearBlobFields(SessionID session, const std::uint8_t* record) = 0;            // 25
  virtual bool InsertTableRecord(THDBCursorState& cursor) = 0;                                // 30
  virtual bool DeleteTableRecord(THDBCursorState& cursor) = 0;                                // 31
  virtual bool UpdateTableRecord(THDBCursorState& cursor) = 0;                                // 32
  virtual void SetRecNo(THDBCursorState& cursor, std::int64_t n) = 0;                         // 33
  virtual std::int64_t GetRecNo(THDBCursorState& cursor) = 0;                                 // 34
  virtual void SetNaturalRecNo(THDBCursorState& cursor, std::int64_t n) = 0;                  // 35
  virtual std::int64_t GetNaturalRecNo(THDBCursorState& cursor) = 0;                          // 36
  virtual std::int64_t GetRecordCount(THDBCursorState& cursor) = 0;                           // 37
  virtual std::int64_t LastAutoinc(SessionID session, std::int32_t fieldNo) = 0;              // 38
  virtual void RefreshForSession(SessionID session) = 0;                                      // 39

  const std::string& TableName() const { return tableName_; }
  ObjectID TableID() const { return tableID_; }

 protected:
  std::string tableName_;
  ObjectID tableID_ = -1;
  bool repairOnOpen_ = false;
};

}  // namespace hdb

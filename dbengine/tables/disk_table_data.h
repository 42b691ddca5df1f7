// THDBDiskTableData, the table data object of a table in a database file. It opens and
// closes the table (its definition, state and locks files, the table lock of each
// cursor), creates, empties, renames and deletes tables, and carries out inserts,
// updates and deletes: constraints are the cursor's to check, then the record store,
// every index and the state file change in a fixed order, and the session's pages are
// committed unless it is in a transaction or a batch update.
//
// It owns the field, index, constraint and record managers and the three file objects
// while a cursor has the table open; it refers to the database object, which owns it.
// Every operation takes the database object's in-process lock (re-entrant); structure
// changes also take the database's TablesLock and run as the system session.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/tables/blob_manager.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/constraint_manager.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/hdb_stream.h"
#include "dbengine/tables/index_manager.h"
#include "dbengine/tables/indexed_table.h"
#include "dbengine/tables/record_manager.h"
#include "dbengine/tables/table_data.h"

namespace hdb {

class THDBDiskDatabaseData;
class THDBDiskPageManager;
class THDBTableLocksFile;
class THDBInternalDBTransactedAccessFile;

class THDBDiskTableData final : public THDBTableData, public THDBIndexedTable {
 public:
  THDBDiskTableData(THDBDiskDatabaseData& database, std::string tableName);
  ~THDBDiskTableData() override;

  void CreateRecordManager() override;
  // Each list is copied with fresh ObjectIDs in list order.
  void SetFieldDefs(const THDBFieldDefs& defs) override;
  void SetIndexDefs(const THDBIndexDefs& defs) override;
  void SetConstraintDefs(const THDBConstraintDefs& defs) override;
  THDBBufferSizes GetBufferSizes(const THDBCursorState& cursor) override;
  void CommitIfIdle(SessionID session, bool inTransaction) override;
  void RollbackIfIdle(SessionID session, bool inTransaction) override;
  // A new table of the cursor's name (20128 without fields); the table stays closed.
  void CreateTable(THDBCursorState& cursor, const THDBFieldDefs& fields, const THDBIndexDefs& indexes,
                   const THDBConstraintDefs& constraints) override;
  void DeleteTable(THDBCursorState& cursor, bool force) override;
  void EmptyTable(THDBCursorState& cursor) override;
  void RenameTable(const std::string& newName, THDBCursorState& cursor) override;
  void OpenTable(THDBCursorState& cursor) override;
  void CloseTable(THDBCursorState& cursor) override;
  void RenameField(const std::string& oldName, const std::string& newName) override;
  void AddIndex(const THDBIndexDef& def, THDBCursorState& cursor) override;
  void DeleteIndex(ObjectID indexID, THDBCursorState& cursor) override;
  std::int64_t RecordIDLimit(SessionID session) override;
  std::int64_t RecordIDToOrdinal(RecordID id) override;
  RecordID OrdinalToRecordID(std::int64_t n) override;
  void FreeRecordBlobs(std::uint8_t* record) override;
  std::uint8_t GetRecord(THDBCursorState& cursor, std::uint8_t mode) override;
  void ClearBlobFields(SessionID session, const std::uint8_t* record) override;
  bool InsertTableRecord(THDBCursorState& cursor) override;
  bool DeleteTableRecord(THDBCursorState& cursor) override;
  bool UpdateTableRecord(THDBCursorState& cursor) override;
  void SetRecNo(THDBCursorState& cursor, std::int64_t n) override;
  std::int64_t GetRecNo(THDBCursorState& cursor) override;
  void SetNaturalRecNo(THDBCursorState& cursor, std::int64_t n) override;
  std::int64_t GetNaturalRecNo(THDBCursorState& cursor) override;
  std::int64_t GetRecordCount(THDBCursorState& cursor) override;
  std::int64_t LastAutoinc(SessionID session, std::int32_t fieldNo) override;
  void RefreshForSession(SessionID session) override;

  // Table locks of the cursor's writes (single-user: always granted). A commit releases
  // the write kinds itself; unlocking one it released is harmless with `flag`.
  bool LockTable(SessionID session, std::uint8_t kind, std::int32_t tries, std::uint32_t delayMs);
  bool UnlockTable(SessionID session, std::uint8_t kind, bool flag = false);
  // Record locks of the cursor's edits (single-user: always granted).
  bool LockRecord(SessionID session, RecordID id, std::int32_t tries, std::uint32_t delayMs);
  bool UnlockRecord(SessionID session, RecordID id);
  bool IsRecordLockedByOther(SessionID session, RecordID id);
  // The constraint check of a record about to be stored (the cursor calls it).
  bool CheckConstraints(SessionID session, const std::uint8_t* record, bool checkUniqueness, bool raise, RecordID id,
                        bool isInsert, const std::uint8_t* oldRecord);
  // Automatic values of an insert.
  void AssignAutoincValues(SessionID session, std::uint8_t* record);

  void ReadState(SessionID session);
  void WriteState(SessionID session);
  void ReadDefinitions(SessionID session);
  void WriteDefinitions(SessionID session);

  // Every consistency check there is for the open table, one line per problem: the
  // page index against the record pages and the state file, every index's tree and
  // its entry count against the records.
  std::vector<std::string> CheckTable(SessionID session);
  // Every record in natural order, in memory form.
  void ForEachRecord(SessionID session, const std::function<void(RecordID, const std::uint8_t*)>& visit);
  // Every record that can still be read, page by page, for a repair (the record
  // manager's SalvageRecords); the record pages that cannot be read go to `unreadable`.
  void SalvageRecords(SessionID session, const std::function<void(RecordID, const std::uint8_t*)>& visit,
                      std::vector<std::int32_t>& unreadable);

  bool IsOpen() const { return records_ != nullptr; }
  std::size_t CursorCount() const { return cursors_.size(); }
  THDBBaseFieldManager& Fields() { return *fields_; }
  THDBBaseIndexManager& Indexes() { return *indexes_; }
  THDBConstraintDefs& Constraints() { return *constraintDefs_; }
  THDBDiskRecordManager& Records() { return *records_; }
  // The BLOB store; nullptr for a table without BLOB fields.
  THDBDiskBlobManager* Blobs() { return blobs_.get(); }
  std::int64_t RecordCount() const { return records_ ? records_->RecordCount : 0; }
  std::int32_t ChangeCount() const { return records_ ? records_->ChangeCount : 0; }
  THDBDiskDatabaseData& Database() { return database_; }

  // THDBIndexedTable
  THDBPageManager& IndexPageManager() override;
  const THDBBaseFieldManager& IndexFieldManager() const override { return *fields_; }
  bool ReadIndexedRecord(SessionID session, RecordID id, std::uint8_t* memoryRecord) override;
  void ForEachIndexedRecord(SessionID session,
                            const std::function<void(RecordID, const std::uint8_t*)>& visit) override {
    ForEachRecord(session, visit);
  }

 private:
  // The managers and files of an open table, made by the first cursor and freed after
  // the last one.
  void MakeManagers();
  // The BLOB store of a table with BLOB fields, over the page index with this root.
  void MakeBlobManager(std::int32_t root);
  void FreeAllBlobs(SessionID session);
  void FreeManagers();
  void LoadTable(THDBCursorState& cursor);
  void OpenLocked(THDBCursorState& cursor);
  void LockForCursor(THDBCursorState& cursor);
  bool MultiUser() const;
  // The multi-user bracket of reading operations: the kind-1 table lock, the state
  // file, the cache bookkeeping; a lock that cannot be had raises `failure`.
  void BeginRead(SessionID session, const THDBErrorDef& failure);
  void EndRead(SessionID session);
  class ReadBracket;
  void DerivedConstraints(const THDBIndexDef& def);
  std::int32_t DrawObjectID();
  void CheckRecordBuffer(const std::uint8_t* record, const THDBErrorDef& missing) const;

  THDBDiskDatabaseData& database_;
  THDBDiskPageManager& pages_;
  std::unique_ptr<THDBBaseFieldManager> fields_;
  std::unique_ptr<THDBBaseIndexManager> indexes_;
  std::unique_ptr<THDBConstraintDefs> constraintDefs_;
  std::unique_ptr<THDBBaseConstraintManager> constraints_;
  std::unique_ptr<THDBDiskRecordManager> records_;
  std::unique_ptr<THDBDiskBlobManager> blobs_;
  std::vector<THDBCursorState*> cursors_;
  std::unique_ptr<THDBTableLocksFile> locksFile_;
  std::unique_ptr<THDBInternalDBTransactedAccessFile> definitionFile_;
  std::unique_ptr<THDBInternalDBTransactedAccessFile> stateFile_;
  bool openedExclusively_ = false;
  std::int32_t stateChangeCount_ = -1;
  // WriteState's bytes, kept so that writing the state after every record does not
  // allocate.
  THDBStream stateStream_;
};

}  // namespace hdb

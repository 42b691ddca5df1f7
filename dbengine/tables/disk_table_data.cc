#include "dbengine/tables/disk_table_data.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/internal_file_header.h"
#include "dbengine/storage/table_list_file.h"
#include "dbengine/storage/table_lock_manager.h"
#include "dbengine/storage/table_locks_file.h"
#include "dbengine/storage/transacted_file.h"
#include "dbengine/tables/cursor_state.h"
#include "dbengine/tables/hdb_stream.h"
#include "dbengine/tables/navigation_request.h"
#include "dbengine/tables/table_metadata.h"

namespace hdb {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Holds the database's TablesLock for a structure change. The release of a change
// that went through is reported (20211); on an error path the first error stands.
class TablesLockScope {
 public:
  explicit TablesLockScope(THDBDiskPageManager& pages) : pages_(pages) { pages_.TablesLock(); }
  TablesLockScope(const TablesLockScope&) = delete;
  TablesLockScope& operator=(const TablesLockScope&) = delete;
  ~TablesLockScope() {
    if (!held_) return;
    try {
      pages_.TablesUnlock();
    } catch (const EHDBException&) {
    }
  }
  void Release() {
    held_ = false;
    pages_.TablesUnlock();
  }

 private:
  THDBDiskPageManager& pages_;
  bool held_ = true;
};

// A cursor of the table data object's own, for the operations that open the table
// exclusively for a moment.
THDBCursorState PrivateCursor(const THDBCursorState& of, const std::string& tableName) {
  THDBCursorState own;
  own.Session = of.Session;
  own.TableName = tableName;
  own.Exclusive = true;
  return own;
}

constexpr int DefinitionCompressionLevel = 1;

}  // namespace

THDBDiskTableData::THDBDiskTableData(THDBDiskDatabaseData& database, std::string tableName)
    : database_(database), pages_(*database.PageManager()) {
  tableName_ = std::move(tableName);
}

THDBDiskTableData::~THDBDiskTableData() = default;

THDBPageManager& THDBDiskTableData::IndexPageManager() { return pages_; }

bool THDBDiskTableData::MultiUser() const { return pages_.MultiUser(); }

std::int32_t THDBDiskTableData::DrawObjectID() { return database_.NextObjectID(); }

void THDBDiskTableData::MakeManagers() {
  fields_ = std::make_unique<THDBBaseFieldManager>(nullptr);
  indexes_ = std::make_unique<THDBBaseIndexManager>(*this);
  constraintDefs_ = std::make_unique<THDBConstraintDefs>();
  constraints_ = std::make_unique<THDBBaseConstraintManager>(*fields_, *indexes_);
  constraints_->Definitions = constraintDefs_.get();
  locksFile_ = std::make_unique<THDBTableLocksFile>(pages_);
  definitionFile_ = std::make_unique<THDBInternalDBTransactedAccessFile>(pages_, ptTableMetaData);
  stateFile_ = std::make_unique<THDBInternalDBTransactedAccessFile>(pages_, ptTableMostUpdated);
  records_.reset();
  blobs_.reset();
  stateChangeCount_ = -1;
}

void THDBDiskTableData::MakeBlobManager(std::int32_t root) {
  blobs_.reset();
  if (!fields_->HasBlobFields()) return;
  blobs_ = std::make_unique<THDBDiskBlobManager>(pages_, *fields_, tableID_);
  blobs_->SetPageIndexRoot(root);
}

void THDBDiskTableData::FreeAllBlobs(SessionID session) {
  if (!blobs_) return;
  blobs_->FreeBlobPages(session, [&](const THDBDiskBlobManager::RecordVisitor& visit) {
    records_->ForEachRecord(session, [&](RecordID, const std::uint8_t* record) { visit(record); });
  });
}

void THDBDiskTableData::FreeManagers() {
  blobs_.reset();
  records_.reset();
  constraints_.reset();
  constraintDefs_.reset();
  indexes_.reset();
  fields_.reset();
  locksFile_.reset();
  definitionFile_.reset();
  stateFile_.reset();
  cursors_.clear();
  openedExclusively_ = false;
}

// ---- Definitions and state -----------------------------------------------------------

void THDBDiskTableData::CreateRecordManager() {
  if (fields_->FieldCount() == 0) RaiseHDB(Errors::CreateTableNoFieldsInManager);
  records_ = std::make_unique<THDBDiskRecordManager>(pages_, *fields_, tableID_);
  records_->Init(fields_->MemoryRecordSize(), fields_->DiskRecordSize(), fields_->FieldCount());
}

void THDBDiskTableData::SetFieldDefs(const THDBFieldDefs& defs) {
  fields_->SetFieldDefs(defs);
  for (int i = 0; i < fields_->FieldDefs().Count(); ++i) fields_->FieldDefs()[i].ObjectID = DrawObjectID();
}

void THDBDiskTableData::SetIndexDefs(const THDBIndexDefs& defs) {
  indexes_->Reset();
  THDBIndexDefs& own = indexes_->Definitions();
  own.Clear();
  for (int i = 0; i < defs.Count(); ++i) {
    if (defs[i].IsTemporary) continue;
    auto copy = defs[i].Clone();
    copy->ObjectID = DrawObjectID();
    static_cast<THDBIndexDef&>(*copy).RootPageNo = -1;
    own.Add(std::move(copy));
  }
}

void THDBDiskTableData::SetConstraintDefs(const THDBConstraintDefs& defs) {
  constraintDefs_->Assign(defs);
  for (int i = 0; i < constraintDefs_->Count(); ++i) {
    THDBConstraintDef& c = constraintDefs_->Constraint(i);
    c.ObjectID = DrawObjectID();
    c.TableRef = {tableName_, tableID_};
  }
  // A unique or primary index carries its constraint: without one nothing would refuse
  // its duplicates.
  for (int i = 0; i < indexes_->Count(); ++i) DerivedConstraints(indexes_->Definitions()[i]);
  constraintDefs_->GenerateMissingNames(tableName_);
  constraintDefs_->ResolveReferences(fields_->FieldDefs(), indexes_->Definitions());
}

void THDBDiskTableData::DerivedConstraints(const THDBIndexDef& def) {
  if (!(def.IsUnique || def.IsPrimary) || def.IsTemporary || constraintDefs_->FindByIndex(def.ObjectID) >= 0) return;
  auto c = THDBConstraintDefUnique::FromIndex(def, tableName_);
  c->ObjectID = DrawObjectID();
  c->TableRef.ObjectID = tableID_;
  constraintDefs_->Add(std::move(c));
}

void THDBDiskTableData::WriteDefinitions(SessionID session) {
  TableMetadata meta{&fields_->FieldDefs(), &indexes_->Definitions(), constraintDefs_.get(),
                     records_ ? records_->LoadRoot() : -1, blobs_ ? blobs_->PageIndexRoot() : -1};
  THDBStream stream;
  meta.SaveToStream(stream);
  definitionFile_->WriteFile(session, stream.Bytes().data(), DefinitionCompressionLevel, caZlib,
                             static_cast<std::int32_t>(stream.Size()));
}

void THDBDiskTableData::ReadDefinitions(SessionID session) {
  THDBStream stream(definitionFile_->ReadAll(session, MultiUser()));
  indexes_->Reset();
  TableMetadata meta{&fields_->FieldDefs(), &indexes_->Definitions(), constraintDefs_.get()};
  meta.LoadFromStream(stream);
  fields_->DefinitionsChanged();
  constraintDefs_->ResolveReferences(fields_->FieldDefs(), indexes_->Definitions());
  if (!records_) records_ = std::make_unique<THDBDiskRecordManager>(pages_, *fields_, tableID_);
  records_->SaveRoot(meta.RecordPageIndexRoot);
  MakeBlobManager(meta.BlobPageIndexRoot);
}

void THDBDiskTableData::WriteState(SessionID session) {
  THDBStream& stream = stateStream_;
  stream.Clear();
  fields_->SaveCounters(stream);
  stream.WriteValue<std::int32_t>(records_->ChangeCount);
  stream.WriteValue<std::int32_t>(static_cast<std::int32_t>(records_->RecordCount & 0xFFFFFFFF));
  stateFile_->WriteFile(session, stream.Bytes().data(), 0, caNone, static_cast<std::int32_t>(stream.Size()));
  stateChangeCount_ = records_->ChangeCount;
}

void THDBDiskTableData::ReadState(SessionID session) {
  if (!stateFile_) RaiseHDB(Errors::StateFileNil);
  std::vector<std::uint8_t> bytes = stateFile_->ReadAll(session, MultiUser());
  const std::size_t fieldCount = static_cast<std::size_t>(fields_->FieldCount());
  if (bytes.size() > (8 * fieldCount + 8) * 4) RaiseHDB(Errors::InvalidTableHeader);
  THDBStream stream(std::move(bytes));
  fields_->LoadCounters(stream);
  // One counter per field: a header of another table's shape is damage.
  if (fields_->AutoincCounters().size() != fieldCount) RaiseHDB(Errors::InvalidTableHeader);
  records_->ChangeCount = stream.ReadValue<std::int32_t>();
  records_->RecordCount = static_cast<std::int64_t>(stream.ReadValue<std::uint32_t>());
  stateChangeCount_ = records_->ChangeCount;
  if (MultiUser()) pages_.TablePagesCache().CaptureTableVersion(session, tableID_, records_->ChangeCount);
}

// ---- Commit ---------------------------------------------------------------------------

void THDBDiskTableData::CommitIfIdle(SessionID session, bool inTransaction) {
  if (!inTransaction) database_.Commit(session, false);
}

void THDBDiskTableData::RollbackIfIdle(SessionID session, bool inTransaction) {
  if (!inTransaction) database_.Rollback(session);
}

THDBBufferSizes THDBDiskTableData::GetBufferSizes(const THDBCursorState&) {
  Guard guard(database_.Lock());
  if (!fields_) return {};
  return {fields_->FieldCount() ? fields_->Field(0).MemoryOffset : 0, fields_->MemoryRecordSize()};
}

// ---- Create, open, close ---------------------------------------------------------------

void THDBDiskTableData::CreateTable(THDBCursorState& cursor, const THDBFieldDefs& fields, const THDBIndexDefs& indexes,
                                    const THDBConstraintDefs& constraints) {
  Guard guard(database_.Lock());
  if (fields.Count() == 0) RaiseHDB(Errors::CreateTableNoFields);
  if (IsOpen()) RaiseHDB(Errors::TableAlreadyExists, tableName_);
  tableName_ = cursor.TableName;
  if (database_.TableList()->TryFind(tableName_)) RaiseHDB(Errors::TableAlreadyExists, tableName_);
  tableID_ = DrawObjectID();
  TablesLockScope tablesLock(pages_);
  const SessionID S = SystemSessionID;
  MakeManagers();
  try {
    locksFile_->Create(database_.MaxSessions);
    definitionFile_->Create(S);
    stateFile_->Create(S);
    SetFieldDefs(fields);
    SetIndexDefs(indexes);
    SetConstraintDefs(constraints);
    CreateRecordManager();
    WriteState(S);
    records_->SaveRoot(records_->CreatePageIndex(S));
    MakeBlobManager(-1);
    if (blobs_) blobs_->CreatePageIndexRoot(S);
    for (int i = 0; i < indexes_->Count(); ++i) indexes_->Index(i).Build(S, false);
    WriteDefinitions(S);
    database_.TableList()->Add(tableID_, tableName_, locksFile_->StartPageNo(), stateFile_->StartPageNo(),
                               definitionFile_->StartPageNo());
    database_.Commit(S, false);
  } catch (...) {
    try {
      database_.Rollback(S);
    } catch (const EHDBException&) {
    }
    FreeManagers();
    throw;
  }
  FreeManagers();
  tablesLock.Release();
}

void THDBDiskTableData::LoadTable(THDBCursorState& cursor) {
  const SessionID session = cursor.Session;
  repairOnOpen_ = cursor.Options[1] != 0;
  const TableListEntry entry = database_.TableList()->Find(tableName_);
  tableID_ = entry.TableID;
  MakeManagers();
  try {
    locksFile_->Open(entry.LocksStartPageNo);
    definitionFile_->Open(entry.DefinitionStartPageNo);
    stateFile_->Open(entry.StateStartPageNo);
    ReadDefinitions(session);
    records_->Init(fields_->MemoryRecordSize(), fields_->DiskRecordSize(), fields_->FieldCount());
    const std::int32_t root = records_->LoadRoot();
    records_->SaveRoot(root);
    if (!repairOnOpen_) {
      ReadState(session);
    } else {
      try {
        ReadState(session);
        records_->ValidateCount(session);
      } catch (const EHDBException&) {
        if (records_->DiskRecordSize() >= pages_.PageDataSize())
          RaiseHDB(Errors::CannotRepairLargeTable, "\"" + tableName_ + "\"");
        records_->RebuildPageIndex(session);
        WriteDefinitions(session);
        stateFile_->ReinitializeFirstPage(session);
        WriteState(session);
        database_.Commit(session, false);
      }
    }
  } catch (...) {
    FreeManagers();
    throw;
  }
  openedExclusively_ = cursor.Exclusive;
}

void THDBDiskTableData::LockForCursor(THDBCursorState& cursor) {
  const TableLockType kind = cursor.Exclusive ? tlExclusive : tlShared;
  if (!database_.LockManager()->LockTable(cursor.Session, *locksFile_, kind, false,
                                          THDBDatabaseTableLockManager::OpenLockDelayMs,
                                          THDBDatabaseTableLockManager::OpenLockTries)) {
    if (cursor.Exclusive) RaiseHDB(Errors::TableOpenByAnotherUser, tableName_);
    RaiseHDB(Errors::TableLockedAtOpen, tableName_);
  }
  cursor.HoldsTableLock = true;
}

void THDBDiskTableData::OpenLocked(THDBCursorState& cursor) {
  if (!cursors_.empty() && cursor.Exclusive && !openedExclusively_)
    RaiseHDB(Errors::TableOpenByOtherCursors, tableName_);
  if (cursors_.empty()) LoadTable(cursor);
  cursors_.push_back(&cursor);
  LockForCursor(cursor);
}

void THDBDiskTableData::OpenTable(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  TablesLockScope tablesLock(pages_);
  OpenLocked(cursor);
  tablesLock.Release();
}

void THDBDiskTableData::CloseTable(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  auto it = std::find(cursors_.begin(), cursors_.end(), &cursor);
  if (it == cursors_.end()) return;
  if (cursor.HoldsTableLock) {
    cursor.HoldsTableLock = false;
    database_.LockManager()->UnlockTable(cursor.Session, *locksFile_, cursor.Exclusive ? tlExclusive : tlShared,
                                         false);
  }
  cursors_.erase(it);
  if (cursors_.empty()) FreeManagers();
}

// ---- Structure changes ---------------------------------------------------------------

void THDBDiskTableData::DeleteTable(THDBCursorState& cursor, bool force) {
  Guard guard(database_.Lock());
  if (!cursors_.empty() && !force) RaiseHDB(Errors::DeleteTableOpen, tableName_);
  TablesLockScope tablesLock(pages_);
  const SessionID S = SystemSessionID;
  THDBCursorState own = PrivateCursor(cursor, tableName_);
  own.Session = S;
  std::exception_ptr failure;
  try {
    if (force) {
      for (THDBCursorState* other : std::vector<THDBCursorState*>(cursors_)) CloseTable(*other);
    }
    OpenLocked(own);
    for (int i = 0; i < indexes_->Count(); ++i)
      if (indexes_->Definitions()[i].RootPageNo != -1) indexes_->Index(i).Drop(S);
    if (blobs_) {
      FreeAllBlobs(S);
      blobs_->DropPageIndex(S);
    }
    records_->DropStorage(S);
    locksFile_->Delete();
    definitionFile_->Delete(S);
    stateFile_->Delete(S);
  } catch (...) {
    failure = std::current_exception();
  }
  // The table goes from the list also when a step failed: what is left of it cannot
  // be opened as a table any more.
  own.HoldsTableLock = false;
  cursors_.clear();
  FreeManagers();
  try {
    database_.TableList()->Delete(tableName_);
    database_.Commit(S, false);
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
  tablesLock.Release();
}

void THDBDiskTableData::EmptyTable(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  THDBCursorState own = PrivateCursor(cursor, tableName_);
  {
    TablesLockScope tablesLock(pages_);
    OpenLocked(own);
    tablesLock.Release();
  }
  try {
    const SessionID session = own.Session;
    fields_->InitCounters();
    for (int i = 0; i < indexes_->Count(); ++i) indexes_->Index(i).Clear(session);
    FreeAllBlobs(session);
    records_->EmptyTable(session);
    WriteState(session);
    CommitIfIdle(session, cursor.InTransaction());
  } catch (...) {
    CloseTable(own);
    throw;
  }
  CloseTable(own);
}

void THDBDiskTableData::RenameTable(const std::string& newName, THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  TablesLockScope tablesLock(pages_);
  THDBCursorState own = PrivateCursor(cursor, tableName_);
  OpenLocked(own);
  CloseTable(own);
  database_.TableList()->Rename(tableName_, newName);
  database_.Commit(SystemSessionID, false);
  tableName_ = newName;
  tablesLock.Release();
}

void THDBDiskTableData::RenameField(const std::string& oldName, const std::string& newName) {
  Guard guard(database_.Lock());
  if (!IsOpen()) RaiseHDB(Errors::FieldToRenameNotFound, oldName);
  THDBFieldDefs& defs = fields_->FieldDefs();
  const int f = defs.FindByName(oldName);
  if (f < 0) RaiseHDB(Errors::FieldToRenameNotFound, oldName);
  if (defs.FindByName(newName) >= 0) RaiseHDB(Errors::FieldRenameExists, oldName, newName);
  const std::string previous = defs[f].Name;
  defs[f].Name = newName;
  THDBIndexDefs& indexDefs = indexes_->Definitions();
  for (int i = 0; i < indexDefs.Count(); ++i)
    for (THDBIndexColumn& column : indexDefs[i].Columns)
      if (TableNamesMatch(column.Name, previous)) column.Name = newName;
  indexes_->Reset();
  WriteDefinitions(SystemSessionID);
  database_.Commit(SystemSessionID, false);
}

void THDBDiskTableData::AddIndex(const THDBIndexDef& def, THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  // Indexes of one session live in the temporary page store, which this engine does
  // not have; only stored indexes are made here.
  if (def.IsTemporary) RaiseHDB(Errors::TemporaryIndexNotSupported, def.Name);
  const SessionID session = cursor.Session;
  auto copy = def.Clone();
  copy->ObjectID = DrawObjectID();
  auto& added = static_cast<THDBIndexDef&>(*copy);
  added.RootPageNo = -1;
  indexes_->Definitions().Add(std::move(copy));
  const int at = indexes_->Count() - 1;
  try {
    indexes_->Index(at).Build(session, true);
  } catch (...) {
    indexes_->Remove(at);
    throw;
  }
  DerivedConstraints(added);
  constraintDefs_->ResolveReferences(fields_->FieldDefs(), indexes_->Definitions());
  WriteDefinitions(session);
  CommitIfIdle(session, cursor.InTransaction());
}

void THDBDiskTableData::DeleteIndex(ObjectID indexID, THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  const int at = indexes_->PositionOf(indexID);
  if (at < 0) RaiseHDB(Errors::IndexNotFound);
  const SessionID session = cursor.Session;
  const int constraint = constraintDefs_->FindByIndex(indexID);
  if (constraint >= 0) constraintDefs_->Delete(constraint);
  if (indexes_->Definitions()[at].RootPageNo != -1) indexes_->Index(at).Drop(session);
  indexes_->Remove(at);
  WriteDefinitions(session);
  CommitIfIdle(session, cursor.InTransaction());
}

// ---- Record numbers --------------------------------------------------------------------

std::int64_t THDBDiskTableData::RecordIDLimit(SessionID session) {
  Guard guard(database_.Lock());
  const std::int32_t last = records_->LastPageNo(session);
  return last == -1 ? 1 : (static_cast<std::int64_t>(last) + 1) * records_->RecordsPerPage();
}

std::int64_t THDBDiskTableData::RecordIDToOrdinal(RecordID id) {
  return static_cast<std::int64_t>(id.PageNo) * records_->RecordsPerPage() + id.SlotNo;
}

RecordID THDBDiskTableData::OrdinalToRecordID(std::int64_t n) {
  const std::int32_t perPage = records_->RecordsPerPage();
  return {static_cast<std::int32_t>(n / perPage), static_cast<std::uint16_t>(n % perPage)};
}

// ---- BLOB fields -------------------------------------------------------------------------

void THDBDiskTableData::FreeRecordBlobs(std::uint8_t* record) {
  Guard guard(database_.Lock());
  if (blobs_ && record) blobs_->PrepareBlobFields(record);
}

void THDBDiskTableData::ClearBlobFields(SessionID session, const std::uint8_t* record) {
  Guard guard(database_.Lock());
  if (blobs_ && record) blobs_->ClearBlobFields(session, record);
}

// ---- Reading ---------------------------------------------------------------------------

void THDBDiskTableData::BeginRead(SessionID session, const THDBErrorDef& failure) {
  if (!MultiUser()) return;
  if (!database_.LockManager()->LockTable(session, *locksFile_, tlRead, false,
                                          THDBDatabaseTableLockManager::ReadLockDelayMs,
                                          THDBDatabaseTableLockManager::ReadLockTries))
    RaiseHDB(failure);
  try {
    ReadState(session);
  } catch (...) {
    database_.LockManager()->UnlockTable(session, *locksFile_, tlRead, false);
    throw;
  }
  pages_.TablePagesCache().PushTable(session, tableID_);
}

void THDBDiskTableData::EndRead(SessionID session) {
  if (!MultiUser()) return;
  pages_.TablePagesCache().PopTable(session);
  database_.LockManager()->UnlockTable(session, *locksFile_, tlRead, false);
}

// The multi-user bracket of one reading operation, ended on every path.
class THDBDiskTableData::ReadBracket {
 public:
  ReadBracket(THDBDiskTableData& table, SessionID session, const THDBErrorDef& failure)
      : table_(table), session_(session) {
    table_.BeginRead(session, failure);
  }
  ReadBracket(const ReadBracket&) = delete;
  ReadBracket& operator=(const ReadBracket&) = delete;
  ~ReadBracket() {
    try {
      table_.EndRead(session_);
    } catch (const EHDBException&) {
    }
  }

 private:
  THDBDiskTableData& table_;
  SessionID session_;
};

std::uint8_t THDBDiskTableData::GetRecord(THDBCursorState& cursor, std::uint8_t mode) {
  Guard guard(database_.Lock());
  const SessionID session = cursor.Session;
  // A read lock that cannot be had is a failed step, not an error.
  std::optional<ReadBracket> bracket;
  try {
    bracket.emplace(*this, session, Errors::TableLockedAtRead);
  } catch (const EHDBException& e) {
    if (e.NativeError() == Errors::TableLockedAtRead.Code) return grError;
    throw;
  }
  if (records_->RecordCount == 0) return grEOF;
  THDBNavigationRequest request;
  request.Mode = mode;
  request.IndexNo = cursor.IndexID;
  request.ID = cursor.Position;
  request.Record = cursor.CurrentRecord;
  request.BeforeFirst = cursor.AtBOF;
  request.AfterLast = cursor.AtEOF;
  if (!request.Record) RaiseHDB(Errors::IndexInvalidParams);
  if (mode == gmCurrent || cursor.IndexID == -1) {
    records_->StepRecord(session, request);
  } else {
    THDBBTreeRecordIndex& index = indexes_->ByObjectID(cursor.IndexID);
    const bool fromRecord = !request.BeforeFirst && !request.AfterLast;
    index.IndexStep(session, request, records_->ChangeCount, cursor.PositionCache);
    // The record to step from is gone (another cursor deleted it): go on from where
    // its key would stand.
    if (request.Result == grError && fromRecord) index.IndexStepNear(session, request, records_->ChangeCount,
                                                                     cursor.PositionCache);
  }
  cursor.Position = request.ID;
  cursor.AtBOF = request.BeforeFirst;
  cursor.AtEOF = request.AfterLast;
  return request.Result;
}

bool THDBDiskTableData::ReadIndexedRecord(SessionID session, RecordID id, std::uint8_t* memoryRecord) {
  return records_->ReadRecord(session, id, memoryRecord);
}

void THDBDiskTableData::ForEachRecord(SessionID session,
                                      const std::function<void(RecordID, const std::uint8_t*)>& visit) {
  Guard guard(database_.Lock());
  records_->ForEachRecord(session, visit);
}

void THDBDiskTableData::SalvageRecords(SessionID session,
                                       const std::function<void(RecordID, const std::uint8_t*)>& visit,
                                       std::vector<std::int32_t>& unreadable) {
  Guard guard(database_.Lock());
  records_->SalvageRecords(session, visit, unreadable);
}

std::int64_t THDBDiskTableData::GetRecordCount(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  if (!records_) return 0;
  if (!MultiUser()) return records_->RecordCount;
  const SessionID session = cursor.Session;
  if (!database_.LockManager()->LockTable(session, *locksFile_, tlRead, false,
                                          THDBDatabaseTableLockManager::ReadLockDelayMs,
                                          THDBDatabaseTableLockManager::ReadLockTries))
    RaiseHDB(Errors::TableLockedAtCount);
  std::int64_t count;
  try {
    ReadState(session);
    count = records_->RecordCount;
  } catch (...) {
    database_.LockManager()->UnlockTable(session, *locksFile_, tlRead, false);
    throw;
  }
  database_.LockManager()->UnlockTable(session, *locksFile_, tlRead, false);
  return count;
}

void THDBDiskTableData::SetRecNo(THDBCursorState& cursor, std::int64_t n) {
  Guard guard(database_.Lock());
  const SessionID session = cursor.Session;
  ReadBracket bracket(*this, session, Errors::TableLockedAtSetRecNo);
  const std::int64_t count = records_->RecordCount;
  if (count == 0) return;
  n = std::clamp<std::int64_t>(n, 1, count);
  cursor.AtBOF = cursor.AtEOF = false;
  cursor.Position = cursor.IndexID == -1 ? records_->GetRecordByNumber(session, n)
                                         : indexes_->ByObjectID(cursor.IndexID).RecordAtRank(session, n);
}

std::int64_t THDBDiskTableData::GetRecNo(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  const SessionID session = cursor.Session;
  ReadBracket bracket(*this, session, Errors::TableLockedAtGetRecNo);
  if (cursor.AtBOF || cursor.AtEOF || records_->RecordCount == 0) return -1;
  std::vector<std::uint8_t> stored(static_cast<std::size_t>(fields_->MemoryRecordSize()));
  if (!records_->ReadRecord(session, cursor.Position, stored.data())) return -1;
  if (cursor.IndexID == -1) return records_->GetRecordNumber(session, cursor.Position);
  return indexes_->ByObjectID(cursor.IndexID).RankOf(session, cursor.Position, stored.data());
}

void THDBDiskTableData::SetNaturalRecNo(THDBCursorState& cursor, std::int64_t n) {
  Guard guard(database_.Lock());
  ReadBracket bracket(*this, cursor.Session, Errors::TableLockedAtSetNaturalRecNo);
  cursor.Position = records_->GetRecordByNumber(cursor.Session, n);
  cursor.AtBOF = cursor.AtEOF = false;
}

std::int64_t THDBDiskTableData::GetNaturalRecNo(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  ReadBracket bracket(*this, cursor.Session, Errors::TableLockedAtGetNaturalRecNo);
  return records_->GetRecordNumber(cursor.Session, cursor.Position);
}

std::int64_t THDBDiskTableData::LastAutoinc(SessionID session, std::int32_t fieldNo) {
  Guard guard(database_.Lock());
  return fields_->LastAutoinc(session, fieldNo, true);
}

void THDBDiskTableData::RefreshForSession(SessionID session) {
  Guard guard(database_.Lock());
  if (MultiUser() && records_) ReadState(session);
}

// ---- Writing ---------------------------------------------------------------------------

void THDBDiskTableData::CheckRecordBuffer(const std::uint8_t* record, const THDBErrorDef& missing) const {
  if (!record) RaiseHDB(missing);
}

bool THDBDiskTableData::LockTable(SessionID session, std::uint8_t kind, std::int32_t tries, std::uint32_t delayMs) {
  Guard guard(database_.Lock());
  return database_.LockManager()->LockTable(session, *locksFile_, static_cast<TableLockType>(kind), false, delayMs,
                                            tries);
}

bool THDBDiskTableData::UnlockTable(SessionID session, std::uint8_t kind, bool flag) {
  Guard guard(database_.Lock());
  return database_.LockManager()->UnlockTable(session, *locksFile_, static_cast<TableLockType>(kind), flag);
}

bool THDBDiskTableData::LockRecord(SessionID session, RecordID id, std::int32_t tries, std::uint32_t delayMs) {
  Guard guard(database_.Lock());
  return database_.LockManager()->LockRecord(session, *locksFile_, id, delayMs, tries);
}

bool THDBDiskTableData::UnlockRecord(SessionID session, RecordID id) {
  Guard guard(database_.Lock());
  return database_.LockManager()->UnlockRecord(session, *locksFile_, id);
}

bool THDBDiskTableData::IsRecordLockedByOther(SessionID session, RecordID id) {
  Guard guard(database_.Lock());
  return database_.LockManager()->IsRecordLockedByOther(session, *locksFile_, id);
}

bool THDBDiskTableData::CheckConstraints(SessionID session, const std::uint8_t* record, bool checkUniqueness,
                                         bool raise, RecordID id, bool isInsert, const std::uint8_t* oldRecord) {
  Guard guard(database_.Lock());
  return constraints_->CheckConstraints(session, record, checkUniqueness, raise, id, isInsert, oldRecord,
                                        records_->RecordCount);
}

void THDBDiskTableData::AssignAutoincValues(SessionID session, std::uint8_t* record) {
  Guard guard(database_.Lock());
  fields_->AssignAutoincValues(session, record);
}

bool THDBDiskTableData::InsertTableRecord(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  if (!records_) RaiseHDB(Errors::InsertNoRecordManager);
  CheckRecordBuffer(cursor.CurrentRecord, Errors::InsertNoRecordBuffer);
  const SessionID session = cursor.Session;
  RecordID id;
  if (blobs_) blobs_->WriteBlobFields(session, cursor.CurrentRecord, nullptr);
  if (!records_->AddRecord(session, cursor.CurrentRecord, id)) {
    // BLOB values stored for the record must not reach the file without it.
    if (blobs_ && !cursor.InTransaction() && !cursor.BatchUpdate) {
      database_.Rollback(session);
      ReadState(session);
    }
    return false;
  }
  try {
    for (int i = 0; i < indexes_->Count(); ++i) {
      indexes_->Index(i).AddRecordKey({session, id, cursor.CurrentRecord, nullptr});
      ++indexes_->Definitions()[i].ChangeMark;
    }
    WriteState(session);
    if (!cursor.BatchUpdate) CommitIfIdle(session, cursor.InTransaction());
  } catch (...) {
    // Without a transaction nothing else is pending for the session: the half-made
    // insert goes, and the counters come back from the state file.
    if (!cursor.InTransaction() && !cursor.BatchUpdate) {
      try {
        database_.Rollback(session);
        ReadState(session);
      } catch (const EHDBException&) {
      }
    }
    throw;
  }
  cursor.Position = id;
  cursor.AtBOF = cursor.AtEOF = false;
  cursor.RecordInserted(id);
  return true;
}

bool THDBDiskTableData::UpdateTableRecord(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  if (!records_) RaiseHDB(Errors::UpdateNoRecordManager);
  CheckRecordBuffer(cursor.CurrentRecord, Errors::UpdateNoRecordBuffer);
  const SessionID session = cursor.Session;
  if (MultiUser()) ReadState(session);
  const RecordID id = cursor.Position;
  // The keys to take out are those of the record as it is stored; a slot that holds
  // no record is reported before any index is touched.
  std::vector<std::uint8_t> stored(static_cast<std::size_t>(fields_->MemoryRecordSize()));
  if (!records_->ReadRecord(session, id, stored.data())) return false;
  try {
    for (int i = 0; i < indexes_->Count(); ++i)
      indexes_->Index(i).ChangeRecordKey({session, id, cursor.CurrentRecord, stored.data()}, true);
    if (blobs_) blobs_->WriteBlobFields(session, cursor.CurrentRecord, stored.data());
    if (!records_->ReplaceRecord(session, cursor.CurrentRecord, id)) RaiseHDB(Errors::RecordNotFoundCurrent, id.PageNo, 0);
    for (int i = 0; i < indexes_->Count(); ++i) {
      indexes_->Index(i).ChangeRecordKey({session, id, cursor.CurrentRecord, stored.data()}, false);
      ++indexes_->Definitions()[i].ChangeMark;
    }
    WriteState(session);
    if (!cursor.BatchUpdate) CommitIfIdle(session, cursor.InTransaction());
  } catch (...) {
    if (!cursor.InTransaction() && !cursor.BatchUpdate) {
      try {
        database_.Rollback(session);
        ReadState(session);
      } catch (const EHDBException&) {
      }
    }
    throw;
  }
  cursor.RecordUpdated(id);
  return true;
}

bool THDBDiskTableData::DeleteTableRecord(THDBCursorState& cursor) {
  Guard guard(database_.Lock());
  if (!records_) RaiseHDB(Errors::DeleteNoRecordManager);
  const SessionID session = cursor.Session;
  if (MultiUser()) ReadState(session);
  const RecordID id = cursor.Position;
  std::vector<std::uint8_t> stored(static_cast<std::size_t>(fields_->MemoryRecordSize()));
  if (cursor.AtBOF || cursor.AtEOF || !records_->ReadRecord(session, id, stored.data())) return false;

  // Where the cursor stands afterwards: the following record in its order, else the
  // preceding one, else before the first.
  std::vector<std::uint8_t> look(stored.size());
  std::uint8_t* callerRecord = cursor.CurrentRecord;
  const bool bof = cursor.AtBOF, eof = cursor.AtEOF;
  std::int32_t neighbourFound = 0;
  RecordID neighbour;
  for (std::uint8_t mode : {gmNext, gmPrior}) {
    std::memcpy(look.data(), stored.data(), stored.size());
    cursor.CurrentRecord = look.data();
    cursor.Position = id;
    cursor.AtBOF = bof;
    cursor.AtEOF = eof;
    if (GetRecord(cursor, mode) == grOK) {
      neighbour = cursor.Position;
      neighbourFound = 1;
      break;
    }
  }
  cursor.CurrentRecord = callerRecord;
  cursor.Position = id;
  cursor.AtBOF = bof;
  cursor.AtEOF = eof;

  const std::int32_t changesBefore = records_->ChangeCount;
  try {
    if (blobs_) blobs_->ClearBlobFields(session, stored.data());
    for (int i = 0; i < indexes_->Count(); ++i) {
      indexes_->Index(i).RemoveRecordKey({session, id, stored.data(), nullptr});
      ++indexes_->Definitions()[i].ChangeMark;
    }
    if (!records_->RemoveRecord(session, id)) RaiseHDB(Errors::RecordNotFoundCurrent, id.PageNo, 0);
    WriteState(session);
    if (!cursor.BatchUpdate) CommitIfIdle(session, cursor.InTransaction());
  } catch (...) {
    if (!cursor.InTransaction() && !cursor.BatchUpdate) {
      try {
        database_.Rollback(session);
        ReadState(session);
      } catch (const EHDBException&) {
      }
    }
    throw;
  }
  cursor.RecordDeleted(id, changesBefore, records_->ChangeCount);
  if (!neighbourFound) {
    cursor.AtBOF = true;
    cursor.AtEOF = false;
  } else {
    cursor.AtBOF = cursor.AtEOF = false;
    cursor.Position = neighbour;
  }
  cursor.PositionCache.Invalidate();
  return true;
}

// ---- Checks ----------------------------------------------------------------------------

std::vector<std::string> THDBDiskTableData::CheckTable(SessionID session) {
  Guard guard(database_.Lock());
  std::vector<std::string> problems;
  auto note = [&](const std::string& what, const std::function<void()>& check) {
    try {
      check();
    } catch (const EHDBException& e) {
      problems.push_back(what + ": " + e.what());
    }
  };
  THDBBTreeRecordPageIndex& pageIndex = records_->PageIndex();
  note("record page index", [&] { pageIndex.CheckIntegrity(session); });
  note("record count", [&] { records_->ValidateCount(session); });
  note("record pages", [&] {
    std::vector<std::pair<std::int32_t, std::int32_t>> listed;
    for (bool more = pageIndex.First(session); more; more = pageIndex.Next(session))
      listed.emplace_back(pageIndex.ReadPageNo(session), pageIndex.ReadCount(session));
    for (const auto& [pageNo, count] : listed) {
      THDBPinnedPage page(pages_, pages_.GetPage(session, pageNo, false, AnyPageType));
      if (page->PageType() != ptTableRecord || page->OwnerTableID() != tableID_) {
        problems.push_back(Format("record page %d: not a record page of the table (type %d, owner %d)", pageNo,
                                  page->PageType(), page->OwnerTableID()));
        continue;
      }
      const std::uint8_t* bitmap = page->Buffer() + PageHeaderLayout::Size;
      std::int32_t occupied = 0;
      for (std::int32_t s = 0; s < records_->RecordsPerPage(); ++s) occupied += (bitmap[s >> 3] >> (s & 7)) & 1;
      if (occupied != count)
        problems.push_back(Format("record page %d: %d records, the page index says %d", pageNo, occupied, count));
    }
  });
  for (int i = 0; i < indexes_->Count(); ++i) {
    const std::string name = "index " + indexes_->Definitions()[i].Name;
    THDBBTreeRecordIndex& index = indexes_->Index(i);
    bool sound = true;
    note(name, [&] {
      try {
        index.CheckIntegrity(session);
      } catch (...) {
        sound = false;
        throw;
      }
    });
    if (!sound) continue;
    note(name, [&] {
      const std::int64_t entries = index.EntryCount(session);
      if (entries != records_->RecordCount)
        problems.push_back(Format("%s: %d entries for %d records", name, entries, records_->RecordCount));
      std::int64_t missing = 0;
      THDBKeyPath path;
      records_->ForEachRecord(session, [&](RecordID id, const std::uint8_t* record) {
        if (!index.FindEntry(session, id, path, record)) ++missing;
      });
      if (missing) problems.push_back(Format("%s: %d records have no entry with their key", name, missing));
    });
  }
  return problems;
}

}  // namespace hdb

#include "dbengine/cursor/cursor.h"

#include <cstring>
#include <mutex>

#include "dbengine/cursor/blob_stream.h"
#include "dbengine/cursor/expression.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/cursor/open_databases.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/platform/system_services.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/table_list_file.h"
#include "dbengine/storage/table_lock_type.h"
#include "dbengine/tables/blob_manager.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/navigation_request.h"
#include "dbengine/tables/null_bitmap.h"

namespace hdb {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr std::int32_t EditLockTries = 900;
constexpr std::uint32_t EditLockDelayMs = 100;
constexpr std::int32_t RecordLockTries = 15;
constexpr std::uint32_t RecordLockDelayMs = 100;
constexpr std::int32_t PostLockTries = 2250;
constexpr std::uint32_t PostLockPauseMs = 40;

}  // namespace

const char* WriteResultText(std::int32_t result) {
  switch (result) {
    case wrAddFailed: return "Error adding record";
    case wrUpdateFailed: return "Error updating record";
    case wrDeleteFailed: return "Error deleting record";
    case wrModifiedBeforeUpdate: return "Error updating record - record was modified by another process";
    case wrModifiedBeforeDelete: return "Error deleting record - record was modified by another process";
    case wrDeletedBeforeUpdate: return "Error updating record - record was deleted by another process";
    case wrDeletedBeforeDelete: return "Error deleting record - record was deleted by another process";
    case wrTemporaryUpdate: return "Cannot update record in temporary mode";
    case wrTemporaryDelete: return "Cannot delete record in temporary mode";
    case wrTemporaryCancel: return "Cannot cancel operation in temporary mode";
    case wrRecordLocked: return "Record is locked";
    case wrTableLocked: return "Table is locked";
    default: return "";
  }
}

// ---- THDBCursor helpers ----------------------------------------------------------------

void THDBCursor::SetIndexByName(const std::string& name) {
  IndexName = name;
  const int i = name.empty() ? -1 : IndexDefs.FindByName(name);
  IndexID = i < 0 ? -1 : IndexDefs[i].ObjectID;
  PositionCache.Invalidate();
}

bool THDBCursor::ReadField(std::int32_t fieldNo, const std::uint8_t* buffer, void* value) const {
  if (fieldNo < 0 || fieldNo >= TableFields.Count())
    RaiseHDB(Errors::InvalidFieldNumberGet, fieldNo, TableFields.Count());
  if (NullBitmap::IsNull(buffer, fieldNo)) return false;
  const THDBFieldDef& f = TableFields[fieldNo];
  std::memcpy(value, buffer + f.MemoryOffset, static_cast<std::size_t>(f.MemoryDataSize));
  return true;
}

bool THDBCursor::IsFieldNull(std::int32_t fieldNo, const std::uint8_t* buffer) const {
  if (fieldNo < 0 || fieldNo >= TableFields.Count())
    RaiseHDB(Errors::InvalidFieldNumberGet, fieldNo, TableFields.Count());
  return NullBitmap::IsNull(buffer, fieldNo);
}

void THDBCursor::WriteField(std::int32_t fieldNo, std::uint8_t* buffer, const void* value) const {
  if (fieldNo < 0 || fieldNo >= TableFields.Count())
    RaiseHDB(Errors::InvalidFieldNumberSet, fieldNo, TableFields.Count());
  if (!value) {
    NullBitmap::SetNull(buffer, fieldNo);
    return;
  }
  const THDBFieldDef& f = TableFields[fieldNo];
  std::memcpy(buffer + f.MemoryOffset, value, static_cast<std::size_t>(f.MemoryDataSize));
  NullBitmap::ClearNull(buffer, fieldNo);
}

void THDBCursor::SetRange(const std::uint8_t* start, std::int32_t startCount, bool startExclusive,
                          const std::uint8_t* end, std::int32_t endCount, bool endExclusive) {
  RangeStart = start;
  StartKeyFieldCount = startCount;
  StartExclusive = startExclusive;
  RangeEnd = end;
  EndKeyFieldCount = endCount;
  EndExclusive = endExclusive;
  ClearRecordBitmap();
}

void THDBCursor::CancelRange() { SetRange(nullptr, 0, false, nullptr, 0, false); }

RecordID THDBCursor::BufferRecordID(const std::uint8_t* buffer) const { return LoadRecordID(buffer + RecordIDOffset); }

void THDBCursor::SetBufferRecordID(std::uint8_t* buffer, RecordID id, std::uint8_t flag) const {
  StoreRecordID(buffer + RecordIDOffset, id);
  buffer[RecordIDOffset + RecordIDLayout::Size] = flag;
}

// ---- THDBLocalCursor: opening and structure ----------------------------------------------

THDBLocalCursor::THDBLocalCursor(THDBLocalSession& session) { Session_ = &session; }

THDBLocalCursor::~THDBLocalCursor() {
  try {
    blobStreams_.clear();
    CloseTable();
  } catch (const EHDBException&) {
  }
}

THDBDatabaseEntry& THDBLocalCursor::Entry() const {
  if (!Session_ || !Session_->Database()) RaiseHDB(Errors::CursorNotConnected);
  return *Session_->Database();
}

THDBDiskTableData& THDBLocalCursor::TableOf(const std::string& name) const { return Entry().Table(name); }

bool THDBLocalCursor::MultiUser() const {
  return Session_ && Session_->DatabaseData() && Session_->DatabaseData()->MultiUser;
}

bool THDBLocalCursor::InTransaction() const { return Session_ && Session_->THDBBaseSession::InTransaction; }

void THDBLocalCursor::BeginTableAccess() { Entry().Data()->Lock().lock(); }
void THDBLocalCursor::EndTableAccess() { Entry().Data()->Lock().unlock(); }

void THDBLocalCursor::CreateTable(const THDBFieldDefs& fields, const THDBIndexDefs& indexes,
                                  const THDBConstraintDefs& constraints) {
  THDBDatabaseEntry& entry = Entry();
  Guard guard(entry.Data() ? entry.Data()->Lock() : THDBOpenDatabases::Instance().Lock());
  Session = Session_->SessionID();
  TableOf(TableName).CreateTable(*this, fields, indexes, constraints);
}

void THDBLocalCursor::DeleteTable() {
  THDBDatabaseEntry& entry = Entry();
  Guard guard(entry.Data()->Lock());
  Session = Session_->SessionID();
  if (!Session_->TableExists(TableName)) RaiseHDB(Errors::CursorTableNotFound, TableName);
  TableOf(TableName).DeleteTable(*this, false);
  entry.DropTable(TableName);
}

void THDBLocalCursor::EmptyTable() {
  THDBDatabaseEntry& entry = Entry();
  Guard guard(entry.Data()->Lock());
  Session = Session_->SessionID();
  if (!Session_->TableExists(TableName)) RaiseHDB(Errors::CursorTableNotFound, TableName);
  TableOf(TableName).EmptyTable(*this);
  ClearRecordBitmap();
}

void THDBLocalCursor::RenameTable(const std::string& newName) {
  THDBDatabaseEntry& entry = Entry();
  Guard guard(entry.Data()->Lock());
  Session = Session_->SessionID();
  if (!Session_->TableExists(TableName)) RaiseHDB(Errors::CursorTableNotFound, TableName);
  if (TableNamesMatch(TableName, newName)) RaiseHDB(Errors::RenameTableIntoItself, TableName);
  if (Session_->TableExists(newName)) RaiseHDB(Errors::CursorTableExists, newName);
  TableOf(TableName).RenameTable(newName, *this);
  TableName = newName;
}

void THDBLocalCursor::OpenTable() {
  if (Opened) return;
  THDBDatabaseEntry& entry = Entry();
  if (!entry.IsFile()) RaiseHDB(Errors::TableNotFoundAtOpen, TableName);
  Guard guard(entry.Data()->Lock());
  Session = Session_->SessionID();
  THDBDiskTableData& table = TableOf(TableName);
  try {
    table.OpenTable(*this);
  } catch (...) {
    // A lock failure leaves the cursor registered without its lock: unregister it.
    table.CloseTable(*this);
    entry.DropClosedTables();
    throw;
  }
  table_ = &table;
  entry_ = &entry;
  if (ReadOnly == false && Session_->ReadOnly) ReadOnly = true;
  AtBOF = true;
  AtEOF = false;
  IndexDefs.Assign(table.Indexes().Definitions());
  Opened = true;
  InitFieldDefs();
}

void THDBLocalCursor::InitFieldDefs() {
  if (!table_) return;
  Guard guard(entry_->Data()->Lock());
  TableFields.Assign(table_->Fields().FieldDefs());
  for (int i = 0; i < TableFields.Count(); ++i) TableFields[i].FieldPosition = i;
  const std::int64_t data = table_->Fields().MemoryRecordSize();
  FirstFieldOffset = TableFields.Count() ? static_cast<std::size_t>(TableFields[0].MemoryOffset) : 0;
  if (data < 0 || data > INT32_MAX - 7) RaiseHDB(Errors::RecordTooLarge);
  DataSize = static_cast<std::size_t>(data);
  KeySize = DataSize + RecordIDLayout::Size;
  FullSize = DataSize + RecordIDLayout::Size + 1;
  RecordIDOffset = DataSize;
  ConstraintDefs.Assign(table_->Constraints());
  SearchPlan.Valid = false;
}

void THDBLocalCursor::CloseTable() {
  if (!Opened || !table_) return;
  Guard guard(entry_->Data()->Lock());
  blobStreams_.clear();
  if (holdsRecordLock_) table_->UnlockRecord(Session, lockedRecord_);
  if (holdsEditLock_) table_->UnlockTable(Session, tlRecordEdit, true);
  holdsRecordLock_ = holdsEditLock_ = false;
  table_->CloseTable(*this);
  entry_->DropClosedTables();
  table_ = nullptr;
  Opened = false;
  SearchPlan.Valid = false;
  ClearRecordBitmap();
}

bool THDBLocalCursor::LockTable(std::uint8_t kind, std::int32_t tries, bool flag, std::uint32_t delayMs) {
  if (!table_ || !MultiUser()) return true;
  return table_->LockTable(Session, kind, tries, delayMs);
}

bool THDBLocalCursor::UnlockTable(std::uint8_t kind, bool flag) {
  if (!table_ || !MultiUser()) return true;
  return table_->UnlockTable(Session, kind, flag);
}

void THDBLocalCursor::RenameField(const std::string& oldName, const std::string& newName) {
  if (!table_) RaiseHDB(Errors::FieldToRenameNotFound, oldName);
  table_->RenameField(oldName, newName);
  InitFieldDefs();
  IndexDefs.Assign(table_->Indexes().Definitions());
}

const THDBIndexDefs& THDBLocalCursor::GetIndexDefs() {
  if (table_) {
    Guard guard(entry_->Data()->Lock());
    IndexDefs.Assign(table_->Indexes().Definitions());
  }
  return IndexDefs;
}

void THDBLocalCursor::AddIndex(const THDBIndexDef& def) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  Guard guard(entry_->Data()->Lock());
  if (table_->Indexes().Definitions().FindByName(def.Name) >= 0) RaiseHDB(Errors::CursorIndexExists, def.Name);
  table_->AddIndex(def, *this);
  GetIndexDefs();
  SetIndexByName(IndexName);
}

void THDBLocalCursor::DeleteIndex(const std::string& name) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  Guard guard(entry_->Data()->Lock());
  const THDBIndexDefs& defs = table_->Indexes().Definitions();
  const int i = defs.FindByName(name);
  if (i < 0) RaiseHDB(Errors::CursorIndexNotFound, name);
  table_->DeleteIndex(defs[i].ObjectID, *this);
  GetIndexDefs();
  SetIndexByName(IndexName);
}

void THDBLocalCursor::DeleteAllIndexes() {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  Guard guard(entry_->Data()->Lock());
  while (table_->Indexes().Count() > 0) table_->DeleteIndex(table_->Indexes().Definitions()[0].ObjectID, *this);
  GetIndexDefs();
  SetIndexByName("");
}

std::string THDBLocalCursor::CreateIndexForFields(const THDBStringList& fields, const THDBStringList& orders,
                                                  const THDBStringList& cases) {
  const THDBIndexDefs& defs = GetIndexDefs();
  const ObjectID id = defs.FindIndexForFields(fields, orders, cases, TableFields, Session);
  if (id != -1) return defs[defs.FindByObjectID(id)].Name;
  // A new index would be a temporary index of this session, which needs the
  // temporary page store.
  RaiseHDB(Errors::TemporaryIndexNotSupported, defs.NewTemporaryIndexName());
}

bool THDBLocalCursor::FindIndexForFields(const THDBStringList& fields, const THDBStringList& orders,
                                         const THDBStringList& cases) {
  const THDBIndexDefs& defs = GetIndexDefs();
  return defs.FindIndexForFields(fields, orders, cases, TableFields, Session) != -1;
}

void THDBLocalCursor::CopyFieldValue(std::int32_t fieldNo, bool, THDBCursor& source, std::int32_t sourceFieldNo) {
  if (!CurrentRecord || !source.CurrentRecord) RaiseHDB(Errors::CursorNilPointer);
  std::vector<std::uint8_t> value(static_cast<std::size_t>(
      std::max(1, source.TableFields[sourceFieldNo].MemoryDataSize)));
  if (sourceFieldNo < 0 || sourceFieldNo >= source.TableFields.Count())
    RaiseHDB(Errors::InvalidFieldNumberGet, sourceFieldNo, source.TableFields.Count());
  const bool present = source.ReadField(sourceFieldNo, source.CurrentRecord, value.data());
  if (fieldNo < 0 || fieldNo >= TableFields.Count()) RaiseHDB(Errors::InvalidFieldNumberSet, fieldNo, TableFields.Count());
  if (present && TableFields[fieldNo].MemoryDataSize > static_cast<std::int32_t>(value.size()))
    value.resize(static_cast<std::size_t>(TableFields[fieldNo].MemoryDataSize), 0);
  WriteField(fieldNo, CurrentRecord, present ? value.data() : nullptr);
}

void THDBLocalCursor::InitRecordBuffer(std::uint8_t* buffer, bool applyDefaults) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  Guard guard(entry_->Data()->Lock());
  std::memset(buffer, 0, FullSize);
  table_->Fields().InitRecord(buffer, applyDefaults && !IsTemporary);
}

void THDBLocalCursor::FreeRecordBuffer(std::uint8_t* buffer) {
  if (table_ && buffer) table_->FreeRecordBlobs(buffer);
}

// ---- Navigation --------------------------------------------------------------------------

int THDBLocalCursor::CompareWithBound(const std::uint8_t* record, const std::uint8_t* bound, std::int32_t count) {
  THDBBTreeRecordIndex& index = table_->Indexes().ByObjectID(IndexID);
  return index.CompareRecordKeys(record, bound, count);
}

bool THDBLocalCursor::PassesFilter(const std::uint8_t* record) {
  if (IndexID != -1 && RangeStart) {
    const int r = CompareWithBound(record, RangeStart, StartKeyFieldCount);
    if (StartExclusive ? r <= 0 : r < 0) return false;
  }
  if (IndexID != -1 && RangeEnd) {
    const int r = CompareWithBound(record, RangeEnd, EndKeyFieldCount);
    if (EndExclusive ? r >= 0 : r > 0) return false;
  }
  if (FilterExpression && !FilterExpression->Passes(record)) return false;
  if (OnFilterRecord) {
    std::vector<std::uint8_t> copy(FullSize, 0);
    std::memcpy(copy.data(), record, DataSize);
    SetBufferRecordID(copy.data(), Position, BookmarkCurrent);
    if (!OnFilterRecord(copy.data())) return false;
  }
  return true;
}

bool THDBLocalCursor::Search(const THDBSearchRequest& request) {
  THDBTableSearch search(*this);
  const bool found = search.Run(request);
  LastSearch = search.Report();
  return found;
}

THDBRecordBitmap& THDBLocalCursor::Bitmap() {
  if (!RecordBitmap.Valid || RecordBitmap.IsStale(table_->ChangeCount())) {
    // Built from the beginning with a buffer of the search's own; the cursor stays put.
    const THDBSavedCursorState saved = SaveState();
    THDBSearchRequest request;
    request.CollectAll = true;
    request.Bitmap = &RecordBitmap;
    request.Forward = true;
    request.FromTheEnd = true;
    AtBOF = true;
    AtEOF = false;
    if (table_->GetRecordCount(*this) == 0) {
      RecordBitmap.Reset(table_->ChangeCount(), IndexID != -1, 1);
      RecordBitmap.Valid = true;
    } else {
      try {
        Search(request);
      } catch (...) {
        RestoreState(saved);
        throw;
      }
    }
    RestoreState(saved);
  }
  return RecordBitmap;
}

std::uint8_t THDBLocalCursor::GetRecord(std::uint8_t mode) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  Guard guard(entry_->Data()->Lock());
  if (!CurrentRecord) RaiseHDB(Errors::CursorNilPointer);
  const bool filtered = IsFiltered();
  // Single-user, the table's own step answers an empty table the same way (the end,
  // nothing moved); with other processes the count is what reads their changes.
  if ((filtered || MultiUser()) && table_->GetRecordCount(*this) == 0) return grEOF;
  std::uint8_t result;
  if (!filtered || mode == gmCurrent) {
    result = table_->GetRecord(*this, mode);
    if (result == grOK && IsFiltered() && !PassesFilter(CurrentRecord)) result = grError;
  } else {
    THDBSearchRequest request;
    RecordID found;
    request.Forward = mode == gmNext;
    request.FromTheEnd = AtBOF || AtEOF;
    request.OutPosition = &found;
    request.Bitmap = RecordBitmap.Valid && !RecordBitmap.IsStale(table_->ChangeCount()) ? &RecordBitmap : nullptr;
    if (!request.Bitmap && request.FromTheEnd) request.FillBitmap = &RecordBitmap;
    if (!Search(request)) {
      // Past the last (or before the first) passing record: the cursor stands at that end.
      if (mode == gmNext) {
        AtEOF = true;
        AtBOF = false;
        return grEOF;
      }
      AtBOF = true;
      AtEOF = false;
      return grBOF;
    }
    Position = found;
    AtBOF = AtEOF = false;
    result = table_->GetRecord(*this, gmCurrent);
  }
  if (result == grOK) SetBufferRecordID(CurrentRecord, Position, BookmarkCurrent);
  return result;
}

std::int64_t THDBLocalCursor::GetRecordCount() {
  if (!table_) return 0;
  Guard guard(entry_->Data()->Lock());
  if (!IsFiltered()) return table_->GetRecordCount(*this);
  return Bitmap().Bits.Count();
}

void THDBLocalCursor::SetRecNo(std::int64_t n) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  Guard guard(entry_->Data()->Lock());
  if (!IsFiltered()) {
    table_->SetRecNo(*this, n);
    return;
  }
  THDBRecordBitmap& bitmap = Bitmap();
  const std::int64_t count = bitmap.Bits.Count();
  if (count == 0) return;
  const std::int64_t bit = bitmap.Bits.Select(std::clamp<std::int64_t>(n, 1, count));
  AtBOF = AtEOF = false;
  Position = bitmap.IndexNumbered ? table_->Indexes().ByObjectID(IndexID).RecordAtRank(Session, bit + 1)
                                  : table_->OrdinalToRecordID(bit);
}

std::int64_t THDBLocalCursor::GetRecNo() {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  Guard guard(entry_->Data()->Lock());
  if (AtBOF || AtEOF) return -1;
  if (!IsFiltered()) return table_->GetRecNo(*this);
  THDBRecordBitmap& bitmap = Bitmap();
  std::vector<std::uint8_t> stored(DataSize);
  if (!table_->ReadIndexedRecord(Session, Position, stored.data())) return -1;
  const std::int64_t bit = bitmap.IndexNumbered
                               ? table_->Indexes().ByObjectID(IndexID).RankOf(Session, Position, stored.data()) - 1
                               : table_->RecordIDToOrdinal(Position);
  if (bit < 0 || bit >= bitmap.Bits.Size() || !bitmap.Bits.Get(bit)) return -1;
  return bitmap.Bits.Rank(bit);
}

bool THDBLocalCursor::GotoKeyRecord(std::uint8_t conditionType) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  Guard guard(entry_->Data()->Lock());
  if (IndexID == -1) RaiseHDB(Errors::NoActiveIndexForKeySearch);
  if (!KeyBuffer) RaiseHDB(Errors::CursorNilPointer);
  THDBBTreeRecordIndex& index = table_->Indexes().ByObjectID(IndexID);
  THDBScanSearchCondition condition;
  condition.Type = conditionType;
  condition.KeyBuffer.assign(KeyBuffer, KeyBuffer + KeySize);
  condition.KeyFieldCount = KeyFieldCount > 0 ? KeyFieldCount : index.KeyRef().ColumnCount();
  condition.IndexNo = IndexID;
  const THDBSavedCursorState saved = SaveState();
  THDBSearchRequest request;
  RecordID found;
  request.KeyCondition = &condition;
  request.Forward = true;
  request.FromTheEnd = true;
  request.OutPosition = &found;
  AtBOF = true;
  AtEOF = false;
  bool ok;
  try {
    ok = Search(request);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  if (!ok) {
    RestoreState(saved);
    return false;
  }
  Position = found;
  AtBOF = AtEOF = false;
  return true;
}

void THDBLocalCursor::SetFilterExpression(std::unique_ptr<THDBSearchExpression> expression) {
  FilterExpression = std::move(expression);
  ++FilterGeneration;
  SearchPlan.Valid = false;
  ClearRecordBitmap();
}

void THDBLocalCursor::ClearFilter() { SetFilterExpression(nullptr); }

void THDBLocalCursor::SetFilterText(const std::string& text, bool caseInsensitive, bool partialCompare) {
  // The old filter is gone before the text is read: a text that does not parse leaves
  // the cursor unfiltered.
  SetFilterExpression(nullptr);
  auto expression = std::make_unique<THDBExpression>(this);
  expression->CaseInsensitive = caseInsensitive;
  expression->PartialCompare = partialCompare;
  expression->ParseFilter(text);
  SetFilterExpression(std::move(expression));
}

namespace {

// A locate value as a constant; a number for a date or time field is a date-time.
std::unique_ptr<THDBExprNodeConst> LocateValue(const THDBExprNodeField& field, const THDBVariant& value) {
  auto c = std::make_unique<THDBExprNodeConst>();
  c->Value.AssignVariant(value);
  if (!value.IsNull() && field.BaseType >= btDate && field.BaseType <= btDateTime &&
      IsNumericBaseType(value.ValueType())) {
    THDBValueBuffer stamp;
    ConvertValue(c->Value.Data(), c->Value.Type(), btDateTime, stamp);
    c->Value.SetFixed(btDateTime, stamp.Data(), stamp.Size());
  }
  return c;
}

}  // namespace

bool THDBLocalCursor::LocateRecord(const std::string& fieldNames, const std::vector<THDBVariant>& values,
                                   bool partialCompare, bool caseInsensitive) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  std::vector<std::string> names;
  for (std::size_t from = 0; from <= fieldNames.size();) {
    std::size_t to = fieldNames.find(';', from);
    if (to == std::string::npos) to = fieldNames.size();
    std::string name = fieldNames.substr(from, to - from);
    const std::size_t b = name.find_first_not_of(' '), e = name.find_last_not_of(' ');
    name = b == std::string::npos ? std::string() : name.substr(b, e - b + 1);
    if (!name.empty()) names.push_back(platform::AnsiUpperCase(name));
    from = to + 1;
  }
  if (names.size() != values.size()) RaiseHDB(Errors::LocateCountMismatch, names.size(), values.size());
  auto expression = std::make_unique<THDBExpression>(this);
  expression->CaseInsensitive = caseInsensitive;
  expression->NullAwareCompare = false;
  std::vector<std::unique_ptr<THDBExprNode>> comparisons;
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto field = expression->NewField(names[i]);
    auto value = LocateValue(*field, values[i]);
    const bool text = value->Value.IsText() && !value->Value.IsNull();
    auto comparison = expression->MakeComparison(opEqual, std::move(field), std::move(value), false);
    if (partialCompare && text && comparison->Kind() == THDBExprNodeKind::Comparison) {
      comparison->PartialCompare = true;
      static_cast<THDBExprNodeComparison&>(*comparison).PartialSide = 1;
    }
    comparisons.push_back(std::move(comparison));
  }
  if (comparisons.size() == 1) {
    expression->SetRoot(std::move(comparisons[0]));
  } else {
    auto all = std::make_unique<THDBExprNodeBoolean>(opAnd);
    for (auto& c : comparisons) all->AddChild(std::move(c));
    expression->SetRoot(std::move(all));
  }
  return Locate(*expression);
}

bool THDBLocalCursor::LocateByValue(const std::string& fieldName, std::uint8_t op, const THDBVariant& value) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  if (op < opEqual || op > opLessOrEqual) RaiseHDB(Errors::UnknownOperator, OperatorText(op));
  auto expression = std::make_unique<THDBExpression>(this);
  expression->NullAwareCompare = false;
  auto field = expression->NewField(platform::AnsiUpperCase(fieldName));
  auto constant = LocateValue(*field, value);
  expression->SetRoot(expression->MakeComparison(op, std::move(field), std::move(constant), false));
  return Locate(*expression);
}

bool THDBLocalCursor::Locate(THDBSearchExpression& expression) {
  Guard guard(entry_->Data()->Lock());
  if (!CurrentRecord) RaiseHDB(Errors::CursorNilPointer);
  const THDBSavedCursorState saved = SaveState();
  THDBSearchRequest request;
  RecordID found;
  request.Extra = &expression;
  request.Forward = true;
  request.FromTheEnd = true;
  request.OutPosition = &found;
  AtBOF = true;
  AtEOF = false;
  bool ok;
  try {
    ok = Search(request);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  if (!ok) {
    RestoreState(saved);
    return false;
  }
  Position = found;
  AtBOF = AtEOF = false;
  if (table_->GetRecord(*this, gmCurrent) == grOK) SetBufferRecordID(CurrentRecord, Position, BookmarkCurrent);
  return true;
}

void THDBLocalCursor::ReadBlobField(std::int32_t fieldNo, const std::uint8_t* record, std::vector<std::uint8_t>& out) {
  if (!table_ || !table_->Blobs() || !record) RaiseHDB(Errors::CursorNilPointer);
  if (fieldNo < 0 || fieldNo >= TableFields.Count()) RaiseHDB(Errors::InvalidFieldNumberGet, fieldNo, TableFields.Count());
  out.clear();
  if (NullBitmap::IsNull(record, fieldNo)) return;
  const std::uint8_t* slot = record + TableFields[fieldNo].MemoryOffset;
  THDBDiskBlobManager* blobs = table_->Blobs();
  if (const std::uint32_t handle = BlobSlotLayout::Handle::Get(slot)) out = blobs->Value(handle);
  else out = blobs->ReadBlob(Session, LoadBlobRef(slot));
}

void THDBLocalCursor::RecordInserted(RecordID id) {
  if (!RecordBitmap.Valid) return;
  if (RecordBitmap.IndexNumbered || RecordBitmap.ChangeStamp != table_->ChangeCount() - 1 || !CurrentRecord) {
    RecordBitmap.Invalidate();
    return;
  }
  const std::int64_t bit = table_->RecordIDToOrdinal(id);
  if (bit >= RecordBitmap.Bits.Size()) RecordBitmap.Bits.Resize(bit + 1);
  RecordBitmap.Bits.Set(bit, PassesFilter(CurrentRecord));
  RecordBitmap.ChangeStamp = table_->ChangeCount();
}

void THDBLocalCursor::RecordDeleted(RecordID id, std::int32_t before, std::int32_t after) {
  if (!RecordBitmap.Valid) return;
  if (RecordBitmap.IndexNumbered) {
    RecordBitmap.Invalidate();
    return;
  }
  const std::int64_t bit = table_->RecordIDToOrdinal(id);
  if (bit < RecordBitmap.Bits.Size()) RecordBitmap.Bits.Set(bit, false);
  if (RecordBitmap.ChangeStamp == before) RecordBitmap.ChangeStamp = after;
}

int THDBLocalCursor::CompareBookmarks(RecordID a, RecordID b) {
  if (IndexID != -1 && table_) {
    Guard guard(entry_->Data()->Lock());
    std::vector<std::uint8_t> ra(DataSize), rb(DataSize);
    if (!table_->ReadIndexedRecord(Session, a, ra.data())) return -1;
    if (!table_->ReadIndexedRecord(Session, b, rb.data())) return 1;
    THDBBTreeRecordIndex& index = table_->Indexes().ByObjectID(IndexID);
    const int r = index.CompareRecordKeys(ra.data(), rb.data(), index.KeyRef().ColumnCount());
    if (r != 0) return r;
  }
  if (a.PageNo != b.PageNo) return a.PageNo < b.PageNo ? -1 : 1;
  if (a.SlotNo != b.SlotNo) return a.SlotNo < b.SlotNo ? -1 : 1;
  return 0;
}

void THDBLocalCursor::SetToBegin() {
  AtBOF = true;
  AtEOF = false;
}

void THDBLocalCursor::SetToEnd() {
  AtBOF = false;
  AtEOF = true;
}

// ---- Writes ---------------------------------------------------------------------------

bool THDBLocalCursor::LockForWrite(std::int32_t tries, std::uint32_t pauseMs, bool leaveDatabaseLock) {
  const std::uint8_t kind = InTransaction() ? tlModified : tlCommit;
  std::recursive_mutex& lock = entry_->Data()->Lock();
  for (std::int32_t i = 0; i < tries; ++i) {
    {
      Guard guard(lock);
      if (table_->LockTable(Session, kind, 1, 0)) return true;
    }
    if (i + 1 < tries) {
      // The pause is taken outside the database lock so that other threads of the
      // process can finish what blocks this one.
      if (leaveDatabaseLock) {
        platform::SleepMs(pauseMs);
      } else {
        Guard guard(lock);
        platform::SleepMs(pauseMs);
      }
    }
  }
  return false;
}

void THDBLocalCursor::ReleaseWriteLock() {
  if (!InTransaction()) table_->UnlockTable(Session, tlCommit, true);
}

void THDBLocalCursor::EditRecord() {
  LastResult = wrOK;
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  if (IsTemporary) {
    LastResult = wrTemporaryUpdate;
    return;
  }
  if (!MultiUser()) return;
  Guard guard(entry_->Data()->Lock());
  const std::uint8_t kind = InTransaction() ? tlModified : tlRecordEdit;
  if (!table_->LockTable(Session, kind, EditLockTries, EditLockDelayMs)) {
    LastResult = wrTableLocked;
    return;
  }
  holdsEditLock_ = kind == tlRecordEdit;
  if (!table_->LockRecord(Session, Position, RecordLockTries, RecordLockDelayMs)) {
    if (holdsEditLock_) table_->UnlockTable(Session, tlRecordEdit, true);
    holdsEditLock_ = false;
    LastResult = wrRecordLocked;
    return;
  }
  holdsRecordLock_ = true;
  lockedRecord_ = Position;
  // The record as this process last read it must still be what is stored.
  std::vector<std::uint8_t> copy(CurrentRecord, CurrentRecord + FullSize);
  if (table_->GetRecord(*this, gmCurrent) != grOK) {
    LastResult = wrDeletedBeforeUpdate;
  } else if (!table_->Fields().RecordsEqual(copy.data(), CurrentRecord)) {
    LastResult = wrModifiedBeforeUpdate;
  }
  if (LastResult != wrOK) {
    std::memcpy(CurrentRecord, copy.data(), FullSize);
    table_->UnlockRecord(Session, lockedRecord_);
    if (holdsEditLock_) table_->UnlockTable(Session, tlRecordEdit, true);
    holdsRecordLock_ = holdsEditLock_ = false;
  }
}

void THDBLocalCursor::DiscardRecord(bool isInsert) {
  LastResult = wrOK;
  if (!table_) return;
  Guard guard(entry_->Data()->Lock());
  FreeBlobs(true);
  if (CurrentRecord) {
    table_->FreeRecordBlobs(CurrentRecord);
    if (isInsert) table_->ClearBlobFields(Session, CurrentRecord);
  }
  if (!isInsert && MultiUser()) {
    if (holdsRecordLock_) table_->UnlockRecord(Session, lockedRecord_);
    if (holdsEditLock_ && !InTransaction()) table_->UnlockTable(Session, tlRecordEdit, true);
    holdsRecordLock_ = holdsEditLock_ = false;
  }
}

void THDBLocalCursor::WriteRecord(bool isInsert) {
  LastResult = wrOK;
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  if (!CurrentRecord) RaiseHDB(Errors::CursorNilPointer);
  const bool multi = MultiUser();
  if (multi && !LockForWrite(PostLockTries, PostLockPauseMs, true)) {
    LastResult = wrTableLocked;
    return;
  }
  Guard guard(entry_->Data()->Lock());
  auto releaseLocks = [&] {
    if (!multi) return;
    if (!isInsert && LastResult != wrErrorText) {
      if (holdsRecordLock_) table_->UnlockRecord(Session, lockedRecord_);
      if (holdsEditLock_) table_->UnlockTable(Session, tlRecordEdit, true);
      holdsRecordLock_ = holdsEditLock_ = false;
    }
    ReleaseWriteLock();
  };
  try {
    CloseWritingBlobs();
    if (isInsert) {
      table_->RefreshForSession(Session);
      table_->AssignAutoincValues(Session, CurrentRecord);
    }
    if (!IsTemporary) {
      const RecordID self = isInsert ? RecordID{} : BufferRecordID(CurrentRecord);
      table_->CheckConstraints(Session, CurrentRecord, true, true, self, isInsert, OldRecord);
    }
  } catch (const EHDBException& e) {
    LastResult = wrErrorText;
    LastErrorText = e.what();
    if (multi) ReleaseWriteLock();
    return;
  }
  try {
    if (isInsert) {
      if (table_->InsertTableRecord(*this)) {
        SetBufferRecordID(CurrentRecord, Position, BookmarkInserted);
      } else {
        LastResult = wrAddFailed;
        LastErrorText = table_->Records().LastErrorText();
      }
    } else {
      Position = BufferRecordID(CurrentRecord);
      std::vector<std::uint8_t> values(CurrentRecord, CurrentRecord + FullSize);
      if (table_->GetRecord(*this, gmCurrent) != grOK) {
        LastResult = wrDeletedBeforeUpdate;
      } else if (OldRecord && !table_->Fields().RecordsEqual(CurrentRecord, OldRecord)) {
        LastResult = wrModifiedBeforeUpdate;
      }
      std::memcpy(CurrentRecord, values.data(), FullSize);
      if (LastResult == wrOK && !table_->UpdateTableRecord(*this)) LastResult = wrUpdateFailed;
    }
  } catch (const EHDBException& e) {
    LastResult = wrErrorText;
    LastErrorText = e.what();
  }
  releaseLocks();
}

void THDBLocalCursor::RemoveRecord() {
  LastResult = wrOK;
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  if (!CurrentRecord) RaiseHDB(Errors::CursorNilPointer);
  const bool multi = MultiUser();
  Guard guard(entry_->Data()->Lock());
  bool recordLocked = false;
  if (multi) {
    if (!LockForWrite(EditLockTries, EditLockDelayMs, false)) {
      LastResult = wrTableLocked;
      return;
    }
    if (!table_->LockRecord(Session, BufferRecordID(CurrentRecord), RecordLockTries, RecordLockDelayMs)) {
      ReleaseWriteLock();
      LastResult = wrRecordLocked;
      return;
    }
    recordLocked = true;
  }
  if (IsTemporary) {
    LastResult = wrTemporaryDelete;
  } else {
    Position = BufferRecordID(CurrentRecord);
    AtBOF = AtEOF = false;
    std::vector<std::uint8_t> caller(CurrentRecord, CurrentRecord + FullSize);
    try {
      if (table_->GetRecord(*this, gmCurrent) != grOK) {
        LastResult = wrDeletedBeforeDelete;
      } else if (std::memcmp(CurrentRecord, caller.data(), DataSize) != 0) {
        LastResult = wrModifiedBeforeDelete;
      }
      std::memcpy(CurrentRecord, caller.data(), FullSize);
      if (LastResult == wrOK && !table_->DeleteTableRecord(*this)) LastResult = wrDeleteFailed;
    } catch (const EHDBException& e) {
      std::memcpy(CurrentRecord, caller.data(), FullSize);
      LastResult = wrErrorText;
      LastErrorText = e.what();
    }
  }
  if (multi) {
    if (recordLocked) table_->UnlockRecord(Session, BufferRecordID(CurrentRecord));
    ReleaseWriteLock();
  }
}

bool THDBLocalCursor::RecordLockTest() {
  if (!table_) return false;
  if (!MultiUser()) return true;
  Guard guard(entry_->Data()->Lock());
  return !table_->IsRecordLockedByOther(Session, BufferRecordID(CurrentRecord));
}

THDBLocalBLOBStream& THDBLocalCursor::OpenBlob(std::int32_t fieldNo, bool forWrite) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  if (fieldNo < 0 || fieldNo >= TableFields.Count()) RaiseHDB(Errors::InvalidFieldNumberGet, fieldNo, TableFields.Count());
  Guard guard(entry_->Data()->Lock());
  if (forWrite)
    for (const auto& stream : blobStreams_)
      if (stream->ForWrite() && stream->FieldNo() == fieldNo)
        RaiseHDB(Errors::BlobFieldAlreadyOpened, fieldNo, TableFields[fieldNo].Name);
  const bool readLock = MultiUser() && !forWrite;
  if (readLock && !table_->LockTable(Session, tlRead, 2250, 40)) RaiseHDB(Errors::TableLockedAtRead);
  std::unique_ptr<THDBLocalBLOBStream> stream;
  try {
    stream = std::make_unique<THDBLocalBLOBStream>(*this, fieldNo, forWrite);
  } catch (...) {
    if (readLock) table_->UnlockTable(Session, tlRead, true);
    throw;
  }
  if (readLock) table_->UnlockTable(Session, tlRead, true);
  blobStreams_.push_back(std::move(stream));
  return *blobStreams_.back();
}

void THDBLocalCursor::CloseBlob(std::int32_t fieldNo) {
  for (auto& stream : blobStreams_)
    if (stream->FieldNo() == fieldNo) stream->Flush();
  std::erase_if(blobStreams_, [&](const auto& stream) { return stream->FieldNo() == fieldNo; });
}

void THDBLocalCursor::FreeBlobs(bool onlyWriting) {
  std::erase_if(blobStreams_, [&](const auto& stream) { return !onlyWriting || stream->ForWrite(); });
}

void THDBLocalCursor::CloseWritingBlobs() {
  for (auto& stream : blobStreams_)
    if (stream->ForWrite()) stream->Flush();
  FreeBlobs(true);
}

std::int64_t THDBLocalCursor::GetLastAutoincValue(std::int32_t fieldNo) {
  if (!table_) RaiseHDB(Errors::CursorNotOpen);
  return table_->LastAutoinc(Session, fieldNo);
}

void THDBLocalCursor::BeginBatchUpdate() {
  if (!InTransaction()) BatchUpdate = true;
}

void THDBLocalCursor::EndBatchUpdate() {
  if (InTransaction() || !BatchUpdate) return;
  BatchUpdate = false;
  if (table_) table_->CommitIfIdle(Session, false);
}

void THDBLocalCursor::CancelBatchUpdate() {
  if (InTransaction() || !BatchUpdate) return;
  BatchUpdate = false;
  if (table_) {
    Guard guard(entry_->Data()->Lock());
    table_->RollbackIfIdle(Session, false);
    table_->ReadState(Session);
  }
}

bool THDBLocalCursor::CheckConstraints(bool checkUniqueness) {
  if (!table_ || !CurrentRecord) RaiseHDB(Errors::CursorNilPointer);
  return table_->CheckConstraints(Session, CurrentRecord, checkUniqueness, false, BufferRecordID(CurrentRecord),
                                  !OldRecord, OldRecord);
}

}  // namespace hdb

#include "dbengine/components/hdb_table.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "dbengine/components/database_error.h"
#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_session.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/table_lock_type.h"
#include "dbengine/tables/navigation_request.h"

namespace hdb {

namespace {

// What follows the record image (key size bytes) in a key buffer.
namespace KeyTrailer {
using Modified = le::Field<std::uint8_t, 0>;
using Exclusive = le::Field<std::uint8_t, 1>;
using FieldCount = le::Field<std::int32_t, 2>;
inline constexpr std::size_t Size = 6;
static_assert(FieldCount::end == Size);
}  // namespace KeyTrailer

constexpr std::int32_t SeekLockTries = 900;
constexpr std::uint32_t SeekLockDelayMs = 100;

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool StartsWithText(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && platform::AnsiSameText(std::string_view(text).substr(0, prefix.size()), prefix);
}

}  // namespace

THDBTable::THDBTable() = default;

THDBTable::~THDBTable() {
  try {
    Close();
  } catch (const std::exception&) {
  }
}

void THDBTable::SetTableName(const std::string& name) {
  if (Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  tableName_ = name;
}

void THDBTable::SetExclusive(bool value) {
  if (Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  exclusive_ = value;
}

bool THDBTable::InMemory() const { return inMemory_ || platform::AnsiSameText(DatabaseName(), "MEMORY"); }

void THDBTable::SetInMemory(bool value) {
  if (Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  inMemory_ = value;
}

std::size_t THDBTable::KeyBufferSize() const { return Cursor() ? Cursor()->KeySize + KeyTrailer::Size : 0; }

// ---- open and close -----------------------------------------------------------------------

void THDBTable::OpenCursor() {
  if (DatabaseName().empty()) RaiseHDB(Errors::DatabaseNameBlank);
  THDBSession& session = THDBSessions::Instance().GetSession(SessionName());
  THDBDatabase& database = session.OpenDatabase(DatabaseName(), Owner);
  SetDatabase(&database);
  databaseOpened_ = true;
  database.RegisterDataset(*this);
  try {
    const std::string table = Trimmed(tableName_);
    if (table.empty()) RaiseHDB(Errors::MissingTableName);
    std::unique_ptr<THDBLocalCursor> cursor;
    try {
      cursor = std::make_unique<THDBLocalCursor>(database.EngineSession());
    } catch (const std::bad_alloc&) {
      RaiseHDB(Errors::CannotCreateTableHandle);
    }
    cursor->TableName = table;
    cursor->Exclusive = exclusive_;
    cursor->ReadOnly = ReadOnly() || database.ReadOnly;
    cursor->InMemory = InMemory();
    AddPersistentFieldDefs();
    cursor->OpenTable();
    SetReadOnlyState(cursor->ReadOnly);
    THDBLocalCursor* raw = cursor.get();
    SetCursor(raw, std::move(cursor));

    RefreshIndexDefs();
    raw->SetIndexByName(ResolveIndexName(indexText_, indexIsFieldList_));
    InitFields();
    ReadIndexInfo();
    keyBuffer_.assign(KeyBufferSize(), 0);
    raw->InitRecordBuffer(keyBuffer_.data(), false);
    savedKeyBuffer_ = keyBuffer_;
    ApplyFilterToCursor();
  } catch (...) {
    FreeCursor();
    ReleaseDatabase();
    throw;
  }
}

void THDBTable::CloseCursor() {
  FreeCursor();
  keyBuffer_.clear();
  savedKeyBuffer_.clear();
  indexFields_.clear();
  keySize_ = 0;
  ReleaseDatabase();
}

void THDBTable::ReleaseDatabase() {
  THDBDatabase* database = Database();
  if (!database) return;
  SetDatabase(nullptr);
  database->UnregisterDataset(*this);
  if (databaseOpened_) {
    databaseOpened_ = false;
    database->Session().CloseDatabase(*database);
  }
}

// ---- indexes ------------------------------------------------------------------------------

void THDBTable::RefreshIndexDefs() {
  indexDefs_.clear();
  const THDBIndexDefs& defs = Cursor()->GetIndexDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    const THDBIndexDef& d = defs[i];
    THDBIndexDefItem item;
    item.Name = d.Name;
    bool allDescending = d.ColumnCount() > 0;
    for (const THDBIndexColumn& c : d.Columns) {
      if (!item.Fields.empty()) item.Fields += ';';
      item.Fields += c.Name;
      allDescending = allDescending && c.Descending;
      item.CaseInsensitive = item.CaseInsensitive || c.CaseInsensitive;
    }
    item.Unique = d.IsUnique;
    item.Primary = d.IsPrimary;
    item.Descending = allDescending;
    indexDefs_.push_back(std::move(item));
  }
}

std::string THDBTable::ResolveIndexName(const std::string& text, bool isFieldList) {
  if (text.empty()) return std::string();
  if (!isFieldList) return text;
  RefreshIndexDefs();
  for (const THDBIndexDefItem& d : indexDefs_)
    if (!d.Descending && !d.Expression && platform::AnsiSameText(d.Fields, text)) return d.Name;
  for (const THDBIndexDefItem& d : indexDefs_)
    if (!d.Descending && !d.Expression && StartsWithText(d.Fields, text + ";")) return d.Name;
  RaiseHDB(Errors::NoIndexForFields, text);
}

void THDBTable::ReadIndexInfo() {
  THDBCursor& cursor = *Cursor();
  indexFields_.clear();
  keySize_ = 0;
  if (cursor.IndexName.empty()) return;
  const int i = cursor.IndexDefs.FindByName(cursor.IndexName);
  if (i < 0) RaiseHDB(Errors::CannotFindIndex, cursor.IndexName);
  for (const THDBIndexColumn& c : cursor.IndexDefs[i].Columns) {
    const int f = cursor.TableFields.FindByName(c.Name);
    if (f < 0) RaiseHDB(Errors::CannotFindIndex, cursor.IndexName);
    indexFields_.push_back(f + 1);
    keySize_ += cursor.TableFields[f].MemoryDataSize;
  }
}

void THDBTable::SetIndexName(const std::string& name) { SetIndex(name, false); }

void THDBTable::SetIndexFieldNames(const std::string& fields) { SetIndex(fields, !fields.empty()); }

void THDBTable::SetIndex(const std::string& text, bool isFieldList) {
  if (Active()) CheckBrowseMode();
  if (text == indexText_ && isFieldList == indexIsFieldList_) return;
  if (Active()) {
    THDBCursor& cursor = *Cursor();
    const std::string name = ResolveIndexName(text, isFieldList);
    const std::string previous = cursor.IndexName;
    // A change of index starts from no range; this also drops the record bitmap, which
    // numbers records in the old order.
    cursor.CancelRange();
    cursor.SetIndexByName(name);
    try {
      ReadIndexInfo();
    } catch (...) {
      cursor.SetIndexByName(previous);
      ReadIndexInfo();
      throw;
    }
  }
  indexText_ = text;
  indexIsFieldList_ = isFieldList;
  if (Active()) RefreshCurrent();
}

// ---- key entry and search -----------------------------------------------------------------

std::uint8_t* THDBTable::KeyStateBuffer() const { return keyBuffer_.empty() ? nullptr : keyBuffer_.data(); }

void THDBTable::CheckKeyField(const THDBField& field) const {
  if (std::find(indexFields_.begin(), indexFields_.end(), field.FieldNo()) == indexFields_.end())
    RaiseHDB(Errors::FieldNotInIndex, field.DisplayName());
}

void THDBTable::EndKeyEntry(bool commit) {
  if (keyBuffer_.empty()) return;
  if (commit) {
    KeyTrailer::Modified::Set(keyBuffer_.data() + Cursor()->KeySize, Modified() ? 1 : 0);
  } else {
    keyBuffer_ = savedKeyBuffer_;
  }
  SetModified(false);
}

void THDBTable::BeginKeyEntry() {
  if (!Active()) RaiseHDB(Errors::ComponentNilPointer);
  CheckBrowseMode();
  savedKeyBuffer_ = keyBuffer_;
  Cursor()->InitRecordBuffer(keyBuffer_.data(), false);
  std::memset(keyBuffer_.data() + Cursor()->KeySize, 0, KeyTrailer::Size);
  SetState(dsSetKey);
  SetModified(KeyTrailer::Modified::Get(keyBuffer_.data() + Cursor()->KeySize) != 0);
}

std::int32_t THDBTable::KeyFieldCount() const {
  if (keyBuffer_.empty()) return 0;
  return KeyTrailer::FieldCount::Get(keyBuffer_.data() + Cursor()->KeySize);
}

void THDBTable::SetKeyFieldCount(std::int32_t count) {
  if (keyBuffer_.empty()) RaiseHDB(Errors::ComponentNilPointer);
  KeyTrailer::FieldCount::Set(keyBuffer_.data() + Cursor()->KeySize, count);
}

bool THDBTable::SeekKey() {
  if (!Active()) RaiseHDB(Errors::ComponentNilPointer);
  CheckBrowseMode();
  Fire(BeforeScroll);
  THDBCursor& cursor = *Cursor();
  const std::int32_t count = KeyFieldCount();
  cursor.KeyBuffer = keyBuffer_.data();
  cursor.KeyFieldCount = count > 0 ? count : static_cast<std::int32_t>(indexFields_.size());
  bool found;
  try {
    found = cursor.GotoKeyRecord(1);
  } catch (...) {
    cursor.KeyBuffer = nullptr;
    throw;
  }
  cursor.KeyBuffer = nullptr;
  if (!found) return false;
  if (!cursor.LockTable(tlRead, SeekLockTries, false, SeekLockDelayMs)) RaiseHDB(Errors::TableLockedAtGotoKey);
  try {
    ShowCursorRecord();
  } catch (...) {
    cursor.UnlockTable(tlRead, true);
    throw;
  }
  cursor.UnlockTable(tlRead, true);
  Fire(AfterScroll);
  return true;
}

}  // namespace hdb

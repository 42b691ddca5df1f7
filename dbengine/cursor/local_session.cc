#include "dbengine/cursor/local_session.h"

#include <cstring>
#include <mutex>

#include "dbengine/cursor/default_expression.h"
#include "dbengine/cursor/open_databases.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/table_list_file.h"

namespace hdb {

// ---- Named objects -------------------------------------------------------------------

void THDBBaseSession::RegisterNamedObject(std::unique_ptr<THDBSessionNamedObject> object) {
  std::erase_if(namedObjects_, [&](const std::unique_ptr<THDBSessionNamedObject>& o) {
    return object->ID == -1 ? platform::AnsiSameText(o->Name, object->Name) : o->ID == object->ID;
  });
  if (object->Name.size() > 255) object->Name.resize(255);
  namedObjects_.push_back(std::move(object));
}

THDBSessionNamedObject* THDBBaseSession::FindNamedObject(const std::string& name) const {
  for (const auto& o : namedObjects_)
    if (platform::AnsiSameText(o->Name, name)) return o.get();
  return nullptr;
}

THDBSessionNamedObject* THDBBaseSession::FindNamedObjectByID(std::int32_t id) const {
  for (const auto& o : namedObjects_)
    if (o->ID == id) return o.get();
  return nullptr;
}

void THDBBaseSession::RemoveNamedObject(std::int32_t id) {
  auto it = std::find_if(namedObjects_.begin(), namedObjects_.end(), [&](const auto& o) { return o->ID == id; });
  if (it != namedObjects_.end()) namedObjects_.erase(it);
}

// ---- Connection ----------------------------------------------------------------------

THDBLocalSession::THDBLocalSession() { RegisterDefaultExpressions(); }

THDBLocalSession::~THDBLocalSession() {
  if (!database_) return;
  try {
    SetConnected(false);
  } catch (const EHDBException&) {
  }
}

THDBDiskDatabaseData* THDBLocalSession::DatabaseData() const { return database_ ? database_->Data() : nullptr; }

void THDBLocalSession::SetOpenResult(bool needsRepair, bool multiUser) {
  NeedsRepair = needsRepair ? 1 : 0;
  MultiUser = multiUser;
}

void THDBLocalSession::SetConnected(bool connected) {
  THDBOpenDatabases& registry = THDBOpenDatabases::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Lock());
  if (connected == IsConnected()) return;
  if (!connected) {
    Detach();
    return;
  }
  THDBDatabaseEntry& entry = registry.FindOrCreate(*this);
  THDBDiskDatabaseData* data = entry.Data();
  if (!data) {
    // The reserved databases have no engine behind them; a session may still connect
    // to them, but no table can be opened there.
    database_ = &entry;
    SetSessionID(0);
    return;
  }
  const bool wasOpen = data->IsOpen();
  data->Attach(*this);
  if (wasOpen) MultiUser = data->MultiUser;
  ReadOnly = data->ReadOnly;
  if (data->IsEncrypted() && !data->Password.Text.empty() && data->Password.Text != Password.Text) {
    data->Detach(*this);
    if (data->AttachedSessions() == 0) registry.Remove(entry);
    RaiseHDB(Errors::InvalidDatabasePassword);
  }
  Password = data->Password;
  PageSize = data->PageSize;
  ExtentPageCount = data->ExtentPageCount;
  MaxConnections = data->MaxSessions;
  database_ = &entry;
}

void THDBLocalSession::Detach() {
  THDBDatabaseEntry* entry = database_;
  THDBDiskDatabaseData* data = entry->Data();
  database_ = nullptr;
  if (!data) {
    SetSessionID(-1);
    return;
  }
  std::exception_ptr failure;
  try {
    // The last session's open transaction goes with it.
    if (THDBBaseSession::InTransaction && data->AttachedSessions() == 1 && data->IsOpen()) {
      data->Rollback(SessionID());
      THDBBaseSession::InTransaction = false;
    }
    data->Detach(*this);
  } catch (...) {
    failure = std::current_exception();
  }
  if (data->AttachedSessions() == 0) {
    entry->DropClosedTables();
    THDBOpenDatabases::Instance().Remove(*entry);
  }
  SetSessionID(-1);
  if (failure) std::rethrow_exception(failure);
}

std::uint8_t THDBLocalSession::SkipFlag() const {
  THDBDiskDatabaseData* data = DatabaseData();
  if (!data || !data->IsOpen() || !data->PageManager()->FreeSpace()) return 0;
  return data->PageManager()->FreeSpace()->SkipOwnershipCheck ? 1 : 0;
}

void THDBLocalSession::SetSkipFlag(std::uint8_t flag) {
  THDBDiskDatabaseData* data = DatabaseData();
  if (!data || !data->IsOpen() || !data->PageManager()->FreeSpace()) return;
  data->PageManager()->FreeSpace()->SkipOwnershipCheck = flag != 0;
}

void THDBLocalSession::CreateDatabase() {
  THDBOpenDatabases& registry = THDBOpenDatabases::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Lock());
  if (registry.Find(*this)) RaiseHDB(Errors::CreateDatabaseOpen);
  THDBDiskDatabaseData data(DatabaseFileName);
  data.MaxSessions = MaxConnections;
  data.Password = Password;
  data.PageSize = PageSize;
  data.ExtentPageCount = ExtentPageCount;
  data.MultiUser = MultiUser;
  data.CreateDatabase();
}

void THDBLocalSession::GetTableNames(std::vector<std::string>& names) {
  THDBOpenDatabases& registry = THDBOpenDatabases::Instance();
  std::lock_guard<std::recursive_mutex> guard(registry.Lock());
  names.clear();
  THDBDatabaseEntry& entry = database_ ? *database_ : registry.FindOrCreate(*this);
  THDBDiskDatabaseData* data = entry.Data();
  if (!data || !data->IsOpen()) return;
  std::lock_guard<std::recursive_mutex> lock(data->Lock());
  data->TableList()->ListNames(names);
}

bool THDBLocalSession::TableExists(const std::string& name) {
  std::vector<std::string> names;
  GetTableNames(names);
  for (const std::string& n : names)
    if (platform::AnsiSameText(n, name)) return true;
  return false;
}

void THDBLocalSession::StartTransaction() { THDBBaseSession::InTransaction = true; }

void THDBLocalSession::CommitTransaction(bool flush) {
  if (!THDBBaseSession::InTransaction) RaiseHDB(Errors::NotInTransactionCommit);
  if (THDBDiskDatabaseData* data = DatabaseData()) data->Commit(SessionID(), flush);
  THDBBaseSession::InTransaction = false;
}

void THDBLocalSession::RollbackTransaction() {
  if (!THDBBaseSession::InTransaction) RaiseHDB(Errors::NotInTransactionRollback);
  if (THDBDiskDatabaseData* data = DatabaseData()) {
    std::lock_guard<std::recursive_mutex> lock(data->Lock());
    data->Rollback(SessionID());
    database_->RefreshTables(SessionID());
  }
  THDBBaseSession::InTransaction = false;
}

void THDBLocalSession::Flush() {
  if (THDBDiskDatabaseData* data = DatabaseData()) data->Flush();
}

}  // namespace hdb

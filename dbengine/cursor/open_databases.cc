#include "dbengine/cursor/open_databases.h"

#include <algorithm>

#include "dbengine/cursor/local_session.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/table_list_file.h"
#include "dbengine/tables/disk_table_data.h"

namespace hdb {

namespace {
constexpr char MemoryDatabaseName[] = "MEMORY";
constexpr char TempDatabaseName[] = "TEMP";

bool IsReservedName(const std::string& name) { return name == MemoryDatabaseName || name == TempDatabaseName; }
}  // namespace

THDBDatabaseEntry::THDBDatabaseEntry(std::string name, std::string fileName, std::string sessionName)
    : name_(std::move(name)), fileName_(std::move(fileName)), sessionName_(std::move(sessionName)) {
  if (!IsReservedName(platform::AnsiUpperCase(name_)) || !fileName_.empty())
    data_ = std::make_unique<THDBDiskDatabaseData>(fileName_);
}

THDBDatabaseEntry::~THDBDatabaseEntry() {
  // Tables go before the database object their files live in.
  tables_.clear();
}

THDBDiskTableData& THDBDatabaseEntry::Table(const std::string& name) {
  if (!data_) RaiseHDB(Errors::TableNotFoundAtOpen, name);
  for (auto& table : tables_)
    if (TableNamesMatch(table->TableName(), name)) return *table;
  tables_.push_back(std::make_unique<THDBDiskTableData>(*data_, name));
  return *tables_.back();
}

void THDBDatabaseEntry::DropClosedTables() {
  std::erase_if(tables_, [](const std::unique_ptr<THDBDiskTableData>& t) { return t->CursorCount() == 0; });
}

void THDBDatabaseEntry::DropTable(const std::string& name) {
  std::erase_if(tables_, [&](const std::unique_ptr<THDBDiskTableData>& t) {
    return t->CursorCount() == 0 && TableNamesMatch(t->TableName(), name);
  });
}

void THDBDatabaseEntry::RefreshTables(int session) {
  for (auto& table : tables_)
    if (table->IsOpen()) table->ReadState(session);
}

THDBOpenDatabases::THDBOpenDatabases() {
  entries_.push_back(std::make_unique<THDBDatabaseEntry>(MemoryDatabaseName, "", ""));
  entries_.push_back(std::make_unique<THDBDatabaseEntry>(TempDatabaseName, "", ""));
}

THDBOpenDatabases& THDBOpenDatabases::Instance() {
  static THDBOpenDatabases registry;
  return registry;
}

THDBDatabaseEntry* THDBOpenDatabases::Find(const THDBLocalSession& session) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  const bool memory = session.DatabaseName == MemoryDatabaseName, temp = session.DatabaseName == TempDatabaseName;
  const std::string file = platform::AnsiUpperCase(session.DatabaseFileName);
  const std::string sessionName = platform::AnsiUpperCase(session.SessionName);
  for (auto& entry : entries_) {
    const std::string name = platform::AnsiUpperCase(entry->Name());
    if (memory || temp) {
      if (name == (memory ? MemoryDatabaseName : TempDatabaseName)) return entry.get();
    } else if (entry->IsFile() && platform::AnsiUpperCase(entry->FileName()) == file &&
               platform::AnsiUpperCase(entry->SessionName()) == sessionName) {
      return entry.get();
    }
  }
  return nullptr;
}

THDBDatabaseEntry& THDBOpenDatabases::FindOrCreate(const THDBLocalSession& session) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (THDBDatabaseEntry* found = Find(session)) return *found;
  auto entry = std::make_unique<THDBDatabaseEntry>(session.DatabaseName, session.DatabaseFileName,
                                                   session.MultiUser ? session.SessionName : std::string());
  THDBDiskDatabaseData& data = *entry->Data();
  data.ReadOnly = session.ReadOnly;
  data.MaxSessions = session.MaxConnections;
  data.Password = session.Password;
  data.PageSize = session.PageSize;
  data.ExtentPageCount = session.ExtentPageCount;
  data.MultiUser = session.MultiUser;
  entries_.push_back(std::move(entry));
  return *entries_.back();
}

void THDBOpenDatabases::Remove(THDBDatabaseEntry& entry) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!entry.IsFile()) return;
  std::erase_if(entries_, [&](const std::unique_ptr<THDBDatabaseEntry>& e) { return e.get() == &entry; });
}

}  // namespace hdb

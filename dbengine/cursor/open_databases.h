// THDBOpenDatabases, the process-wide registry of open databases, and THDBDatabaseEntry,
// one database in it: the database object of a file (THDBDiskDatabaseData) and the
// table data objects of its open tables, one per table name, shared by every cursor
// on that table. The registry starts with the two reserved entries "MEMORY" and "TEMP"
// (the in-memory and temporary table engines, which this engine does not build: their
// tables cannot be opened); file databases come and go with their sessions.
//
// The registry owns its entries and guards its list with one lock, always taken
// before a database object's own lock. An entry's tables are used under its database
// object's lock.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hdb {

class THDBDiskDatabaseData;
class THDBDiskTableData;
class THDBLocalSession;

class THDBDatabaseEntry {
 public:
  // A reserved entry ("MEMORY", "TEMP") or, with a file name, a file database.
  THDBDatabaseEntry(std::string name, std::string fileName, std::string sessionName);
  ~THDBDatabaseEntry();

  const std::string& Name() const { return name_; }
  const std::string& FileName() const { return fileName_; }
  const std::string& SessionName() const { return sessionName_; }
  bool IsFile() const { return data_ != nullptr; }
  THDBDiskDatabaseData* Data() { return data_.get(); }

  // The shared table data object of the name (case-insensitive), made on first use.
  // A reserved database has no table engine: "Table not found, table name = %s".
  THDBDiskTableData& Table(const std::string& name);
  // Forgets the table data objects no cursor has open.
  void DropClosedTables();
  void DropTable(const std::string& name);
  // After a rollback: the open tables take their counts from their state files again.
  void RefreshTables(int session);

 private:
  std::string name_, fileName_, sessionName_;
  std::unique_ptr<THDBDiskDatabaseData> data_;
  std::vector<std::unique_ptr<THDBDiskTableData>> tables_;
};

class THDBOpenDatabases {
 public:
  static THDBOpenDatabases& Instance();

  std::recursive_mutex& Lock() { return lock_; }
  // The first entry that matches the session (file name and session name upper-cased;
  // the reserved names by name), else a new file database object for it, not opened.
  THDBDatabaseEntry& FindOrCreate(const THDBLocalSession& session);
  THDBDatabaseEntry* Find(const THDBLocalSession& session);
  void Remove(THDBDatabaseEntry& entry);
  std::size_t Count() const { return entries_.size(); }

 private:
  THDBOpenDatabases();
  std::recursive_mutex lock_;
  std::vector<std::unique_ptr<THDBDatabaseEntry>> entries_;
};

}  // namespace hdb

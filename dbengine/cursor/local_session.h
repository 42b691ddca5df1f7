// THDBBaseSession and THDBLocalSession, the engine side of one database connection:
// its parameters, the open database it attaches to (found in or added to the
// process-wide registry), the SessionID the database gives it, its transaction flag and
// its named objects. Cursors reach their database and their identity through it.
//
// A session owns its named objects; the registry owns the database it attaches to.
// One session is used by one thread at a time; attach and detach run under the
// registry lock, then the database object's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/file_header.h"
#include "dbengine/storage/session_link.h"

namespace hdb {

class THDBDatabaseEntry;
class THDBDiskDatabaseData;

struct THDBSessionNamedObject {
  virtual ~THDBSessionNamedObject() = default;
  std::int32_t ID = -1;  // -1: found by name
  std::string Name;
};

class THDBBaseSession {
 public:
  virtual ~THDBBaseSession() = default;

  // Slots 9 to 12.
  // Replaces an object of the same name (when the new one's ID is -1) or ID.
  virtual void RegisterNamedObject(std::unique_ptr<THDBSessionNamedObject> object);
  virtual THDBSessionNamedObject* FindNamedObject(const std::string& name) const;
  virtual THDBSessionNamedObject* FindNamedObjectByID(std::int32_t id) const;
  virtual void RemoveNamedObject(std::int32_t id);

  std::string DatabaseName;
  std::string DatabaseFileName;
  std::int32_t SessionID = -1;
  bool InTransaction = false;
  bool ReadOnly = false;
  bool Exclusive = false;
  std::int32_t MaxConnections = 500;
  std::uint8_t NeedsRepair = 0;
  bool MultiUser = false;
  std::string SessionName;

 protected:
  std::vector<std::unique_ptr<THDBSessionNamedObject>> namedObjects_;
};

class THDBLocalSession : public THDBBaseSession, public THDBSessionLink {
 public:
  // Creating a session plugs the expression layer's default builder in.
  THDBLocalSession();
  THDBLocalSession(const THDBLocalSession&) = delete;
  THDBLocalSession& operator=(const THDBLocalSession&) = delete;
  // A connected session detaches quietly.
  ~THDBLocalSession() override;

  // Virtual operations in slot order (9-12 above).
  virtual bool IsConnected() const { return database_ != nullptr; }  // 0
  // Attach ("Cannot open database in multi-user and signle-user mode at the same
  // time", "Database password is invalid.") or detach (rolls back an open transaction
  // of the last session; the file closes with the last one).
  virtual void SetConnected(bool connected);                          // 1
  virtual std::uint8_t SkipFlag() const;                              // 2
  virtual void SetSkipFlag(std::uint8_t flag);                        // 3
  // A new database file: "Cannot create database. Database is already open" when it is.
  virtual void CreateDatabase();                                      // 4
  virtual void GetTableNames(std::vector<std::string>& names);        // 7
  virtual bool TableExists(const std::string& name);                  // 8
  virtual void StartTransaction();                                    // 13
  // "Database is not within a transaction. Cannot perform operation" without one.
  virtual void CommitTransaction(bool flush);                         // 14
  virtual void RollbackTransaction();                                 // 15
  virtual void Flush();                                               // 16

  THDBDatabaseEntry* Database() const { return database_; }
  THDBDiskDatabaseData* DatabaseData() const;

  THDBPassword Password;
  std::int32_t PageSize = 4096;
  std::int32_t ExtentPageCount = 8;

  // THDBSessionLink
  bool ExclusiveRequested() const override { return Exclusive; }
  bool MultiUserRequested() const override { return MultiUser; }
  std::int32_t SessionID() const override { return THDBBaseSession::SessionID; }
  void SetSessionID(std::int32_t id) override { THDBBaseSession::SessionID = id; }
  void SetOpenResult(bool needsRepair, bool multiUser) override;
  bool InTransaction() const override { return THDBBaseSession::InTransaction; }

 private:
  void Detach();
  THDBDatabaseEntry* database_ = nullptr;
};

}  // namespace hdb

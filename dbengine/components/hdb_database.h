// THDBDatabase, the database component: it names one database file (DatabaseFileName)
// under an alias (DatabaseName) inside a session (SessionName) and connects to it by
// creating an engine session (THDBLocalSession), which attaches to the process-wide
// registry of open databases. Table components find it by its alias through their
// session. Connecting asks about repair when the file was not closed correctly (or is
// of an old format) and about the password when the file wants one.
//
// The component owns its engine session (shared with other components of the same name
// when HandleShared is set) and refers to the datasets that use it. Connect and
// disconnect run under the session list's lock; everything else on the caller's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hdb {

class THDBLocalSession;
class THDBSession;
class THDBDataSet;

class THDBDatabase {
 public:
  // Joins the default session. owner: the form that holds the component, if any.
  explicit THDBDatabase(const void* owner = nullptr);
  THDBDatabase(const THDBDatabase&) = delete;
  THDBDatabase& operator=(const THDBDatabase&) = delete;
  // Disconnects and leaves its session.
  ~THDBDatabase();

  const std::string& DatabaseName() const { return databaseName_; }
  // "Cannot perform this operation on an open database" while connected;
  // "Duplicate database name '%s'" when another component of the session has it.
  void SetDatabaseName(const std::string& name);
  const std::string& DatabaseFileName() const { return databaseFileName_; }
  // A different text (case-sensitive) disconnects first.
  void SetDatabaseFileName(const std::string& fileName);
  const std::string& SessionName() const { return sessionName_; }
  // Refused like SetDatabaseName while connected; "Invalid session name '%s'" for an
  // unknown one.
  void SetSessionName(const std::string& name);

  bool Connected() const;
  // Connect or disconnect; while loading only remembered until EndLoading.
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  bool Exclusive = false;
  bool MultiUser = false;
  std::int32_t MaxConnections = 500;
  bool ReadOnly = false;
  bool KeepConnection() const { return keepConnection_; }
  // False with no table using the database disconnects at once.
  void SetKeepConnection(bool value);
  // Share the engine session of a connected component of the same name in the session
  // (two such components may carry one name).
  bool HandleShared = false;
  bool SilentMode = false;
  bool DisableTempFiles = false;
  std::string Password;
  // The engine version with two decimals and a trailing blank: "7.92 ".
  static std::string CurrentVersion();
  std::int32_t PageSize() const { return pageSize_; }
  std::int32_t ExtentPageCount() const { return extentPageCount_; }

  // Asked when the connection wants a password; returns true to try again (with the
  // Password the handler set).
  std::function<bool(THDBDatabase&)> OnPassword;
  // Asked when a file that was not closed correctly opens; returns true to repair.
  std::function<bool(THDBDatabase&)> OnNeedRepair;
  std::function<void(THDBDatabase&)> BeforeRepair;
  // Progress of a repair in percent, with the table being copied.
  std::function<void(THDBDatabase&, int percentDone, const std::string& tableName)> OnRepairProgress;
  std::function<void(THDBDatabase&)> AfterRepair;

  // Loading from a stored form: Connected is remembered and applied by EndLoading.
  void BeginLoading() { loading_ = true; }
  void EndLoading();
  // Design mode: errors of connect are shown instead of raised, renames disconnect.
  bool Designing() const { return designing_; }
  void SetDesigning(bool value) { designing_ = value; }

  const void* Owner() const { return owner_; }
  THDBSession& Session() const;
  // The engine session while connected ("Cannot perform this operation on a closed
  // database" otherwise).
  THDBLocalSession& EngineSession() const;
  bool CreatedBySession() const { return createdBySession_; }
  std::int32_t UseCount() const { return useCount_; }
  bool Disconnecting() const { return disconnecting_; }

  // Datasets that use the database; disconnecting closes them first.
  void RegisterDataset(THDBDataSet& dataset);
  void UnregisterDataset(THDBDataSet& dataset);
  const std::vector<THDBDataSet*>& DataSets() const { return datasets_; }

 private:
  friend class THDBSession;
  void DoConnect();
  void DoDisconnect();
  void ConnectEngineSession();
  bool AskRepair(double formatVersion);
  void Repair();
  bool AskPassword();
  void CheckInactive() const;

  const void* owner_;
  std::string databaseName_;
  std::string databaseFileName_;
  std::string sessionName_;
  THDBSession* session_ = nullptr;
  std::shared_ptr<THDBLocalSession> engineSession_;
  bool keepConnection_ = true;
  std::int32_t pageSize_ = 4096;
  std::int32_t extentPageCount_ = 8;
  std::vector<THDBDataSet*> datasets_;
  std::int32_t useCount_ = 0;
  bool createdBySession_ = false;
  // Set while DoDisconnect closes the datasets, which release the database as they go.
  bool disconnecting_ = false;
  bool loading_ = false;
  bool streamedConnected_ = false;
  bool designing_ = false;
};

}  // namespace hdb

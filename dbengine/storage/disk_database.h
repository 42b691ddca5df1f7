// THDBDiskDatabaseData: one open database file in this process. It owns the disk page
// manager (and through it the file and the free-space maps), the system directory,
// the active sessions file, the table list and the table lock manager, and knows the
// sessions attached to it. The file is opened by the first attach and closed after the
// last detach; CreateDatabase makes a new file and leaves it closed.
//
// Every operation runs under the object's in-process lock (a recursive mutex), which
// is taken before any byte lock of the file.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dbengine/storage/file_header.h"

namespace hdb {

class THDBDiskPageManager;
class THDBSystemDirectory;
class THDBActiveSessionsFile;
class THDBTableListFile;
class THDBDatabaseTableLockManager;
class THDBSessionLink;

inline constexpr std::int32_t DefaultMaxSessions = 500;
inline constexpr std::uint16_t DefaultPageSize = 4096;
inline constexpr std::uint16_t DefaultExtentPageCount = 8;

class THDBDatabaseData {
 public:
  explicit THDBDatabaseData(std::string fileName) : DatabaseFileName(std::move(fileName)) {}
  virtual ~THDBDatabaseData() = default;
  std::recursive_mutex& Lock() { return lock_; }

  std::string DatabaseFileName;
  bool ReadOnly = false;

 protected:
  std::recursive_mutex lock_;
  std::vector<THDBSessionLink*> sessions_;
};

class THDBDiskDatabaseData : public THDBDatabaseData {
 public:
  explicit THDBDiskDatabaseData(std::string fileName);
  ~THDBDiskDatabaseData() override;

  // Creation parameters; replaced by the file's values when it is opened.
  THDBPassword Password;
  std::int32_t MaxSessions = DefaultMaxSessions;
  std::int32_t PageSize = DefaultPageSize;
  std::int32_t ExtentPageCount = DefaultExtentPageCount;
  bool MultiUser = false;
  // Commits flush their journal and the file so that they survive a power loss; tests
  // and benchmarks may turn that off (the order of the writes stays the same). Taken
  // when the file is opened or created.
  bool FlushCommits = true;

  // Opens the file and its system files; returns NeedsRepair. Any failure closes
  // whatever was opened and raises again.
  bool Open(bool exclusive);
  // Makes a new file (replacing one of that name) with its system files, then closes it.
  void CreateDatabase();
  // Frees the system files and closes the file. Changes that no commit wrote are
  // rolled back and then reported with 20097, the object closed either way; writes
  // nothing else.
  void Close();
  bool IsOpen() const;

  void Attach(THDBSessionLink& session);
  void Detach(THDBSessionLink& session);
  std::size_t AttachedSessions() const { return sessions_.size(); }
  bool HoldsSingleUserClaim() const { return singleUserClaim_; }

  std::int32_t NextObjectID();
  void Flush();
  bool IsEncrypted() const;
  void Commit(std::int32_t session, bool flush);
  void Rollback(std::int32_t session);

  THDBDiskPageManager* PageManager() { return pageManager_.get(); }
  THDBSystemDirectory* SystemDirectory() { return systemDirectory_.get(); }
  THDBActiveSessionsFile* SessionsFile() { return sessionsFile_.get(); }
  THDBTableListFile* TableList() { return tableList_.get(); }
  THDBDatabaseTableLockManager* LockManager() { return lockManager_.get(); }

 private:
  void CloseSystemFiles();
  // Close on an error path or in the destructor, where nothing more can be reported.
  void CloseQuietly() noexcept;

  std::unique_ptr<THDBDiskPageManager> pageManager_;
  std::unique_ptr<THDBSystemDirectory> systemDirectory_;
  std::unique_ptr<THDBActiveSessionsFile> sessionsFile_;
  std::unique_ptr<THDBTableListFile> tableList_;
  std::unique_ptr<THDBDatabaseTableLockManager> lockManager_;
  bool singleUserClaim_ = false;
  bool exclusive_ = false;
};

}  // namespace hdb

#include "dbengine/storage/disk_database.h"

#include <algorithm>

#include "dbengine/storage/active_sessions_file.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/session_link.h"
#include "dbengine/storage/system_directory.h"
#include "dbengine/storage/table_list_file.h"
#include "dbengine/storage/table_lock_manager.h"

namespace hdb {

THDBDiskDatabaseData::THDBDiskDatabaseData(std::string fileName) : THDBDatabaseData(std::move(fileName)) {}

THDBDiskDatabaseData::~THDBDiskDatabaseData() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (singleUserClaim_ && sessionsFile_) {
    try {
      sessionsFile_->ReleaseSingleUser();
    } catch (const EHDBException&) {
    }
    singleUserClaim_ = false;
  }
  CloseQuietly();
}

bool THDBDiskDatabaseData::IsOpen() const { return pageManager_ && pageManager_->IsOpen(); }

void THDBDiskDatabaseData::CloseSystemFiles() {
  lockManager_.reset();
  tableList_.reset();
  sessionsFile_.reset();
  systemDirectory_.reset();
}

void THDBDiskDatabaseData::Close() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  CloseSystemFiles();
  // The object is closed whatever the page manager's close reports (20097 for
  // changes that no commit wrote; it has rolled them back).
  std::unique_ptr<THDBDiskPageManager> pageManager = std::move(pageManager_);
  singleUserClaim_ = false;
  if (pageManager) pageManager->Close();
}

void THDBDiskDatabaseData::CloseQuietly() noexcept {
  try {
    Close();
  } catch (...) {
    // On an error path already: the first error is the one reported.
  }
}

bool THDBDiskDatabaseData::Open(bool exclusive) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  // Refused before the clean-up below, which would close the file under its sessions.
  if (IsOpen()) RaiseHDB(Errors::OpenFileInUse, DatabaseFileName);
  if (!pageManager_) pageManager_ = std::make_unique<THDBDiskPageManager>();
  pageManager_->SetFlushing(FlushCommits);
  try {
    bool multiUser = MultiUser;
    bool readOnly = ReadOnly;
    const bool needsRepair = pageManager_->Open(DatabaseFileName, Password, multiUser, exclusive, readOnly);
    MultiUser = multiUser;
    ReadOnly = readOnly;
    exclusive_ = exclusive;
    Password = pageManager_->Password();
    PageSize = pageManager_->Header().PageSize();
    ExtentPageCount = pageManager_->Header().ExtentPageCount();

    systemDirectory_ = std::make_unique<THDBSystemDirectory>(*pageManager_);
    systemDirectory_->Load();
    const std::int32_t sessionsStart = systemDirectory_->Find(sfActiveSessions);
    const std::int32_t tableListStart = systemDirectory_->Find(sfTableList);
    if (sessionsStart < 0 || tableListStart < 0) RaiseHDB(Errors::InvalidDatabaseFormat);
    sessionsFile_ = std::make_unique<THDBActiveSessionsFile>(*pageManager_, MultiUser);
    sessionsFile_->Open(sessionsStart);
    MaxSessions = sessionsFile_->MaxSessions();
    tableList_ = std::make_unique<THDBTableListFile>(*pageManager_);
    tableList_->Open(tableListStart);
    tableList_->Load();
    lockManager_ = std::make_unique<THDBDatabaseTableLockManager>(*pageManager_, MaxSessions, MultiUser, exclusive);
    return needsRepair;
  } catch (...) {
    CloseQuietly();
    throw;
  }
}

void THDBDiskDatabaseData::CreateDatabase() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!pageManager_) pageManager_ = std::make_unique<THDBDiskPageManager>();
  if (pageManager_->IsOpen()) RaiseHDB(Errors::CreateFileInUse, DatabaseFileName);
  pageManager_->SetFlushing(FlushCommits);
  if (PageSize <= 0 || PageSize > 0xFFFF) RaiseHDB(Errors::InvalidPageSize, PageSize, MinimumPageSize);
  if (ExtentPageCount <= 0 || ExtentPageCount > 0xFFFF) RaiseHDB(Errors::InvalidExtentPageCount, ExtentPageCount);
  if (MaxSessions <= 0) RaiseHDB(Errors::InvalidConnectionSlots, MaxSessions);
  try {
    pageManager_->Create(DatabaseFileName, Password, static_cast<std::uint16_t>(ExtentPageCount),
                         static_cast<std::uint16_t>(PageSize));
    systemDirectory_ = std::make_unique<THDBSystemDirectory>(*pageManager_);
    systemDirectory_->Create();
    sessionsFile_ = std::make_unique<THDBActiveSessionsFile>(*pageManager_, false);
    const std::int32_t sessionsStart = sessionsFile_->Create(MaxSessions);
    tableList_ = std::make_unique<THDBTableListFile>(*pageManager_);
    const std::int32_t tableListStart = tableList_->Create();
    systemDirectory_->Add(sfActiveSessions, sessionsStart);
    systemDirectory_->Add(sfTableList, tableListStart);
    systemDirectory_->Save();
    pageManager_->CommitPages(SystemSessionID);
  } catch (...) {
    try {
      pageManager_->RollbackPages(SystemSessionID);
    } catch (const EHDBException&) {
    }
    CloseQuietly();
    throw;
  }
  Close();
}

void THDBDiskDatabaseData::Attach(THDBSessionLink& session) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  bool opened = false;
  if (!IsOpen()) {
    MultiUser = session.MultiUserRequested();
    const bool needsRepair = Open(session.ExclusiveRequested());
    opened = true;
    session.SetOpenResult(needsRepair, MultiUser);
  } else if (session.MultiUserRequested() != MultiUser) {
    RaiseHDB(Errors::MixedUserModes);
  }
  try {
    // A read-only file opened single-user even when multi-user was asked for.
    if (MultiUser) {
      session.SetSessionID(sessionsFile_->ConnectSession());
    } else {
      session.SetSessionID(0);
      if (!singleUserClaim_) {
        singleUserClaim_ = sessionsFile_->ClaimSingleUser();
        if (!singleUserClaim_) {
          // Another process owns the file: this one may only read it, down to the
          // page layer, so that no path writes into it.
          ReadOnly = true;
          pageManager_->SetReadOnly();
        }
      }
    }
    sessions_.push_back(&session);
  } catch (...) {
    // The file this attach opened has no session to close it later.
    if (opened) CloseQuietly();
    throw;
  }
}

void THDBDiskDatabaseData::Detach(THDBSessionLink& session) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto it = std::find(sessions_.begin(), sessions_.end(), &session);
  if (it == sessions_.end()) return;
  if (MultiUser) {
    sessionsFile_->DisconnectSession(session.SessionID());
  } else if (singleUserClaim_ && sessions_.size() == 1) {
    sessionsFile_->ReleaseSingleUser();
    singleUserClaim_ = false;
  }
  sessions_.erase(it);
  if (sessions_.empty()) {
    // No session is left to close the file later, whatever the rollback does.
    try {
      if (session.InTransaction()) Rollback(session.SessionID());
    } catch (...) {
      CloseQuietly();
      throw;
    }
    // Changes outside a transaction that no commit wrote are rolled back by the close
    // and reported (20097).
    Close();
  }
}

std::int32_t THDBDiskDatabaseData::NextObjectID() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!IsOpen()) RaiseHDB(Errors::NextObjectIDNotOpened);
  return pageManager_->NextObjectID();
}

void THDBDiskDatabaseData::Flush() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (IsOpen()) pageManager_->File().FlushFileBuffers();
}

bool THDBDiskDatabaseData::IsEncrypted() const { return IsOpen() && pageManager_->Header().EncryptedFlag() != 0; }

void THDBDiskDatabaseData::Commit(std::int32_t session, bool flush) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!IsOpen()) RaiseHDB(Errors::CommitNotOpened);
  // The system session holds no table locks: its structure changes run under TablesLock.
  const bool withLocks = MultiUser && session != SystemSessionID;
  if (withLocks && !lockManager_->LockModifiedTables(session)) RaiseHDB(Errors::CommitLocksFailed);
  pageManager_->CommitPages(session);
  if (flush) pageManager_->File().FlushFileBuffers();
  if (withLocks) lockManager_->ReleaseAfterCommit(session);
}

void THDBDiskDatabaseData::Rollback(std::int32_t session) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!IsOpen()) RaiseHDB(Errors::RollbackNotOpened);
  if (MultiUser && session != SystemSessionID) lockManager_->ReleaseAfterCommit(session);
  pageManager_->RollbackPages(session);
}

}  // namespace hdb

#include "dbengine/storage/active_sessions_file.h"

#include <algorithm>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

class THDBActiveSessionsFile::FileLock {
 public:
  FileLock(THDBInternalDBDirectAccessFile& file, const THDBErrorDef& unlockFailure)
      : file_(file), unlockFailure_(unlockFailure), held_(file.LockFileRetrying(LockRetryCount)) {}
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() noexcept(false) {
    if (held_ && !file_.UnlockFile() && std::uncaught_exceptions() == 0) RaiseHDB(unlockFailure_);
  }

 private:
  THDBInternalDBDirectAccessFile& file_;
  const THDBErrorDef& unlockFailure_;
  bool held_;
};

std::int32_t THDBActiveSessionsFile::Create(std::int32_t slots) {
  file_.Create(slots);
  maxSessions_ = slots;
  return file_.StartPageNo();
}

void THDBActiveSessionsFile::Open(std::int32_t startPageNo) {
  file_.Open(startPageNo);
  const std::int32_t size = file_.GetSize();
  // A damaged size must not become a negative number of slots.
  if (size < 0) RaiseHDB(Errors::InvalidDatabaseFormat);
  maxSessions_ = std::min(size, file_.SizeLimit());
}

std::int32_t THDBActiveSessionsFile::ConnectSession() {
  if (!multiUser_) return 0;
  std::int32_t id = -1;
  {
    FileLock lock(file_, Errors::ConnectUnlockFailed);
    for (std::int32_t slot = 0; slot < maxSessions_ && id < 0; ++slot)
      if (file_.LockByte(slot)) id = slot;
  }
  if (id < 0) RaiseHDB(Errors::NoFreeConnectionSlot);
  return id;
}

void THDBActiveSessionsFile::DisconnectSession(std::int32_t sessionID) {
  if (!multiUser_) return;
  FileLock lock(file_, Errors::DisconnectUnlockFailed);
  if (!file_.UnlockByte(sessionID)) RaiseHDB(Errors::CannotDisconnectSession);
}

bool THDBActiveSessionsFile::ClaimSingleUser() {
  FileLock lock(file_, Errors::ClaimUnlockFailed);
  if (file_.IsRegionLocked(0, maxSessions_)) return false;
  for (std::int32_t slot = 0; slot < maxSessions_; ++slot) file_.LockByte(slot);
  return true;
}

void THDBActiveSessionsFile::ReleaseSingleUser() {
  FileLock lock(file_, Errors::ReleaseUnlockFailed);
  for (std::int32_t slot = 0; slot < maxSessions_; ++slot) file_.UnlockByte(slot);
}

}  // namespace hdb

// THDBDiskTablePagesCacheManager: in multi-user mode, decides whether a cached page
// may be used as it is. Per session it knows the table the session is working in (a
// stack), how often the session holds read and write locks on each table, and the
// table's version (the change counter of its state file) captured while locked.
// A page is current for a session when it was marked with that same version.
// The table lock manager and the table layer feed it; the disk page manager asks it.
//
// Not locked: used under the owning database object's lock.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace hdb {

class THDBPage;

struct THDBDTPCTableInfo {
  std::int32_t ReadLockCount = 0;
  std::int32_t WriteLockCount = 0;
  bool Captured = false;
  std::int32_t TableVersion = 0;
};

struct THDBDTPCSessionInfo {
  std::unordered_map<std::int32_t, THDBDTPCTableInfo> Tables;
  std::vector<std::int32_t> TableStack;
};

class THDBDiskTablePagesCacheManager {
 public:
  // The session took a read or write lock on the table; its first lock forgets any
  // version captured before.
  void TableLocked(std::int32_t session, std::int32_t tableID, bool write);
  // The session released one lock; its last release forgets the captured version.
  void TableUnlocked(std::int32_t session, std::int32_t tableID, bool write);
  // The session read the table's state file: keep the version while it holds a lock.
  void CaptureTableVersion(std::int32_t session, std::int32_t tableID, std::int32_t version);
  void PushTable(std::int32_t session, std::int32_t tableID);
  void PopTable(std::int32_t session);

  // The captured version of the session's current table, when it holds a lock on it.
  std::optional<std::int32_t> CurrentVersion(std::int32_t session) const;
  bool IsPageCurrent(std::int32_t session, const THDBPage& page) const;
  void MarkPageCurrent(std::int32_t session, THDBPage& page) const;

  const THDBDTPCTableInfo* TableInfo(std::int32_t session, std::int32_t tableID) const;

 private:
  THDBDTPCSessionInfo& Session(std::int32_t session);
  const THDBDTPCSessionInfo* FindSession(std::int32_t session) const;

  std::vector<THDBDTPCSessionInfo> sessions_;  // index SessionID + 2
};

}  // namespace hdb

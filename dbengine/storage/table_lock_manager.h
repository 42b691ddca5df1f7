// THDBDatabaseTableLockManager: the table and record locks of every session of one
// open database. It keeps each session slot's held locks in memory (one
// THDBTableLockList per slot, index = SessionID) and, in a multi-user database,
// announces them to other processes with byte locks in each table's locks file.
// A lock that another lock of the session on the same table covers is held in
// memory only, and gets its own file byte when the covering lock goes.
// In a single-user database and in an exclusively opened one every request is
// granted at once and nothing is kept or touched.
//
// Owns the lists; uses the disk page manager (for the multi-user cache bookkeeping)
// and the locks files it is handed, owning neither. Guarded by its own critical
// section, which it leaves around every pause so that other threads can release
// their locks meanwhile; callers must not hold it across a request.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "dbengine/storage/page_manager.h"
#include "dbengine/storage/record_id.h"
#include "dbengine/storage/table_lock_list.h"
#include "dbengine/storage/table_lock_type.h"
#include "dbengine/storage/table_locks_file.h"

namespace hdb {

class THDBDiskPageManager;

class THDBDatabaseTableLockManager {
 public:
  // Tries and pause bases of the engine's requests.
  static constexpr std::int32_t OpenLockTries = 50;  // kinds 0 and 6 when a table opens
  static constexpr std::uint32_t OpenLockDelayMs = 100;
  static constexpr std::int32_t ReadLockTries = 2250;  // kind 1 around reads
  static constexpr std::uint32_t ReadLockDelayMs = 40;
  static constexpr std::int32_t CommitLockTries = 900;  // kinds 2 and 4 around a commit
  static constexpr std::uint32_t CommitLockDelayMs = 100;

  THDBDatabaseTableLockManager(THDBDiskPageManager& pageManager, std::int32_t maxSessions, bool multiUser,
                               bool exclusive);
  THDBDatabaseTableLockManager(const THDBDatabaseTableLockManager&) = delete;
  THDBDatabaseTableLockManager& operator=(const THDBDatabaseTableLockManager&) = delete;
  // Frees the lists quietly; CheckNoLocks reports locks that are still held.
  ~THDBDatabaseTableLockManager();

  // Up to `tries` attempts; between them a pause of delayMs div 2 plus a random part
  // below delayMs div 2. With `flag` set, a request of kind 3 ignores the kind-2
  // locks of others. A second request of kind 2 on a table is refused; any other
  // repeated request nests.
  bool LockTable(TSessionID session, THDBTableLocksFile& file, TableLockType type, bool flag,
                 std::uint32_t delayMs, std::int32_t tries);
  // Removes one nesting level (20202 when the lock is not held, unless `flag` is set:
  // then nothing happens). False when the file lock could not be released; the lock
  // is then still held.
  bool UnlockTable(TSessionID session, THDBTableLocksFile& file, TableLockType type, bool flag);
  // One record per session and table; up to `tries` attempts delayMs apart.
  bool LockRecord(TSessionID session, THDBTableLocksFile& file, const RecordID& id, std::uint32_t delayMs,
                  std::int32_t tries);
  // False when the session holds no record lock on the table.
  bool UnlockRecord(TSessionID session, THDBTableLocksFile& file, const RecordID& id);
  bool IsRecordLockedByOther(TSessionID session, THDBTableLocksFile& file, const RecordID& id);

  // Before a multi-user commit: kind 4 on every table the session modified. On
  // failure the kind-4 locks taken here are released again and the answer is false.
  bool LockModifiedTables(TSessionID session);
  // After the commit: kind 2 where the session still has a record locked, then every
  // kind-3 and kind-4 lock goes whatever its nesting. Raises 20204 when a file lock
  // could not be released (the lock is then still held).
  void ReleaseAfterCommit(TSessionID session);

  // 20201 while any session holds a lock.
  void CheckNoLocks() const;
  const THDBTableLockList& LockList(TSessionID session) const;

  std::int32_t MaxSessions() const { return maxSessions_; }
  bool MultiUser() const { return multiUser_; }
  bool Exclusive() const { return exclusive_; }
  std::recursive_mutex& CriticalSection() { return criticalSection_; }

 private:
  using Section = std::unique_lock<std::recursive_mutex>;

  // Locks are kept and announced only in a shared multi-user database.
  bool Active() const { return multiUser_ && !exclusive_; }
  // The list of a session; a session outside the slots raises.
  THDBTableLockList& List(TSessionID session) const;
  void Pause(Section& section, std::uint32_t milliseconds);
  // The "LockFile" byte with up to `tries` attempts, leaving the section while pausing.
  bool TakeLockFile(Section& section, THDBLockFileGuard& guard, std::int32_t tries, std::uint32_t pauseMs);

  bool DoLockTable(Section& section, TSessionID session, THDBTableLockList& list, THDBTableLocksFile& file,
                   TableLockType type, bool flag, std::uint32_t delayMs, std::int32_t tries);
  // Removes the entry whatever its nesting and releases its file lock; when the file
  // lock cannot be released the entry goes back into the list and the answer is false.
  bool DoReleaseEntry(Section& section, TSessionID session, THDBTableLockList& list, TableLockType type,
                      std::int32_t key);
  bool ReleaseInFile(Section& section, TSessionID session, THDBTableLockList& list,
                     const THDBTableLockEntry& gone);
  // Gives an entry held in memory its own file byte (under the "LockFile" byte).
  void Announce(THDBTableLocksFile& file, TSessionID session, THDBTableLockEntry& entry);
  // Whether no other session holds a kind that does not allow `type`.
  bool AllowedByOthers(THDBTableLocksFile& file, TSessionID session, TableLockType type, bool flag);
  // Under the "LockFile" byte: whether another session announces the record.
  bool IsRecordHeldByOther(THDBTableLocksFile& file, TSessionID session, const RecordID& id);
  void EntryAdded(TSessionID session, const THDBTableLockEntry& entry);
  void EntryRemoved(TSessionID session, const THDBTableLockEntry& entry);

  THDBDiskPageManager& pageManager_;
  std::int32_t maxSessions_;
  bool multiUser_;
  bool exclusive_;
  std::vector<std::unique_ptr<THDBTableLockList>> lists_;
  std::recursive_mutex criticalSection_;
};

}  // namespace hdb

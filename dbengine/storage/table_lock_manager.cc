#include "dbengine/storage/table_lock_manager.h"

#include <cassert>
#include <utility>

#include "dbengine/platform/system_services.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace {

void CheckFileOpen(const THDBTableLocksFile* file, const THDBErrorDef& error) {
  if (file == nullptr || !file->IsOpen()) RaiseHDB(error);
}

// The pause between two attempts of a table lock: half the delay plus a random part
// below the other half, so that waiting processes do not retry in step.
std::uint32_t RetryPause(std::uint32_t delayMs) {
  const std::uint32_t half = delayMs / 2;
  return half + (half > 0 ? platform::RandomBelow(half) : 0);
}

}  // namespace

THDBDatabaseTableLockManager::THDBDatabaseTableLockManager(THDBDiskPageManager& pageManager,
                                                           std::int32_t maxSessions, bool multiUser, bool exclusive)
    : pageManager_(pageManager), maxSessions_(maxSessions), multiUser_(multiUser), exclusive_(exclusive) {
  assert(maxSessions >= 0);
  lists_.reserve(static_cast<std::size_t>(maxSessions));
  for (std::int32_t i = 0; i < maxSessions; ++i) lists_.push_back(std::make_unique<THDBTableLockList>());
}

THDBDatabaseTableLockManager::~THDBDatabaseTableLockManager() = default;

THDBTableLockList& THDBDatabaseTableLockManager::List(TSessionID session) const {
  if (session < 0) RaiseHDB(Errors::InvalidSessionID);
  if (session >= maxSessions_) RaiseHDB(Errors::TableLockNoSessionSlot);
  return *lists_[static_cast<std::size_t>(session)];
}

const THDBTableLockList& THDBDatabaseTableLockManager::LockList(TSessionID session) const { return List(session); }

void THDBDatabaseTableLockManager::CheckNoLocks() const {
  for (const auto& list : lists_) list->CheckEmpty();
}

void THDBDatabaseTableLockManager::Pause(Section& section, std::uint32_t milliseconds) {
  assert(section.owns_lock());
  section.unlock();
  platform::SleepMs(milliseconds);
  section.lock();
}

bool THDBDatabaseTableLockManager::TakeLockFile(Section& section, THDBLockFileGuard& guard, std::int32_t tries,
                                                std::uint32_t pauseMs) {
  for (std::int32_t attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) Pause(section, pauseMs);
    if (guard.TryTake()) return true;
  }
  return false;
}

void THDBDatabaseTableLockManager::EntryAdded(TSessionID session, const THDBTableLockEntry& entry) {
  // The session works on the table from now on (reads it, or changes what it reads): a
  // commit another process left half written is rolled back first.
  pageManager_.RecoverInterruptedCommit();
  if (entry.Type == tlRead || entry.Type == tlModified)
    pageManager_.TablePagesCache().TableLocked(session, entry.Key, entry.Type == tlModified);
}

void THDBDatabaseTableLockManager::EntryRemoved(TSessionID session, const THDBTableLockEntry& entry) {
  if (entry.Type == tlRead || entry.Type == tlModified)
    pageManager_.TablePagesCache().TableUnlocked(session, entry.Key, entry.Type == tlModified);
}

bool THDBDatabaseTableLockManager::AllowedByOthers(THDBTableLocksFile& file, TSessionID session, TableLockType type,
                                                   bool flag) {
  // Kind 6 held by another would be the "LockFile" byte, which the caller holds.
  for (int i = 0; i < tlExclusive; ++i) {
    const auto held = static_cast<TableLockType>(i);
    if (IsTableLockCompatible(held, type)) continue;
    if (flag && type == tlModified && held == tlRecordEdit) continue;
    if (file.IsTypeLockedByOthers(held, session)) return false;
  }
  return true;
}

bool THDBDatabaseTableLockManager::IsRecordHeldByOther(THDBTableLocksFile& file, TSessionID session,
                                                       const RecordID& id) {
  if (!file.IsTypeLockedByOthers(tlRecord, session)) return false;
  for (std::int32_t other = 0; other < file.SessionCount(); ++other) {
    if (other == session) continue;
    if (file.IsTypeByteLocked(tlRecord, other) && file.ReadRecordID(other) == id) return true;
  }
  return false;
}

void THDBDatabaseTableLockManager::Announce(THDBTableLocksFile& file, TSessionID session, THDBTableLockEntry& entry) {
  assert(!entry.InFile && entry.Type != tlExclusive);
  if (entry.Type == tlRecord) {
    // Others compare the id only while the byte is locked: write it first.
    file.WriteRecordID(session, entry.LockedRecord);
    if (!file.LockTypeByte(tlRecord, session)) RaiseHDB(Errors::CannotLockRecord);
  } else if (!file.LockTypeByte(entry.Type, session)) {
    RaiseHDB(Errors::CannotSetTableLock);
  }
  entry.InFile = true;
}

bool THDBDatabaseTableLockManager::DoLockTable(Section& section, TSessionID session, THDBTableLockList& list,
                                               THDBTableLocksFile& file, TableLockType type, bool flag,
                                               std::uint32_t delayMs, std::int32_t tries) {
  const std::int32_t key = file.StartPageNo();
  if (THDBTableLockEntry* held = list.Find(type, key)) {
    if (type == tlRecordEdit) return false;
    ++held->NestingCount;
    return true;
  }
  THDBTableLockEntry entry;
  entry.Type = type;
  entry.Key = key;
  entry.Flag = flag;
  entry.File = &file;
  // Only a lock on the same table protects this one.
  if (list.FindCovering(type, key)) {
    EntryAdded(session, list.Add(entry));
    return true;
  }
  file.CheckSlot(session);
  for (std::int32_t attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) Pause(section, RetryPause(delayMs));
    THDBLockFileGuard lockFile(file);
    if (!lockFile.TryTake()) continue;
    if (!AllowedByOthers(file, session, type, flag)) continue;
    if (type == tlExclusive) {
      lockFile.Keep();
    } else if (!file.LockTypeByte(type, session)) {
      RaiseHDB(Errors::CannotSetTableLock);
    }
    entry.InFile = true;
    EntryAdded(session, list.Add(entry));
    return true;
  }
  return false;
}

bool THDBDatabaseTableLockManager::ReleaseInFile(Section& section, TSessionID session, THDBTableLockList& list,
                                                 const THDBTableLockEntry& gone) {
  assert(gone.File != nullptr);
  THDBTableLocksFile& file = *gone.File;
  THDBLockFileGuard lockFile(file);
  // Holding the table exclusively the session owns the "LockFile" byte already;
  // taking it again would only wait for itself.
  if (gone.Type == tlExclusive || list.Find(tlExclusive, gone.Key)) {
    lockFile.Adopt();
  } else if (!TakeLockFile(section, lockFile, LockRetryCount, LockRetryPauseMs)) {
    return false;
  }
  for (THDBTableLockEntry& entry : list.Entries()) {
    if (entry.Key == gone.Key && !entry.InFile && TableLockCovers(gone.Type, entry.Type))
      Announce(file, session, entry);
  }
  const bool released = gone.Type == tlExclusive ? file.UnlockFile() : file.UnlockTypeByte(gone.Type, session);
  if (!released) RaiseHDB(Errors::CannotUnlockTable);
  return true;
}

bool THDBDatabaseTableLockManager::DoReleaseEntry(Section& section, TSessionID session, THDBTableLockList& list,
                                                  TableLockType type, std::int32_t key) {
  const THDBTableLockEntry gone = list.Take(type, key);
  if (gone.InFile) {
    bool released = false;
    try {
      released = ReleaseInFile(section, session, list, gone);
    } catch (...) {
      list.Add(gone);
      throw;
    }
    if (!released) {
      list.Add(gone);
      return false;
    }
  }
  EntryRemoved(session, gone);
  return true;
}

bool THDBDatabaseTableLockManager::LockTable(TSessionID session, THDBTableLocksFile& file, TableLockType type,
                                             bool flag, std::uint32_t delayMs, std::int32_t tries) {
  if (!Active()) return true;
  Section section(criticalSection_);
  THDBTableLockList& list = List(session);
  CheckFileOpen(&file, Errors::LocksFileNilAtLockTable);
  // Record locks carry their record and go through LockRecord.
  if (!IsValidTableLockType(type) || type == tlRecord) RaiseHDB(Errors::CannotSetTableLock);
  return DoLockTable(section, session, list, file, type, flag, delayMs, tries);
}

bool THDBDatabaseTableLockManager::UnlockTable(TSessionID session, THDBTableLocksFile& file, TableLockType type,
                                               bool flag) {
  if (!Active()) return true;
  Section section(criticalSection_);
  THDBTableLockList& list = List(session);
  CheckFileOpen(&file, Errors::LocksFileNilAtUnlockTable);
  const std::int32_t key = file.StartPageNo();
  THDBTableLockEntry* entry =
      IsValidTableLockType(type) && type != tlRecord ? list.Find(type, key) : nullptr;
  if (!entry) {
    if (flag) return true;
    RaiseHDB(Errors::TableLockNotFound);
  }
  if (entry->NestingCount > 1) {
    --entry->NestingCount;
    return true;
  }
  return DoReleaseEntry(section, session, list, type, key);
}

bool THDBDatabaseTableLockManager::LockRecord(TSessionID session, THDBTableLocksFile& file, const RecordID& id,
                                              std::uint32_t delayMs, std::int32_t tries) {
  if (!Active()) return true;
  Section section(criticalSection_);
  THDBTableLockList& list = List(session);
  CheckFileOpen(&file, Errors::LocksFileNilAtLockRecord);
  const std::int32_t key = file.StartPageNo();
  if (list.Find(tlRecord, key)) return false;
  THDBTableLockEntry entry;
  entry.Type = tlRecord;
  entry.Key = key;
  entry.File = &file;
  entry.LockedRecord = id;
  // Nobody else can change the table: the lock need not be announced.
  const THDBTableLockEntry* modified = list.Find(tlModified, key);
  if (list.Find(tlExclusive, key) || (modified && modified->InFile && !modified->Flag)) {
    list.Add(entry);
    return true;
  }
  file.CheckSlot(session);
  for (std::int32_t attempt = 0; attempt < tries; ++attempt) {
    if (attempt > 0) Pause(section, delayMs);
    THDBLockFileGuard lockFile(file);
    if (!lockFile.TryTake()) continue;
    if (IsRecordHeldByOther(file, session, id)) continue;
    // Others compare the id only while the byte is locked: write it first.
    file.WriteRecordID(session, id);
    if (!file.LockTypeByte(tlRecord, session)) RaiseHDB(Errors::CannotLockRecord);
    entry.InFile = true;
    list.Add(entry);
    return true;
  }
  return false;
}

bool THDBDatabaseTableLockManager::UnlockRecord(TSessionID session, THDBTableLocksFile& file,
                                                const RecordID& id) {
  if (!Active()) return true;
  Section section(criticalSection_);
  THDBTableLockList& list = List(session);
  CheckFileOpen(&file, Errors::LocksFileNilAtUnlockRecord);
  const std::int32_t key = file.StartPageNo();
  if (!list.Find(tlRecord, key)) return false;
  const THDBTableLockEntry gone = list.Take(tlRecord, key);
  if (!gone.InFile) return true;
  THDBLockFileGuard lockFile(file);
  if (list.Find(tlExclusive, key)) {
    lockFile.Adopt();
  } else if (!TakeLockFile(section, lockFile, LockRetryCount, LockRetryPauseMs)) {
    list.Add(gone);
    RaiseHDB(Errors::CannotUnlockRecord);
  }
  if (!file.UnlockTypeByte(tlRecord, session)) {
    list.Add(gone);
    RaiseHDB(Errors::CannotUnlockRecord);
  }
  return true;
}

bool THDBDatabaseTableLockManager::IsRecordLockedByOther(TSessionID session, THDBTableLocksFile& file,
                                                         const RecordID& id) {
  // Without other sessions no record can be locked by one.
  if (!Active()) return false;
  Section section(criticalSection_);
  THDBTableLockList& list = List(session);
  CheckFileOpen(&file, Errors::LocksFileNilAtRecordTest);
  if (list.Find(tlExclusive, file.StartPageNo())) return false;
  THDBLockFileGuard lockFile(file);
  // A file whose locks cannot be read is treated as locking the record.
  if (!TakeLockFile(section, lockFile, LockRetryCount, LockRetryPauseMs)) return true;
  return IsRecordHeldByOther(file, session, id);
}

bool THDBDatabaseTableLockManager::LockModifiedTables(TSessionID session) {
  if (!Active()) return true;
  Section section(criticalSection_);
  THDBTableLockList& list = List(session);
  std::vector<std::pair<std::int32_t, THDBTableLocksFile*>> modified;
  for (const THDBTableLockEntry& entry : list.Entries()) {
    if (entry.Type == tlModified) modified.emplace_back(entry.Key, entry.File);
  }
  std::vector<std::int32_t> taken;
  bool failed = false;
  try {
    for (const auto& [key, file] : modified) {
      if (list.IsCovered(tlCommit, key)) continue;
      CheckFileOpen(file, Errors::LocksFileNilAtLockModified);
      if (!DoLockTable(section, session, list, *file, tlCommit, false, CommitLockDelayMs, CommitLockTries)) {
        failed = true;
        break;
      }
      taken.push_back(key);
    }
  } catch (...) {
    for (std::int32_t key : taken) {
      try {
        DoReleaseEntry(section, session, list, tlCommit, key);
      } catch (...) {
      }
    }
    throw;
  }
  if (!failed) return true;
  bool remaining = false;
  for (std::int32_t key : taken) {
    if (!DoReleaseEntry(section, session, list, tlCommit, key)) remaining = true;
  }
  if (remaining) RaiseHDB(Errors::ModifiedTableLocksStillExist);
  return false;
}

void THDBDatabaseTableLockManager::ReleaseAfterCommit(TSessionID session) {
  if (!Active()) return;
  Section section(criticalSection_);
  THDBTableLockList& list = List(session);
  std::vector<std::pair<std::int32_t, THDBTableLocksFile*>> recordTables;
  std::vector<std::pair<TableLockType, std::int32_t>> ending;
  for (const THDBTableLockEntry& entry : list.Entries()) {
    if (entry.Type == tlRecord) recordTables.emplace_back(entry.Key, entry.File);
    if (entry.Type == tlModified || entry.Type == tlCommit) ending.emplace_back(entry.Type, entry.Key);
  }
  // A record still being edited keeps its table from being changed as a whole.
  for (const auto& [key, file] : recordTables) {
    if (list.Find(tlRecordEdit, key)) continue;
    CheckFileOpen(file, Errors::LocksFileNilAtRelease);
    DoLockTable(section, session, list, *file, tlRecordEdit, false, CommitLockDelayMs, CommitLockTries);
  }
  bool allReleased = true;
  for (const auto& [type, key] : ending) {
    if (!DoReleaseEntry(section, session, list, type, key)) allReleased = false;
  }
  if (!allReleased) RaiseHDB(Errors::CannotUnlockTable);
}

}  // namespace hdb

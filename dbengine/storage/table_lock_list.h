// THDBTableLockList: the table and record locks one session slot holds, in memory.
// Each entry is one kind on one table (the table's key is the start page of its
// locks file) with a nesting count, and says whether the lock is held in the file or
// only in memory because another lock of the session on the same table covers it.
// Entries point at their table's locks file without owning it: the table data object
// that owns the file outlives the locks taken on it.
//
// Not locked itself: the table lock manager uses it under its critical section.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "dbengine/storage/record_id.h"
#include "dbengine/storage/table_lock_type.h"

namespace hdb {

class THDBTableLocksFile;

struct THDBTableLockEntry {
  TableLockType Type = tlShared;
  std::int32_t Key = -1;
  std::int32_t NestingCount = 1;
  bool InFile = false;
  // The caller's flag when the lock was taken; handed back when the entry goes.
  bool Flag = false;
  THDBTableLocksFile* File = nullptr;  // not owned
  // Record locks only: the record, so that a lock held in memory can be announced in
  // the file when the lock covering it goes.
  RecordID LockedRecord;
};

class THDBTableLockList {
 public:
  THDBTableLockList() = default;
  THDBTableLockList(const THDBTableLockList&) = delete;
  THDBTableLockList& operator=(const THDBTableLockList&) = delete;
  // Frees the entries quietly: call CheckEmpty first where leftovers must be reported.
  ~THDBTableLockList() = default;

  THDBTableLockEntry* Find(TableLockType type, std::int32_t key);
  const THDBTableLockEntry* Find(TableLockType type, std::int32_t key) const;
  // An entry of another kind on the same table that covers `type`.
  const THDBTableLockEntry* FindCovering(TableLockType type, std::int32_t key) const;
  // Whether an entry on the table covers `type` (one of the same kind included).
  bool IsCovered(TableLockType type, std::int32_t key) const;

  // Adds a new entry; the session must not hold the kind on the table yet.
  THDBTableLockEntry& Add(const THDBTableLockEntry& entry);
  // Removes one nesting level; when that was the last, the entry leaves the list and
  // is returned. A missing entry raises 20202.
  std::optional<THDBTableLockEntry> Release(TableLockType type, std::int32_t key);
  // Removes the entry whatever its nesting count and returns it; the entry must exist.
  THDBTableLockEntry Take(TableLockType type, std::int32_t key);

  const std::vector<THDBTableLockEntry>& Entries() const { return entries_; }
  std::vector<THDBTableLockEntry>& Entries() { return entries_; }
  bool IsEmpty() const { return entries_.empty(); }
  // 20201 while entries are left.
  void CheckEmpty() const;
  void Clear() { entries_.clear(); }

 private:
  std::vector<THDBTableLockEntry> entries_;
};

}  // namespace hdb

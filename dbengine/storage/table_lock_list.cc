#include "dbengine/storage/table_lock_list.h"

#include <algorithm>
#include <cassert>

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

THDBTableLockEntry* THDBTableLockList::Find(TableLockType type, std::int32_t key) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const THDBTableLockEntry& e) { return e.Type == type && e.Key == key; });
  return it == entries_.end() ? nullptr : &*it;
}

const THDBTableLockEntry* THDBTableLockList::Find(TableLockType type, std::int32_t key) const {
  return const_cast<THDBTableLockList*>(this)->Find(type, key);
}

const THDBTableLockEntry* THDBTableLockList::FindCovering(TableLockType type, std::int32_t key) const {
  for (const THDBTableLockEntry& e : entries_) {
    if (e.Key == key && e.Type != type && TableLockCovers(e.Type, type)) return &e;
  }
  return nullptr;
}

bool THDBTableLockList::IsCovered(TableLockType type, std::int32_t key) const {
  return Find(type, key) != nullptr || FindCovering(type, key) != nullptr;
}

THDBTableLockEntry& THDBTableLockList::Add(const THDBTableLockEntry& entry) {
  assert(Find(entry.Type, entry.Key) == nullptr);
  assert(entry.NestingCount > 0);
  entries_.push_back(entry);
  return entries_.back();
}

std::optional<THDBTableLockEntry> THDBTableLockList::Release(TableLockType type, std::int32_t key) {
  THDBTableLockEntry* entry = Find(type, key);
  if (!entry) RaiseHDB(Errors::TableLockNotFound);
  if (--entry->NestingCount > 0) return std::nullopt;
  entry->NestingCount = 1;
  return Take(type, key);
}

THDBTableLockEntry THDBTableLockList::Take(TableLockType type, std::int32_t key) {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const THDBTableLockEntry& e) { return e.Type == type && e.Key == key; });
  assert(it != entries_.end());
  THDBTableLockEntry entry = *it;
  entries_.erase(it);
  return entry;
}

void THDBTableLockList::CheckEmpty() const {
  if (!entries_.empty()) RaiseHDB(Errors::TableLocksStillExist);
}

}  // namespace hdb

#include "dbengine/storage/table_pages_cache.h"

#include <cassert>

#include "dbengine/storage/page.h"

namespace hdb {

THDBDTPCSessionInfo& THDBDiskTablePagesCacheManager::Session(std::int32_t session) {
  assert(session >= -2);
  std::size_t index = static_cast<std::size_t>(session + 2);
  if (index >= sessions_.size()) sessions_.resize(index + 1);
  return sessions_[index];
}

const THDBDTPCSessionInfo* THDBDiskTablePagesCacheManager::FindSession(std::int32_t session) const {
  std::size_t index = static_cast<std::size_t>(session + 2);
  return session >= -2 && index < sessions_.size() ? &sessions_[index] : nullptr;
}

void THDBDiskTablePagesCacheManager::TableLocked(std::int32_t session, std::int32_t tableID, bool write) {
  THDBDTPCTableInfo& info = Session(session).Tables[tableID];
  if (info.ReadLockCount + info.WriteLockCount == 0) info.Captured = false;
  ++(write ? info.WriteLockCount : info.ReadLockCount);
}

void THDBDiskTablePagesCacheManager::TableUnlocked(std::int32_t session, std::int32_t tableID, bool write) {
  THDBDTPCTableInfo& info = Session(session).Tables[tableID];
  std::int32_t& count = write ? info.WriteLockCount : info.ReadLockCount;
  if (count > 0) --count;
  if (info.ReadLockCount + info.WriteLockCount == 0) info.Captured = false;
}

void THDBDiskTablePagesCacheManager::CaptureTableVersion(std::int32_t session, std::int32_t tableID,
                                                         std::int32_t version) {
  THDBDTPCTableInfo& info = Session(session).Tables[tableID];
  if (info.ReadLockCount + info.WriteLockCount == 0) return;
  info.Captured = true;
  info.TableVersion = version;
}

void THDBDiskTablePagesCacheManager::PushTable(std::int32_t session, std::int32_t tableID) {
  Session(session).TableStack.push_back(tableID);
}

void THDBDiskTablePagesCacheManager::PopTable(std::int32_t session) {
  auto& stack = Session(session).TableStack;
  assert(!stack.empty());
  if (!stack.empty()) stack.pop_back();
}

const THDBDTPCTableInfo* THDBDiskTablePagesCacheManager::TableInfo(std::int32_t session, std::int32_t tableID) const {
  const THDBDTPCSessionInfo* s = FindSession(session);
  if (!s) return nullptr;
  auto it = s->Tables.find(tableID);
  return it == s->Tables.end() ? nullptr : &it->second;
}

std::optional<std::int32_t> THDBDiskTablePagesCacheManager::CurrentVersion(std::int32_t session) const {
  const THDBDTPCSessionInfo* s = FindSession(session);
  if (!s || s->TableStack.empty()) return std::nullopt;
  auto it = s->Tables.find(s->TableStack.back());
  if (it == s->Tables.end()) return std::nullopt;
  const THDBDTPCTableInfo& info = it->second;
  if (info.ReadLockCount + info.WriteLockCount == 0 || !info.Captured) return std::nullopt;
  return info.TableVersion;
}

bool THDBDiskTablePagesCacheManager::IsPageCurrent(std::int32_t session, const THDBPage& page) const {
  std::optional<std::int32_t> version = CurrentVersion(session);
  if (!version) return false;
  const THDBPage::Validity* v = page.ValidityFor(session);
  return v && v->Valid && v->TableVersion == *version;
}

void THDBDiskTablePagesCacheManager::MarkPageCurrent(std::int32_t session, THDBPage& page) const {
  if (std::optional<std::int32_t> version = CurrentVersion(session)) page.SetValidity(session, *version);
}

}  // namespace hdb

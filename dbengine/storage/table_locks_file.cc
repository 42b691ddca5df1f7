#include "dbengine/storage/table_locks_file.h"

#include <cassert>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

THDBTableLocksFile::THDBTableLocksFile(THDBDiskPageManager& manager) : file_(manager, ptTableLocks) {}

void THDBTableLocksFile::Create(std::int32_t sessionCount) {
  assert(sessionCount > 0);
  file_.Create(sessionCount * BytesPerSession);
  sessionCount_ = sessionCount;
}

void THDBTableLocksFile::Open(std::int32_t startPageNo) {
  file_.Open(startPageNo);
  sessionCount_ = file_.GetSize() / BytesPerSession;
}

void THDBTableLocksFile::Delete(std::int32_t startPageNo) {
  const bool own = startPageNo == -1 || startPageNo == file_.StartPageNo();
  file_.Delete(startPageNo);
  if (own) sessionCount_ = 0;
}

void THDBTableLocksFile::CheckSlot(std::int32_t session) const {
  if (session < 0 || session >= sessionCount_) RaiseHDB(Errors::TableLockNoSessionSlot);
}

std::int32_t THDBTableLocksFile::LockBytePosition(TableLockType type, std::int32_t session) const {
  assert(type < tlExclusive && session >= 0 && session < sessionCount_);
  return static_cast<std::int32_t>(type) * sessionCount_ + session;
}

std::int32_t THDBTableLocksFile::RecordIDPosition(std::int32_t session) const {
  assert(session >= 0 && session < sessionCount_);
  return 6 * sessionCount_ + static_cast<std::int32_t>(RecordIDLayout::Size) * session;
}

bool THDBTableLocksFile::LockTypeByte(TableLockType type, std::int32_t session) {
  CheckSlot(session);
  return file_.LockByte(LockBytePosition(type, session));
}

bool THDBTableLocksFile::UnlockTypeByte(TableLockType type, std::int32_t session) {
  CheckSlot(session);
  return file_.UnlockByte(LockBytePosition(type, session));
}

bool THDBTableLocksFile::IsTypeByteLocked(TableLockType type, std::int32_t session) {
  CheckSlot(session);
  return file_.IsByteLocked(LockBytePosition(type, session));
}

bool THDBTableLocksFile::IsTypeLockedByOthers(TableLockType type, std::int32_t session) {
  assert(type < tlExclusive);
  const std::int32_t first = static_cast<std::int32_t>(type) * sessionCount_;
  // The session's own byte lies between the two ranges; a session without a slot
  // has none, and every byte of the kind belongs to another.
  if (session < 0 || session >= sessionCount_) return file_.IsRegionLocked(first, sessionCount_);
  return file_.IsRegionLocked(first, session) ||
         file_.IsRegionLocked(first + session + 1, sessionCount_ - session - 1);
}

RecordID THDBTableLocksFile::ReadRecordID(std::int32_t session) {
  CheckSlot(session);
  std::uint8_t bytes[RecordIDLayout::Size];
  file_.DirectReadBuffer(bytes, RecordIDLayout::Size, RecordIDPosition(session));
  return LoadRecordID(bytes);
}

void THDBTableLocksFile::WriteRecordID(std::int32_t session, const RecordID& id) {
  CheckSlot(session);
  std::uint8_t bytes[RecordIDLayout::Size];
  StoreRecordID(bytes, id);
  file_.DirectWriteBuffer(bytes, RecordIDLayout::Size, RecordIDPosition(session));
}

}  // namespace hdb

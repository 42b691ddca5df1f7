// THDBTableLocksFile: the table locks file of one table, a direct internal file
// (page type 7) of 12 x N bytes, N being the number of session slots it was made for.
// Sessions announce their table locks with byte locks in it and never write those
// bytes; only the record ids are written:
//   t * N + s            lock byte of kind t (0..5) for session s
//   6 * N + 6 * s .. +5  the record id session s has locked (valid while 5 * N + s is locked)
// The exclusive kind has no byte of its own: it is the "LockFile" byte (the first byte
// of the first page), which every other change of the file's locks holds briefly.
//
// Owns its direct file object. Not locked itself: the table lock manager uses it
// under its critical section and the "LockFile" byte.
#pragma once

#include <cstdint>

#include "dbengine/storage/direct_file.h"
#include "dbengine/storage/record_id.h"
#include "dbengine/storage/table_lock_type.h"

namespace hdb {

class THDBDiskPageManager;

class THDBTableLocksFile {
 public:
  static constexpr std::int32_t BytesPerSession = 12;

  explicit THDBTableLocksFile(THDBDiskPageManager& manager);
  THDBTableLocksFile(const THDBTableLocksFile&) = delete;
  THDBTableLocksFile& operator=(const THDBTableLocksFile&) = delete;

  // As the system session: a file of zero bytes for `sessionCount` slots; its pages
  // reach the database file at the system session's next commit.
  void Create(std::int32_t sessionCount);
  // Opens an existing file; the slots are its stored size div 12.
  void Open(std::int32_t startPageNo);
  void Delete(std::int32_t startPageNo = -1);

  bool IsOpen() const { return file_.IsOpen(); }
  // The table's key for its locks.
  std::int32_t StartPageNo() const { return file_.StartPageNo(); }
  std::int32_t SessionCount() const { return sessionCount_; }
  THDBInternalDBDirectAccessFile& Direct() { return file_; }

  // Content positions.
  std::int32_t LockBytePosition(TableLockType type, std::int32_t session) const;
  std::int32_t RecordIDPosition(std::int32_t session) const;

  // The "LockFile" byte: one attempt each.
  bool LockFile() { return file_.LockFile(); }
  bool UnlockFile() { return file_.UnlockFile(); }

  // The byte of kind `type` (0..5) of `session`; a session without a slot in this
  // file raises 20200.
  bool LockTypeByte(TableLockType type, std::int32_t session);
  bool UnlockTypeByte(TableLockType type, std::int32_t session);
  bool IsTypeByteLocked(TableLockType type, std::int32_t session);
  // Whether any session other than `session` holds its byte of kind `type`.
  bool IsTypeLockedByOthers(TableLockType type, std::int32_t session);

  RecordID ReadRecordID(std::int32_t session);
  void WriteRecordID(std::int32_t session, const RecordID& id);

  // 20200 when `session` has no slot in this file.
  void CheckSlot(std::int32_t session) const;

 private:
  THDBInternalDBDirectAccessFile file_;
  std::int32_t sessionCount_ = 0;
};

// Holds the "LockFile" byte of a table locks file for a scope. A session holding the
// table exclusively already owns that byte: Adopt() lets the scope use it without
// taking or releasing it. Keep() leaves a taken byte held after the scope (an
// exclusive lock was just granted).
class THDBLockFileGuard {
 public:
  explicit THDBLockFileGuard(THDBTableLocksFile& file) : file_(file) {}
  THDBLockFileGuard(const THDBLockFileGuard&) = delete;
  THDBLockFileGuard& operator=(const THDBLockFileGuard&) = delete;
  ~THDBLockFileGuard() {
    if (taken_) file_.UnlockFile();
  }

  // One attempt.
  bool TryTake() {
    if (!Held()) taken_ = file_.LockFile();
    return Held();
  }
  void Adopt() { adopted_ = true; }
  void Keep() { taken_ = false; adopted_ = true; }
  bool Held() const { return taken_ || adopted_; }

 private:
  THDBTableLocksFile& file_;
  bool taken_ = false;
  bool adopted_ = false;
};

}  // namespace hdb

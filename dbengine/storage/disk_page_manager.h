// THDBDiskPageManager: the page manager of a database file. This part holds its
// file-level duties: the owned THDBDatabaseFile, the images of the file header,
// security block and lock block, the positions of the regions (shifted when the
// header is found further into the file), page addressing, direct page-range I/O,
// the byte locks that serialise processes (HeaderLock, re-entrant by depth;
// TablesLock; the object-id counter lock) and the object-id counter itself.
//
// Not locked itself: every call arrives under the owning database object's
// in-process lock, which is always taken before any of the byte locks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/storage/database_file.h"
#include "dbengine/storage/error_messages.h"
#include "dbengine/storage/file_header.h"

namespace hdb {

using PageNo = std::int32_t;
inline constexpr PageNo NoPage = -1;

inline constexpr int LockRetryCount = 4500;       // header and counter locks
inline constexpr int TablesLockRetryCount = 200;  // TablesLock
inline constexpr std::uint32_t LockRetryPauseMs = 20;
inline constexpr std::uint16_t PageHeaderSize = 40;
inline constexpr std::uint16_t MinimumPageSize = 512;

class THDBDiskPageManager {
 public:
  THDBDiskPageManager();
  THDBDiskPageManager(const THDBDiskPageManager&) = delete;
  THDBDiskPageManager& operator=(const THDBDiskPageManager&) = delete;
  ~THDBDiskPageManager();

  // Opens an existing file; returns NeedsRepair. multiUser and readOnly are in/out:
  // a file that cannot be written opens read-only and single-user, an exclusive
  // open is single-user. Any failure closes what was opened and raises again.
  bool Open(const std::string& fileName, const THDBPassword& password, bool& multiUser, bool exclusive,
            bool& readOnly);
  // Creates a new file (replacing an existing one) holding the header, the security
  // and lock blocks and the counter, and leaves it open for read/write.
  void Create(const std::string& fileName, const THDBPassword& password, std::uint16_t extentPageCount,
              std::uint16_t pageSize);
  // Closes the file; writes nothing. A failing close is treated as closed.
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }

  void ReadHeader();
  void WriteHeader();
  void ReadSecurityBlock();
  void WriteSecurityBlock();
  void ReadLockBlock();
  void WriteLockBlock();

  // Re-entrant: only the first acquisition locks the byte, only the last release
  // unlocks it. Returns false when the byte could not be had in `tries` attempts.
  bool HeaderLock(int tries = LockRetryCount);
  void HeaderUnlock();
  std::int32_t HeaderLockDepth() const { return headerLockDepth_; }
  void TablesLock();
  void TablesUnlock();
  bool CounterLock(int tries = LockRetryCount);
  void CounterUnlock();

  // TotalPageCount from the file, read under HeaderLock taken in one attempt.
  std::int32_t GetPageCount();
  std::int64_t PageOffset(PageNo pageNo) const;

  // Straight file I/O of `count` bytes at `offset` inside one page, past the cache.
  void ReadPageRange(void* buffer, PageNo pageNo, std::uint32_t count, std::uint32_t offset);
  void WritePageRange(const void* buffer, PageNo pageNo, std::uint32_t count, std::uint32_t offset);
  bool LockPageBytes(PageNo pageNo, std::uint32_t offset, std::uint32_t count = 1);
  bool UnlockPageBytes(PageNo pageNo, std::uint32_t offset, std::uint32_t count = 1);
  bool IsPageByteLocked(PageNo pageNo, std::uint32_t offset);
  bool IsPageRegionLocked(PageNo pageNo, std::uint32_t offset, std::uint32_t count);

  // The next file-wide object id. A read-only file cannot record it, so it answers
  // counter + 1 + a random value below 10000 and writes nothing.
  std::int32_t NextObjectID();

  THDBFileHeader& Header() { return header_; }
  const THDBFileHeader& Header() const { return header_; }
  const THDBSecurityBlock& SecurityBlock() const { return securityBlock_; }
  const THDBLockBlock& LockBlock() const { return lockBlock_; }
  THDBDatabaseFile& File() { return file_; }
  const THDBPassword& Password() const { return password_; }

  std::int64_t HeaderPosition() const { return headerPosition_; }
  std::int64_t SecurityBlockPosition() const { return securityBlockPosition_; }
  std::int64_t LockBlockPosition() const { return lockBlockPosition_; }
  std::int64_t ObjectIDCounterPosition() const { return counterPosition_; }
  std::int64_t PagesStart() const { return pagesStart_; }
  std::uint16_t PageSize() const { return pageSize_; }
  std::uint16_t PageDataSize() const { return static_cast<std::uint16_t>(pageSize_ - PageHeaderSize); }
  bool IsReadOnly() const { return file_.AccessMode() == THDBDatabaseFile::AccessRead; }
  bool MultiUser() const { return multiUser_; }
  bool Exclusive() const { return exclusive_; }

 private:
  void CheckPageRange(PageNo pageNo, std::uint32_t count, std::uint32_t offset, bool forWrite) const;
  std::int64_t TablesLockPosition() const { return lockBlockPosition_ + LockBlockLayout::TablesLockByte; }
  std::int64_t HeaderLockPosition() const { return lockBlockPosition_ + LockBlockLayout::HeaderLockByte; }
  void ResetPositions();

  THDBDatabaseFile file_;
  THDBFileHeader header_;
  THDBSecurityBlock securityBlock_;
  THDBLockBlock lockBlock_;
  THDBPassword password_;
  std::int32_t headerLockDepth_ = 0;
  std::int64_t heldHeaderLockPosition_ = -1;  // where the outermost HeaderLock was taken
  bool exclusive_ = false;
  bool multiUser_ = false;

  std::int64_t headerPosition_ = 0;
  std::int64_t securityBlockPosition_ = 0;
  std::int64_t lockBlockPosition_ = 0;
  std::int64_t counterPosition_ = 0;
  std::int64_t pagesStart_ = 0;
  std::uint16_t pageSize_ = 4096;
};

// Holds HeaderLock for a scope; raises `failure` when it cannot be had.
class THDBHeaderLockGuard {
 public:
  THDBHeaderLockGuard(THDBDiskPageManager& manager, const THDBErrorDef& failure, int tries = LockRetryCount);
  THDBHeaderLockGuard(const THDBHeaderLockGuard&) = delete;
  THDBHeaderLockGuard& operator=(const THDBHeaderLockGuard&) = delete;
  ~THDBHeaderLockGuard() { manager_.HeaderUnlock(); }

 private:
  THDBDiskPageManager& manager_;
};

}  // namespace hdb

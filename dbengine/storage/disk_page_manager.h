// THDBDiskPageManager: the page manager of a database file. Besides the cache and
// session changes of its base it owns the THDBDatabaseFile, the images of the file
// header, security block and lock block, the positions of the regions (shifted when
// the header is found further into the file), the free-space manager and the
// multi-user cache-validity manager and the rollback journal. It addresses pages,
// reads and writes them (the commit first journals what it will overwrite, taking the
// images of pages its last commits wrote from memory while no other process has
// committed since (THDBCommittedImages), then writes
// the changed pages in place between two header writes: state 1, then the pages, then
// ChangeCounter + 1 and state 2; a commit that stops half way is rolled back from the
// journal, at once or by the next open), does direct page-range I/O, holds the
// byte locks that serialise processes (HeaderLock, re-entrant by depth; TablesLock;
// the object-id counter lock) and hands out object ids.
//
// Not locked itself: every call arrives under the owning database object's
// in-process lock, which is always taken before any of the byte locks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dbengine/storage/committed_images.h"
#include "dbengine/storage/database_file.h"
#include "dbengine/storage/error_messages.h"
#include "dbengine/storage/file_header.h"
#include "dbengine/storage/free_space.h"
#include "dbengine/storage/map_page_cache.h"
#include "dbengine/storage/page_manager.h"
#include "dbengine/storage/rollback_journal.h"
#include "dbengine/storage/table_pages_cache.h"

namespace hdb {

using PageNo = std::int32_t;
inline constexpr PageNo NoPage = -1;

inline constexpr int LockRetryCount = 4500;       // header and counter locks
inline constexpr int TablesLockRetryCount = 200;  // TablesLock
inline constexpr std::uint32_t LockRetryPauseMs = 20;
inline constexpr std::uint16_t MinimumPageSize = 512;

class THDBDiskPageManager : public THDBPageManager {
 public:
  THDBDiskPageManager();
  ~THDBDiskPageManager() override;

  // Page operations (slot order of the base).
  std::int32_t GetPageCount() override;
  bool IsPageCurrent(TSessionID session, THDBPage* page) override;
  void MarkPageCurrent(TSessionID session, THDBPage* page) override;
  void AllocatePageNo(THDBPage* page) override;
  void FreePageNo(std::int32_t pageNo) override;
  bool ReadPage(THDBPage* page) override;
  void WritePage(THDBPage* page) override;
  void RemovePage(TSessionID session, std::int32_t pageNo) override;
  THDBPage* GetPage(TSessionID session, std::int32_t pageNo, bool revalidate = false,
                    std::uint16_t expectedType = AnyPageType) override;
  void CommitPages(TSessionID session) override;

  // Flushes of the commit (journal, file) are made only while set; tests and
  // benchmarks turn them off. The order of the writes stays the same.
  void SetFlushing(bool on) { journal_.SetFlushing(on); }
  bool Flushing() const { return journal_.Flushing(); }
  THDBRollbackJournal& Journal() { return journal_; }
  const THDBCommittedImages& CommittedImages() const { return committedImages_; }
  // Without the journal a commit is only the header bracket, as a file whose format
  // predates it was written: a crash inside it leaves state 1 (NeedsRepair). Only the
  // benchmark measuring the journal's cost turns it off.
  void SetJournaling(bool on) { journaling_ = on; }
  // Multi-user: before a session reads, a commit that another process left half
  // written (state 1 in the file while nobody holds HeaderLock) is rolled back from its
  // journal. Cheap when the file is at rest: one byte is read.
  void RecoverInterruptedCommit();

  // Cuts every free page after LastUsedPageNo off the end of the file.
  void TruncateUnusedTail();
  THDBDatabaseFreeSpaceManager* FreeSpace() { return freeSpace_.get(); }
  // The copies of map pages the free-space steps read and write, and whether they may
  // be used now: single-user, or under HeaderLock.
  THDBMapPageCache& MapPages() { return mapPages_; }
  bool MapPagesCacheable() const { return !multiUser_ || headerLockDepth_ > 0; }
  THDBDiskTablePagesCacheManager& TablePagesCache() { return tablePagesCache_; }

  // Opens an existing file; returns NeedsRepair. multiUser and readOnly are in/out:
  // a file that cannot be written opens read-only and single-user, an exclusive
  // open is single-user. Any failure closes what was opened and raises again.
  bool Open(const std::string& fileName, const THDBPassword& password, bool& multiUser, bool exclusive,
            bool& readOnly);
  // Creates a new file (replacing an existing one) holding the header, the security
  // and lock blocks and the counter, and leaves it open for read/write.
  void Create(const std::string& fileName, const THDBPassword& password, std::uint16_t extentPageCount,
              std::uint16_t pageSize);
  // Closes the file. Changes no commit will write are rolled back first (the pages
  // they added go back to free space, so nothing stays marked used that was never
  // written), and then reported with 20097 once the file is closed. Writes nothing
  // else; a failing close is treated as closed.
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

  // GetPageCount: TotalPageCount from the file, read under HeaderLock taken in one attempt.
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
  bool IsReadOnly() const { return file_.AccessMode() == THDBDatabaseFile::AccessRead; }
  // The session only reads the file from now on (another process holds it): every
  // page change, allocation and write is refused with 30456.
  void SetReadOnly() { file_.RestrictToReading(); }
  bool Exclusive() const { return exclusive_; }

 private:
  // 30456 when the file is only read.
  void CheckWritable() const;
  void CheckPageRange(PageNo pageNo, std::uint32_t count, std::uint32_t offset, bool forWrite) const;
  std::int64_t TablesLockPosition() const { return lockBlockPosition_ + LockBlockLayout::TablesLockByte; }
  std::int64_t HeaderLockPosition() const { return lockBlockPosition_ + LockBlockLayout::HeaderLockByte; }
  void ResetPositions();
  void RevalidatePage(THDBPage* page) override;
  // Under HeaderLock: rolls back a journal left by a commit that did not finish (see
  // THDBRollbackJournal::Recover) and drops cached copies of what it restored.
  void RecoverJournal(bool keepFinished);
  // Rolls back the journal of this manager's own commit that could not be undone at
  // once, before anything else changes the file.
  void RecoverPendingJournal();
  // Records the commit's images (header, the changed and freed pages that held
  // committed data, the map pages a free may change) and writes the journal.
  void JournalCommit(const SessionPages& entry);
  // After a commit's writes: its written table pages are the file's content now.
  void KeepCommittedImages(const SessionPages& entry);

  THDBDatabaseFile file_;
  THDBFileHeader header_;
  THDBSecurityBlock securityBlock_;
  THDBLockBlock lockBlock_;
  THDBPassword password_;
  std::int32_t headerLockDepth_ = 0;
  std::int64_t heldHeaderLockPosition_ = -1;  // where the outermost HeaderLock was taken
  bool exclusive_ = false;
  std::unique_ptr<THDBDatabaseFreeSpaceManager> freeSpace_;
  THDBDiskTablePagesCacheManager tablePagesCache_;
  THDBRollbackJournal journal_{file_};
  THDBCommittedImages committedImages_;
  THDBMapPageCache mapPages_;
  // A commit of this manager failed and its journal could not be rolled back at once.
  bool journalPending_ = false;
  bool journaling_ = true;

  std::int64_t headerPosition_ = 0;
  std::int64_t securityBlockPosition_ = 0;
  std::int64_t lockBlockPosition_ = 0;
  std::int64_t counterPosition_ = 0;
  std::int64_t pagesStart_ = 0;
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

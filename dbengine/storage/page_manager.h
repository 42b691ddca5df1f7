// THDBPageManager: pins pages for sessions, keeps a shared cache of clean pages
// (at most CacheLimit, evicted by least recent use) and holds each session's changed,
// added and removed pages until the session commits or rolls back. The disk page
// manager writes the changed pages in place at commit, behind its rollback journal.
// The manager owns every page object in its lists.
//
// Takes no lock of its own: every call arrives under the owning database object's
// in-process lock (or a table's lock), so calls are serialised.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "dbengine/storage/page.h"
#include "dbengine/storage/session_id.h"
#include "dbengine/storage/sorted_page_list.h"

namespace hdb {


class THDBPageManager {
 public:
  struct SessionPages {
    TSessionID SessionID;
    THDBSortedPageList ChangedPages;
    std::vector<std::int32_t> AddedPages;
    std::vector<std::int32_t> RemovedPages;
  };

  THDBPageManager();
  THDBPageManager(const THDBPageManager&) = delete;
  THDBPageManager& operator=(const THDBPageManager&) = delete;
  // Frees every cached page. Call CheckNoPendingChanges first where a pending change
  // must be reported: a destructor cannot.
  virtual ~THDBPageManager();

  // Slot order of the virtual operations.
  virtual std::int32_t GetPageCount();                                       // 0
  virtual bool IsPageCurrent(TSessionID session, THDBPage* page);            // 1
  virtual void MarkPageCurrent(TSessionID session, THDBPage* page);          // 2
  // (slots 3 and 4 hold no operation)
  virtual void AllocatePageNo(THDBPage* page) = 0;                           // 5
  virtual void FreePageNo(std::int32_t pageNo) = 0;                          // 6
  virtual bool ReadPage(THDBPage* page) = 0;                                 // 7
  virtual void WritePage(THDBPage* page) = 0;                                // 8
  virtual void RemovePage(TSessionID session, std::int32_t pageNo);          // 9
  virtual THDBPage* GetPage(TSessionID session, std::int32_t pageNo, bool revalidate = false,
                            std::uint16_t expectedType = AnyPageType);       // 10
  virtual void CommitPages(TSessionID session);                              // 11

  void ReleasePage(THDBPage* page);
  THDBPage* AddPage(TSessionID session, std::uint16_t pageType);
  void RollbackPages(TSessionID session);
  // 20097 when a session still has uncommitted changes.
  void CheckNoPendingChanges() const;
  bool HasPendingChanges(TSessionID session) const;
  // Rolls back every session that has changes pending; true when there was one. A
  // failing rollback does not stop the others; the first failure is raised after.
  bool RollbackPendingChanges();

  std::int32_t CacheLimit() const { return cacheLimit_; }
  void SetCacheLimit(std::int32_t limit) { cacheLimit_ = limit; }
  const THDBSortedPageList& SharedCache() const { return sharedCache_; }
  const SessionPages* FindSession(TSessionID session) const;

  std::uint16_t PageSize() const { return pageSize_; }
  std::uint16_t PageHeaderSize() const { return pageHeaderSize_; }
  std::uint16_t PageDataSize() const { return pageDataSize_; }
  bool HasPageHeader() const { return pageHeaderSize_ > 0; }
  bool MultiUser() const { return multiUser_; }
  bool SuppressChecks = false;

  std::recursive_mutex& CriticalSection() { return criticalSection_; }

 protected:
  void SetPageSize(std::uint16_t pageSize, std::uint16_t headerSize);
  SessionPages& SessionEntry(TSessionID session);
  // Re-reads a cached page whose file copy has changed (multi-user).
  virtual void RevalidatePage(THDBPage* page);
  // Drops and destroys a page object, wherever it is listed.
  void DestroyPage(THDBPage* page);
  // The checks of a commit (20152, 20085, 20086), made before anything is freed or
  // written, so that a refused commit leaves the file and the session as they were.
  void CheckCommittable(const SessionPages& entry) const;
  // Base commit: frees the removed pages and writes the changed ones (no header work),
  // then FinishSessionCommit.
  void CommitSessionPages(SessionPages& entry);
  // The writes of a commit: frees the removed pages, then writes the changed ones that
  // were not removed, in ascending page number. The session's lists stay as they are,
  // so a commit that fails here can be undone and the session rolled back or committed
  // again; the written pages' buffers then carry a PageVersion one too far, which
  // RestorePageVersions puts back.
  void WriteSessionPages(SessionPages& entry);
  // The PageVersion of every changed page of the session, in list order.
  std::vector<std::int32_t> PageVersions(const SessionPages& entry) const;
  void RestorePageVersions(SessionPages& entry, const std::vector<std::int32_t>& versions);
  // After the writes: the removed pages' objects go, the lists are emptied, and the
  // written pages, clean now, go back to the shared cache.
  void FinishSessionCommit(SessionPages& entry);
  // Destroys the shared cache's copy of a page unless it is pinned: its file copy has
  // changed under it.
  void DropCachedPage(std::int32_t pageNo);
  // Frees every page of the shared cache (none may be pinned).
  void ClearSharedCache();
  // A written page goes back to the shared cache while it has room, else it is freed.
  void KeepCommitted(THDBPage* page);

  bool multiUser_ = false;
  std::int32_t memoryPageCount_ = 0;

 private:
  std::recursive_mutex criticalSection_;
  std::int32_t cacheLimit_;
  THDBSortedPageList sharedCache_;
  std::vector<std::unique_ptr<SessionPages>> sessions_;
  // The entry SessionEntry found last (entries live as long as the manager).
  SessionPages* lastSession_ = nullptr;
  std::uint16_t pageSize_ = 4096;
  std::uint16_t pageHeaderSize_ = 40;
  std::uint16_t pageDataSize_ = 4096 - 40;
};

// Holds one pin for a scope: ReleasePage on every path.
class THDBPinnedPage {
 public:
  THDBPinnedPage() = default;
  THDBPinnedPage(THDBPageManager& manager, THDBPage* page) : manager_(&manager), page_(page) {}
  THDBPinnedPage(THDBPinnedPage&& other) noexcept : manager_(other.manager_), page_(other.page_) {
    other.page_ = nullptr;
  }
  THDBPinnedPage& operator=(THDBPinnedPage&& other) noexcept;
  THDBPinnedPage(const THDBPinnedPage&) = delete;
  THDBPinnedPage& operator=(const THDBPinnedPage&) = delete;
  ~THDBPinnedPage() { Release(); }

  THDBPage* operator->() const { return page_; }
  THDBPage* Get() const { return page_; }
  explicit operator bool() const { return page_ != nullptr; }
  // Marks the page changed, so the release hands it to the session's changes.
  void SetDirty() { page_->IsDirty = true; }
  void Release();

 private:
  THDBPageManager* manager_ = nullptr;
  THDBPage* page_ = nullptr;
};

}  // namespace hdb

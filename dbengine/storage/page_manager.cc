#include "dbengine/storage/page_manager.h"

#include <algorithm>
#include <cassert>
#include <exception>

#include "dbengine/platform/system_services.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

THDBPinnedPage& THDBPinnedPage::operator=(THDBPinnedPage&& other) noexcept {
  if (this != &other) {
    Release();
    manager_ = other.manager_;
    page_ = other.page_;
    other.page_ = nullptr;
  }
  return *this;
}

void THDBPinnedPage::Release() {
  if (!page_) return;
  THDBPage* page = page_;
  page_ = nullptr;
  manager_->ReleasePage(page);
}

THDBPageManager::THDBPageManager() {
  const std::uint64_t available = platform::AvailablePhysicalMemory();
  cacheLimit_ = static_cast<std::int32_t>(std::min<std::uint64_t>(available / 65536, 1000));
}

namespace {
// Empties a list and destroys its pages.
void DestroyAll(THDBSortedPageList& list) {
  std::vector<THDBPage*> pages;
  pages.reserve(static_cast<std::size_t>(list.Count()));
  for (std::int32_t i = 0; i < list.Count(); ++i) pages.push_back(list.At(i));
  list.Clear();
  for (THDBPage* page : pages) delete page;
}
}  // namespace

THDBPageManager::~THDBPageManager() {
  for (auto& entry : sessions_) DestroyAll(entry->ChangedPages);
  DestroyAll(sharedCache_);
}

void THDBPageManager::ClearSharedCache() {
  for (std::int32_t i = 0; i < sharedCache_.Count(); ++i) assert(sharedCache_.At(i)->UseCount == 0);
  DestroyAll(sharedCache_);
}

void THDBPageManager::SetPageSize(std::uint16_t pageSize, std::uint16_t headerSize) {
  assert(pageSize > headerSize);
  pageSize_ = pageSize;
  pageHeaderSize_ = headerSize;
  pageDataSize_ = static_cast<std::uint16_t>(pageSize - headerSize);
}

std::int32_t THDBPageManager::GetPageCount() { return memoryPageCount_; }
bool THDBPageManager::IsPageCurrent(TSessionID, THDBPage*) { return false; }
void THDBPageManager::MarkPageCurrent(TSessionID, THDBPage*) {}
void THDBPageManager::RevalidatePage(THDBPage* page) { ReadPage(page); }

const THDBPageManager::SessionPages* THDBPageManager::FindSession(TSessionID session) const {
  for (const auto& entry : sessions_)
    if (entry->SessionID == session) return entry.get();
  return nullptr;
}

THDBPageManager::SessionPages& THDBPageManager::SessionEntry(TSessionID session) {
  // Entries are never removed, so the one found last stays valid.
  if (lastSession_ && lastSession_->SessionID == session) return *lastSession_;
  for (auto& entry : sessions_)
    if (entry->SessionID == session) return *(lastSession_ = entry.get());
  sessions_.push_back(std::make_unique<SessionPages>());
  sessions_.back()->SessionID = session;
  return *(lastSession_ = sessions_.back().get());
}

bool THDBPageManager::HasPendingChanges(TSessionID session) const {
  const SessionPages* entry = FindSession(session);
  return entry && (entry->ChangedPages.Count() > 0 || !entry->AddedPages.empty() || !entry->RemovedPages.empty());
}

void THDBPageManager::CheckNoPendingChanges() const {
  for (const auto& entry : sessions_)
    if (entry->ChangedPages.Count() > 0) RaiseHDB(Errors::NonCommittedPages);
}

bool THDBPageManager::RollbackPendingChanges() {
  bool any = false;
  std::exception_ptr failure;
  for (auto& entry : sessions_) {
    if (!HasPendingChanges(entry->SessionID)) continue;
    any = true;
    try {
      RollbackPages(entry->SessionID);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
  return any;
}

void THDBPageManager::DestroyPage(THDBPage* page) {
  assert(page->UseCount == 0);
  if (page->List) page->List->Delete(page->PageNo());
  delete page;
}

THDBPage* THDBPageManager::GetPage(TSessionID session, std::int32_t pageNo, bool revalidate,
                                   std::uint16_t expectedType) {
  if (session == -1) RaiseHDB(Errors::InvalidSessionID);
  SessionPages& entry = SessionEntry(session);
  THDBPage* page = entry.ChangedPages.Count() > 0 ? entry.ChangedPages.Find(pageNo) : nullptr;
  bool fresh = false;
  if (!page) {
    page = sharedCache_.Find(pageNo);
    if (page) {
      if (page->UseCount > 0 && page->SessionID != session) RaiseHDB(Errors::PageUsedByOtherSession);
      // Only an unpinned copy may be re-read: a pin means someone is working on it.
      if (revalidate && page->UseCount == 0 && !IsPageCurrent(session, page)) {
        RevalidatePage(page);
        MarkPageCurrent(session, page);
      }
    } else {
      auto created = std::make_unique<THDBPage>(this, pageNo, 0);
      created->SessionID = session;
      page = created.get();
      sharedCache_.Insert(page);
      created.release();
      // A page that could not be read must not stay cached, whether the read failed
      // or raised.
      bool read = false;
      try {
        read = ReadPage(page);
      } catch (...) {
        DestroyPage(page);
        throw;
      }
      if (!read) {
        DestroyPage(page);
        RaiseHDB(Errors::PageReadFailed, pageNo, expectedType);
      }
      fresh = true;
    }
  }
  if (expectedType != AnyPageType && !SuppressChecks && HasPageHeader() && page->PageType() != expectedType) {
    const std::uint16_t found = page->PageType();
    if (fresh) DestroyPage(page);
    RaiseHDB(Errors::InvalidPageType, expectedType, found);
  }
  if (fresh) MarkPageCurrent(session, page);
  if (page->UseCount > 0 && page->SessionID != session) RaiseHDB(Errors::PageUsedByOtherSession);
  page->SessionID = session;
  ++page->UseCount;
  return page;
}

void THDBPageManager::ReleasePage(THDBPage* page) {
  assert(page && page->UseCount > 0);
  if (--page->UseCount == 0) page->IsRead = false;
  if (page->UseCount == 0 && page->List == &sharedCache_) {
    if (page->IsDirty) {
      sharedCache_.Delete(page->PageNo());
      SessionEntry(page->SessionID).ChangedPages.Insert(page);
      return;
    }
    sharedCache_.Touch(page->PageNo());
  }
  if (page->List != &sharedCache_ || sharedCache_.Count() <= cacheLimit_) return;
  THDBPage* oldest = sharedCache_.LeastRecentlyUsed();
  if (oldest && oldest->UseCount == 0) DestroyPage(oldest);
}

THDBPage* THDBPageManager::AddPage(TSessionID session, std::uint16_t pageType) {
  SessionPages& entry = SessionEntry(session);
  auto page = std::make_unique<THDBPage>(this, -1, 0);
  AllocatePageNo(page.get());
  const std::int32_t pageNo = page->PageNo();
  if (pageNo == -1) RaiseHDB(Errors::InvalidPageNumber);
  assert(page->HasBuffer());
  page->UseCount = 1;
  page->IsDirty = true;
  page->IsRead = false;
  page->SessionID = session;
  if (HasPageHeader()) {
    page->SetPageType(pageType);
    page->SetPageVersion(static_cast<std::int32_t>(platform::RandomBelow(0x3FFFFFFF)));
  }
  // A copy of a page freed earlier may still sit in the cache.
  if (THDBPage* stale = sharedCache_.Find(pageNo)) {
    if (stale->UseCount > 0) {
      FreePageNo(pageNo);
      RaiseHDB(Errors::PageUsedByOtherSession);
    }
    DestroyPage(stale);
  }
  assert(entry.ChangedPages.Find(pageNo) == nullptr);
  entry.ChangedPages.Insert(page.get());
  entry.AddedPages.push_back(pageNo);
  return page.release();
}

void THDBPageManager::RemovePage(TSessionID session, std::int32_t pageNo) {
  SessionEntry(session).RemovedPages.push_back(pageNo);
}

void THDBPageManager::CommitPages(TSessionID session) {
  for (auto& entry : sessions_) {
    if (entry->SessionID == session) {
      CommitSessionPages(*entry);
      return;
    }
  }
}

void THDBPageManager::CheckCommittable(const SessionPages& entry) const {
  for (std::int32_t i = 0; i < sharedCache_.Count(); ++i) {
    const THDBPage* cached = sharedCache_.At(i);
    if (cached->SessionID == entry.SessionID && cached->UseCount > 0) RaiseHDB(Errors::SessionPagesNotReleased);
  }
  // Checked before the removed pages are freed: a refusal half way would leave pages
  // freed that the session's rollback still needs, and would destroy a pinned page.
  for (std::int32_t i = 0; i < entry.ChangedPages.Count(); ++i) {
    const THDBPage* page = entry.ChangedPages.At(i);
    if (!page->IsDirty) RaiseHDB(Errors::InvalidPage);
    if (page->UseCount > 0) RaiseHDB(Errors::CannotWriteUsedPage);
  }
}

void THDBPageManager::CommitSessionPages(SessionPages& entry) {
  CheckCommittable(entry);
  const std::vector<std::int32_t> versions = PageVersions(entry);
  try {
    WriteSessionPages(entry);
  } catch (...) {
    RestorePageVersions(entry, versions);
    throw;
  }
  FinishSessionCommit(entry);
}

void THDBPageManager::WriteSessionPages(SessionPages& entry) {
  for (std::int32_t pageNo : entry.RemovedPages) FreePageNo(pageNo);
  std::vector<std::int32_t> removed = entry.RemovedPages;
  std::sort(removed.begin(), removed.end());
  for (std::int32_t i = 0; i < entry.ChangedPages.Count(); ++i) {
    THDBPage* page = entry.ChangedPages.At(i);
    if (!std::binary_search(removed.begin(), removed.end(), page->PageNo())) WritePage(page);
  }
}

std::vector<std::int32_t> THDBPageManager::PageVersions(const SessionPages& entry) const {
  std::vector<std::int32_t> versions;
  versions.reserve(static_cast<std::size_t>(entry.ChangedPages.Count()));
  for (std::int32_t i = 0; i < entry.ChangedPages.Count(); ++i) versions.push_back(entry.ChangedPages.At(i)->PageVersion());
  return versions;
}

void THDBPageManager::RestorePageVersions(SessionPages& entry, const std::vector<std::int32_t>& versions) {
  assert(versions.size() == static_cast<std::size_t>(entry.ChangedPages.Count()));
  for (std::int32_t i = 0; i < entry.ChangedPages.Count(); ++i)
    entry.ChangedPages.At(i)->SetPageVersion(versions[static_cast<std::size_t>(i)]);
}

void THDBPageManager::FinishSessionCommit(SessionPages& entry) {
  for (std::int32_t pageNo : entry.RemovedPages) {
    if (THDBPage* changed = entry.ChangedPages.Find(pageNo)) DestroyPage(changed);
    DropCachedPage(pageNo);
  }
  entry.RemovedPages.clear();
  entry.AddedPages.clear();
  const std::int32_t count = entry.ChangedPages.Count();
  std::vector<THDBPage*> pages;
  pages.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) pages.push_back(entry.ChangedPages.At(i));
  entry.ChangedPages.Clear();
  for (THDBPage* page : pages) KeepCommitted(page);
}

void THDBPageManager::DropCachedPage(std::int32_t pageNo) {
  if (THDBPage* cached = sharedCache_.Find(pageNo); cached && cached->UseCount == 0) DestroyPage(cached);
}

void THDBPageManager::KeepCommitted(THDBPage* page) {
  assert(page->List == nullptr);
  page->IsDirty = false;
  THDBPage* cached = sharedCache_.Find(page->PageNo());
  // Another session may have read the old content meanwhile: an unpinned copy gives
  // way to the committed one; a pinned one stays and the committed object goes.
  if (cached && cached->UseCount == 0) {
    DestroyPage(cached);
    cached = nullptr;
  }
  if (!cached && sharedCache_.Count() < cacheLimit_) {
    sharedCache_.Insert(page);
  } else {
    delete page;
  }
}

void THDBPageManager::RollbackPages(TSessionID session) {
  SessionPages* entry = nullptr;
  for (auto& e : sessions_)
    if (e->SessionID == session) entry = e.get();
  if (!entry) return;
  for (std::int32_t i = 0; i < entry->ChangedPages.Count(); ++i) {
    const THDBPage* page = entry->ChangedPages.At(i);
    if (!page->IsDirty) RaiseHDB(Errors::InvalidIndexPage);
    if (page->UseCount > 0) RaiseHDB(Errors::CannotRemoveUsedPage);
  }
  DestroyAll(entry->ChangedPages);
  std::vector<std::int32_t> added;
  added.swap(entry->AddedPages);
  entry->RemovedPages.clear();
  for (std::int32_t pageNo : added) FreePageNo(pageNo);
}

}  // namespace hdb

#include "dbengine/tables/record_manager.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_header.h"
#include "dbengine/tables/field_manager.h"

namespace hdb {

// A view over one pinned record page: the occupancy bitmap and the slots after it.
class THDBDiskRecordManager::RecordPage {
 public:
  RecordPage(THDBDiskRecordManager& owner, THDBPage* page) : owner_(owner), pinned_(owner.pages_, page) {
    const std::int64_t needed =
        owner.bitmapSize_ + static_cast<std::int64_t>(owner.recordsPerPage_) * owner.diskRecordSize_;
    if (needed > owner.pages_.PageDataSize()) RaiseHDB(Errors::InvalidRecordsOnPage);
  }
  THDBPage* Page() const { return pinned_.Get(); }
  std::int32_t PageNo() const { return pinned_->PageNo(); }
  bool Occupied(std::int32_t slot) const {
    return slot >= 0 && slot < owner_.recordsPerPage_ && (Data()[slot >> 3] >> (slot & 7)) & 1;
  }
  void SetOccupied(std::int32_t slot, bool on) {
    std::uint8_t& b = Data()[slot >> 3];
    b = static_cast<std::uint8_t>(on ? b | (1u << (slot & 7)) : b & ~(1u << (slot & 7)));
    pinned_.SetDirty();
  }
  std::uint8_t* Slot(std::int32_t slot) { return Data() + owner_.bitmapSize_ + slot * owner_.diskRecordSize_; }
  std::int32_t Count() const {
    std::int32_t n = 0;
    for (std::int32_t s = 0; s < owner_.recordsPerPage_; ++s) n += Occupied(s);
    return n;
  }
  // The first occupied slot after `from` (forward) or before it (backward); -1 when none.
  std::int32_t NextOccupied(std::int32_t from, bool forward) const {
    if (forward) {
      for (std::int32_t s = from + 1; s < owner_.recordsPerPage_; ++s)
        if (Occupied(s)) return s;
    } else {
      for (std::int32_t s = std::min(from, owner_.recordsPerPage_) - 1; s >= 0; --s)
        if (Occupied(s)) return s;
    }
    return -1;
  }
  void SetDirty() { pinned_.SetDirty(); }
  void Release() { pinned_.Release(); }

 private:
  std::uint8_t* Data() { return pinned_->Buffer() + PageHeaderLayout::Size; }
  const std::uint8_t* Data() const { return pinned_->Buffer() + PageHeaderLayout::Size; }
  THDBDiskRecordManager& owner_;
  THDBPinnedPage pinned_;
};

THDBDiskRecordManager::THDBDiskRecordManager(THDBDiskPageManager& pages, const THDBBaseFieldManager& fields,
                                             ObjectID tableID)
    : pages_(pages), fields_(fields), tableID_(tableID), pageIndex_(pages) {}

std::int32_t THDBDiskRecordManager::RecordsPerPageFor(std::int32_t pageDataSize, std::int32_t diskRecordSize) {
  if (diskRecordSize <= 0) return 0;
  // The 1 leaves room for rounding the bitmap up to whole bytes; each slot takes one bit.
  return static_cast<std::int32_t>((pageDataSize - 1) / (diskRecordSize + 0.125));
}

void THDBDiskRecordManager::Init(std::int32_t memoryRecordSize, std::int32_t diskRecordSize, std::int32_t) {
  memoryRecordSize_ = memoryRecordSize;
  diskRecordSize_ = diskRecordSize;
  recordsPerPage_ = RecordsPerPageFor(pages_.PageDataSize(), diskRecordSize);
  if (recordsPerPage_ <= 0) RaiseHDB(Errors::RecordTooLarge);
  bitmapSize_ = (recordsPerPage_ + 7) / 8;
  pageIndex_.RecordsPerPage = recordsPerPage_;
  scratch_.assign(static_cast<std::size_t>(diskRecordSize), 0);
  RecordCount = 0;
  ChangeCount = 0;
}

std::int32_t THDBDiskRecordManager::CreatePageIndex(SessionID session) { return pageIndex_.CreateRoot(session); }

bool THDBDiskRecordManager::PassesOwnership(const THDBPage& page) const {
  if (pages_.Header().FormatVersion() < 2.99) return true;
  if (pages_.FreeSpace() && pages_.FreeSpace()->SkipOwnershipCheck) return true;
  return page.PageVersion() <= PageVersionWrap && page.PageType() == ptTableRecord && page.OwnerTableID() == tableID_;
}

bool THDBDiskRecordManager::AddRecord(SessionID session, const std::uint8_t* memoryRecord, RecordID& id) {
  const std::int64_t count = RecordCount;
  const std::int32_t changes = ChangeCount;
  lastErrorText_.clear();
  try {
    const std::int32_t room = pageIndex_.FindPageWithRoom(session);
    THDBPage* raw;
    if (room != -1) {
      raw = pages_.GetPage(session, room, pages_.MultiUser(), ptTableRecord);
    } else {
      raw = pages_.AddPage(session, ptTableRecord);
      raw->SetOwnerTableID(tableID_);
    }
    RecordPage page(*this, raw);
    fields_.MemoryToDisk(memoryRecord, scratch_.data());
    std::int32_t slot = 0;
    while (slot < recordsPerPage_ && page.Occupied(slot)) ++slot;
    if (slot == recordsPerPage_) slot = -1;
    if (slot < 0) RaiseHDB(Errors::RecordPageFull);
    page.SetOccupied(slot, true);
    std::memcpy(page.Slot(slot), scratch_.data(), scratch_.size());
    const std::int32_t pageNo = page.PageNo();
    page.Release();
    ++RecordCount;
    ++ChangeCount;
    // Filling a page the index found stands on its entry; a new page gets one.
    if (room != -1)
      pageIndex_.AddToFoundPageCount(session, pageNo, 1);
    else
      pageIndex_.AddToPageCount(session, pageNo, 1);
    id = {pageNo, static_cast<std::uint16_t>(slot)};
    return true;
  } catch (const EHDBException& e) {
    // The caller reports a failed insert; the pages already changed go with the
    // session's rollback.
    RecordCount = count;
    ChangeCount = changes;
    lastErrorText_ = e.what();
    return false;
  }
}

bool THDBDiskRecordManager::ReplaceRecord(SessionID session, const std::uint8_t* memoryRecord, RecordID id) {
  RecordPage page(*this, pages_.GetPage(session, id.PageNo, pages_.MultiUser(), ptTableRecord));
  if (!page.Occupied(id.SlotNo)) return false;
  fields_.MemoryToDisk(memoryRecord, scratch_.data());
  std::memcpy(page.Slot(id.SlotNo), scratch_.data(), scratch_.size());
  page.SetDirty();
  ++ChangeCount;
  return true;
}

bool THDBDiskRecordManager::RemoveRecord(SessionID session, RecordID id) {
  RecordPage page(*this, pages_.GetPage(session, id.PageNo, pages_.MultiUser(), ptTableRecord));
  if (!page.Occupied(id.SlotNo)) return false;
  page.SetOccupied(id.SlotNo, false);
  --RecordCount;
  ++ChangeCount;
  const std::int32_t left = page.Count();
  page.Release();
  if (left == 0) pages_.RemovePage(session, id.PageNo);
  pageIndex_.SetCount(session, id.PageNo, left);
  return true;
}

bool THDBDiskRecordManager::ReadRecord(SessionID session, RecordID id, std::uint8_t* memoryRecord) {
  if (id.PageNo < 0 || id.SlotNo >= recordsPerPage_) return false;
  THDBPage* raw = pages_.GetPage(session, id.PageNo, pages_.MultiUser(), AnyPageType);
  RecordPage page(*this, raw);
  if (!PassesOwnership(*raw) || !page.Occupied(id.SlotNo)) return false;
  fields_.DiskToMemory(page.Slot(id.SlotNo), memoryRecord);
  return true;
}

void THDBDiskRecordManager::Found(RecordPage& page, std::int32_t slot, THDBNavigationRequest& request,
                                  int notFoundError) {
  if (!page.Occupied(slot)) RaiseHDB(notFoundError, Errors::RecordNotFoundNext.Text, page.PageNo(), page.Count());
  if (request.Record) {
    std::memcpy(scratch_.data(), page.Slot(slot), scratch_.size());
    fields_.DiskToMemory(scratch_.data(), request.Record);
  }
  request.ID = {page.PageNo(), static_cast<std::uint16_t>(slot)};
  request.BeforeFirst = request.AfterLast = false;
  request.Result = grOK;
}

std::int32_t THDBDiskRecordManager::PageAfter(SessionID session, std::int32_t pageNo, bool forward,
                                              int missingError) {
  if (!pageIndex_.FindPage(session, pageNo)) RaiseHDB(missingError, Errors::InvalidPageNumber.Text);
  if (!(forward ? pageIndex_.Next(session) : pageIndex_.Prior(session))) return -1;
  const std::int32_t next = pageIndex_.ReadPageNo(session);
  // The page index holds page numbers in ascending order. A damaged one that leads back
  // to a page already passed would make a walk in natural order go round for ever.
  if (forward ? next <= pageNo : next >= pageNo) RaiseHDB(Errors::IndexIntegrityOrder, next, 0);
  return next;
}

void THDBDiskRecordManager::StepRecord(SessionID session, THDBNavigationRequest& request) {
  if (RecordCount == 0) {
    request.Result = grEOF;
    return;
  }
  auto firstOrLast = [&](bool first) {
    if (!(first ? pageIndex_.First(session) : pageIndex_.Last(session))) {
      request.Result = first ? grEOF : grBOF;
      return;
    }
    const std::int32_t pageNo = pageIndex_.ReadPageNo(session);
    THDBPage* raw = pages_.GetPage(session, pageNo, pages_.MultiUser(), AnyPageType);
    RecordPage page(*this, raw);
    const std::int32_t slot = page.NextOccupied(first ? -1 : recordsPerPage_, first);
    if (slot < 0 || !PassesOwnership(*raw))
      RaiseHDB(first ? Errors::RecordNotFoundFirst : Errors::RecordNotFoundLast, pageNo, page.Count());
    Found(page, slot, request, first ? Errors::RecordNotFoundFirst.Code : Errors::RecordNotFoundLast.Code);
  };
  if (request.BeforeFirst) {
    if (request.Mode == gmCurrent) {
      request.Result = grError;
    } else if (request.Mode == gmPrior) {
      request.Result = grBOF;
    } else {
      firstOrLast(true);
    }
    return;
  }
  if (request.AfterLast) {
    if (request.Mode == gmCurrent) {
      request.Result = grError;
    } else if (request.Mode == gmNext) {
      request.Result = grEOF;
    } else {
      firstOrLast(false);
    }
    return;
  }
  const RecordID at = request.ID;
  if (request.Mode == gmCurrent) {
    request.Result = grError;
    if (at.PageNo < 0 || at.SlotNo >= recordsPerPage_) return;
    THDBPage* raw = pages_.GetPage(session, at.PageNo, pages_.MultiUser(), AnyPageType);
    RecordPage page(*this, raw);
    if (PassesOwnership(*raw) && page.Occupied(at.SlotNo)) Found(page, at.SlotNo, request, Errors::RecordNotFoundCurrent.Code);
    return;
  }
  const bool forward = request.Mode == gmNext;
  request.Result = forward ? grEOF : grError;
  std::int32_t pageNo = at.PageNo;
  {
    THDBPage* raw = pages_.GetPage(session, pageNo, pages_.MultiUser(), AnyPageType);
    RecordPage page(*this, raw);
    if (!PassesOwnership(*raw)) {
      // A record whose page is gone: forward there is nothing to step from; backward
      // the step is taken from the end.
      if (!forward) {
        request.AfterLast = true;
        firstOrLast(false);
      } else {
        request.AfterLast = true;
      }
      return;
    }
    if (!forward) request.Result = grBOF;
    const std::int32_t slot = page.NextOccupied(at.SlotNo, forward);
    if (slot >= 0) {
      Found(page, slot, request, forward ? Errors::RecordNotFoundNext.Code : Errors::RecordNotFoundPrior.Code);
      return;
    }
  }
  pageNo = PageAfter(session, pageNo, forward, forward ? Errors::NoNextRecordPage.Code : Errors::NoPriorRecordPage.Code);
  if (pageNo == -1) {
    (forward ? request.AfterLast : request.BeforeFirst) = true;
    return;
  }
  THDBPage* raw = pages_.GetPage(session, pageNo, pages_.MultiUser(), AnyPageType);
  RecordPage page(*this, raw);
  if (!PassesOwnership(*raw)) return;
  const std::int32_t slot = page.NextOccupied(forward ? -1 : recordsPerPage_, forward);
  if (slot < 0) RaiseHDB(forward ? Errors::RecordNotFoundNext : Errors::RecordNotFoundPrior, pageNo, page.Count());
  Found(page, slot, request, forward ? Errors::RecordNotFoundNext.Code : Errors::RecordNotFoundPrior.Code);
}

RecordID THDBDiskRecordManager::GetRecordByNumber(SessionID session, std::int64_t n) {
  std::int64_t before = 0;
  for (bool more = pageIndex_.First(session); more; more = pageIndex_.Next(session)) {
    const std::int32_t count = pageIndex_.ReadCount(session);
    if (before + count > n - 1) {
      const std::int32_t pageNo = pageIndex_.ReadPageNo(session);
      RecordPage page(*this, pages_.GetPage(session, pageNo, pages_.MultiUser(), ptTableRecord));
      std::int64_t wanted = (n - 1) - before;
      for (std::int32_t s = 0; s < recordsPerPage_; ++s)
        if (page.Occupied(s) && wanted-- == 0) return {pageNo, static_cast<std::uint16_t>(s)};
      RaiseHDB(Errors::RecordNotFoundByNumber, pageNo, page.Count());
    }
    before += count;
  }
  RaiseHDB(Errors::RecNoBeyondRecordCount);
}

std::int64_t THDBDiskRecordManager::GetRecordNumber(SessionID session, RecordID id) {
  std::int64_t before = 0;
  bool listed = false;
  for (bool more = pageIndex_.First(session); more; more = pageIndex_.Next(session)) {
    if (pageIndex_.ReadPageNo(session) == id.PageNo) {
      listed = true;
      break;
    }
    before += pageIndex_.ReadCount(session);
  }
  if (!listed) RaiseHDB(Errors::RecordPageNotListed);
  RecordPage page(*this, pages_.GetPage(session, id.PageNo, pages_.MultiUser(), ptTableRecord));
  std::int64_t c = 0;
  for (std::int32_t s = 0; s < id.SlotNo && s < recordsPerPage_; ++s) c += page.Occupied(s);
  return before + c + 1;
}

std::int32_t THDBDiskRecordManager::LastPageNo(SessionID session) {
  return pageIndex_.Last(session) ? pageIndex_.ReadPageNo(session) : -1;
}

void THDBDiskRecordManager::EmptyTable(SessionID session) {
  for (bool more = pageIndex_.First(session); more; more = pageIndex_.Next(session))
    pages_.RemovePage(session, pageIndex_.ReadPageNo(session));
  ChangeCount = 0;
  RecordCount = 0;
  pageIndex_.Clear(session);
}

void THDBDiskRecordManager::DropStorage(SessionID session) {
  EmptyTable(session);
  pageIndex_.Drop(session);
}

void THDBDiskRecordManager::RebuildPageIndex(SessionID session) {
  pageIndex_.CreateRoot(session);
  RecordCount = 0;
  THDBDatabaseFreeSpaceManager* freeSpace = pages_.FreeSpace();
  const std::int32_t pageCount = pages_.GetPageCount();
  for (std::int32_t pageNo = 1; pageNo < pageCount; ++pageNo) {
    try {
      if (freeSpace && (freeSpace->IsMapPage(pageNo) || !freeSpace->IsPageUsed(pageNo, nullptr))) continue;
      THDBPage* raw = pages_.GetPage(session, pageNo, pages_.MultiUser(), ptTableRecord);
      RecordPage page(*this, raw);
      if (raw->OwnerTableID() != tableID_ || !PassesOwnership(*raw)) continue;
      const std::int32_t count = page.Count();
      page.Release();
      if (count == 0) continue;
      pageIndex_.AddToPageCount(session, pageNo, count);
      RecordCount += count;
    } catch (const EHDBException&) {
      // A page that cannot be read as a record page of this table is left out.
    }
  }
}

void THDBDiskRecordManager::SalvagePages(SessionID session, std::vector<std::int32_t>& pages,
                                         std::vector<bool>& listed) {
  std::vector<std::int32_t> fromIndex;
  try {
    for (bool more = pageIndex_.First(session); more; more = pageIndex_.Next(session))
      fromIndex.push_back(pageIndex_.ReadPageNo(session));
  } catch (const EHDBException&) {
    // What the walk reached stays listed; the scan finds the rest.
  }
  std::vector<std::int32_t> found;
  THDBDatabaseFreeSpaceManager* freeSpace = pages_.FreeSpace();
  const std::int32_t pageCount = pages_.GetPageCount();
  for (std::int32_t pageNo = 1; pageNo < pageCount; ++pageNo) {
    try {
      if (freeSpace && (freeSpace->IsMapPage(pageNo) || !freeSpace->IsPageUsed(pageNo, nullptr))) continue;
      THDBPinnedPage page(pages_, pages_.GetPage(session, pageNo, pages_.MultiUser(), AnyPageType));
      if (page->PageType() == ptTableRecord && page->OwnerTableID() == tableID_ && PassesOwnership(*page.Get()))
        found.push_back(pageNo);
    } catch (const EHDBException&) {
      // A page that cannot be read is not one the scan can claim.
    }
  }
  std::sort(fromIndex.begin(), fromIndex.end());
  fromIndex.erase(std::unique(fromIndex.begin(), fromIndex.end()), fromIndex.end());
  pages.clear();
  std::set_union(fromIndex.begin(), fromIndex.end(), found.begin(), found.end(), std::back_inserter(pages));
  listed.assign(pages.size(), false);
  for (std::size_t i = 0; i < pages.size(); ++i)
    listed[i] = std::binary_search(fromIndex.begin(), fromIndex.end(), pages[i]);
}

bool THDBDiskRecordManager::SalvagePage(SessionID session, std::int32_t pageNo, std::vector<std::uint8_t>& records,
                                        std::vector<RecordID>& ids) {
  records.clear();
  ids.clear();
  if (pageNo <= 0 || pageNo >= pages_.GetPageCount()) return false;
  RecordPage page(*this, pages_.GetPage(session, pageNo, pages_.MultiUser(), AnyPageType));
  if (page.Page()->PageType() != ptTableRecord || page.Page()->OwnerTableID() != tableID_ ||
      !PassesOwnership(*page.Page()))
    return false;
  const auto size = static_cast<std::size_t>(memoryRecordSize_);
  for (std::int32_t s = 0; s < recordsPerPage_; ++s) {
    if (!page.Occupied(s)) continue;
    records.resize(records.size() + size);
    std::memcpy(scratch_.data(), page.Slot(s), scratch_.size());
    fields_.DiskToMemory(scratch_.data(), records.data() + records.size() - size);
    ids.push_back({pageNo, static_cast<std::uint16_t>(s)});
  }
  return true;
}

void THDBDiskRecordManager::SalvageRecords(SessionID session,
                                           const std::function<void(RecordID, const std::uint8_t*)>& visit,
                                           std::vector<std::int32_t>& unreadable) {
  std::vector<std::int32_t> pages;
  std::vector<bool> listed;
  SalvagePages(session, pages, listed);
  std::vector<std::uint8_t> records;
  std::vector<RecordID> ids;
  const auto size = static_cast<std::size_t>(memoryRecordSize_);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    bool readable = false, failed = false;
    try {
      readable = SalvagePage(session, pages[i], records, ids);
    } catch (const EHDBException&) {
      failed = true;
    }
    if (!readable) {
      // A page the scan found by its own header and then read as another is no page
      // of this table; a listed one, or one that failed to read, is a lost page.
      if (listed[i] || failed) unreadable.push_back(pages[i]);
      continue;
    }
    // The page is released before the visitor runs: it may write elsewhere.
    for (std::size_t r = 0; r < ids.size(); ++r) visit(ids[r], records.data() + r * size);
  }
}

void THDBDiskRecordManager::ValidateCount(SessionID session) {
  const std::int64_t sum = pageIndex_.CountSum(session);
  const std::int32_t stored = static_cast<std::int32_t>(RecordCount & 0xFFFFFFFF);
  if (sum != stored) RaiseHDB(Errors::RecordCountMismatch, sum, stored);
}

}  // namespace hdb

#include "dbengine/storage/free_space.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <optional>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/map_page.h"

namespace hdb {

THDBDatabaseFreeSpaceManager::THDBDatabaseFreeSpaceManager(THDBDiskPageManager& manager)
    : manager_(manager),
      extentPageCount_(manager.Header().ExtentPageCount()),
      pagesPerPFS_(manager.PageDataSize() * 8),
      extentsPerEAM_(manager.PageDataSize() * 4),
      pagesPerEAM_(extentsPerEAM_ * extentPageCount_) {
  assert(LayoutFits(manager.PageDataSize(), manager.Header().ExtentPageCount()));
  LoadFromHeader();
}

bool THDBDatabaseFreeSpaceManager::LayoutFits(std::uint16_t pageDataSize, std::uint16_t extentPageCount) {
  const std::int64_t pagesPerEAM = std::int64_t{pageDataSize} * 4 * extentPageCount;
  return pageDataSize > 0 && extentPageCount > 0 && pagesPerEAM <= std::numeric_limits<std::int32_t>::max();
}

void THDBDatabaseFreeSpaceManager::LoadFromHeader() {
  lastUsedPageNo_ = manager_.Header().LastUsedPageNo();
  totalPageCount_ = manager_.Header().TotalPageCount();
}

void THDBDatabaseFreeSpaceManager::StoreHeader() {
  THDBFileHeader& header = manager_.Header();
  if (header.LastUsedPageNo() == lastUsedPageNo_ && header.TotalPageCount() == totalPageCount_) return;
  header.SetLastUsedPageNo(lastUsedPageNo_);
  header.SetTotalPageCount(totalPageCount_);
  manager_.WriteHeader();
}

std::int32_t THDBDatabaseFreeSpaceManager::GrowthStep() const {
  return totalPageCount_ > 0 ? std::max(totalPageCount_ / 10, extentPageCount_) : 6;
}

std::int32_t THDBDatabaseFreeSpaceManager::EAMPageNo(std::int32_t index) const {
  const std::int32_t p = index * pagesPerEAM_;
  return p % pagesPerPFS_ == 0 ? p + 1 : p;
}

std::int32_t THDBDatabaseFreeSpaceManager::LastPFSIndex() const {
  return std::max(totalPageCount_ - 1, 0) / pagesPerPFS_;
}

std::int32_t THDBDatabaseFreeSpaceManager::LastEAMIndex() const {
  return std::max(totalPageCount_ - 1, 0) / pagesPerEAM_;
}

bool THDBDatabaseFreeSpaceManager::IsMapPage(std::int32_t p) const {
  return p % pagesPerPFS_ == 0 || p % pagesPerEAM_ == 0 || ((p - 1) % pagesPerPFS_ == 0 && (p - 1) % pagesPerEAM_ == 0);
}

void THDBDatabaseFreeSpaceManager::CheckNotMapPage(std::int32_t pageNo) const {
  if (IsMapPage(pageNo)) RaiseHDB(Errors::CannotDeleteMapPage, pageNo);
}

bool THDBDatabaseFreeSpaceManager::IsPageUsed(std::int32_t p, const THDBMapPage* knownPFS) {
  const std::int32_t pfs = (p / pagesPerPFS_) * pagesPerPFS_;
  // A PFS page in hand is the truth, also beyond LastUsedPageNo (which the caller may
  // not have raised yet for the page it is marking).
  if (knownPFS && knownPFS->PageNo() == pfs) return knownPFS->Bit(p - pfs);
  // Nothing past LastUsedPageNo is in use but the map pages themselves, which always
  // are: an extent of map pages only is full.
  if (pfs > lastUsedPageNo_) return p < totalPageCount_ && IsMapPage(p);
  THDBMapPage page(manager_, pfs, ptPFS, Errors::PFSPageTypeWhileTesting);
  return page.Bit(p - pfs);
}

void THDBDatabaseFreeSpaceManager::MarkPFS(std::int32_t p, bool used, THDBMapPage* keep) {
  if (p < 0 || p >= totalPageCount_) RaiseHDB(Errors::PFSPageNotAddressable, p, totalPageCount_);
  const std::int32_t pfs = (p / pagesPerPFS_) * pagesPerPFS_;
  std::optional<THDBMapPage> own;
  THDBMapPage* page = keep;
  if (!page) page = &own.emplace(manager_, pfs, ptPFS, Errors::PFSPageTypeWhileMarking);
  assert(page->PageNo() == pfs);
  const bool isUsed = page->Bit(p - pfs);
  if (used && isUsed) RaiseHDB(Errors::PageAlreadyUsed, p);
  if (!used && !isUsed) RaiseHDB(Errors::PageAlreadyFree, p);
  page->SetBit(p - pfs, used);
  page->Release();
}

void THDBDatabaseFreeSpaceManager::RefreshEAM(std::int32_t p, const THDBMapPage* knownPFS) {
  if (p < 0 || p >= totalPageCount_) RaiseHDB(Errors::EAMPageNotAddressable, p, totalPageCount_);
  const std::int32_t extent = p / extentPageCount_;
  const std::int32_t eamIndex = extent / extentsPerEAM_;
  THDBMapPage eam(manager_, EAMPageNo(eamIndex), ptEAM, Errors::EAMPageTypeWhileMarking);
  bool sawUsed = false, sawFree = false;
  const std::int32_t first = extent * extentPageCount_;
  for (std::int32_t q = first; q < first + extentPageCount_ && !(sawUsed && sawFree); ++q) {
    if (IsPageUsed(q, knownPFS))
      sawUsed = true;
    else
      sawFree = true;
  }
  eam.SetCode(extent % extentsPerEAM_, sawUsed && !sawFree ? 3 : 1);
  eam.Release();
}

void THDBDatabaseFreeSpaceManager::MarkPage(std::int32_t p, bool used) {
  if (p < 0 || p >= totalPageCount_) RaiseHDB(Errors::PFSPageNotAddressable, p, totalPageCount_);
  // The PFS page stays in hand for the extent walk, which reads its new bits.
  THDBMapPage pfs(manager_, (p / pagesPerPFS_) * pagesPerPFS_, ptPFS, Errors::PFSPageTypeWhileMarking);
  MarkPFS(p, used, &pfs);
  RefreshEAM(p, &pfs);
}

std::int32_t THDBDatabaseFreeSpaceManager::SearchEAM(std::int32_t eamIndex) {
  const std::int32_t a = eamIndex * pagesPerEAM_;
  std::int32_t extent = -1;
  {
    THDBMapPage eam(manager_, EAMPageNo(eamIndex), ptEAM, Errors::MapPageTypeWhileSearching);
    const std::uint32_t size = eam.DataSize();
    for (std::uint32_t i = 0; i < size && extent < 0; ++i) {
      const std::uint8_t b = eam.Byte(i);
      if (b == 0xFF) continue;
      for (int slot = 0; slot < 4; ++slot) {
        if (!((b >> (2 * slot + 1)) & 1)) {
          extent = (a / pagesPerEAM_) * extentsPerEAM_ + static_cast<std::int32_t>(i) * 4 + slot;
          break;
        }
      }
    }
  }
  if (extent < 0) return -1;
  const std::int32_t first = (extent * extentPageCount_) / pagesPerPFS_;
  std::int32_t last = ((extent + 1) * extentPageCount_ - 1) / pagesPerPFS_;
  if (PFSPageNo(first) >= totalPageCount_) return -1;
  while (PFSPageNo(last) >= totalPageCount_) --last;
  std::int32_t candidate = -1;
  for (std::int32_t g = first; g <= last; ++g) {
    THDBMapPage pfs(manager_, PFSPageNo(g), ptPFS, Errors::MapPageTypeWhileSearching);
    const std::int32_t bit = pfs.LowestClearBit();
    if (bit >= 0) candidate = PFSPageNo(g) + bit;
  }
  return candidate >= 0 && candidate < totalPageCount_ ? candidate : -1;
}

std::int32_t THDBDatabaseFreeSpaceManager::FindFreePage() {
  if (lastUsedPageNo_ == -1) return -1;
  const std::int32_t lastEAM = LastEAMIndex();
  std::int32_t found = SearchEAM(lastEAM);
  for (std::int32_t e = 0; found < 0 && e < lastEAM; ++e) found = SearchEAM(e);
  if (found < 0) return found;
  // Map pages are always marked used: a clear bit on one is damage, and handing the
  // page out would let the next commit write over the map. Refused before anything
  // is marked.
  if (IsMapPage(found)) RaiseHDB(Errors::MapPageOffered, found);
  MarkPage(found, true);
  return found;
}

void THDBDatabaseFreeSpaceManager::CreateMapPage(std::int32_t pageNo, std::uint16_t type) {
  THDBMapPage::Create(manager_, pageNo, type);
}

std::int32_t THDBDatabaseFreeSpaceManager::ExtendFile() {
  const bool empty = lastUsedPageNo_ == -1;
  const std::int32_t oldLastPFS = empty ? -1 : LastPFSIndex();
  const std::int32_t oldLastEAM = empty ? -1 : LastEAMIndex();

  std::int32_t candidate = lastUsedPageNo_ + 1;
  while (IsMapPage(candidate)) ++candidate;
  std::int32_t n = GrowthStep();
  if (candidate >= totalPageCount_ + n) n = candidate - totalPageCount_ + 1;
  while (IsMapPage(totalPageCount_ + n - 1)) ++n;

  totalPageCount_ += n;
  manager_.File().SetSize(manager_.PagesStart() + static_cast<std::int64_t>(totalPageCount_) * manager_.PageSize());

  const std::int32_t newLastPFS = LastPFSIndex();
  const std::int32_t newLastEAM = LastEAMIndex();
  for (std::int32_t g = oldLastPFS + 1; g <= newLastPFS; ++g) CreateMapPage(PFSPageNo(g), ptPFS);
  for (std::int32_t e = oldLastEAM + 1; e <= newLastEAM; ++e) CreateMapPage(EAMPageNo(e), ptEAM);

  while (IsMapPage(candidate)) ++candidate;
  lastUsedPageNo_ = candidate;

  for (std::int32_t e = oldLastEAM + 1; e <= newLastEAM; ++e) {
    MarkPFS(EAMPageNo(e), true);
    // The EAM page may lie in another extent than its PFS page (one-page extents).
    RefreshEAM(EAMPageNo(e));
  }
  for (std::int32_t g = oldLastPFS + 1; g <= newLastPFS; ++g) RefreshEAM(PFSPageNo(g));

  MarkPage(lastUsedPageNo_, true);
  return lastUsedPageNo_;
}

std::int32_t THDBDatabaseFreeSpaceManager::FindLastUsedPage() {
  if (lastUsedPageNo_ == -1) return -1;
  for (std::int32_t g = LastPFSIndex(); g >= 0; --g) {
    THDBMapPage pfs(manager_, PFSPageNo(g), ptPFS, Errors::PFSPageTypeWhileFindingLast);
    for (std::int32_t i = static_cast<std::int32_t>(pfs.DataSize()) - 1; i >= 0; --i) {
      const std::uint8_t b = pfs.Byte(static_cast<std::uint32_t>(i));
      if (b == 0) continue;
      for (int bit = 7; bit >= 0; --bit) {
        if (!((b >> bit) & 1)) continue;
        const std::int32_t p = PFSPageNo(g) + i * 8 + bit;
        if (!IsMapPage(p)) return p;
      }
    }
  }
  return -1;
}

void THDBDatabaseFreeSpaceManager::RemoveTailPages(std::int32_t n) {
  assert(n >= 1 && n <= totalPageCount_);
  manager_.MapPages().Clear();
  totalPageCount_ -= n;
  manager_.File().SetSize(manager_.PagesStart() + static_cast<std::int64_t>(totalPageCount_) * manager_.PageSize());
  THDBFileHeader& header = manager_.Header();
  header.SetTotalPageCount(totalPageCount_);
  header.SetLastUsedPageNo(lastUsedPageNo_);
  manager_.WriteHeader();
}

void THDBDatabaseFreeSpaceManager::TruncateFreeTail() {
  const std::int32_t t = totalPageCount_ - lastUsedPageNo_ - 1;
  const std::int32_t step = GrowthStep();
  if (t < step) return;
  std::int32_t n = (t / step) * step;
  // Like a growth, a cut never ends the file on a map page. Where an EAM page follows
  // its PFS page the cut would otherwise part them, and the next growth, which counts
  // the map pages from TotalPageCount, would take the missing EAM page as present.
  while (n > 0 && totalPageCount_ - n > 0 && IsMapPage(totalPageCount_ - n - 1)) --n;
  if (n == 0) return;
  RemoveTailPages(n);
  totalPageCount_ = manager_.Header().TotalPageCount();
}

std::int32_t THDBDatabaseFreeSpaceManager::AllocatePage() {
  THDBHeaderLockGuard lock(manager_, Errors::DatabaseLockedAtAllocate);
  manager_.ReadHeader();
  LoadFromHeader();
  std::int32_t p = -1;
  try {
    p = FindFreePage();
    if (p < 0) p = ExtendFile();
    lastUsedPageNo_ = std::max(lastUsedPageNo_, p);
  } catch (...) {
    // A failed growth is undone: the file goes back to the size the header records,
    // and the next growth writes the map pages of the new range again. Recording the
    // grown size instead would count map pages that were perhaps never written.
    manager_.MapPages().Clear();
    const std::int32_t recorded = manager_.Header().TotalPageCount();
    if (totalPageCount_ != recorded) {
      try {
        manager_.File().SetSize(manager_.PagesStart() + static_cast<std::int64_t>(recorded) * manager_.PageSize());
      } catch (const EHDBException&) {
      }
    }
    throw;
  }
  StoreHeader();
  return p;
}

void THDBDatabaseFreeSpaceManager::FreePage(std::int32_t pageNo) {
  THDBHeaderLockGuard lock(manager_, Errors::DatabaseLockedAtFree);
  manager_.ReadHeader();
  LoadFromHeader();
  try {
    MarkPage(pageNo, false);
    lastUsedPageNo_ = FindLastUsedPage();
    TruncateFreeTail();
  } catch (...) {
    manager_.MapPages().Clear();
    try {
      StoreHeader();
    } catch (const EHDBException&) {
    }
    throw;
  }
  StoreHeader();
}

}  // namespace hdb

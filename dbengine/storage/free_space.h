// THDBDatabaseFreeSpaceManager: hands out page numbers, takes freed ones back, grows
// the file when no page is free and cuts a long free run off its end. It keeps two
// kinds of map pages in the file: PFS pages (one bit per page: in use) and EAM pages
// (two bits per extent: 3 = every page used, 1 = not full, 0 = never written).
// Map pages are written straight through the disk page manager and are never part of
// a session, so every allocation reaches the file at once; they are read again only
// where another process may have changed them (THDBMapPageCache).
// The working copies of LastUsedPageNo and TotalPageCount are reloaded from the file
// header at the start of every allocation and release, so processes can share a file.
//
// Guarded by HeaderLock (across processes) and by the database object's lock (inside
// one process).
#pragma once

#include <cstdint>

namespace hdb {

class THDBDiskPageManager;
class THDBMapPage;

class THDBDatabaseFreeSpaceManager {
 public:
  explicit THDBDatabaseFreeSpaceManager(THDBDiskPageManager& manager);

  // Whether the pages one EAM page covers, PageDataSize x 4 x ExtentPageCount, can be
  // counted in 32-bit page numbers; a layout that cannot is refused before use.
  static bool LayoutFits(std::uint16_t pageDataSize, std::uint16_t extentPageCount);

  std::int32_t AllocatePage();
  void FreePage(std::int32_t pageNo);
  // 30434 for a map page.
  void CheckNotMapPage(std::int32_t pageNo) const;
  bool IsMapPage(std::int32_t pageNo) const;
  // The page's bit in its PFS page (read from the file unless knownPFS is that page).
  bool IsPageUsed(std::int32_t pageNo, const THDBMapPage* knownPFS = nullptr);

  std::int32_t ExtentPageCount() const { return extentPageCount_; }
  std::int32_t PagesPerPFS() const { return pagesPerPFS_; }
  std::int32_t ExtentsPerEAM() const { return extentsPerEAM_; }
  std::int32_t PagesPerEAM() const { return pagesPerEAM_; }
  std::int32_t LastUsedPageNo() const { return lastUsedPageNo_; }
  std::int32_t TotalPageCount() const { return totalPageCount_; }
  std::int32_t GrowthStep() const;
  std::int32_t PFSPageNo(std::int32_t index) const { return index * pagesPerPFS_; }
  std::int32_t EAMPageNo(std::int32_t index) const;
  std::int32_t LastPFSIndex() const;
  std::int32_t LastEAMIndex() const;

  // Lets every page pass the ownership check of record pages while set (the free-space
  // manager itself does not consult it).
  bool SkipOwnershipCheck = false;

  // Removes n pages from the end of the file and writes the header.
  void RemoveTailPages(std::int32_t n);
  // Reloads the working copies from the page manager's header image.
  void LoadFromHeader();

 private:
  friend class THDBMapPage;
  std::int32_t FindFreePage();
  std::int32_t SearchEAM(std::int32_t eamIndex);
  std::int32_t ExtendFile();
  std::int32_t FindLastUsedPage();
  void TruncateFreeTail();
  void MarkPage(std::int32_t pageNo, bool used);
  void MarkPFS(std::int32_t pageNo, bool used, THDBMapPage* keep = nullptr);
  void RefreshEAM(std::int32_t pageNo, const THDBMapPage* knownPFS = nullptr);
  void CreateMapPage(std::int32_t pageNo, std::uint16_t type);
  // Stores the working copies in the header image and writes it when they changed.
  void StoreHeader();

  THDBDiskPageManager& manager_;
  std::int32_t extentPageCount_;
  std::int32_t pagesPerPFS_;
  std::int32_t extentsPerEAM_;
  std::int32_t pagesPerEAM_;
  std::int32_t lastUsedPageNo_ = -1;
  std::int32_t totalPageCount_ = 0;
};

}  // namespace hdb

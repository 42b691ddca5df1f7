#include "dbengine/storage/free_space_check.h"

#include <vector>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/map_page.h"

namespace hdb {

std::vector<std::string> CheckFreeSpaceMaps(THDBDiskPageManager& manager) {
  std::vector<std::string> problems;
  THDBHeaderLockGuard lock(manager, Errors::DatabaseLockedForPageCount);
  manager.ReadHeader();
  THDBDatabaseFreeSpaceManager* fsm = manager.FreeSpace();
  if (!fsm) return {"the free-space manager is not open"};
  fsm->LoadFromHeader();
  const std::int32_t total = fsm->TotalPageCount();
  const std::int32_t lastUsed = fsm->LastUsedPageNo();

  const std::int64_t expectedSize = manager.PagesStart() + static_cast<std::int64_t>(total) * manager.PageSize();
  const std::int64_t fileSize = manager.File().GetSize();
  if (fileSize != expectedSize)
    problems.push_back(Format("file size %d does not match TotalPageCount %d (expected %d bytes)", fileSize, total,
                              expectedSize));
  // A header whose count is negative, or counts pages the file does not hold, is
  // damaged: the maps of pages that are not there cannot be walked.
  if (total < 0 || expectedSize > fileSize) {
    if (total < 0) problems.push_back(Format("TotalPageCount %d is negative", total));
    return problems;
  }
  if (total == 0) {
    if (lastUsed != -1) problems.push_back(Format("no pages but LastUsedPageNo %d", lastUsed));
    return problems;
  }

  // Collect the PFS bits of every page of the file.
  std::vector<bool> used(static_cast<std::size_t>(total), false);
  const std::int32_t perPFS = fsm->PagesPerPFS();
  for (std::int32_t g = 0; g <= fsm->LastPFSIndex(); ++g) {
    try {
      THDBMapPage pfs(manager, fsm->PFSPageNo(g), ptPFS, 0);
      for (std::int32_t k = 0; k < perPFS; ++k) {
        const std::int32_t p = fsm->PFSPageNo(g) + k;
        if (p < total) {
          used[static_cast<std::size_t>(p)] = pfs.Bit(k);
        } else if (pfs.Bit(k)) {
          problems.push_back(Format("page %d beyond the end is marked used", p));
        }
      }
    } catch (const EHDBException& e) {
      problems.push_back(Format("PFS page %d: %s", fsm->PFSPageNo(g), e.Message()));
    }
  }

  std::int32_t highest = -1;
  for (std::int32_t p = 0; p < total; ++p) {
    if (fsm->IsMapPage(p)) {
      if (!used[static_cast<std::size_t>(p)]) problems.push_back(Format("map page %d is not marked used", p));
    } else if (used[static_cast<std::size_t>(p)]) {
      highest = p;
    }
  }
  if (highest != lastUsed)
    problems.push_back(Format("LastUsedPageNo is %d but the highest used page is %d", lastUsed, highest));

  const std::int32_t extentPages = fsm->ExtentPageCount();
  for (std::int32_t e = 0; e <= fsm->LastEAMIndex(); ++e) {
    try {
      THDBMapPage eam(manager, fsm->EAMPageNo(e), ptEAM, 0);
      for (std::int32_t slot = 0; slot < fsm->ExtentsPerEAM(); ++slot) {
        const std::int32_t extent = e * fsm->ExtentsPerEAM() + slot;
        const std::int32_t first = extent * extentPages;
        if (first >= total) break;
        bool full = true;
        for (std::int32_t p = first; p < first + extentPages; ++p)
          if (p >= total || !used[static_cast<std::size_t>(p)]) full = false;
        const std::uint8_t code = eam.Code(slot);
        if (code == 2 || full != (code == 3))
          problems.push_back(Format("extent %d (pages %d..%d) has code %d but is %s", extent, first,
                                    first + extentPages - 1, code, full ? "full" : "not full"));
      }
    } catch (const EHDBException& e2) {
      problems.push_back(Format("EAM page %d: %s", fsm->EAMPageNo(e), e2.Message()));
    }
  }
  return problems;
}

}  // namespace hdb

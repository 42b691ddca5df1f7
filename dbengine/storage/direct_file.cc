#include "dbengine/storage/direct_file.h"

#include <algorithm>
#include <cassert>
#include <unordered_set>

#include "dbengine/platform/system_services.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace IFH = InternalFileHeaderLayout;

void THDBInternalDBDirectAccessFile::CheckOpen(const char* operation) const {
  if (startPageNo_ == -1) RaiseHDB(Errors::DirectFileClosed, operation);
}

void THDBInternalDBDirectAccessFile::Create(std::int32_t size) {
  if (startPageNo_ != -1) RaiseHDB(Errors::DirectFileExists, startPageNo_);
  assert(size >= 0);
  const std::int32_t needed = InternalFilePagesNeeded(size, manager_.PageDataSize());
  std::vector<std::int32_t> pages;
  THDBPinnedPage prev;
  for (std::int32_t i = 0; i < needed; ++i) {
    THDBPinnedPage page(manager_, manager_.AddPage(SystemSessionID, pageType_));
    page->EncryptOnWrite = false;
    if (i == 0) {
      InitInternalFileHeader(page->Buffer() + PageHeaderLayout::Size, size);
    } else {
      prev->SetNextPageNo(page->PageNo());
      prev.SetDirty();
    }
    page.SetDirty();
    pages.push_back(page->PageNo());
    prev = std::move(page);
  }
  pages_ = std::move(pages);
  startPageNo_ = pages_.front();
  sizeLimit_ = size;
}

void THDBInternalDBDirectAccessFile::Open(std::int32_t startPageNo) {
  std::uint8_t header[IFH::Size];
  manager_.ReadPageRange(header, startPageNo, IFH::Size, PageHeaderLayout::Size);
  const std::int32_t size = IFH::StoredSize::Get(header);
  const std::int32_t needed = InternalFilePagesNeeded(size, manager_.PageDataSize());
  std::vector<std::int32_t> pages;
  std::int32_t limit = size;
  std::int32_t no = startPageNo;
  // A damaged size can ask for far more pages than the chain has, and a damaged chain
  // may lead back into itself: the walk ends at the chain's end or at a page met twice.
  std::unordered_set<std::int32_t> seen;
  for (std::int32_t i = 0; i < needed; ++i) {
    if (no < 0 || !seen.insert(no).second) RaiseHDB(Errors::TableFilePageMissing, i);
    // Byte 0 may be held as "LockFile" by another process: read from byte 1 on.
    std::uint8_t pageHeader[PageHeaderLayout::Size] = {};
    manager_.ReadPageRange(pageHeader + 1, no, PageHeaderLayout::Size - 1, 1);
    const std::uint16_t type = PageHeaderLayout::PageType::Get(pageHeader);
    if (type != pageType_) RaiseHDB(Errors::DirectFileWrongPageType, type, pageType_);
    pages.push_back(no);
    no = PageHeaderLayout::NextPageNo::Get(pageHeader);
    if (i == 0 && no == -1) {
      limit = manager_.PageDataSize() - static_cast<std::int32_t>(IFH::Size);
      break;
    }
  }
  pages_ = std::move(pages);
  startPageNo_ = startPageNo;
  sizeLimit_ = limit;
}

void THDBInternalDBDirectAccessFile::Delete(std::int32_t startPageNo) {
  if (startPageNo == -1 || startPageNo == startPageNo_) {
    CheckOpen("Delete");
    for (std::int32_t no : pages_) manager_.RemovePage(SystemSessionID, no);
  } else {
    // A damaged chain may lead back to a page already met; it would be walked for ever.
    std::unordered_set<std::int32_t> seen;
    for (std::int32_t no = startPageNo, step = 0; no != -1; ++step) {
      if (!seen.insert(no).second) RaiseHDB(Errors::TableFilePageMissing, step);
      std::uint8_t pageHeader[PageHeaderLayout::Size] = {};
      manager_.ReadPageRange(pageHeader + 1, no, PageHeaderLayout::Size - 1, 1);
      manager_.RemovePage(SystemSessionID, no);
      no = PageHeaderLayout::NextPageNo::Get(pageHeader);
    }
  }
  pages_.clear();
  startPageNo_ = -1;
  sizeLimit_ = 0;
}

std::int32_t THDBInternalDBDirectAccessFile::GetSize() {
  CheckOpen("GetSize");
  std::uint8_t bytes[4];
  manager_.ReadPageRange(bytes, startPageNo_, 4, PageHeaderLayout::Size + IFH::StoredSize::offset);
  return le::Load<std::int32_t>(bytes, 0);
}

THDBInternalDBDirectAccessFile::Location THDBInternalDBDirectAccessFile::Map(std::int32_t position) const {
  const std::uint32_t pds = manager_.PageDataSize();
  const std::int64_t logical = static_cast<std::int64_t>(position) + IFH::Size;
  const std::size_t index = static_cast<std::size_t>(logical / pds);
  if (position < 0 || position > sizeLimit_ || index >= pages_.size())
    RaiseHDB(Errors::DirectSeekBeyondSize, sizeLimit_, position);
  return {index, static_cast<std::uint32_t>(logical % pds) + PageHeaderLayout::Size};
}

void THDBInternalDBDirectAccessFile::Transfer(std::uint8_t* buffer, std::int32_t count, std::int32_t position,
                                              bool write) {
  if (count <= 0) return;
  Location at = Map(position);
  std::int32_t done = 0;
  for (std::size_t i = at.PageIndex; i < pages_.size() && done < count; ++i) {
    const std::uint32_t offset = i == at.PageIndex ? at.PageOffset : PageHeaderLayout::Size;
    const std::uint32_t n = std::min<std::uint32_t>(manager_.PageSize() - offset, static_cast<std::uint32_t>(count - done));
    if (write) {
      manager_.WritePageRange(buffer + done, pages_[i], n, offset);
    } else {
      manager_.ReadPageRange(buffer + done, pages_[i], n, offset);
    }
    done += static_cast<std::int32_t>(n);
  }
}

void THDBInternalDBDirectAccessFile::DirectReadBuffer(void* buffer, std::int32_t count, std::int32_t position) {
  CheckOpen("DirectReadBuffer");
  Transfer(static_cast<std::uint8_t*>(buffer), count, position, false);
}

void THDBInternalDBDirectAccessFile::DirectWriteBuffer(const void* buffer, std::int32_t count,
                                                       std::int32_t position) {
  CheckOpen("DirectWriteBuffer");
  const std::int32_t size = GetSize();
  if (static_cast<std::int64_t>(position) + count > size)
    RaiseHDB(Errors::DirectWriteBeyondSize, size, position, count);
  Transfer(const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(buffer)), count, position, true);
}

bool THDBInternalDBDirectAccessFile::LockFile() {
  CheckOpen("LockFile");
  return manager_.LockPageBytes(startPageNo_, 0);
}

bool THDBInternalDBDirectAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return manager_.UnlockPageBytes(startPageNo_, 0);
}

bool THDBInternalDBDirectAccessFile::LockFileRetrying(int tries) {
  for (int i = 0; i < tries; ++i) {
    if (i > 0) platform::SleepMs(LockRetryPauseMs);
    if (LockFile()) return true;
  }
  return false;
}

bool THDBInternalDBDirectAccessFile::LockByte(std::int32_t position) {
  CheckOpen("LockByte");
  const Location at = Map(position);
  return manager_.LockPageBytes(pages_[at.PageIndex], at.PageOffset);
}

bool THDBInternalDBDirectAccessFile::UnlockByte(std::int32_t position) {
  CheckOpen("UnlockByte");
  const Location at = Map(position);
  return manager_.UnlockPageBytes(pages_[at.PageIndex], at.PageOffset);
}

bool THDBInternalDBDirectAccessFile::IsByteLocked(std::int32_t position) {
  CheckOpen("IsByteLocked");
  const Location at = Map(position);
  return manager_.IsPageByteLocked(pages_[at.PageIndex], at.PageOffset);
}

bool THDBInternalDBDirectAccessFile::IsRegionLocked(std::int32_t position, std::int32_t count) {
  CheckOpen("IsRegionLocked");
  if (count <= 0) return false;
  const Location first = Map(position);
  const Location last = Map(position + count - 1);
  for (std::size_t i = first.PageIndex; i <= last.PageIndex; ++i) {
    const std::uint32_t from = i == first.PageIndex ? first.PageOffset : PageHeaderLayout::Size;
    const std::uint32_t to = i == last.PageIndex ? last.PageOffset : manager_.PageSize() - 1u;
    if (manager_.IsPageRegionLocked(pages_[i], from, to - from + 1)) return true;
  }
  return false;
}

}  // namespace hdb

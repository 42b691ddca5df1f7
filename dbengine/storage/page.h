// THDBPage, one page in memory: its number, its buffer (PageSize bytes or more after
// GrowBuffer), the pins of the session using it, the dirty flag and which sorted page
// list holds it (the shared cache or one session's changed pages). A page is held by
// at most one list at a time.
//
// THDBPageController is the base of the objects that wrap one page (index pages).
//
// Not locked: pages are used under the owning database object's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/storage/page_header.h"

namespace hdb {

class THDBPageManager;
class THDBSortedPageList;

class THDBPage {
 public:
  // A page with a fresh zero-filled buffer (with the fresh header when the manager
  // has page headers) or, with bufferSize 0, without a buffer until one is given.
  THDBPage(THDBPageManager* owner, std::int32_t pageNo, std::uint32_t bufferSize, bool withHeader = true);
  // A page over a buffer it does not own.
  THDBPage(THDBPageManager* owner, std::int32_t pageNo, std::uint8_t* foreignBuffer, std::uint32_t bufferSize);
  THDBPage(const THDBPage&) = delete;
  THDBPage& operator=(const THDBPage&) = delete;

  THDBPageManager* Owner() const { return owner_; }
  std::int32_t PageNo() const { return pageNo_; }
  void SetPageNo(std::int32_t pageNo) { pageNo_ = pageNo; }

  std::uint8_t* Buffer() { return buffer_; }
  const std::uint8_t* Buffer() const { return buffer_; }
  std::uint32_t BufferSize() const { return bufferSize_; }
  bool HasBuffer() const { return buffer_ != nullptr; }
  // Replaces the buffer with a fresh zero-filled one with the fresh page header.
  void FreshBuffer(std::uint32_t size, bool withHeader);
  // Enlarges the buffer to size bytes, keeping the content.
  void GrowBuffer(std::uint32_t size, std::uint32_t pageSize);

  // Page header fields (the buffer must hold at least the header).
  std::int32_t PageVersion() const { return PageHeaderLayout::PageVersion::Get(buffer_); }
  void SetPageVersion(std::int32_t v) { PageHeaderLayout::PageVersion::Set(buffer_, v); }
  std::uint16_t PageType() const { return PageHeaderLayout::PageType::Get(buffer_); }
  void SetPageType(std::uint16_t t) { PageHeaderLayout::PageType::Set(buffer_, t); }
  std::int32_t NextPageNo() const { return PageHeaderLayout::NextPageNo::Get(buffer_); }
  void SetNextPageNo(std::int32_t n) { PageHeaderLayout::NextPageNo::Set(buffer_, n); }
  std::int32_t OwnerTableID() const { return PageHeaderLayout::OwnerTableID::Get(buffer_); }
  void SetOwnerTableID(std::int32_t id) { PageHeaderLayout::OwnerTableID::Set(buffer_, id); }

  bool IsDirty = false;
  std::int32_t UseCount = 0;
  std::int32_t SessionID = 0;
  bool IsRead = false;
  bool EncryptOnWrite = true;
  THDBSortedPageList* List = nullptr;

  // Multi-user cache validity, per session (index SessionID + 2).
  struct Validity {
    std::int32_t TableVersion = 0;
    bool Valid = false;
  };
  const Validity* ValidityFor(std::int32_t sessionID) const;
  void SetValidity(std::int32_t sessionID, std::int32_t tableVersion);

 private:
  THDBPageManager* owner_;
  std::int32_t pageNo_;
  std::unique_ptr<std::uint8_t[]> owned_;
  std::uint8_t* buffer_ = nullptr;
  std::uint32_t bufferSize_ = 0;
  std::vector<Validity> validity_;
};

class THDBPageController {
 public:
  explicit THDBPageController(THDBPage* page) : page_(page) {}
  virtual ~THDBPageController() = default;

  THDBPage* Page() const { return page_; }
  std::int32_t PageNo() const { return page_->PageNo(); }
  void SetPageNo(std::int32_t pageNo) { page_->SetPageNo(pageNo); }
  std::uint32_t PageSize() const;
  bool IsDirty() const { return page_->IsDirty; }
  void SetDirty(bool dirty) { page_->IsDirty = dirty; }
  std::uint8_t* Data() { return page_->Buffer() + PageHeaderLayout::Size; }
  const std::uint8_t* Data() const { return page_->Buffer() + PageHeaderLayout::Size; }
  std::uint32_t DataSize() const { return page_->BufferSize() - PageHeaderLayout::Size; }
  void GrowBuffer(std::uint32_t size) { page_->GrowBuffer(size, PageSize()); }

 protected:
  THDBPage* page_;
};

}  // namespace hdb

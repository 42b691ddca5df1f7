#include "dbengine/storage/page.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_manager.h"

namespace hdb {

THDBPage::THDBPage(THDBPageManager* owner, std::int32_t pageNo, std::uint32_t bufferSize, bool withHeader)
    : owner_(owner), pageNo_(pageNo) {
  if (bufferSize > 0) FreshBuffer(bufferSize, withHeader);
}

THDBPage::THDBPage(THDBPageManager* owner, std::int32_t pageNo, std::uint8_t* foreignBuffer, std::uint32_t bufferSize)
    : owner_(owner), pageNo_(pageNo), buffer_(foreignBuffer), bufferSize_(bufferSize) {}

void THDBPage::FreshBuffer(std::uint32_t size, bool withHeader) {
  owned_.reset(new std::uint8_t[size]());
  buffer_ = owned_.get();
  bufferSize_ = size;
  if (withHeader && size >= PageHeaderLayout::Size) InitPageHeader(buffer_);
}

void THDBPage::GrowBuffer(std::uint32_t size, std::uint32_t pageSize) {
  if (!buffer_) RaiseHDB(Errors::PageBufferNil);
  if (size < pageSize) RaiseHDB(Errors::InvalidPageModification);
  if (size <= bufferSize_ && owned_) return;
  // A buffer the page does not own is copied whole, even when it is larger already.
  size = std::max(size, bufferSize_);
  std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[size]());
  std::memcpy(grown.get(), buffer_, bufferSize_);
  owned_ = std::move(grown);
  buffer_ = owned_.get();
  bufferSize_ = size;
}

const THDBPage::Validity* THDBPage::ValidityFor(std::int32_t sessionID) const {
  std::size_t index = static_cast<std::size_t>(sessionID + 2);
  return index < validity_.size() ? &validity_[index] : nullptr;
}

void THDBPage::SetValidity(std::int32_t sessionID, std::int32_t tableVersion) {
  assert(sessionID >= -2);
  std::size_t index = static_cast<std::size_t>(sessionID + 2);
  if (index >= validity_.size()) validity_.resize(index + 1);
  validity_[index] = {tableVersion, true};
}

std::uint32_t THDBPageController::PageSize() const { return page_->Owner()->PageSize(); }

}  // namespace hdb

#include "dbengine/storage/map_page.h"

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

THDBMapPage::THDBMapPage(THDBDiskPageManager& manager, std::int32_t pageNo, std::uint16_t expectedType,
                         int typeErrorCode)
    : manager_(manager), page_(&manager, pageNo, 0) {
  page_.EncryptOnWrite = false;
  const bool cached = manager_.MapPagesCacheable();
  bool read = false;
  if (cached) {
    page_.FreshBuffer(manager_.PageSize(), false);
    read = manager_.MapPages().Load(pageNo, page_.Buffer(), manager_.PageSize());
  }
  const bool fromFile = !read;
  if (fromFile) read = manager_.ReadPage(&page_);  // a failed read leaves an unreadable buffer: the type check catches it
  const std::uint16_t found = page_.PageType();
  if (found != expectedType) {
    RaiseHDB(typeErrorCode, Errors::WrongPageTypeText, found <= ptTableIndex ? PageTypeName(found) : "Unknown Page",
             PageTypeName(expectedType));
  }
  if (cached && fromFile && read) manager_.MapPages().Keep(pageNo, page_.Buffer(), manager_.PageSize());
}

void THDBMapPage::Create(THDBDiskPageManager& manager, std::int32_t pageNo, std::uint16_t type) {
  THDBPage page(&manager, pageNo, manager.PageSize());
  page.EncryptOnWrite = false;
  page.SetPageType(type);
  page.Buffer()[PageHeaderLayout::Size] = 1;
  Write(manager, page);
}

void THDBMapPage::Write(THDBDiskPageManager& manager, THDBPage& page) {
  try {
    manager.WritePage(&page);
  } catch (...) {
    // What reached the file is not known.
    manager.MapPages().Clear();
    throw;
  }
  if (manager.MapPagesCacheable()) manager.MapPages().Keep(page.PageNo(), page.Buffer(), manager.PageSize());
}

std::uint32_t THDBMapPage::DataSize() const { return manager_.PageDataSize(); }

void THDBMapPage::SetByte(std::uint32_t index, std::uint8_t value) {
  if (Data()[index] == value) return;
  Data()[index] = value;
  changed_ = true;
}

void THDBMapPage::SetBit(std::int32_t k, bool value) {
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (k & 7));
  const std::uint8_t old = Data()[k >> 3];
  SetByte(static_cast<std::uint32_t>(k >> 3), value ? (old | mask) : (old & ~mask));
}

void THDBMapPage::SetCode(std::int32_t x, std::uint8_t code) {
  const int shift = 2 * (x & 3);
  const std::uint8_t old = Data()[x >> 2];
  SetByte(static_cast<std::uint32_t>(x >> 2),
          static_cast<std::uint8_t>((old & ~(3u << shift)) | ((code & 3u) << shift)));
}

std::int32_t THDBMapPage::LowestClearBit() const {
  const std::uint32_t size = DataSize();
  for (std::uint32_t i = 0; i < size; ++i) {
    const std::uint8_t b = Data()[i];
    if (b == 0xFF) continue;
    for (int bit = 0; bit < 8; ++bit)
      if (!((b >> bit) & 1)) return static_cast<std::int32_t>(i * 8 + bit);
  }
  return -1;
}

void THDBMapPage::Release() {
  if (changed_) Write(manager_, page_);
  changed_ = false;
}

}  // namespace hdb

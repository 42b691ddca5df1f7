#include "dbengine/tables/blob_manager.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <set>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_header.h"
#include "dbengine/storage/page_manager.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/null_bitmap.h"

namespace hdb {

namespace {

constexpr std::uint32_t HeaderLength = BlobHeaderLayout::Length;
constexpr THDBBlobRef NoBlob{};

std::uint8_t* DataOf(THDBPinnedPage& page) { return page->Buffer() + PageHeaderLayout::Size; }

void StoreHeader(std::uint8_t* at, std::int16_t blobNo, std::int64_t size) {
  BlobHeaderLayout::BlobNo::Set(at, blobNo);
  BlobHeaderLayout::Compression::Set(at, 0);
  BlobHeaderLayout::Size::Set(at, size);
  BlobHeaderLayout::OriginalSizeLow::Set(at, static_cast<std::uint32_t>(static_cast<std::uint64_t>(size)));
  BlobHeaderLayout::OriginalSizeHigh::Set(at, static_cast<std::uint32_t>(static_cast<std::uint64_t>(size) >> 32));
}

}  // namespace

THDBBlobRef LoadBlobRef(const void* slot) {
  return {BlobSlotLayout::PageNo::Get(slot), BlobSlotLayout::BlobNo::Get(slot)};
}

void StoreBlobRef(void* slot, THDBBlobRef ref) {
  BlobSlotLayout::PageNo::Set(slot, ref.PageNo);
  BlobSlotLayout::BlobNo::Set(slot, ref.BlobNo);
}

THDBDiskBlobManager::THDBDiskBlobManager(THDBPageManager& pages, const THDBBaseFieldManager& fields,
                                         std::int32_t tableID)
    : pages_(pages), fields_(fields), tableID_(tableID), pageDataSize_(pages.PageDataSize()), pageIndex_(pages) {}

std::int32_t THDBDiskBlobManager::CreatePageIndexRoot(SessionID session) { return pageIndex_.CreateRoot(session); }

bool THDBDiskBlobManager::IsSmall(std::int64_t size) const {
  return size < static_cast<std::int64_t>(DataSize()) - 24;
}

std::int64_t THDBDiskBlobManager::LargeDataPageCount(std::int64_t size) const {
  const std::int64_t page = DataSize();
  return (LargeBlobDataOffset + size + page - 1) / page;
}

std::uint32_t THDBDiskBlobManager::LargeListOffset(std::int64_t size) const {
  const std::int64_t page = DataSize();
  return static_cast<std::uint32_t>(LargeBlobDataOffset + size - (LargeDataPageCount(size) - 1) * page);
}

// ---- Storing ------------------------------------------------------------------------

THDBBlobRef THDBDiskBlobManager::AddBlob(SessionID session, const std::uint8_t* data, std::int64_t size) {
  if (size < 0 || (size > 0 && !data)) RaiseHDB(Errors::InvalidBlobSize, size);
  return IsSmall(size) ? AddSmallBlob(session, data, size) : AddLargeBlob(session, data, size);
}

THDBBlobRef THDBDiskBlobManager::AddSmallBlob(SessionID session, const std::uint8_t* data, std::int64_t size) {
  const auto needed = static_cast<std::int32_t>(size + HeaderLength);
  std::int32_t pageNo = pageIndex_.FindPageWithRoom(session, needed);
  THDBPinnedPage page;
  SmallBlobPlace end;
  std::vector<std::int16_t> taken;
  const bool shared = pageNo != -1;
  if (shared) {
    const std::int32_t inIndex = pageIndex_.ReadCount(session);
    page = GetBlobPage(session, pageNo, {pageNo, -1});
    end = ScanSmallPage(DataOf(page), pageNo, -1, &taken);
    // The index said it fits; only a page and an index that disagree get here.
    if (end.End + needed > DataSize())
      RaiseHDB(Errors::BlobPageFull, end.Count, end.End, size, DataSize(), inIndex);
  } else {
    page = THDBPinnedPage(pages_, pages_.AddPage(session, ptTableBlob));
    page->SetOwnerTableID(tableID_);
    pageNo = page->PageNo();
    end.End = BlobPageLayout::FirstBlob;
  }
  // The page's count, raised until no BLOB of the page carries it. Numbers are never
  // negative, so a small BLOB never takes the large form's -1.
  std::sort(taken.begin(), taken.end());
  std::int32_t number = end.Count;
  for (std::int16_t n : taken)
    if (n == number) ++number;
  std::uint8_t* at = DataOf(page) + end.End;
  StoreHeader(at, static_cast<std::int16_t>(number), size);
  if (size) std::memcpy(at + HeaderLength, data, static_cast<std::size_t>(size));
  BlobPageLayout::BlobCount::Set(DataOf(page), static_cast<std::uint16_t>(end.Count + 1));
  page.SetDirty();
  page.Release();
  // The used size is what the page now holds, so an index that drifted from its page
  // is put right by the next change.
  if (shared) {
    pageIndex_.SetCount(session, pageNo, static_cast<std::int32_t>(end.End - BlobPageLayout::FirstBlob) + needed);
  } else {
    pageIndex_.AddToPageCount(session, pageNo, needed);
  }
  return {pageNo, static_cast<std::int16_t>(number)};
}

THDBBlobRef THDBDiskBlobManager::AddLargeBlob(SessionID session, const std::uint8_t* data, std::int64_t size) {
  const std::int64_t dataPageCount = LargeDataPageCount(size);
  if (dataPageCount > std::numeric_limits<std::int32_t>::max() / 4) RaiseHDB(Errors::InvalidBlobSize, size);
  const std::uint32_t pageSize = DataSize();
  std::vector<std::int32_t> added;
  added.reserve(static_cast<std::size_t>(dataPageCount) + 1);
  auto newPage = [&] {
    THDBPinnedPage page(pages_, pages_.AddPage(session, ptTableBlob));
    page->SetOwnerTableID(tableID_);
    added.push_back(page->PageNo());
    return page;
  };
  try {
    // The data pages, each filled as it is added.
    std::int64_t written = 0;
    for (std::int64_t i = 0; i < dataPageCount; ++i) {
      THDBPinnedPage page = newPage();
      const std::uint32_t start = i == 0 ? LargeBlobDataOffset : 0;
      const auto n = static_cast<std::size_t>(std::min<std::int64_t>(pageSize - start, size - written));
      if (n) std::memcpy(DataOf(page) + start, data + written, n);
      written += static_cast<std::int64_t>(n);
      if (i == 0) StoreHeader(DataOf(page), LargeBlobNo, size);
      page.SetDirty();
    }
    const std::vector<std::int32_t> dataPages = added;

    // The page list, right behind the last byte, or on a page of its own when the last
    // data page is full; it goes on over new pages chained through NextPageNo.
    std::vector<std::uint8_t> list(dataPages.size() * 4);
    for (std::size_t i = 0; i < dataPages.size(); ++i) le::Store<std::int32_t>(list.data(), i * 4, dataPages[i]);
    std::uint32_t at = LargeListOffset(size);
    THDBPinnedPage page;
    if (at < pageSize) {
      page = THDBPinnedPage(pages_, pages_.GetPage(session, dataPages.back(), false, ptTableBlob));
    } else {
      page = newPage();
      at = 0;
    }
    const std::int32_t listPageNo = page->PageNo();
    const std::uint32_t listOffset = at;
    for (std::size_t done = 0;;) {
      const std::size_t n = std::min<std::size_t>(pageSize - at, list.size() - done);
      std::memcpy(DataOf(page) + at, list.data() + done, n);
      done += n;
      page.SetDirty();
      if (done == list.size()) break;
      THDBPinnedPage next = newPage();
      page->SetNextPageNo(next->PageNo());
      page = std::move(next);
      at = 0;
    }
    page.Release();

    THDBPinnedPage first(pages_, pages_.GetPage(session, dataPages.front(), false, ptTableBlob));
    std::uint8_t* locator = DataOf(first) + LargeBlobLocatorOffset;
    BlobLocatorLayout::ListPageNo::Set(locator, listPageNo);
    BlobLocatorLayout::ListOffset::Set(locator, static_cast<std::uint16_t>(listOffset));
    BlobLocatorLayout::DataPageCount::Set(locator, static_cast<std::int32_t>(dataPageCount));
    first.SetDirty();
  } catch (...) {
    // Inside a transaction the session goes on: the pages of a value that was not
    // stored must not stay allocated.
    for (std::int32_t pageNo : added) {
      try {
        pages_.RemovePage(session, pageNo);
      } catch (const EHDBException&) {
      }
    }
    throw;
  }
  return {added.front(), LargeBlobNo};
}

// ---- Finding and checking -----------------------------------------------------------

void THDBDiskBlobManager::CheckPageNo(std::int32_t pageNo, std::int32_t pageCount, THDBBlobRef ref) const {
  if (pageNo <= 0 || pageNo >= pageCount) RaiseHDB(Errors::InvalidBlobPage, pageNo, ref.BlobNo);
}

THDBPinnedPage THDBDiskBlobManager::GetBlobPage(SessionID session, std::int32_t pageNo, THDBBlobRef ref) {
  if (pageNo <= 0) RaiseHDB(Errors::InvalidBlobPage, pageNo, ref.BlobNo);
  THDBPinnedPage page(pages_, pages_.GetPage(session, pageNo, true, ptTableBlob));
  if (page->PageVersion() > PageVersionWrap || page->OwnerTableID() != tableID_)
    RaiseHDB(Errors::InvalidBlobPage, pageNo, ref.BlobNo);
  return page;
}

THDBDiskBlobManager::SmallBlobPlace THDBDiskBlobManager::ScanSmallPage(const std::uint8_t* data,
                                                                       std::int32_t pageNo, std::int16_t blobNo,
                                                                       std::vector<std::int16_t>* seen) const {
  SmallBlobPlace place;
  place.Count = BlobPageLayout::BlobCount::Get(data);
  std::uint32_t at = BlobPageLayout::FirstBlob;
  for (std::uint32_t i = 0; i < place.Count; ++i) {
    if (at + HeaderLength > DataSize()) RaiseHDB(Errors::InvalidBlobPage, pageNo, blobNo);
    const std::int16_t number = BlobHeaderLayout::BlobNo::Get(data + at);
    const std::int64_t size = BlobHeaderLayout::Size::Get(data + at);
    if (number < 0 || size < 0 || size > static_cast<std::int64_t>(DataSize() - at - HeaderLength))
      RaiseHDB(Errors::InvalidBlobPage, pageNo, blobNo);
    if (number == blobNo) {
      // Two BLOBs of one number: which one the ref means cannot be told.
      if (place.Offset != 0) RaiseHDB(Errors::InvalidBlobPage, pageNo, blobNo);
      place.Offset = at;
      place.Size = size;
    }
    if (seen) seen->push_back(number);
    at += HeaderLength + static_cast<std::uint32_t>(size);
  }
  place.End = at;
  return place;
}

THDBDiskBlobManager::SmallBlobPlace THDBDiskBlobManager::FindSmallBlob(SessionID session, THDBBlobRef ref,
                                                                       THDBPinnedPage& page) {
  page = GetBlobPage(session, ref.PageNo, ref);
  SmallBlobPlace place = ScanSmallPage(DataOf(page), ref.PageNo, ref.BlobNo, nullptr);
  if (place.Offset == 0) RaiseHDB(Errors::BlobNotFound, ref.PageNo, ref.BlobNo);
  return place;
}

THDBDiskBlobManager::LargeBlobPages THDBDiskBlobManager::LoadLargeBlob(SessionID session, THDBBlobRef ref,
                                                                       std::vector<std::uint8_t>* bytes) {
  const std::int32_t pageCount = pages_.GetPageCount();
  const std::uint32_t pageSize = DataSize();
  auto damaged = [&](std::int32_t pageNo) { RaiseHDB(Errors::InvalidBlobPage, pageNo, ref.BlobNo); };
  CheckPageNo(ref.PageNo, pageCount, ref);

  LargeBlobPages blob;
  std::int32_t listPageNo = 0;
  std::uint32_t listOffset = 0;
  std::int64_t dataPageCount = 0;
  {
    THDBPinnedPage first = GetBlobPage(session, ref.PageNo, ref);
    const std::uint8_t* data = DataOf(first);
    const std::int16_t number = BlobHeaderLayout::BlobNo::Get(data);
    blob.Size = BlobHeaderLayout::Size::Get(data);
    // No value is larger than the file: that bound keeps every count below in range.
    if ((number != LargeBlobNo && number != AmbiguousBlobNo) || blob.Size < 0 || IsSmall(blob.Size) ||
        blob.Size > static_cast<std::int64_t>(pageCount) * pageSize)
      damaged(ref.PageNo);
    dataPageCount = LargeDataPageCount(blob.Size);
    const std::uint32_t end = LargeListOffset(blob.Size);
    const std::uint8_t* locator = data + LargeBlobLocatorOffset;
    listPageNo = BlobLocatorLayout::ListPageNo::Get(locator);
    listOffset = BlobLocatorLayout::ListOffset::Get(locator);
    if (dataPageCount >= pageCount || BlobLocatorLayout::DataPageCount::Get(locator) != dataPageCount ||
        listOffset != (end == pageSize ? 0 : end))
      damaged(ref.PageNo);
  }

  // The page list: 4 bytes a data page, from the locator's page on along NextPageNo.
  // Every page is visited once at most, so a chain that loops ends here.
  std::vector<std::uint8_t> list(static_cast<std::size_t>(dataPageCount) * 4);
  std::vector<std::int32_t> chain;
  std::set<std::int32_t> visited;
  std::int32_t pageNo = listPageNo;
  for (std::size_t done = 0, at = listOffset;;) {
    if (pageNo <= 0 || pageNo >= pageCount || !visited.insert(pageNo).second)
      RaiseHDB(Errors::InvalidBlobPageList, ref.PageNo, pageNo);
    THDBPinnedPage page = GetBlobPage(session, pageNo, ref);
    chain.push_back(pageNo);
    const std::size_t n = std::min<std::size_t>(pageSize - at, list.size() - done);
    std::memcpy(list.data() + done, DataOf(page) + at, n);
    done += n;
    if (done == list.size()) break;
    pageNo = page->NextPageNo();
    at = 0;
  }

  // The data pages: the first is the ref's, none twice, none of them a further list
  // page, and the list starts on the last one unless that one is full.
  std::set<std::int32_t> dataSet;
  blob.DataPages.resize(static_cast<std::size_t>(dataPageCount));
  for (std::size_t i = 0; i < blob.DataPages.size(); ++i) {
    const std::int32_t no = le::Load<std::int32_t>(list.data(), i * 4);
    if (no <= 0 || no >= pageCount || !dataSet.insert(no).second) RaiseHDB(Errors::InvalidBlobPageList, ref.PageNo, no);
    blob.DataPages[i] = no;
  }
  const bool listBehindData = listOffset != 0;
  if (blob.DataPages.front() != ref.PageNo || (listBehindData && chain.front() != blob.DataPages.back()))
    RaiseHDB(Errors::InvalidBlobPageList, ref.PageNo, chain.front());
  for (std::size_t i = listBehindData ? 1 : 0; i < chain.size(); ++i) {
    if (dataSet.count(chain[i])) RaiseHDB(Errors::InvalidBlobPageList, ref.PageNo, chain[i]);
    blob.ListPages.push_back(chain[i]);
  }

  // Every data page is looked at, also when only freeing: a damaged list must not
  // free a page that is not this BLOB's.
  if (bytes) bytes->resize(static_cast<std::size_t>(blob.Size));
  std::int64_t copied = 0;
  for (std::size_t i = 0; i < blob.DataPages.size(); ++i) {
    THDBPinnedPage page = GetBlobPage(session, blob.DataPages[i], ref);
    const std::uint32_t start = i == 0 ? LargeBlobDataOffset : 0;
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(pageSize - start, blob.Size - copied));
    if (bytes && n) std::memcpy(bytes->data() + copied, DataOf(page) + start, n);
    copied += static_cast<std::int64_t>(n);
  }
  return blob;
}

bool THDBDiskBlobManager::SizesSuggestLarge(SessionID session, std::int32_t pageNo) {
  THDBPinnedPage page = GetBlobPage(session, pageNo, {pageNo, AmbiguousBlobNo});
  const std::int64_t size = BlobHeaderLayout::Size::Get(DataOf(page));
  return size >= 0 && !IsSmall(size);
}

THDBDiskBlobManager::Form THDBDiskBlobManager::FormOf(SessionID session, THDBBlobRef ref) {
  if (ref.BlobNo == LargeBlobNo) return Form::Large;
  if (ref.BlobNo != AmbiguousBlobNo) return Form::Small;
  const Form first = SizesSuggestLarge(session, ref.PageNo) ? Form::Large : Form::Small;
  auto probe = [&](Form form) {
    if (form == Form::Large) {
      LoadLargeBlob(session, ref, nullptr);
    } else {
      THDBPinnedPage page;
      FindSmallBlob(session, ref, page);
    }
  };
  std::exception_ptr firstError;
  try {
    probe(first);
    return first;
  } catch (const EHDBException&) {
    firstError = std::current_exception();
  }
  const Form other = first == Form::Large ? Form::Small : Form::Large;
  try {
    probe(other);
    return other;
  } catch (const EHDBException&) {
  }
  std::rethrow_exception(firstError);
}

// ---- Reading and removing -----------------------------------------------------------

std::vector<std::uint8_t> THDBDiskBlobManager::ReadBlob(SessionID session, THDBBlobRef ref) {
  if (!HasBlobValue(ref)) return {};
  std::vector<std::uint8_t> bytes;
  if (FormOf(session, ref) == Form::Large) {
    LoadLargeBlob(session, ref, &bytes);
    return bytes;
  }
  THDBPinnedPage page;
  const SmallBlobPlace place = FindSmallBlob(session, ref, page);
  const std::uint8_t* from = DataOf(page) + place.Offset + HeaderLength;
  bytes.assign(from, from + place.Size);
  return bytes;
}

void THDBDiskBlobManager::RemoveBlob(SessionID session, THDBBlobRef ref) {
  if (!HasBlobValue(ref)) return;
  if (FormOf(session, ref) == Form::Small) {
    RemoveSmallBlob(session, ref);
    return;
  }
  const LargeBlobPages blob = LoadLargeBlob(session, ref, nullptr);
  for (std::int32_t pageNo : blob.DataPages) pages_.RemovePage(session, pageNo);
  for (std::int32_t pageNo : blob.ListPages) pages_.RemovePage(session, pageNo);
}

void THDBDiskBlobManager::RemoveSmallBlob(SessionID session, THDBBlobRef ref) {
  THDBPinnedPage page;
  const SmallBlobPlace place = FindSmallBlob(session, ref, page);
  std::uint8_t* data = DataOf(page);
  // The following BLOBs move down; the freed tail is zeroed.
  const std::uint32_t length = HeaderLength + static_cast<std::uint32_t>(place.Size);
  std::memmove(data + place.Offset, data + place.Offset + length, place.End - place.Offset - length);
  std::memset(data + place.End - length, 0, length);
  const std::uint16_t count = static_cast<std::uint16_t>(place.Count - 1);
  BlobPageLayout::BlobCount::Set(data, count);
  page.SetDirty();
  page.Release();
  const std::int32_t used = count == 0 ? 0 : static_cast<std::int32_t>(place.End - length - BlobPageLayout::FirstBlob);
  if (count == 0) pages_.RemovePage(session, ref.PageNo);
  // A page the index does not list is only never offered for new BLOBs: nothing to
  // take off there.
  if (pageIndex_.FindPage(session, ref.PageNo)) pageIndex_.SetCount(session, ref.PageNo, used);
}

// ---- Values held in memory ----------------------------------------------------------

std::uint32_t THDBDiskBlobManager::NewValue(std::vector<std::uint8_t> bytes) {
  while (nextHandle_ == 0 || values_.count(nextHandle_)) ++nextHandle_;
  const std::uint32_t handle = nextHandle_++;
  values_.emplace(handle, std::move(bytes));
  return handle;
}

void THDBDiskBlobManager::SetValue(std::uint32_t handle, std::vector<std::uint8_t> bytes) {
  auto it = values_.find(handle);
  if (it == values_.end()) RaiseHDB(Errors::InvalidBlobHandle, handle);
  it->second = std::move(bytes);
}

const std::vector<std::uint8_t>& THDBDiskBlobManager::Value(std::uint32_t handle) const {
  auto it = values_.find(handle);
  if (it == values_.end()) RaiseHDB(Errors::InvalidBlobHandle, handle);
  return it->second;
}

void THDBDiskBlobManager::DropValue(std::uint32_t handle) { values_.erase(handle); }

// ---- Record hooks -------------------------------------------------------------------

void THDBDiskBlobManager::WriteBlobFields(SessionID session, std::uint8_t* record, const std::uint8_t* storedRecord) {
  struct Stored {
    std::int32_t FieldNo;
    std::uint32_t Handle;
    THDBBlobRef Ref;
  };
  std::vector<Stored> stored;
  try {
    for (std::int32_t i = 0; i < fields_.FieldCount(); ++i) {
      const THDBFieldDef& f = fields_.Field(i);
      if (!IsBlobBaseType(f.BaseType)) continue;
      const std::uint32_t handle = BlobSlotLayout::Handle::Get(record + f.MemoryOffset);
      if (!handle) continue;
      const std::vector<std::uint8_t>& value = Value(handle);
      THDBBlobRef ref = NoBlob;
      if (!NullBitmap::IsNull(record, i) && !value.empty())
        ref = AddBlob(session, value.data(), static_cast<std::int64_t>(value.size()));
      stored.push_back({i, handle, ref});
    }
    if (storedRecord) {
      for (const Stored& s : stored)
        RemoveBlob(session, LoadBlobRef(storedRecord + fields_.Field(s.FieldNo).MemoryOffset));
    }
  } catch (...) {
    for (const Stored& s : stored) {
      try {
        RemoveBlob(session, s.Ref);
      } catch (const EHDBException&) {
      }
    }
    throw;
  }
  for (std::int32_t i = 0; i < fields_.FieldCount(); ++i) {
    const THDBFieldDef& f = fields_.Field(i);
    std::uint8_t* slot = record + f.MemoryOffset;
    if (IsBlobBaseType(f.BaseType) && !HasBlobValue(LoadBlobRef(slot))) StoreBlobRef(slot, NoBlob);
  }
  for (const Stored& s : stored) {
    std::uint8_t* slot = record + fields_.Field(s.FieldNo).MemoryOffset;
    StoreBlobRef(slot, s.Ref);
    BlobSlotLayout::Handle::Set(slot, 0);
    DropValue(s.Handle);
  }
}

void THDBDiskBlobManager::ClearBlobFields(SessionID session, const std::uint8_t* record) {
  for (std::int32_t i = 0; i < fields_.FieldCount(); ++i) {
    const THDBFieldDef& f = fields_.Field(i);
    if (IsBlobBaseType(f.BaseType)) RemoveBlob(session, LoadBlobRef(record + f.MemoryOffset));
  }
}

void THDBDiskBlobManager::PrepareBlobFields(std::uint8_t* record) {
  for (std::int32_t i = 0; i < fields_.FieldCount(); ++i) {
    const THDBFieldDef& f = fields_.Field(i);
    if (!IsBlobBaseType(f.BaseType)) continue;
    std::uint8_t* slot = record + f.MemoryOffset;
    if (const std::uint32_t handle = BlobSlotLayout::Handle::Get(slot)) {
      DropValue(handle);
      BlobSlotLayout::Handle::Set(slot, 0);
    }
  }
}

void THDBDiskBlobManager::FreeBlobPages(SessionID session,
                                        const std::function<void(const RecordVisitor&)>& forEachRecord) {
  // Collected first and removed once each: two refs to one page must not free it twice.
  std::set<std::int32_t> doomed;
  const std::int32_t pageCount = pages_.GetPageCount();
  auto sharedPage = [&](std::int32_t pageNo, THDBBlobRef ref) {
    CheckPageNo(pageNo, pageCount, ref);
    GetBlobPage(session, pageNo, ref).Release();
    doomed.insert(pageNo);
  };
  if (forEachRecord) {
    forEachRecord([&](const std::uint8_t* record) {
      for (std::int32_t i = 0; i < fields_.FieldCount(); ++i) {
        const THDBFieldDef& f = fields_.Field(i);
        if (!IsBlobBaseType(f.BaseType)) continue;
        const THDBBlobRef ref = LoadBlobRef(record + f.MemoryOffset);
        if (!HasBlobValue(ref)) continue;
        if (FormOf(session, ref) == Form::Small) {
          sharedPage(ref.PageNo, ref);
          continue;
        }
        const LargeBlobPages blob = LoadLargeBlob(session, ref, nullptr);
        doomed.insert(blob.DataPages.begin(), blob.DataPages.end());
        doomed.insert(blob.ListPages.begin(), blob.ListPages.end());
      }
    });
  }
  if (pageIndex_.RootPageNo() == -1) {
    for (std::int32_t pageNo : doomed) pages_.RemovePage(session, pageNo);
    return;
  }
  std::vector<std::int32_t> listed;
  for (bool more = pageIndex_.First(session); more; more = pageIndex_.Next(session))
    listed.push_back(pageIndex_.ReadPageNo(session));
  for (std::int32_t pageNo : listed) sharedPage(pageNo, {pageNo, -1});
  for (std::int32_t pageNo : doomed) pages_.RemovePage(session, pageNo);
  pageIndex_.Clear(session);
}

void THDBDiskBlobManager::DropPageIndex(SessionID session) {
  if (pageIndex_.RootPageNo() != -1) pageIndex_.Drop(session);
}

}  // namespace hdb

#include "dbengine/storage/sorted_page_list.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page.h"

namespace hdb {

namespace {
constexpr std::int32_t MaximumStep = 10000;
}

std::int32_t THDBSortedPageList::IndexOf(std::int32_t pageNo) const {
  // Page numbers are unique: a remembered position that still holds the number is its
  // position, whatever moved since.
  for (std::int32_t i : recent_)
    if (i < count_ && keys_[i] == pageNo) return i;
  const std::int32_t* begin = keys_.get();
  const std::int32_t* end = begin + count_;
  const std::int32_t* it = std::lower_bound(begin, end, pageNo);
  if (it == end || *it != pageNo) return -1;
  const std::int32_t found = static_cast<std::int32_t>(it - begin);
  recent_[nextRecent_] = found;
  nextRecent_ = (nextRecent_ + 1) % RecentCount;
  return found;
}

THDBPage* THDBSortedPageList::Find(std::int32_t pageNo) const {
  std::int32_t i = IndexOf(pageNo);
  return i < 0 ? nullptr : entries_[i].Page;
}

void THDBSortedPageList::Reserve(std::int32_t n) {
  if (n <= capacity_) return;
  growthStep_ = std::min(growthStep_ * 2, MaximumStep);
  std::int32_t capacity = std::max(capacity_ + growthStep_, n);
  std::unique_ptr<std::int32_t[]> keys(new std::int32_t[capacity]);
  std::unique_ptr<Entry[]> entries(new Entry[capacity]);
  if (count_ > 0) {
    std::memcpy(keys.get(), keys_.get(), sizeof(std::int32_t) * count_);
    std::memcpy(entries.get(), entries_.get(), sizeof(Entry) * count_);
  }
  keys_ = std::move(keys);
  entries_ = std::move(entries);
  capacity_ = capacity;
}

void THDBSortedPageList::Shrink(std::int32_t n) {
  if (n == 0) {
    keys_.reset();
    entries_.reset();
    capacity_ = 0;
    return;
  }
  if (capacity_ - n <= shrinkStep_) return;
  shrinkStep_ = std::min(shrinkStep_ * 2, MaximumStep);
  std::unique_ptr<std::int32_t[]> keys(new std::int32_t[n]);
  std::unique_ptr<Entry[]> entries(new Entry[n]);
  std::memcpy(keys.get(), keys_.get(), sizeof(std::int32_t) * count_);
  std::memcpy(entries.get(), entries_.get(), sizeof(Entry) * count_);
  keys_ = std::move(keys);
  entries_ = std::move(entries);
  capacity_ = n;
}

void THDBSortedPageList::Insert(THDBPage* page) {
  assert(page && page->List == nullptr);
  const std::int32_t pageNo = page->PageNo();
  Reserve(count_ + 1);
  std::int32_t* begin = keys_.get();
  std::int32_t pos = static_cast<std::int32_t>(std::lower_bound(begin, begin + count_, pageNo) - begin);
  assert(pos == count_ || keys_[pos] != pageNo);
  std::memmove(&keys_[pos + 1], &keys_[pos], sizeof(std::int32_t) * (count_ - pos));
  std::memmove(&entries_[pos + 1], &entries_[pos], sizeof(Entry) * (count_ - pos));
  keys_[pos] = pageNo;
  entries_[pos] = {page, ++stampCounter_};
  ++count_;
  page->List = this;
}

THDBPage* THDBSortedPageList::Delete(std::int32_t pageNo) {
  if (count_ == 0) RaiseHDB(Errors::SortedListEmpty);
  std::int32_t pos = IndexOf(pageNo);
  if (pos < 0) RaiseHDB(Errors::SortedListNotFound, pageNo, count_);
  THDBPage* page = entries_[pos].Page;
  std::memmove(&keys_[pos], &keys_[pos + 1], sizeof(std::int32_t) * (count_ - pos - 1));
  std::memmove(&entries_[pos], &entries_[pos + 1], sizeof(Entry) * (count_ - pos - 1));
  --count_;
  Shrink(count_);
  page->List = nullptr;
  return page;
}

void THDBSortedPageList::Touch(std::int32_t pageNo) {
  std::int32_t pos = IndexOf(pageNo);
  if (pos < 0) RaiseHDB(Errors::PageNotFound);
  entries_[pos].AccessStamp = ++stampCounter_;
}

THDBPage* THDBSortedPageList::LeastRecentlyUsed() const {
  if (count_ == 0) return nullptr;
  std::int32_t best = 0;
  for (std::int32_t i = 0; i < count_; ++i) {
    if (entries_[i].AccessStamp < entries_[best].AccessStamp) best = i;
    if (entries_[best].AccessStamp <= minimumStamp_) break;
  }
  minimumStamp_ = entries_[best].AccessStamp;
  return entries_[best].Page;
}

void THDBSortedPageList::Clear() {
  for (std::int32_t i = 0; i < count_; ++i) entries_[i].Page->List = nullptr;
  count_ = 0;
  Shrink(0);
}

}  // namespace hdb

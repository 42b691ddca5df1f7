// THDBSortedPageList: pages ordered by ascending page number, each entry stamped with
// an access stamp so the least recently used one can be found. Serves as the shared
// cache of clean pages and as each session's list of changed pages. Lookups halve the
// searched range on the page number, after a look at the few positions found last. The list does not own its pages; the page
// manager creates and destroys them.
//
// Not locked: used under the owning database object's lock.
#pragma once

#include <cstdint>
#include <memory>

namespace hdb {

class THDBPage;

class THDBSortedPageList {
 public:
  struct Entry {
    THDBPage* Page;
    std::uint64_t AccessStamp;
  };

  THDBSortedPageList() = default;
  THDBSortedPageList(const THDBSortedPageList&) = delete;
  THDBSortedPageList& operator=(const THDBSortedPageList&) = delete;

  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return capacity_; }
  std::int32_t GrowthStep() const { return growthStep_; }
  std::int32_t ShrinkStep() const { return shrinkStep_; }

  // Index of the page number, or -1.
  std::int32_t IndexOf(std::int32_t pageNo) const;
  THDBPage* Find(std::int32_t pageNo) const;
  THDBPage* At(std::int32_t index) const { return entries_[index].Page; }
  std::uint64_t StampAt(std::int32_t index) const { return entries_[index].AccessStamp; }

  // Inserts a page whose number is not in the list yet, with a new stamp, and makes
  // the list its holder.
  void Insert(THDBPage* page);
  // Removes the page number; 20165 on an empty list, 20166 when it is not there.
  THDBPage* Delete(std::int32_t pageNo);
  // Gives the page a new stamp; 20167 when it is not there.
  void Touch(std::int32_t pageNo);
  // The page with the smallest stamp, or nullptr when empty.
  THDBPage* LeastRecentlyUsed() const;
  // Empties the list (the pages are not destroyed).
  void Clear();

 private:
  void Reserve(std::int32_t n);
  void Shrink(std::int32_t n);

  std::unique_ptr<std::int32_t[]> keys_;
  std::unique_ptr<Entry[]> entries_;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
  std::int32_t growthStep_ = 1000;
  std::int32_t shrinkStep_ = 1000;
  std::uint64_t stampCounter_ = 0;
  // The smallest stamp seen by the last search: no entry can hold a smaller one, so a
  // search that meets it stops early.
  mutable std::uint64_t minimumStamp_ = 0;
  // The positions the last lookups found: a walk keeps coming back to the same few
  // pages (its index leaf, its record page), which these answer without a search.
  static constexpr int RecentCount = 4;
  mutable std::int32_t recent_[RecentCount] = {0, 0, 0, 0};
  mutable int nextRecent_ = 0;
};

}  // namespace hdb

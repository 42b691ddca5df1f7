#include "dbengine/tables/btree.h"

#include <cstring>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_manager.h"
#include "dbengine/tables/btree_page.h"

namespace hdb {

THDBBTree::THDBBTree(THDBPageManager& pages, THDBBTreeKeyRef& keyRef, bool valuesBreakTies)
    : pages_(&pages), keyRef_(&keyRef), valuesBreakTies_(valuesBreakTies) {}

std::int32_t THDBBTree::CreateRoot() {
  THDBBTreePage root(*this, THDBBTreePage::NewPage{});
  root.InitEmptyRoot(static_cast<std::uint16_t>(KeySize()));
  rootPageNo_ = root.PageNo();
  return rootPageNo_;
}

void THDBBTree::Insert(std::uint8_t* key, const void* value) {
  THDBKeyPath path;
  THDBBTreePage root(*this, rootPageNo_);
  root.PageInsert(key, value, path);
  if (root.Overflows()) SplitRoot(root);
}

void THDBBTree::SplitRoot(THDBBTreePage& root) {
  THDBBTreePage left(*this, THDBBTreePage::NewPage{});
  THDBBTreePage right(*this, THDBBTreePage::NewPage{});
  const std::int32_t count = root.EntryCount(), half = count / 2;
  left.CopyFrom(root, 0, half);
  right.CopyFrom(root, half, count - half);
  left.SetIsRoot(false);
  right.SetIsRoot(false);
  left.SetNextPageNo(right.PageNo());
  right.SetPrevPageNo(left.PageNo());
  std::vector<std::uint8_t> firstKey(static_cast<std::size_t>(KeySize()), 0);
  std::vector<std::uint8_t> separator(right.KeyAt(0), right.KeyAt(0) + KeySize());
  root.SetIsLeaf(false);
  root.SetEntryCount(0);
  std::uint8_t child[4];
  le::Store<std::int32_t>(child, 0, left.PageNo());
  root.InsertEntry(0, firstKey.data(), child);
  le::Store<std::int32_t>(child, 0, right.PageNo());
  root.InsertEntry(1, separator.data(), child);
}

bool THDBBTree::Delete(std::uint8_t* key, const void* value, THDBKeyPath& path) {
  path.Clear();
  THDBBTreePage root(*this, rootPageNo_);
  if (!root.PageDelete(key, value, path)) return false;
  if (!root.IsLeaf() && root.EntryCount() == 1) CollapseRoot(root);
  return true;
}

void THDBBTree::CollapseRoot(THDBBTreePage& root) {
  const std::int32_t childNo = root.ChildAt(0);
  {
    THDBBTreePage child(*this, childNo);
    root.CopyFrom(child, 0, child.EntryCount());
  }
  root.SetIsRoot(true);
  root.SetPrevPageNo(-1);
  root.SetNextPageNo(-1);
  root.SetDirty();
  pages_->RemovePage(session_, childNo);
}

bool THDBBTree::FindExact(std::uint8_t* key, const void* value, THDBKeyPath& path) {
  path.Clear();
  THDBBTreePage root(*this, rootPageNo_);
  return root.FindExact(key, value, path);
}

bool THDBBTree::First(THDBKeyPath& path) {
  path.Clear();
  THDBBTreePage root(*this, rootPageNo_);
  return root.First(path);
}

bool THDBBTree::Last(THDBKeyPath& path) {
  path.Clear();
  THDBBTreePage root(*this, rootPageNo_);
  return root.Last(path);
}

bool THDBBTree::Next(THDBKeyPath& path) {
  if (path.IsEmpty()) RaiseHDB(Errors::IndexInvalidPosition);
  for (;;) {
    const std::int32_t levels = path.LevelCount();
    std::int32_t k = levels - 1;
    while (k >= 0 && path.At(k).EntryNo >= path.At(k).EntryCount - 1) --k;
    if (k < 0) return false;
    ++path.At(k).EntryNo;
    for (std::int32_t d = k + 1; d < levels; ++d) {
      std::int32_t next;
      {
        THDBBTreePage page(*this, path.At(d).PageNo);
        next = page.NextPageNo();
      }
      if (next == -1) RaiseHDB(Errors::IndexNoNextPage);
      THDBBTreePage page(*this, next);
      path.At(d) = {next, 0, page.EntryCount()};
    }
    // A leaf left empty by a merge that could not happen holds nothing to stop at.
    if (path.Leaf().EntryCount > 0) return true;
  }
}

bool THDBBTree::Prior(THDBKeyPath& path) {
  if (path.IsEmpty()) RaiseHDB(Errors::IndexInvalidPosition);
  for (;;) {
    const std::int32_t levels = path.LevelCount();
    std::int32_t k = levels - 1;
    while (k >= 0 && path.At(k).EntryNo <= 0) --k;
    if (k < 0) return false;
    --path.At(k).EntryNo;
    for (std::int32_t d = k + 1; d < levels; ++d) {
      std::int32_t prev;
      {
        THDBBTreePage page(*this, path.At(d).PageNo);
        prev = page.PrevPageNo();
      }
      if (prev == -1) RaiseHDB(Errors::IndexNoPriorPage);
      THDBBTreePage page(*this, prev);
      const std::int32_t count = page.EntryCount();
      path.At(d) = {prev, count > 0 ? count - 1 : 0, count};
    }
    if (path.Leaf().EntryCount > 0) return true;
  }
}

bool THDBBTree::SearchCondition(bool forward, THDBKeyPath& path, std::uint8_t condition, std::uint8_t* key) {
  path.Clear();
  THDBBTreePage root(*this, rootPageNo_);
  return root.SearchCondition(forward, path, condition, key);
}

void THDBBTree::FreePages(bool keepRoot) {
  THDBBTreePage root(*this, rootPageNo_);
  root.FreePages(keepRoot);
  if (keepRoot) {
    root.InitEmptyRoot(static_cast<std::uint16_t>(KeySize()));
  } else {
    rootPageNo_ = -1;
  }
}

void THDBBTree::CheckIntegrity() {
  THDBKeyPath path;
  THDBBTreePage root(*this, rootPageNo_);
  if (!root.IsRoot() || root.PrevPageNo() != -1 || root.NextPageNo() != -1)
    RaiseHDB(Errors::IndexIntegrity, root.PageNo(), 0);
  root.CheckIntegrity(path);
}

std::int64_t THDBBTree::EntryCount() {
  THDBKeyPath path;
  if (!First(path)) return 0;
  std::int64_t total = 0;
  std::int32_t pageNo = path.Leaf().PageNo;
  // A level that links back into itself would never end; a leaf level has at most as
  // many pages as the file.
  std::int64_t pagesLeft = static_cast<std::int64_t>(pages_->GetPageCount()) + 1;
  while (pageNo != -1) {
    if (--pagesLeft < 0) RaiseHDB(Errors::IndexIntegrityCircular, pageNo, 0);
    THDBBTreePage page(*this, pageNo);
    total += page.EntryCount();
    pageNo = page.NextPageNo();
  }
  return total;
}

void THDBBTree::ReadLeafEntry(const THDBKeyPath& path, std::uint8_t* key, std::uint8_t* value) {
  const THDBKeyPath::Level& leaf = path.Leaf();
  THDBBTreePage page(*this, leaf.PageNo);
  ReadLeafEntry(page, leaf.EntryNo, key, value);
}

void THDBBTree::ReadLeafEntry(const THDBBTreePage& page, std::int32_t entryNo, std::uint8_t* key,
                              std::uint8_t* value) {
  if (!page.IsLeaf() || entryNo < 0 || entryNo >= page.EntryCount()) RaiseHDB(Errors::IndexInvalidPosition);
  const THDBBTree& tree = page.Tree();
  const std::uint8_t* entry = page.EntryAt(entryNo);
  if (key) std::memcpy(key, entry, static_cast<std::size_t>(tree.KeySize()));
  if (value) std::memcpy(value, entry + page.KeySize(), static_cast<std::size_t>(tree.LeafRefSize()));
}

std::int64_t THDBBTree::EntriesBefore(const THDBKeyPath& path) {
  std::int64_t total = 0;
  std::int32_t pageNo;
  {
    THDBBTreePage page(*this, path.Leaf().PageNo);
    pageNo = page.PrevPageNo();
  }
  std::int64_t pagesLeft = static_cast<std::int64_t>(pages_->GetPageCount()) + 1;
  while (pageNo != -1) {
    if (--pagesLeft < 0) RaiseHDB(Errors::IndexIntegrityCircular, pageNo, 0);
    THDBBTreePage page(*this, pageNo);
    total += page.EntryCount();
    pageNo = page.PrevPageNo();
  }
  return total;
}

}  // namespace hdb

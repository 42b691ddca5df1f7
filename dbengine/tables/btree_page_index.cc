#include "dbengine/tables/btree_page_index.h"

#include <cstring>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_manager.h"
#include "dbengine/tables/btree_page.h"

namespace hdb {

THDBBTreePageIndex::THDBBTreePageIndex(THDBPageManager& pages) : tree_(pages, keyRef_, false) {}

void THDBBTreePageIndex::SetRootPageNo(std::int32_t pageNo) {
  tree_.SetRootPageNo(pageNo);
  path_.Clear();
}

THDBBTree& THDBBTreePageIndex::TreeFor(SessionID session, const THDBErrorDef& noRoot) {
  if (tree_.RootPageNo() == -1) RaiseHDB(noRoot);
  tree_.SetSession(session);
  return tree_;
}

std::uint8_t* THDBBTreePageIndex::KeyOf(std::int32_t pageNo) {
  le::Store<std::int32_t>(key_, 0, pageNo);
  return key_;
}

std::int32_t THDBBTreePageIndex::CreateRoot(SessionID session) {
  tree_.SetSession(session);
  path_.Clear();
  return tree_.CreateRoot();
}

void THDBBTreePageIndex::Drop(SessionID session) {
  TreeFor(session, Errors::PageIndexDropNoRoot).FreePages(false);
  path_.Clear();
}

void THDBBTreePageIndex::Clear(SessionID session) {
  TreeFor(session, Errors::PageIndexClearNoRoot).FreePages(true);
  path_.Clear();
}

bool THDBBTreePageIndex::First(SessionID session) {
  return TreeFor(session, Errors::PageIndexStepNoRoot).First(path_);
}

bool THDBBTreePageIndex::Last(SessionID session) { return TreeFor(session, Errors::PageIndexStepNoRoot).Last(path_); }

bool THDBBTreePageIndex::Next(SessionID session) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexStepNoRoot);
  return Positioned() && tree.Next(path_);
}

bool THDBBTreePageIndex::Prior(SessionID session) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexStepNoRoot);
  return Positioned() && tree.Prior(path_);
}

bool THDBBTreePageIndex::FindPage(SessionID session, std::int32_t pageNo) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexFindNoRoot);
  if (tree.FindExact(KeyOf(pageNo), nullptr, path_)) return true;
  path_.Clear();
  return false;
}

std::int32_t THDBBTreePageIndex::ReadPageNo(SessionID session) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexFindNoRoot);
  std::uint8_t key[4];
  tree.ReadLeafEntry(path_, key, nullptr);
  return le::Load<std::int32_t>(key, 0);
}

std::int32_t THDBBTreePageIndex::ReadCount(SessionID session) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexFindNoRoot);
  std::uint8_t value[2];
  tree.ReadLeafEntry(path_, nullptr, value);
  return le::Load<std::uint16_t>(value, 0);
}

void THDBBTreePageIndex::WriteCount(SessionID session, std::int32_t count) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexFindNoRoot);
  if (path_.IsEmpty()) RaiseHDB(Errors::IndexInvalidPosition);
  THDBBTreePage page(tree, path_.Leaf().PageNo);
  const std::int32_t entry = path_.Leaf().EntryNo;
  if (!page.IsLeaf() || entry < 0 || entry >= page.EntryCount()) RaiseHDB(Errors::IndexInvalidPosition);
  le::Store<std::uint16_t>(page.RefAt(entry), 0, static_cast<std::uint16_t>(count));
  page.SetDirty();
}

std::int32_t THDBBTreePageIndex::FindPageWithRoom(SessionID session, std::int32_t needed) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexFindNoRoot);
  // Only the last and the first leaf page are looked at: for a table of up to one leaf
  // page of record pages every page with room is found, and an insert never walks the
  // whole index.
  if (!tree.Last(path_)) return -1;
  {
    THDBBTreePage leaf(tree, path_.Leaf().PageNo);
    for (std::int32_t i = leaf.EntryCount() - 1; i >= 0; --i)
      if (Qualifies(le::Load<std::uint16_t>(leaf.RefAt(i), 0), needed)) {
        path_.Leaf().EntryNo = i;
        return le::Load<std::int32_t>(leaf.KeyAt(i), 0);
      }
  }
  const std::int32_t lastLeaf = path_.Leaf().PageNo;
  if (!tree.First(path_) || path_.Leaf().PageNo == lastLeaf) return -1;
  THDBBTreePage leaf(tree, path_.Leaf().PageNo);
  for (std::int32_t i = 0; i < leaf.EntryCount(); ++i)
    if (Qualifies(le::Load<std::uint16_t>(leaf.RefAt(i), 0), needed)) {
      path_.Leaf().EntryNo = i;
      return le::Load<std::int32_t>(leaf.KeyAt(i), 0);
    }
  return -1;
}

void THDBBTreePageIndex::AddToPageCount(SessionID session, std::int32_t pageNo, std::int32_t delta) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexAddNoRoot);
  if (!FindPage(session, pageNo)) {
    std::uint8_t value[2];
    le::Store<std::uint16_t>(value, 0, static_cast<std::uint16_t>(delta));
    tree.Insert(KeyOf(pageNo), value);
    path_.Clear();
    return;
  }
  const std::int32_t count = ReadCount(session);
  CheckAddition(count, delta);
  WriteCount(session, count + delta);
}

void THDBBTreePageIndex::AddToFoundPageCount(SessionID session, std::int32_t pageNo, std::int32_t delta) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexAddNoRoot);
  if (!path_.IsEmpty()) {
    std::uint8_t key[4], value[2];
    tree.ReadLeafEntry(path_, key, value);
    if (le::Load<std::int32_t>(key, 0) == pageNo) {
      const std::int32_t count = le::Load<std::uint16_t>(value, 0);
      CheckAddition(count, delta);
      WriteCount(session, count + delta);
      return;
    }
  }
  AddToPageCount(session, pageNo, delta);
}

void THDBBTreePageIndex::SetCount(SessionID session, std::int32_t pageNo, std::int32_t count) {
  THDBBTree& tree = TreeFor(session, Errors::PageIndexSetNoRoot);
  if (count == 0) {
    if (!tree.Delete(KeyOf(pageNo), nullptr, path_)) RaiseHDB(Errors::PageIndexRemoveMissing);
    path_.Clear();
    return;
  }
  if (!FindPage(session, pageNo)) RaiseHDB(Errors::PageIndexSetMissing);
  WriteCount(session, count);
}

void THDBBTreePageIndex::CheckIntegrity(SessionID session) {
  TreeFor(session, Errors::PageIndexFindNoRoot).CheckIntegrity();
}

std::int64_t THDBBTreePageIndex::EntryCount(SessionID session) {
  return TreeFor(session, Errors::PageIndexFindNoRoot).EntryCount();
}

std::int64_t THDBBTreePageIndex::CountSum(SessionID session) {
  std::int64_t sum = 0;
  for (bool more = First(session); more; more = Next(session)) sum += ReadCount(session);
  return sum;
}

void THDBBTreeRecordPageIndex::CheckAddition(std::int32_t value, std::int32_t delta) const {
  if (value >= RecordsPerPage || value + delta > RecordsPerPage) RaiseHDB(Errors::PageIndexPageFull);
}

THDBBTreeBlobPageIndex::THDBBTreeBlobPageIndex(THDBPageManager& pages)
    : THDBBTreePageIndex(pages), pageDataSize_(pages.PageDataSize()) {}

}  // namespace hdb

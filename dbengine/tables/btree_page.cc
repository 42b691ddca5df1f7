#include "dbengine/tables/btree_page.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_header.h"
#include "dbengine/tables/btree.h"
#include "dbengine/tables/leaf_values.h"

namespace hdb {

namespace L = BTreePageHeaderLayout;

namespace {

std::vector<std::uint8_t> KeyBuffer(const THDBBTree& tree) {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(tree.KeySize()), 0);
}
std::vector<std::uint8_t> ValueBuffer(const THDBBTree& tree) {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(tree.LeafRefSize()), 0);
}

// Pops the levels a child pushed, back to `levels`.
void TruncatePath(THDBKeyPath& path, std::int32_t levels) {
  while (path.LevelCount() > levels) path.Pop();
}

[[noreturn]] void IntegrityError(std::int32_t pageNo, std::int32_t entryNo) {
  RaiseHDB(Errors::IndexIntegrity, pageNo, entryNo);
}

}  // namespace

// ---- THDBBTreePage -----------------------------------------------------------------

THDBBTreePage::THDBBTreePage(THDBBTree& tree, std::int32_t pageNo)
    : tree_(tree), pinned_(tree.Pages(), tree.Pages().GetPage(tree.Session(), pageNo, tree.Pages().MultiUser(), ptTableIndex)) {
  CheckLayout();
}

THDBBTreePage::THDBBTreePage(THDBBTree& tree, NewPage)
    : tree_(tree), pinned_(tree.Pages(), tree.Pages().AddPage(tree.Session(), ptTableIndex)) {
  InitEmpty();
}

std::int32_t THDBBTreePage::PageDataSize() const { return tree_.Pages().PageDataSize(); }

void THDBBTreePage::CheckLayout() const {
  const std::int64_t room = static_cast<std::int64_t>(pinned_->BufferSize()) - PageHeaderLayout::Size;
  const std::int64_t used = HeaderSize() + static_cast<std::int64_t>(EntryCount()) * EntrySize();
  if (KeySize() != tree_.KeySize() || used > room) IntegrityError(PageNo(), EntryCount());
}

std::int32_t THDBBTreePage::RefSize() const { return IsLeaf() ? tree_.LeafRefSize() : L::NodeRefSize; }

std::int32_t THDBBTreePage::EntrySize() const {
  return KeySize() + RefSize() + (L::ExtraEntryFlag::Get(Data()) != 0 ? L::ExtraEntrySize : 0);
}

const RecordID* THDBBTreePage::RecordIDAt(std::int32_t i, RecordID& scratch) const {
  if (!IsLeaf() || tree_.LeafRefSize() != RecordIDLayout::Size) return nullptr;
  scratch = LoadRecordID(RefAt(i));
  return &scratch;
}

void THDBBTreePage::SetKeyAt(std::int32_t i, const std::uint8_t* key) {
  std::memmove(KeyAt(i), key, KeySize());
  SetDirty();
}

void THDBBTreePage::InitEmpty() {
  std::uint8_t* d = Data();
  std::memset(d, 0, L::Size);
  L::PrevPageNo::Set(d, -1);
  L::NextPageNo::Set(d, -1);
  SetDirty();
}

void THDBBTreePage::InitEmptyRoot(std::uint16_t keySize) {
  InitEmpty();
  std::uint8_t* d = Data();
  L::IsRoot::Set(d, 1);
  L::IsLeaf::Set(d, 1);
  L::FormatByte::Set(d, 1);
  L::KeySize::Set(d, keySize);
}

void THDBBTreePage::CopyFrom(const THDBBTreePage& source, std::int32_t first, std::int32_t count) {
  std::memmove(Data(), source.Data(), static_cast<std::size_t>(source.HeaderSize()));
  SetEntryCount(0);
  AppendFrom(source, first, count);
}

void THDBBTreePage::AppendFrom(const THDBBTreePage& source, std::int32_t first, std::int32_t count) {
  if (count <= 0) return;
  const std::int32_t size = EntrySize();
  if (source.EntrySize() != size) IntegrityError(source.PageNo(), first);
  const std::int32_t at = EntryCount();
  if (HeaderSize() + static_cast<std::int64_t>(at + count) * size > PageDataSize())
    IntegrityError(PageNo(), at + count);
  std::memmove(EntryAt(at), source.EntryAt(first), static_cast<std::size_t>(count) * size);
  SetEntryCount(at + count);
  SetDirty();
}

void THDBBTreePage::PrependFrom(const THDBBTreePage& source, std::int32_t first, std::int32_t count) {
  if (count <= 0) return;
  const std::int32_t size = EntrySize();
  if (source.EntrySize() != size) IntegrityError(source.PageNo(), first);
  const std::int32_t have = EntryCount();
  if (HeaderSize() + static_cast<std::int64_t>(have + count) * size > PageDataSize())
    IntegrityError(PageNo(), have + count);
  std::memmove(EntryAt(count), EntryAt(0), static_cast<std::size_t>(have) * size);
  std::memmove(EntryAt(0), source.EntryAt(first), static_cast<std::size_t>(count) * size);
  SetEntryCount(have + count);
  SetDirty();
}

void THDBBTreePage::InsertEntry(std::int32_t at, const std::uint8_t* key, const void* value) {
  const std::int32_t size = EntrySize(), count = EntryCount();
  if (!HasRoom()) {
    const std::uint32_t needed = static_cast<std::uint32_t>(PageHeaderLayout::Size + HeaderSize() + (count + 1) * size);
    pinned_->GrowBuffer(std::max<std::uint32_t>(needed, tree_.Pages().PageSize() + size), tree_.Pages().PageSize());
  }
  std::memmove(EntryAt(at + 1), EntryAt(at), static_cast<std::size_t>(count - at) * size);
  std::memmove(EntryAt(at), key, KeySize());
  std::memmove(RefAt(at), value, static_cast<std::size_t>(RefSize()));
  if (size > KeySize() + RefSize()) std::memset(RefAt(at) + RefSize(), 0, static_cast<std::size_t>(size - KeySize() - RefSize()));
  SetEntryCount(count + 1);
  SetDirty();
}

void THDBBTreePage::RemoveEntry(std::int32_t at) {
  const std::int32_t count = EntryCount();
  if (count == 0) RaiseHDB(Errors::IndexPageEmpty);
  const std::int32_t size = EntrySize();
  std::memmove(EntryAt(at), EntryAt(at + 1), static_cast<std::size_t>(count - at - 1) * size);
  SetEntryCount(count - 1);
  SetDirty();
}

bool THDBBTreePage::HasRoom() const { return (EntryCount() + 1) * EntrySize() + HeaderSize() <= PageDataSize(); }
bool THDBBTreePage::Overflows() const { return EntryCount() * EntrySize() + HeaderSize() > PageDataSize(); }
bool THDBBTreePage::Underflows() const { return EntryCount() * EntrySize() < (PageDataSize() - HeaderSize()) / 2; }
bool THDBBTreePage::CanMergeWith(std::int32_t otherCount) const {
  return (EntryCount() + otherCount) * EntrySize() + HeaderSize() < PageDataSize();
}

int THDBBTreePage::CompareEntry(std::uint8_t* key, std::int32_t i, bool mayFetch) {
  THDBBTreeKeyRef& keyRef = tree_.KeyRef();
  // Only a cut text may need the entry's record to decide.
  RecordID scratch;
  const RecordID* id = keyRef.HasTruncatedColumn() ? RecordIDAt(i, scratch) : nullptr;
  return keyRef.CompareKeys(key, KeyAt(i), id, nullptr, tree_.Session(), mayFetch);
}

THDBPageSearch THDBBTreePage::SearchInPage(std::uint8_t* key, const void* value, THDBMatchMode mode,
                                           std::int32_t lowBound, bool mayFetch) {
  const std::int32_t count = EntryCount();
  if (count == 0) return {0, THDBPageSearch::Empty};
  std::int32_t low = lowBound, high = count - 1;
  while (low <= high) {
    const std::int32_t middle = (low + high) / 2;
    int r = CompareEntry(key, middle, mayFetch);
    if (r == 0 && value) r = CompareWithTieBreak(middle, value, key);
    if (r < 0) {
      high = middle - 1;
    } else if (r > 0) {
      low = middle + 1;
    } else {
      std::int32_t at = middle;
      if (mode == THDBMatchMode::FirstEqual) {
        while (at > lowBound && CompareEntry(key, at - 1, mayFetch) == 0) --at;
      } else if (mode == THDBMatchMode::LastEqual) {
        while (at < count - 1 && CompareEntry(key, at + 1, mayFetch) == 0) ++at;
      }
      return {at, THDBPageSearch::Found};
    }
  }
  return {low, THDBPageSearch::NotFound};
}

// ---- Leaf controller ---------------------------------------------------------------

int THDBBTreeLeafController::CompareWithTieBreak(std::int32_t entry, const void* value, std::uint8_t*) {
  return CompareLeafValues(value, page_.RefAt(entry), static_cast<std::size_t>(page_.RefSize()));
}

void THDBBTreeLeafController::PageInsert(std::uint8_t* key, const void* value, THDBKeyPath& path) {
  THDBBTree& tree = page_.Tree();
  const THDBPageSearch s =
      page_.SearchInPage(key, tree.ValuesBreakTies() ? value : nullptr, THDBMatchMode::AnyEqual, 0, true);
  if (s.Result == THDBPageSearch::Found) IntegrityError(page_.PageNo(), s.Position);
  page_.InsertEntry(s.Position, key, value);
  path.Push(page_.PageNo(), s.Position, page_.EntryCount());
}

bool THDBBTreeLeafController::FindExact(std::uint8_t* key, const void* value, THDBKeyPath& path) {
  const bool tieBreak = page_.Tree().ValuesBreakTies() && value;
  const THDBPageSearch s = page_.SearchInPage(key, tieBreak ? value : nullptr, THDBMatchMode::FirstEqual, 0, true);
  if (s.Result != THDBPageSearch::Found) return false;
  const std::int32_t count = page_.EntryCount();
  for (std::int32_t j = s.Position; j < count; ++j) {
    if (j > s.Position && page_.CompareEntry(key, j, true) != 0) break;
    if (!tieBreak || CompareLeafValues(value, page_.RefAt(j), static_cast<std::size_t>(page_.RefSize())) == 0) {
      path.Push(page_.PageNo(), j, count);
      return true;
    }
  }
  return false;
}

bool THDBBTreeLeafController::PageDelete(std::uint8_t* key, const void* value, THDBKeyPath& path) {
  if (!FindExact(key, value, path)) return false;
  page_.RemoveEntry(path.Leaf().EntryNo);
  path.Leaf().EntryCount = page_.EntryCount();
  return true;
}

void THDBBTreeLeafController::FreePages(bool keepRoot) {
  if (keepRoot && page_.IsRoot()) return;
  THDBBTree& tree = page_.Tree();
  tree.Pages().RemovePage(tree.Session(), page_.PageNo());
}

void THDBBTreeLeafController::CheckIntegrity(THDBKeyPath& path) {
  THDBBTree& tree = page_.Tree();
  THDBBTreeKeyRef& keyRef = tree.KeyRef();
  const bool truncated = keyRef.HasTruncatedColumn();
  auto key = KeyBuffer(tree);
  const std::int32_t count = page_.EntryCount();
  for (std::int32_t i = 0; i + 1 < count; ++i) {
    std::memcpy(key.data(), page_.KeyAt(i + 1), key.size());
    const int r = keyRef.CompareKeys(key.data(), page_.KeyAt(i), nullptr, nullptr, tree.Session(), false);
    bool ordered = r > 0;
    if (r == 0) {
      if (truncated) {
        ordered = true;
      } else if (tree.ValuesBreakTies()) {
        ordered = CompareLeafValues(page_.RefAt(i + 1), page_.RefAt(i), static_cast<std::size_t>(page_.RefSize())) > 0;
      }
    }
    if (!ordered) IntegrityError(page_.PageNo(), i + 1);
  }
}

bool THDBBTreeLeafController::First(THDBKeyPath& path) {
  path.Push(page_.PageNo(), 0, page_.EntryCount());
  return page_.EntryCount() > 0;
}

bool THDBBTreeLeafController::Last(THDBKeyPath& path) {
  const std::int32_t count = page_.EntryCount();
  path.Push(page_.PageNo(), count > 0 ? count - 1 : 0, count);
  return count > 0;
}

bool THDBBTreeLeafController::SearchCondition(bool forward, THDBKeyPath& path, std::uint8_t condition,
                                              std::uint8_t* key) {
  const std::int32_t count = page_.EntryCount();
  if (count == 0) return false;
  std::int32_t at = -1;
  if (condition == 0) {
    at = forward ? 0 : count - 1;
  } else {
    // lower: first entry not below the key; upper: first entry above it.
    auto bound = [&](bool upper) {
      std::int32_t low = 0, high = count;
      while (low < high) {
        const std::int32_t middle = (low + high) / 2;
        const int r = page_.CompareEntry(key, middle, true);
        if (upper ? r >= 0 : r > 0) {
          low = middle + 1;
        } else {
          high = middle;
        }
      }
      return low;
    };
    const std::int32_t lower = bound(false), upper = bound(true);
    switch (condition) {
      case 1: at = forward ? (lower < upper ? lower : -1) : (lower < upper ? upper - 1 : -1); break;
      case 2: at = lower > 0 ? (forward ? 0 : lower - 1) : -1; break;
      case 3: at = upper < count ? (forward ? upper : count - 1) : -1; break;
      case 4: at = upper > 0 ? (forward ? 0 : upper - 1) : -1; break;
      case 5: at = lower < count ? (forward ? lower : count - 1) : -1; break;
      default: RaiseHDB(Errors::IndexInvalidParams);
    }
  }
  if (at < 0) return false;
  path.Push(page_.PageNo(), at, count);
  return true;
}

bool THDBBTreeLeafController::SubtreeMinKey(std::uint8_t* key) {
  if (page_.EntryCount() == 0) return false;
  std::memmove(key, page_.KeyAt(0), page_.KeySize());
  return true;
}

bool THDBBTreeLeafController::SubtreeMaxKey(std::uint8_t* key) {
  if (page_.EntryCount() == 0) return false;
  std::memmove(key, page_.KeyAt(page_.EntryCount() - 1), page_.KeySize());
  return true;
}

bool THDBBTreeLeafController::SubtreeMinEntry(std::uint8_t* key, std::uint8_t* value) {
  if (!SubtreeMinKey(key)) return false;
  std::memmove(value, page_.RefAt(0), static_cast<std::size_t>(page_.RefSize()));
  return true;
}

bool THDBBTreeLeafController::SubtreeMaxEntry(std::uint8_t* key, std::uint8_t* value) {
  if (!SubtreeMaxKey(key)) return false;
  std::memmove(value, page_.RefAt(page_.EntryCount() - 1), static_cast<std::size_t>(page_.RefSize()));
  return true;
}

// ---- Node controller ---------------------------------------------------------------

int THDBBTreeNodeController::CompareWithTieBreak(std::int32_t entry, const void* value, std::uint8_t* key) {
  THDBBTree& tree = page_.Tree();
  auto minKey = KeyBuffer(tree);
  auto minValue = ValueBuffer(tree);
  {
    THDBBTreePage child(tree, page_.ChildAt(entry));
    // An empty subtree holds nothing the entry could follow.
    if (!child.SubtreeMinEntry(minKey.data(), minValue.data())) return 1;
  }
  RecordID scratch;
  const RecordID* minID = nullptr;
  if (tree.LeafRefSize() == RecordIDLayout::Size) {
    scratch = LoadRecordID(minValue.data());
    minID = &scratch;
  }
  int r = tree.KeyRef().CompareKeys(key, minKey.data(), minID, nullptr, tree.Session(), true);
  if (r == 0) r = CompareLeafValues(value, minValue.data(), minValue.size());
  return r;
}

void THDBBTreeNodeController::PageInsert(std::uint8_t* key, const void* value, THDBKeyPath& path) {
  THDBBTree& tree = page_.Tree();
  const THDBPageSearch s =
      page_.SearchInPage(key, tree.ValuesBreakTies() ? value : nullptr, THDBMatchMode::AnyEqual, 1, true);
  const std::int32_t entry = s.Result == THDBPageSearch::Found ? s.Position : s.Position - 1;
  if (entry < 0) IntegrityError(page_.PageNo(), 0);
  path.Push(page_.PageNo(), entry, page_.EntryCount());
  THDBBTreePage child(tree, page_.ChildAt(entry));
  child.PageInsert(key, value, path);
  if (child.Overflows()) SplitChild(entry, child);
}

void THDBBTreeNodeController::SplitChild(std::int32_t entry, THDBBTreePage& child) {
  THDBBTree& tree = page_.Tree();
  THDBBTreePage right(tree, THDBBTreePage::NewPage{});
  const std::int32_t count = child.EntryCount(), half = count / 2;
  right.CopyFrom(child, half, count - half);
  right.SetIsRoot(false);
  right.SetNextPageNo(child.NextPageNo());
  right.SetPrevPageNo(child.PageNo());
  if (child.NextPageNo() != -1) {
    THDBBTreePage after(tree, child.NextPageNo());
    after.SetPrevPageNo(right.PageNo());
    after.SetDirty();
  }
  child.SetNextPageNo(right.PageNo());
  child.SetEntryCount(half);
  child.SetDirty();
  auto separator = KeyBuffer(tree);
  std::memcpy(separator.data(), right.KeyAt(0), separator.size());
  std::uint8_t childRef[L::NodeRefSize];
  le::Store<std::int32_t>(childRef, 0, right.PageNo());
  page_.InsertEntry(entry + 1, separator.data(), childRef);
}

bool THDBBTreeNodeController::PageDelete(std::uint8_t* key, const void* value, THDBKeyPath& path) {
  THDBBTree& tree = page_.Tree();
  const THDBPageSearch s =
      page_.SearchInPage(key, tree.ValuesBreakTies() ? value : nullptr, THDBMatchMode::AnyEqual, 1, true);
  const std::int32_t entry = s.Result == THDBPageSearch::Found ? s.Position : s.Position - 1;
  if (entry < 0) return false;
  const std::int32_t level = path.LevelCount();
  path.Push(page_.PageNo(), entry, page_.EntryCount());
  THDBBTreePage child(tree, page_.ChildAt(entry));
  if (!child.PageDelete(key, value, path)) return false;
  if (child.Underflows()) {
    // The merge below works on this node's level of the path; the child's levels are
    // out of date once the merge moves its entries.
    TruncatePath(path, level + 1);
    MergeChild(entry, child, path);
  }
  return true;
}

void THDBBTreeNodeController::MergeChild(std::int32_t entry, THDBBTreePage& child, THDBKeyPath& path) {
  THDBBTree& tree = page_.Tree();
  const std::int32_t childNo = child.PageNo(), prevNo = child.PrevPageNo(), nextNo = child.NextPageNo();
  const std::int32_t count = child.EntryCount();
  // An empty page always goes: it has nothing to move, even into a full neighbour.
  auto fits = [&](const THDBBTreePage& neighbour) {
    if (neighbour.IsLeaf() != child.IsLeaf()) IntegrityError(neighbour.PageNo(), 0);
    return count == 0 || neighbour.CanMergeWith(count);
  };
  auto newFirstKey = [&](THDBBTreePage& node) {
    if (node.IsLeaf() || node.EntryCount() == 0) return;
    auto smallest = KeyBuffer(tree);
    if (node.SubtreeMinKey(smallest.data())) node.SetKeyAt(0, smallest.data());
  };
  if (prevNo != -1) {
    THDBBTreePage left(tree, prevNo);
    if (fits(left)) {
      if (nextNo != -1) {
        THDBBTreePage after(tree, nextNo);
        after.SetPrevPageNo(prevNo);
        after.SetDirty();
      }
      newFirstKey(child);
      left.AppendFrom(child, 0, count);
      left.SetNextPageNo(nextNo);
      left.SetDirty();
      left.Release();
      child.Release();
      RemoveChildEntry(entry, true, path);
      tree.Pages().RemovePage(tree.Session(), childNo);
      return;
    }
  }
  if (nextNo != -1) {
    THDBBTreePage right(tree, nextNo);
    if (fits(right)) {
      if (prevNo != -1) {
        THDBBTreePage before(tree, prevNo);
        before.SetNextPageNo(nextNo);
        before.SetDirty();
      }
      newFirstKey(right);
      right.PrependFrom(child, 0, count);
      right.SetPrevPageNo(prevNo);
      right.SetDirty();
      right.Release();
      child.Release();
      RemoveChildEntry(entry, false, path);
      tree.Pages().RemovePage(tree.Session(), childNo);
    }
  }
}

void THDBBTreeNodeController::RemoveChildEntry(std::int32_t entry, bool mergedLeft, THDBKeyPath& path) {
  THDBBTree& tree = page_.Tree();
  const std::int32_t level = path.LevelCount() - 1;  // this node's level
  if (mergedLeft) {
    // The subtree lost its first child: the separator that leads into it from above
    // now has to be its new smallest key.
    if (entry == 0 && page_.EntryCount() >= 2) {
      for (std::int32_t k = level - 1; k >= 0; --k) {
        const THDBKeyPath::Level& at = path.At(k);
        if (at.EntryNo == 0) continue;
        THDBBTreePage above(tree, at.PageNo);
        above.SetKeyAt(at.EntryNo, page_.KeyAt(1));
        break;
      }
    }
  } else {
    // The right neighbour took the child's keys: the separator that leads to it takes
    // the removed child's separator.
    for (std::int32_t k = level; k >= 0; --k) {
      const THDBKeyPath::Level& at = path.At(k);
      if (k == level) {
        if (at.EntryNo < page_.EntryCount() - 1) {
          page_.SetKeyAt(at.EntryNo + 1, page_.KeyAt(entry));
          break;
        }
        continue;
      }
      THDBBTreePage above(tree, at.PageNo);
      if (at.EntryNo < above.EntryCount() - 1) {
        above.SetKeyAt(at.EntryNo + 1, page_.KeyAt(entry));
        break;
      }
    }
  }
  page_.RemoveEntry(entry);
}

void THDBBTreeNodeController::FreePages(bool keepRoot) {
  THDBBTree& tree = page_.Tree();
  for (std::int32_t i = 0; i < page_.EntryCount(); ++i) {
    THDBBTreePage child(tree, page_.ChildAt(i));
    child.FreePages(false);
  }
  if (keepRoot && page_.IsRoot()) return;
  tree.Pages().RemovePage(tree.Session(), page_.PageNo());
}

void THDBBTreeNodeController::CheckIntegrity(THDBKeyPath& path) {
  THDBBTree& tree = page_.Tree();
  THDBBTreeKeyRef& keyRef = tree.KeyRef();
  const bool truncated = keyRef.HasTruncatedColumn();
  const std::int32_t count = page_.EntryCount();
  auto onPath = [&](std::int32_t pageNo) {
    if (pageNo == page_.PageNo()) return true;
    for (std::int32_t k = 0; k < path.LevelCount(); ++k)
      if (path.At(k).PageNo == pageNo) return true;
    return false;
  };
  auto separator = KeyBuffer(tree), other = KeyBuffer(tree);
  auto maxKey = KeyBuffer(tree), minKey = KeyBuffer(tree);
  auto maxValue = ValueBuffer(tree), minValue = ValueBuffer(tree);
  for (std::int32_t i = 0; i < count; ++i)
    if (onPath(page_.ChildAt(i))) RaiseHDB(Errors::IndexIntegrityCircular, page_.PageNo(), i);
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t childNo = page_.ChildAt(i);
    {
      THDBBTreePage child(tree, childNo);
      if (child.IsRoot()) RaiseHDB(Errors::IndexIntegrityCircular, page_.PageNo(), i);
      if (i > 0 && child.PrevPageNo() != page_.ChildAt(i - 1)) RaiseHDB(Errors::IndexIntegrityPrevLink, page_.PageNo(), i);
      if (i + 1 < count && child.NextPageNo() != page_.ChildAt(i + 1))
        RaiseHDB(Errors::IndexIntegrityNextLink, page_.PageNo(), i);
      const std::int32_t level = path.LevelCount();
      path.Push(page_.PageNo(), i, count);
      child.CheckIntegrity(path);
      TruncatePath(path, level);
    }
    if (i == 0) continue;
    std::memcpy(separator.data(), page_.KeyAt(i), separator.size());
    if (i >= 2) {
      std::memcpy(other.data(), page_.KeyAt(i - 1), other.size());
      if (keyRef.CompareKeys(separator.data(), other.data(), nullptr, nullptr, tree.Session(), false) < 0)
        RaiseHDB(Errors::IndexIntegritySeparators, page_.PageNo(), i);
    }
    bool hasMax, hasMin;
    {
      THDBBTreePage before(tree, page_.ChildAt(i - 1));
      hasMax = before.SubtreeMaxEntry(maxKey.data(), maxValue.data());
    }
    {
      THDBBTreePage own(tree, childNo);
      hasMin = own.SubtreeMinEntry(minKey.data(), minValue.data());
    }
    if (hasMax && keyRef.CompareKeys(separator.data(), maxKey.data(), nullptr, nullptr, tree.Session(), false) < 0)
      RaiseHDB(Errors::IndexIntegrityBelowLeft, page_.PageNo(), i);
    if (hasMin && keyRef.CompareKeys(separator.data(), minKey.data(), nullptr, nullptr, tree.Session(), false) > 0)
      RaiseHDB(Errors::IndexIntegrityAboveChild, page_.PageNo(), i);
    if (hasMax && hasMin && !truncated) {
      int r = keyRef.CompareKeys(maxKey.data(), minKey.data(), nullptr, nullptr, tree.Session(), false);
      if (r == 0 && tree.ValuesBreakTies()) r = CompareLeafValues(maxValue.data(), minValue.data(), maxValue.size());
      if (r >= 0) RaiseHDB(Errors::IndexIntegrityOrder, page_.PageNo(), i);
    }
  }
}

bool THDBBTreeNodeController::EqualRange(std::uint8_t* key, std::int32_t& first, std::int32_t& last) {
  const THDBPageSearch s = page_.SearchInPage(key, nullptr, THDBMatchMode::FirstEqual, 1, true);
  if (s.Result == THDBPageSearch::Empty) return false;
  if (s.Result == THDBPageSearch::Found) {
    first = s.Position > 0 ? s.Position - 1 : 0;
    last = s.Position;
    while (last + 1 < page_.EntryCount() && page_.CompareEntry(key, last + 1, true) == 0) ++last;
  } else {
    first = last = s.Position - 1;
  }
  return true;
}

bool THDBBTreeNodeController::FindExact(std::uint8_t* key, const void* value, THDBKeyPath& path) {
  THDBBTree& tree = page_.Tree();
  std::int32_t first = 0, last = -1;
  if (!EqualRange(key, first, last)) return false;
  const std::int32_t level = path.LevelCount();
  for (std::int32_t i = first; i <= last; ++i) {
    path.Push(page_.PageNo(), i, page_.EntryCount());
    THDBBTreePage child(tree, page_.ChildAt(i));
    if (child.FindExact(key, value, path)) return true;
    TruncatePath(path, level);
  }
  return false;
}

bool THDBBTreeNodeController::First(THDBKeyPath& path) {
  if (page_.EntryCount() == 0) return false;
  path.Push(page_.PageNo(), 0, page_.EntryCount());
  THDBBTreePage child(page_.Tree(), page_.ChildAt(0));
  return child.First(path);
}

bool THDBBTreeNodeController::Last(THDBKeyPath& path) {
  const std::int32_t count = page_.EntryCount();
  if (count == 0) return false;
  path.Push(page_.PageNo(), count - 1, count);
  THDBBTreePage child(page_.Tree(), page_.ChildAt(count - 1));
  return child.Last(path);
}

bool THDBBTreeNodeController::SearchCondition(bool forward, THDBKeyPath& path, std::uint8_t condition,
                                              std::uint8_t* key) {
  const std::int32_t count = page_.EntryCount();
  if (count == 0) return false;
  std::int32_t q = 0, p = count - 1;
  const bool truncated = page_.Tree().KeyRef().HasTruncatedColumn();
  if (condition != 0) {
    const THDBPageSearch s = page_.SearchInPage(key, nullptr, THDBMatchMode::FirstEqual, 1, true);
    const bool found = s.Result == THDBPageSearch::Found;
    const std::int32_t firstEqual = s.Position;  // or the insertion point
    std::int32_t lastEqual = firstEqual;
    if (found)
      while (lastEqual + 1 < count && page_.CompareEntry(key, lastEqual + 1, true) == 0) ++lastEqual;
    switch (condition) {
      case 1:
        q = found ? (firstEqual > 0 ? firstEqual - 1 : 0) : firstEqual - 1;
        p = found ? lastEqual : q;
        break;
      // Separators of a cut text that compare equal here may still lead to keys below
      // (or above) the search key once the whole values are compared, so with cut
      // columns the children of the equal separators are searched too.
      case 2: p = found && truncated ? lastEqual : firstEqual - 1; break;
      case 3: q = found ? (truncated ? firstEqual - 1 : lastEqual) : firstEqual - 1; break;
      case 4: p = found ? lastEqual : firstEqual - 1; break;
      case 5: q = firstEqual - 1; break;
      default: RaiseHDB(Errors::IndexInvalidParams);
    }
    q = std::max(q, 0);
  }
  const std::int32_t level = path.LevelCount();
  for (std::int32_t n = 0; n <= p - q; ++n) {
    const std::int32_t i = forward ? q + n : p - n;
    path.Push(page_.PageNo(), i, count);
    THDBBTreePage child(page_.Tree(), page_.ChildAt(i));
    if (child.SearchCondition(forward, path, condition, key)) return true;
    TruncatePath(path, level);
  }
  return false;
}

bool THDBBTreeNodeController::SubtreeMinKey(std::uint8_t* key) {
  if (page_.EntryCount() == 0) return false;
  THDBBTreePage child(page_.Tree(), page_.ChildAt(0));
  return child.SubtreeMinKey(key);
}

bool THDBBTreeNodeController::SubtreeMaxKey(std::uint8_t* key) {
  if (page_.EntryCount() == 0) return false;
  THDBBTreePage child(page_.Tree(), page_.ChildAt(page_.EntryCount() - 1));
  return child.SubtreeMaxKey(key);
}

bool THDBBTreeNodeController::SubtreeMinEntry(std::uint8_t* key, std::uint8_t* value) {
  if (page_.EntryCount() == 0) return false;
  THDBBTreePage child(page_.Tree(), page_.ChildAt(0));
  return child.SubtreeMinEntry(key, value);
}

bool THDBBTreeNodeController::SubtreeMaxEntry(std::uint8_t* key, std::uint8_t* value) {
  if (page_.EntryCount() == 0) return false;
  THDBBTreePage child(page_.Tree(), page_.ChildAt(page_.EntryCount() - 1));
  return child.SubtreeMaxEntry(key, value);
}

}  // namespace hdb

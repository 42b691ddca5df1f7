// One page of a B+-tree (page type 12) and the page-level operations of the tree.
//
// The data area starts with the 18-byte BTreePageHeader; EntryCount entries of
// EntrySize bytes follow it, each a key of KeySize bytes and a value: in a node the
// child's page number (int32), in a leaf the tree's leaf value (a RecordID for a record
// index, a uint16 count for a page index). Every level is a doubly linked list of pages;
// the key of a node's entry 0 is never compared (it stands below every key of the
// subtree).
//
// THDBBTreePage pins one page of a tree for its lifetime (released on every path) and
// checks on the way in that its entries fit the page, so no operation reads past a
// damaged page. It owns a leaf and a node controller and hands each operation to the
// one the page's IsLeaf asks for; the node controller walks into the children with
// pages of their own. Every operation runs under the database object's lock, on behalf
// of the session the tree was given for it.
#pragma once

#include <cstdint>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/page_manager.h"
#include "dbengine/storage/record_id.h"
#include "dbengine/tables/key_path.h"

namespace hdb {

class THDBBTree;
class THDBBTreePage;

namespace BTreePageHeaderLayout {
using IsRoot = le::Field<std::uint8_t, 0>;
using IsLeaf = le::Field<std::uint8_t, 1>;
using PrevPageNo = le::Field<std::int32_t, 2>;
using NextPageNo = le::Field<std::int32_t, 6>;
using FormatByte = le::Field<std::uint8_t, 10>;
using ExtraEntryFlag = le::Field<std::uint8_t, 11>;
using KeySize = le::Field<std::uint16_t, 12>;
using EntryCount = le::Field<std::uint16_t, 14>;
using ExtraHeaderSize = le::Field<std::uint16_t, 16>;
inline constexpr std::int32_t Size = 18;
static_assert(ExtraHeaderSize::end == Size);
// A node entry's value: the child's page number.
inline constexpr std::int32_t NodeRefSize = 4;
// Bytes every entry carries more when the extra-entry flag is set.
inline constexpr std::int32_t ExtraEntrySize = 6;
}  // namespace BTreePageHeaderLayout

enum class THDBMatchMode { FirstEqual, LastEqual, AnyEqual };

struct THDBPageSearch {
  enum Outcome { Empty, Found, NotFound };
  std::int32_t Position = 0;  // the entry found, or the insertion point
  Outcome Result = Empty;
};

// The page-level operations, in slot order; a leaf and a node each have their own.
class THDBBTreePageController {
 public:
  explicit THDBBTreePageController(THDBBTreePage& page) : page_(page) {}
  virtual ~THDBBTreePageController() = default;

  // 0: the search (key, value) against entry i once their keys compare equal.
  virtual int CompareWithTieBreak(std::int32_t entry, const void* value, std::uint8_t* key) = 0;
  // 1: inserts the entry into the subtree; a child that overflows is split here.
  virtual void PageInsert(std::uint8_t* key, const void* value, THDBKeyPath& path) = 0;
  // 2: removes the entry from the subtree; a child that underflows is merged here.
  virtual bool PageDelete(std::uint8_t* key, const void* value, THDBKeyPath& path) = 0;
  // 3: frees every page of the subtree, the root page itself only when not keepRoot.
  virtual void FreePages(bool keepRoot) = 0;
  // 4: raises the first inconsistency of the subtree.
  virtual void CheckIntegrity(THDBKeyPath& path) = 0;
  // 5: positions on the entry with this key and value (any value when none is given).
  virtual bool FindExact(std::uint8_t* key, const void* value, THDBKeyPath& path) = 0;
  // 6, 7: the first / last entry of the subtree.
  virtual bool First(THDBKeyPath& path) = 0;
  virtual bool Last(THDBKeyPath& path) = 0;
  // 8: the first (forward) or last entry in key order whose key satisfies the condition.
  virtual bool SearchCondition(bool forward, THDBKeyPath& path, std::uint8_t condition, std::uint8_t* key) = 0;
  // 9..12: the smallest / largest key, or key and value, of the subtree; false when
  // the subtree holds no entry.
  virtual bool SubtreeMinKey(std::uint8_t* key) = 0;
  virtual bool SubtreeMaxKey(std::uint8_t* key) = 0;
  virtual bool SubtreeMinEntry(std::uint8_t* key, std::uint8_t* value) = 0;
  virtual bool SubtreeMaxEntry(std::uint8_t* key, std::uint8_t* value) = 0;

 protected:
  THDBBTreePage& page_;
};

class THDBBTreeLeafController final : public THDBBTreePageController {
 public:
  using THDBBTreePageController::THDBBTreePageController;
  int CompareWithTieBreak(std::int32_t entry, const void* value, std::uint8_t* key) override;
  void PageInsert(std::uint8_t* key, const void* value, THDBKeyPath& path) override;
  bool PageDelete(std::uint8_t* key, const void* value, THDBKeyPath& path) override;
  void FreePages(bool keepRoot) override;
  void CheckIntegrity(THDBKeyPath& path) override;
  bool FindExact(std::uint8_t* key, const void* value, THDBKeyPath& path) override;
  bool First(THDBKeyPath& path) override;
  bool Last(THDBKeyPath& path) override;
  bool SearchCondition(bool forward, THDBKeyPath& path, std::uint8_t condition, std::uint8_t* key) override;
  bool SubtreeMinKey(std::uint8_t* key) override;
  bool SubtreeMaxKey(std::uint8_t* key) override;
  bool SubtreeMinEntry(std::uint8_t* key, std::uint8_t* value) override;
  bool SubtreeMaxEntry(std::uint8_t* key, std::uint8_t* value) override;
};

class THDBBTreeNodeController final : public THDBBTreePageController {
 public:
  using THDBBTreePageController::THDBBTreePageController;
  int CompareWithTieBreak(std::int32_t entry, const void* value, std::uint8_t* key) override;
  void PageInsert(std::uint8_t* key, const void* value, THDBKeyPath& path) override;
  bool PageDelete(std::uint8_t* key, const void* value, THDBKeyPath& path) override;
  void FreePages(bool keepRoot) override;
  void CheckIntegrity(THDBKeyPath& path) override;
  bool FindExact(std::uint8_t* key, const void* value, THDBKeyPath& path) override;
  bool First(THDBKeyPath& path) override;
  bool Last(THDBKeyPath& path) override;
  bool SearchCondition(bool forward, THDBKeyPath& path, std::uint8_t condition, std::uint8_t* key) override;
  bool SubtreeMinKey(std::uint8_t* key) override;
  bool SubtreeMaxKey(std::uint8_t* key) override;
  bool SubtreeMinEntry(std::uint8_t* key, std::uint8_t* value) override;
  bool SubtreeMaxEntry(std::uint8_t* key, std::uint8_t* value) override;

 private:
  // The range of children [first, last] whose subtrees may hold keys equal to key.
  bool EqualRange(std::uint8_t* key, std::int32_t& first, std::int32_t& last);
  // Splits child `entry`, which overflows, and enters the new right half after it.
  void SplitChild(std::int32_t entry, THDBBTreePage& child);
  // Merges child `entry`, which underflows, into a neighbour on its level when the two fit.
  void MergeChild(std::int32_t entry, THDBBTreePage& child, THDBKeyPath& path);
  // Removes the entry of a child merged away, keeping the separators above it right.
  void RemoveChildEntry(std::int32_t entry, bool mergedLeft, THDBKeyPath& path);
};

class THDBBTreePage {
 public:
  struct NewPage {};
  // Pins page pageNo of the tree. A page whose entries do not fit its buffer, or whose
  // key size is not the tree's, raises "Index integrity error" (20028).
  THDBBTreePage(THDBBTree& tree, std::int32_t pageNo);
  // Adds a page of type 12 for the tree's session, with a cleared header.
  THDBBTreePage(THDBBTree& tree, NewPage);
  THDBBTreePage(const THDBBTreePage&) = delete;
  THDBBTreePage& operator=(const THDBBTreePage&) = delete;

  THDBBTree& Tree() const { return tree_; }
  std::int32_t PageNo() const { return pinned_->PageNo(); }
  void SetDirty() { pinned_.SetDirty(); }
  // Releases the pin early (before the page is removed, say).
  void Release() { pinned_.Release(); }

  bool IsRoot() const { return BTreePageHeaderLayout::IsRoot::Get(Data()) != 0; }
  void SetIsRoot(bool v) { BTreePageHeaderLayout::IsRoot::Set(Data(), v ? 1 : 0); }
  bool IsLeaf() const { return BTreePageHeaderLayout::IsLeaf::Get(Data()) != 0; }
  void SetIsLeaf(bool v) { BTreePageHeaderLayout::IsLeaf::Set(Data(), v ? 1 : 0); }
  std::int32_t PrevPageNo() const { return BTreePageHeaderLayout::PrevPageNo::Get(Data()); }
  void SetPrevPageNo(std::int32_t n) { BTreePageHeaderLayout::PrevPageNo::Set(Data(), n); }
  std::int32_t NextPageNo() const { return BTreePageHeaderLayout::NextPageNo::Get(Data()); }
  void SetNextPageNo(std::int32_t n) { BTreePageHeaderLayout::NextPageNo::Set(Data(), n); }
  std::uint16_t KeySize() const { return BTreePageHeaderLayout::KeySize::Get(Data()); }
  std::int32_t EntryCount() const { return BTreePageHeaderLayout::EntryCount::Get(Data()); }
  void SetEntryCount(std::int32_t n) { BTreePageHeaderLayout::EntryCount::Set(Data(), static_cast<std::uint16_t>(n)); }
  std::int32_t HeaderSize() const {
    return BTreePageHeaderLayout::Size + BTreePageHeaderLayout::ExtraHeaderSize::Get(Data());
  }
  std::int32_t RefSize() const;
  std::int32_t EntrySize() const;

  std::uint8_t* EntryAt(std::int32_t i) { return Data() + HeaderSize() + i * EntrySize(); }
  const std::uint8_t* EntryAt(std::int32_t i) const {
    return Data() + HeaderSize() + i * EntrySize();
  }
  std::uint8_t* KeyAt(std::int32_t i) { return EntryAt(i); }
  const std::uint8_t* KeyAt(std::int32_t i) const { return EntryAt(i); }
  std::uint8_t* RefAt(std::int32_t i) { return EntryAt(i) + KeySize(); }
  const std::uint8_t* RefAt(std::int32_t i) const { return EntryAt(i) + KeySize(); }
  std::int32_t ChildAt(std::int32_t i) const { return le::Load<std::int32_t>(RefAt(i), 0); }
  // The leaf value of entry i as a RecordID, or nullptr when the tree's leaf values
  // are not RecordIDs.
  const RecordID* RecordIDAt(std::int32_t i, RecordID& scratch) const;
  void SetKeyAt(std::int32_t i, const std::uint8_t* key);

  // Header and layout.
  void InitEmpty();
  void InitEmptyRoot(std::uint16_t keySize);
  // Copies the source's header, then count entries from first on.
  void CopyFrom(const THDBBTreePage& source, std::int32_t first, std::int32_t count);
  void AppendFrom(const THDBBTreePage& source, std::int32_t first, std::int32_t count);
  // Moves the entries up by count and copies the source's in front.
  void PrependFrom(const THDBBTreePage& source, std::int32_t first, std::int32_t count);
  // Puts an entry at position `at`, moving the following ones up; a page without room
  // first grows its buffer by one entry, so the entry is placed before the split.
  void InsertEntry(std::int32_t at, const std::uint8_t* key, const void* value);
  void RemoveEntry(std::int32_t at);

  bool HasRoom() const;
  bool Overflows() const;
  bool Underflows() const;
  bool CanMergeWith(std::int32_t otherCount) const;

  // The binary search of the page (low bound 0 in leaves, 1 in nodes); with a value,
  // equal keys are ordered by the tie-break.
  THDBPageSearch SearchInPage(std::uint8_t* key, const void* value, THDBMatchMode mode, std::int32_t lowBound,
                              bool mayFetch);
  // The search key against entry i's key.
  int CompareEntry(std::uint8_t* key, std::int32_t i, bool mayFetch);

  // The operations of the controllers, handed to the leaf or the node one.
  THDBBTreePageController& Controller() { return IsLeaf() ? static_cast<THDBBTreePageController&>(leaf_) : node_; }
  int CompareWithTieBreak(std::int32_t entry, const void* value, std::uint8_t* key) {
    return Controller().CompareWithTieBreak(entry, value, key);
  }
  void PageInsert(std::uint8_t* key, const void* value, THDBKeyPath& path) { Controller().PageInsert(key, value, path); }
  bool PageDelete(std::uint8_t* key, const void* value, THDBKeyPath& path) {
    return Controller().PageDelete(key, value, path);
  }
  void FreePages(bool keepRoot) { Controller().FreePages(keepRoot); }
  void CheckIntegrity(THDBKeyPath& path) { Controller().CheckIntegrity(path); }
  bool FindExact(std::uint8_t* key, const void* value, THDBKeyPath& path) {
    return Controller().FindExact(key, value, path);
  }
  bool First(THDBKeyPath& path) { return Controller().First(path); }
  bool Last(THDBKeyPath& path) { return Controller().Last(path); }
  bool SearchCondition(bool forward, THDBKeyPath& path, std::uint8_t condition, std::uint8_t* key) {
    return Controller().SearchCondition(forward, path, condition, key);
  }
  bool SubtreeMinKey(std::uint8_t* key) { return Controller().SubtreeMinKey(key); }
  bool SubtreeMaxKey(std::uint8_t* key) { return Controller().SubtreeMaxKey(key); }
  bool SubtreeMinEntry(std::uint8_t* key, std::uint8_t* value) { return Controller().SubtreeMinEntry(key, value); }
  bool SubtreeMaxEntry(std::uint8_t* key, std::uint8_t* value) { return Controller().SubtreeMaxEntry(key, value); }

 private:
  std::uint8_t* Data() { return pinned_->Buffer() + PageHeaderLayout::Size; }
  const std::uint8_t* Data() const { return pinned_->Buffer() + PageHeaderLayout::Size; }
  std::int32_t PageDataSize() const;
  void CheckLayout() const;

  THDBBTree& tree_;
  THDBPinnedPage pinned_;
  THDBBTreeLeafController leaf_{*this};
  THDBBTreeNodeController node_{*this};
};

}  // namespace hdb

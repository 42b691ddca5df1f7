// THDBBTree, one B+-tree in the pages of a database file: its root page, its key
// descriptor and the operations on the whole tree (insert with splits, delete with
// merges and root collapse, navigation over key paths, condition searches, freeing and
// checking). The root page number never changes while the tree exists: a root split
// moves the root's entries into two new pages, a collapse pulls the only child back in.
//
// Record indexes and page indexes each own one. A tree holds references only (the page
// manager and the key descriptor belong to others) and the session of the operation
// running on it; it is used under the database object's lock.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/tables/btree_key_ref.h"
#include "dbengine/tables/engine_ids.h"
#include "dbengine/tables/key_path.h"

namespace hdb {

class THDBPageManager;
class THDBBTreePage;

class THDBBTree {
 public:
  // valuesBreakTies: leaf values order the entries of equal keys (record indexes, whose
  // values are RecordIDs); otherwise keys are unique and values are data (page indexes).
  THDBBTree(THDBPageManager& pages, THDBBTreeKeyRef& keyRef, bool valuesBreakTies);

  THDBPageManager& Pages() const { return *pages_; }
  THDBBTreeKeyRef& KeyRef() const { return *keyRef_; }
  bool ValuesBreakTies() const { return valuesBreakTies_; }
  std::int32_t LeafRefSize() const { return keyRef_->LeafRefSize; }
  std::int32_t KeySize() const { return keyRef_->IndexKeySize; }

  std::int32_t RootPageNo() const { return rootPageNo_; }
  void SetRootPageNo(std::int32_t pageNo) { rootPageNo_ = pageNo; }
  // The session on whose behalf pages are read and changed; set by each operation.
  SessionID Session() const { return session_; }
  void SetSession(SessionID session) { session_ = session; }

  // Adds an empty leaf root and makes it the tree's root.
  std::int32_t CreateRoot();
  // Inserts an entry; an entry with the same key and value already present is a
  // damaged tree ("Index integrity error", 20028).
  void Insert(std::uint8_t* key, const void* value);
  // Removes the entry with this key and value (any value when none); false when absent.
  bool Delete(std::uint8_t* key, const void* value, THDBKeyPath& path);
  bool FindExact(std::uint8_t* key, const void* value, THDBKeyPath& path);

  // Navigation; each fills or moves the path and ends on a leaf entry. False at the end.
  bool First(THDBKeyPath& path);
  bool Last(THDBKeyPath& path);
  // "Index error: invalid position" (20069) without a path; a level that has to move
  // on to a neighbour page that is not there: 20070 / 20071.
  bool Next(THDBKeyPath& path);
  bool Prior(THDBKeyPath& path);
  bool SearchCondition(bool forward, THDBKeyPath& path, std::uint8_t condition, std::uint8_t* key);

  // Frees the pages of the tree; with keepRoot the root stays as an empty leaf root.
  void FreePages(bool keepRoot);
  void CheckIntegrity();
  // Entries on the leaf level.
  std::int64_t EntryCount();

  // Key and value of the leaf entry the path ends at (either may be nullptr).
  void ReadLeafEntry(const THDBKeyPath& path, std::uint8_t* key, std::uint8_t* value);
  // The same on a leaf page already pinned ("Index error: invalid position" when the
  // page is no leaf or has no such entry).
  static void ReadLeafEntry(const THDBBTreePage& leaf, std::int32_t entryNo, std::uint8_t* key, std::uint8_t* value);
  // The entry count of the leaf page the path ends at, and the counts of the leaf pages
  // before it (for ranks).
  std::int64_t EntriesBefore(const THDBKeyPath& path);

 private:
  void SplitRoot(THDBBTreePage& root);
  void CollapseRoot(THDBBTreePage& root);

  THDBPageManager* pages_;
  THDBBTreeKeyRef* keyRef_;
  bool valuesBreakTies_;
  std::int32_t rootPageNo_ = -1;
  SessionID session_ = 0;
};

}  // namespace hdb

// THDBBTreePageIndex, a B+-tree of page numbers: each leaf entry is a page of the table
// (key: its number, a signed int32) and a uint16 value about it. The table's
// RecordPageIndex (THDBBTreeRecordPageIndex) lists every record page that holds a
// record, with the number of records on it; the BLOB page index
// (THDBBTreeBlobPageIndex) lists the shared BLOB pages with the bytes used on them.
// Natural order of a table is the order of its record page index.
//
// A page index owns its key descriptor, its tree and its current position (First,
// Last, Next, Prior, FindPage move it; ReadCount, WriteCount and ReadPageNo work on the
// entry there). The record or BLOB manager owns the page index and keeps its root page
// number in the table's definition file. Used under the database object's lock.
#pragma once

#include <cstdint>

#include "dbengine/tables/btree.h"
#include "dbengine/tables/btree_key_ref.h"
#include "dbengine/tables/engine_ids.h"
#include "dbengine/tables/key_path.h"

namespace hdb {

class THDBPageManager;
struct THDBErrorDef;

class THDBBTreePageIndex {
 public:
  explicit THDBBTreePageIndex(THDBPageManager& pages);
  virtual ~THDBBTreePageIndex() = default;
  THDBBTreePageIndex(const THDBBTreePageIndex&) = delete;
  THDBBTreePageIndex& operator=(const THDBBTreePageIndex&) = delete;

  std::int32_t RootPageNo() const { return tree_.RootPageNo(); }
  void SetRootPageNo(std::int32_t pageNo);

  // An empty leaf root of type 12; returns its page number.
  std::int32_t CreateRoot(SessionID session);
  // Frees every page, the root too (the root becomes -1).
  void Drop(SessionID session);
  // Frees every page but the root, which becomes an empty leaf root.
  void Clear(SessionID session);

  // Positioning on the leaf entries; false at the end (and on an empty index).
  bool First(SessionID session);
  bool Last(SessionID session);
  bool Next(SessionID session);
  bool Prior(SessionID session);
  // Positions on the entry of pageNo; false when the page has none.
  bool FindPage(SessionID session, std::int32_t pageNo);
  // The entry at the current position.
  std::int32_t ReadPageNo(SessionID session);
  std::int32_t ReadCount(SessionID session);
  void WriteCount(SessionID session, std::int32_t count);

  // A page whose value qualifies for `needed` more, looking only at the last leaf page
  // (from its last entry backwards) and then the first one (forwards); -1 when none.
  std::int32_t FindPageWithRoom(SessionID session, std::int32_t needed = 1);
  // Adds delta to the page's value, entering the page with delta when it has no entry.
  void AddToPageCount(SessionID session, std::int32_t pageNo, std::int32_t delta);
  // As AddToPageCount, for the page FindPageWithRoom has just answered with nothing
  // changed in this index since: its entry is the one the position stands on (checked
  // by its key), so the tree is not searched again.
  void AddToFoundPageCount(SessionID session, std::int32_t pageNo, std::int32_t delta);
  // Sets the page's value; 0 removes its entry. A page without an entry raises
  // "Invalid page number" (20110, 20111 for a removal).
  void SetCount(SessionID session, std::int32_t pageNo, std::int32_t count);

  void CheckIntegrity(SessionID session);
  std::int64_t EntryCount(SessionID session);
  // The sum of the values of every entry.
  std::int64_t CountSum(SessionID session);

 protected:
  virtual bool Qualifies(std::int32_t value, std::int32_t needed) const = 0;
  // Raises when a page with this value cannot take delta more.
  virtual void CheckAddition(std::int32_t value, std::int32_t delta) const {}

 private:
  // The tree for an operation; an index without root raises "Index error: invalid page
  // number" with the operation's number.
  THDBBTree& TreeFor(SessionID session, const THDBErrorDef& noRoot);
  bool Positioned() const { return !path_.IsEmpty(); }
  std::uint8_t* KeyOf(std::int32_t pageNo);

  THDBPageKeyRef keyRef_;
  THDBBTree tree_;
  THDBKeyPath path_;
  std::uint8_t key_[4] = {};
};

// Record pages with their record counts. A page qualifies while its count is below
// RecordsPerPage; a page already at RecordsPerPage cannot take one more: "Cannot add
// data item to page. Page is full" (20106).
class THDBBTreeRecordPageIndex final : public THDBBTreePageIndex {
 public:
  using THDBBTreePageIndex::THDBBTreePageIndex;
  std::int32_t RecordsPerPage = 0;

 protected:
  bool Qualifies(std::int32_t value, std::int32_t needed) const override { return value + needed <= RecordsPerPage; }
  void CheckAddition(std::int32_t value, std::int32_t delta) const override;
};

// Shared BLOB pages with the bytes used on them. A page qualifies for a BLOB needing
// `needed` bytes (its size + its 22-byte header) while used + needed < PageDataSize - 2.
class THDBBTreeBlobPageIndex final : public THDBBTreePageIndex {
 public:
  THDBBTreeBlobPageIndex(THDBPageManager& pages);

 protected:
  bool Qualifies(std::int32_t value, std::int32_t needed) const override { return value + needed < pageDataSize_ - 2; }

 private:
  std::int32_t pageDataSize_;
};

}  // namespace hdb

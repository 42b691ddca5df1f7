// THDBDiskRecordManager, the record store of one table in a database file. Records
// live in record pages (page type 10, owned by the table): an occupancy bitmap of
// ceil(RecordsPerPage / 8) bytes, then RecordsPerPage slots of DiskRecordSize bytes.
// A record's RecordID is its page and slot. The table's RecordPageIndex lists every
// record page that holds a record, with its record count; natural order is ascending
// page number, then slot.
//
// The manager owns the page index and a scratch record; it keeps the table's
// RecordCount and ChangeCount (the table data object persists them in the state file).
// Used under the database object's lock, on behalf of the session each call names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/storage/record_id.h"
#include "dbengine/tables/btree_page_index.h"
#include "dbengine/tables/engine_ids.h"
#include "dbengine/tables/navigation_request.h"

namespace hdb {

class THDBDiskPageManager;
class THDBPage;
class THDBBaseFieldManager;

class THDBDiskRecordManager {
 public:
  THDBDiskRecordManager(THDBDiskPageManager& pages, const THDBBaseFieldManager& fields, ObjectID tableID);

  // Sets the sizes and computes RecordsPerPage; a record too large for a page raises
  // 20174. The counters start at 0.
  void Init(std::int32_t memoryRecordSize, std::int32_t diskRecordSize, std::int32_t fieldCount);
  static std::int32_t RecordsPerPageFor(std::int32_t pageDataSize, std::int32_t diskRecordSize);

  // The page index: its root as the table metadata keeps it.
  std::int32_t CreatePageIndex(SessionID session);
  std::int32_t LoadRoot() const { return pageIndex_.RootPageNo(); }
  void SaveRoot(std::int32_t root) { pageIndex_.SetRootPageNo(root); }
  THDBBTreeRecordPageIndex& PageIndex() { return pageIndex_; }

  // Stores the memory-form record in the lowest free slot of a page with room (or of
  // a new page); false (with LastErrorText) when it could not be stored.
  bool AddRecord(SessionID session, const std::uint8_t* memoryRecord, RecordID& id);
  // Rewrites an occupied slot; false when the slot holds no record.
  bool ReplaceRecord(SessionID session, const std::uint8_t* memoryRecord, RecordID id);
  // Empties an occupied slot (and frees a page left without records); false when the
  // slot held none.
  bool RemoveRecord(SessionID session, RecordID id);
  // One step in natural order; sets the request's result, record and flags.
  void StepRecord(SessionID session, THDBNavigationRequest& request);
  // The record at id into a memory-form buffer; false when the slot holds no record
  // of this table.
  bool ReadRecord(SessionID session, RecordID id, std::uint8_t* memoryRecord);

  // Natural record numbers, 1-based: 20113 past the end, 20114 for a page the index
  // does not list, 20146 for a page with fewer records than its count.
  RecordID GetRecordByNumber(SessionID session, std::int64_t n);
  std::int64_t GetRecordNumber(SessionID session, RecordID id);
  // Page number of the last record page, -1 without one.
  std::int32_t LastPageNo(SessionID session);

  void EmptyTable(SessionID session);
  void DropStorage(SessionID session);
  // Finds the table's record pages by scanning the file and makes a new page index of
  // them (repair).
  void RebuildPageIndex(SessionID session);
  // The page index's counts must add up to RecordCount: 20292.
  void ValidateCount(SessionID session);

  // Every record that can still be read, for a repair: the pages the page index lists
  // and the pages of this table a scan of the file finds, in page order, each occupied
  // slot in memory form. A page the index lists that is not a record page of this
  // table, or that cannot be read, goes to `unreadable` (its records are lost); a page
  // index that cannot be walked leaves the scan to find the pages.
  void SalvageRecords(SessionID session, const std::function<void(RecordID, const std::uint8_t*)>& visit,
                      std::vector<std::int32_t>& unreadable);

  // Every record in natural order, in memory form.
  template <class Visit>
  void ForEachRecord(SessionID session, Visit&& visit);

  std::int64_t RecordCount = 0;
  std::int32_t ChangeCount = 0;
  std::int32_t RecordsPerPage() const { return recordsPerPage_; }
  std::int32_t DiskRecordSize() const { return diskRecordSize_; }
  std::int32_t MemoryRecordSize() const { return memoryRecordSize_; }
  ObjectID TableID() const { return tableID_; }
  const std::string& LastErrorText() const { return lastErrorText_; }

 private:
  class RecordPage;
  // The candidates of SalvageRecords, ascending; `listed` says which the index names.
  void SalvagePages(SessionID session, std::vector<std::int32_t>& pages, std::vector<bool>& listed);
  // The occupied slots of a salvaged page into `records` (memory form, one after the
  // other) and `ids`; false when the page is no record page of this table.
  bool SalvagePage(SessionID session, std::int32_t pageNo, std::vector<std::uint8_t>& records,
                   std::vector<RecordID>& ids);
  bool PassesOwnership(const THDBPage& page) const;
  // Fills the request from slot `slot` of the page and marks the step done.
  void Found(RecordPage& page, std::int32_t slot, THDBNavigationRequest& request, int notFoundError);
  std::int32_t PageAfter(SessionID session, std::int32_t pageNo, bool forward, int missingError);

  THDBDiskPageManager& pages_;
  const THDBBaseFieldManager& fields_;
  ObjectID tableID_;
  THDBBTreeRecordPageIndex pageIndex_;
  std::int32_t memoryRecordSize_ = 0;
  std::int32_t diskRecordSize_ = 0;
  std::int32_t recordsPerPage_ = 0;
  std::int32_t bitmapSize_ = 0;
  std::vector<std::uint8_t> scratch_;
  std::string lastErrorText_;
};

template <class Visit>
void THDBDiskRecordManager::ForEachRecord(SessionID session, Visit&& visit) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(memoryRecordSize_));
  THDBNavigationRequest request;
  request.Mode = gmNext;
  request.BeforeFirst = true;
  request.Record = record.data();
  for (StepRecord(session, request); request.Result == grOK; StepRecord(session, request))
    visit(request.ID, static_cast<const std::uint8_t*>(record.data()));
}

}  // namespace hdb

// THDBIndex, the operations every index of a table offers, in slot order, and
// THDBBTreeRecordIndex, the one kind there is: a B+-tree whose leaf entries hold the
// IndexKey of a record and its RecordID, ordered by key and, among equal keys, by
// RecordID, so the tree never holds two equal entries.
//
// A record index belongs to its table data object, which it reaches through
// THDBIndexedTable (pages, fields, records); it owns its key descriptor and its tree,
// and keeps its root page number in its index definition. It is used under the
// database object's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/tables/btree.h"
#include "dbengine/tables/btree_key_ref.h"
#include "dbengine/tables/index_position_cache.h"
#include "dbengine/tables/index_requests.h"
#include "dbengine/tables/navigation_request.h"

namespace hdb {

class THDBIndexDef;
class THDBIndexedTable;
struct THDBErrorDef;

class THDBIndex {
 public:
  virtual ~THDBIndex() = default;

  // Virtual operations in slot order.
  // Adds the empty root (its page number goes into the definition) and, when asked,
  // enters every record of the table, read in natural order.
  virtual void Build(SessionID session, bool fromTable) = 0;                                        // 0
  virtual void Drop(SessionID session) = 0;                                                         // 1
  virtual void Clear(SessionID session) = 0;                                                        // 2
  virtual void Attach(THDBIndexDef& def) = 0;                                                       // 3
  virtual void Rebuild(SessionID session) = 0;                                                      // 4
  virtual void IndexStep(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                         THDBIndexPositionCache& cache) = 0;                                        // 5
  virtual void IndexStepNear(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                             THDBIndexPositionCache& cache) = 0;                                    // 6
  virtual std::unique_ptr<THDBKeyPath> NewPath() = 0;                                               // 7
  virtual void FreePath(std::unique_ptr<THDBKeyPath> path) = 0;                                     // 8
  virtual bool FindEntry(SessionID session, RecordID id, THDBKeyPath& path, const std::uint8_t* record) = 0;  // 9
  virtual int ComparePaths(const THDBKeyPath& a, const THDBKeyPath& b) = 0;                         // 10
  virtual std::int64_t RankOf(SessionID session, RecordID id, const std::uint8_t* record) = 0;      // 11
  virtual RecordID RecordAtRank(SessionID session, std::int64_t n) = 0;                             // 12
  virtual void MarkDuplicates(SessionID session, THDBPositionBits& bits, std::int32_t columnCount) = 0;  // 13
  virtual std::unique_ptr<THDBIndexScanState> NewScanState() = 0;                                   // 14
  virtual void FreeScanState(std::unique_ptr<THDBIndexScanState> state) = 0;                        // 15
  virtual bool ScanNext(SessionID session, bool firstStep, THDBIndexScanState& state, RecordID& id,
                        std::uint8_t* record, const THDBKeyCondition* lower, const THDBKeyCondition* upper,
                        bool forward) = 0;                                                          // 16
  virtual int CompareRecordKeys(const std::uint8_t* record1, const std::uint8_t* record2,
                                std::int32_t columnCount) = 0;                                      // 17
  virtual int ConditionDirection(std::uint8_t condition) = 0;                                       // 18
  virtual std::int64_t EstimateCount(SessionID session, const THDBKeyCondition& a, const THDBKeyCondition& b,
                                     std::int64_t recordCount) = 0;                                 // 19
  virtual bool KeyIsFree(SessionID session, const std::uint8_t* record) = 0;                        // 20
  virtual bool KeyChangeIsFree(SessionID session, const std::uint8_t* oldRecord,
                               const std::uint8_t* newRecord) = 0;                                  // 21
  virtual void AddRecordKey(const THDBIndexRecord& record) = 0;                                     // 22
  virtual void RemoveRecordKey(const THDBIndexRecord& record) = 0;                                  // 23
  virtual void ChangeRecordKey(const THDBIndexRecord& record, bool deletePhase) = 0;                // 24
  virtual THDBIndexCapacity CapacityEstimate() = 0;                                                 // 25
  virtual RecordID RecordIDAtPath(SessionID session, const THDBKeyPath& path) = 0;                  // 26
};

class THDBBTreeRecordIndex final : public THDBIndex {
 public:
  // Attaches to the definition (Prepare of the key; the root from RootPageNo).
  THDBBTreeRecordIndex(THDBIndexedTable& table, THDBIndexDef& def);

  void Build(SessionID session, bool fromTable) override;
  // Every page of the tree, the root too; RootPageNo becomes -1.
  void Drop(SessionID session) override;
  // Every page but the root, which becomes an empty leaf root again.
  void Clear(SessionID session) override;
  void Attach(THDBIndexDef& def) override;
  void Rebuild(SessionID session) override;
  // A step in index order from the request's record (or from an end while one of the
  // end flags is set): result 0 with the record read, 1 / 2 at an end, 3 when the
  // record to step from is not in the index. Mode current raises 20053.
  void IndexStep(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                 THDBIndexPositionCache& cache) override;
  // The step from where the request's record would stand, for a record that is gone.
  void IndexStepNear(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                     THDBIndexPositionCache& cache) override;
  std::unique_ptr<THDBKeyPath> NewPath() override { return std::make_unique<THDBKeyPath>(); }
  void FreePath(std::unique_ptr<THDBKeyPath>) override {}
  bool FindEntry(SessionID session, RecordID id, THDBKeyPath& path, const std::uint8_t* record) override;
  int ComparePaths(const THDBKeyPath& a, const THDBKeyPath& b) override;
  // 1-based rank in index order, -1 when the record is not in the index.
  std::int64_t RankOf(SessionID session, RecordID id, const std::uint8_t* record) override;
  // "Cannot retrieve record from empty index" (20074); past the last entry "Cannot set
  // RecNo greater than RecordCount" (20075).
  RecordID RecordAtRank(SessionID session, std::int64_t n) override;
  void MarkDuplicates(SessionID session, THDBPositionBits& bits, std::int32_t columnCount) override;
  std::unique_ptr<THDBIndexScanState> NewScanState() override;
  void FreeScanState(std::unique_ptr<THDBIndexScanState>) override {}
  // One step of a range scan: the first step positions on the start bound (lower when
  // forward, upper when backward, an end of the index without one), later steps move
  // on; false once the stop bound or the end is passed. The record is read into
  // `record` when one is given.
  bool ScanNext(SessionID session, bool firstStep, THDBIndexScanState& state, RecordID& id, std::uint8_t* record,
                const THDBKeyCondition* lower, const THDBKeyCondition* upper, bool forward) override;
  int CompareRecordKeys(const std::uint8_t* record1, const std::uint8_t* record2, std::int32_t columnCount) override;
  int ConditionDirection(std::uint8_t condition) override;
  std::int64_t EstimateCount(SessionID session, const THDBKeyCondition& a, const THDBKeyCondition& b,
                             std::int64_t recordCount) override;
  // The same; lowPath gets the path to the first entry of the lower bound, and lowIsA
  // whether that bound is a (else b); lowPath is left empty when there is none.
  std::int64_t EstimateCount(SessionID session, const THDBKeyCondition& a, const THDBKeyCondition& b,
                             std::int64_t recordCount, THDBKeyPath& lowPath, bool& lowIsA);
  bool KeyIsFree(SessionID session, const std::uint8_t* record) override;
  bool KeyChangeIsFree(SessionID session, const std::uint8_t* oldRecord, const std::uint8_t* newRecord) override;
  void AddRecordKey(const THDBIndexRecord& record) override;
  // "Index error: cannot delete entry. Entry not found" (20027).
  void RemoveRecordKey(const THDBIndexRecord& record) override;
  // Nothing when the old and the new key compare equal; else the delete phase removes
  // the old entry (20250 when absent) and the insert phase enters the new one.
  void ChangeRecordKey(const THDBIndexRecord& record, bool deletePhase) override;
  THDBIndexCapacity CapacityEstimate() override;
  RecordID RecordIDAtPath(SessionID session, const THDBKeyPath& path) override;

  // Puts a scan on the entry of the record id (whose key the record buffer holds), so
  // that the next ScanNext steps on from it; false when the index has no such entry.
  bool ScanFrom(SessionID session, THDBIndexScanState& state, RecordID id, const std::uint8_t* record);
  // The 0-based position in index order of the entry a scan stands on.
  std::int64_t ScanPosition(SessionID session, const THDBIndexScanState& state);

  // Raises the first inconsistency of the tree (the messages of the integrity check).
  void CheckIntegrity(SessionID session);
  // Entries on the leaf level.
  std::int64_t EntryCount(SessionID session);

  THDBIndexDef& Definition() const { return *def_; }
  THDBRecordKeyRef& KeyRef() { return keyRef_; }
  THDBBTree& Tree() { return tree_; }

 private:
  // The tree for an operation of the session; a tree without root raises "Invalid page
  // number" with the operation's number.
  THDBBTree& TreeFor(SessionID session, const THDBErrorDef& noRoot);
  // Reads the record the path ends at; false when it is gone.
  bool ReadRecordAt(SessionID session, const THDBKeyPath& path, RecordID& id, std::uint8_t* record);
  bool PositionOnBound(bool forward, THDBKeyPath& path, const THDBKeyCondition& condition, std::uint8_t* key);
  bool WithinBound(const THDBKeyPath& path, const THDBKeyCondition& condition, std::uint8_t* key);
  // The same for an entry already read (its key and RecordID).
  bool WithinBound(const THDBKeyCondition& condition, std::uint8_t* key, const std::uint8_t* entryKey,
                   RecordID entryID);
  void StepDone(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                THDBIndexPositionCache& cache, const THDBKeyPath& path);
  // The same for the entry of record id, already read from the path's leaf.
  void StepDone(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                THDBIndexPositionCache& cache, const THDBKeyPath& path, RecordID id);
  void StepFailed(THDBNavigationRequest& request);
  // Moves the path one entry on (or back) and reads the entry it reaches into toKey and
  // toValue, checking the step's order; false at the end. The entry stepped from is
  // left in stepKey_.
  bool StepEntry(SessionID session, bool forward, THDBKeyPath& path, std::uint8_t* toKey, std::uint8_t* toValue);
  // A step from the entry of (stepKey_, fromValue) to the entry (toKey, toValue) the
  // path ends at must have moved on in index order; anything else is a damaged tree
  // (page links that loop or point back, entries out of order), "Index integrity
  // error" (20194), and a walk that went on would come round again without end.
  void CheckStepOrder(SessionID session, bool forward, const std::uint8_t* fromValue, const THDBKeyPath& path,
                      const std::uint8_t* toKey, const std::uint8_t* toValue);

  THDBIndexedTable& table_;
  THDBIndexDef* def_ = nullptr;
  THDBRecordKeyRef keyRef_;
  THDBBTree tree_;
  std::vector<std::uint8_t> key_, oldKey_, stepKey_;
  // The full keys of CompareRecordKeys.
  std::vector<std::uint8_t> compareKey1_, compareKey2_;
};

}  // namespace hdb

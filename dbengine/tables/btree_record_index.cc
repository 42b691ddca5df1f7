#include "dbengine/tables/btree_record_index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_manager.h"
#include "dbengine/tables/btree_page.h"
#include "dbengine/tables/index_defs.h"
#include "dbengine/tables/indexed_table.h"
#include "dbengine/tables/leaf_values.h"

namespace hdb {

namespace {

// Whether an entry satisfies "entry key <condition> search key", given r, the
// comparison of the search key with the entry's key.
bool Satisfies(std::uint8_t condition, int r) {
  switch (condition) {
    case ctEqual: return r == 0;
    case ctLess: return r > 0;
    case ctGreater: return r < 0;
    case ctLessOrEqual: return r >= 0;
    case ctGreaterOrEqual: return r <= 0;
    default: return true;
  }
}

struct PackedRecordID {
  std::uint8_t Bytes[RecordIDLayout::Size];
  explicit PackedRecordID(RecordID id) { StoreRecordID(Bytes, id); }
};

}  // namespace

THDBBTreeRecordIndex::THDBBTreeRecordIndex(THDBIndexedTable& table, THDBIndexDef& def)
    : table_(table), keyRef_(&table), tree_(table.IndexPageManager(), keyRef_, true) {
  Attach(def);
}

void THDBBTreeRecordIndex::Attach(THDBIndexDef& def) {
  def_ = &def;
  keyRef_.Prepare(def, &table_.IndexFieldManager());
  key_.assign(static_cast<std::size_t>(keyRef_.IndexKeySize), 0);
  oldKey_.assign(static_cast<std::size_t>(keyRef_.IndexKeySize), 0);
  stepKey_.assign(static_cast<std::size_t>(keyRef_.IndexKeySize), 0);
  tree_.SetRootPageNo(def.RootPageNo);
}

THDBBTree& THDBBTreeRecordIndex::TreeFor(SessionID session, const THDBErrorDef& noRoot) {
  if (def_->RootPageNo == -1) RaiseHDB(noRoot);
  tree_.SetRootPageNo(def_->RootPageNo);
  tree_.SetSession(session);
  return tree_;
}

void THDBBTreeRecordIndex::Build(SessionID session, bool fromTable) {
  tree_.SetSession(session);
  def_->RootPageNo = tree_.CreateRoot();
  if (!fromTable) return;
  table_.ForEachIndexedRecord(session, [&](RecordID id, const std::uint8_t* record) {
    AddRecordKey({session, id, record, nullptr});
  });
}

void THDBBTreeRecordIndex::Drop(SessionID session) {
  TreeFor(session, Errors::IndexDropNoRoot).FreePages(false);
  def_->RootPageNo = -1;
}

void THDBBTreeRecordIndex::Clear(SessionID session) { TreeFor(session, Errors::IndexClearNoRoot).FreePages(true); }

void THDBBTreeRecordIndex::Rebuild(SessionID session) {
  Clear(session);
  table_.ForEachIndexedRecord(session, [&](RecordID id, const std::uint8_t* record) {
    AddRecordKey({session, id, record, nullptr});
  });
}

bool THDBBTreeRecordIndex::ReadRecordAt(SessionID session, const THDBKeyPath& path, RecordID& id,
                                        std::uint8_t* record) {
  std::uint8_t value[RecordIDLayout::Size];
  tree_.ReadLeafEntry(path, nullptr, value);
  id = LoadRecordID(value);
  return !record || table_.ReadIndexedRecord(session, id, record);
}

void THDBBTreeRecordIndex::StepDone(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                                    THDBIndexPositionCache& cache, const THDBKeyPath& path) {
  std::uint8_t value[RecordIDLayout::Size];
  tree_.ReadLeafEntry(path, nullptr, value);
  StepDone(session, request, changeStamp, cache, path, LoadRecordID(value));
}

void THDBBTreeRecordIndex::StepDone(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                                    THDBIndexPositionCache& cache, const THDBKeyPath& path, RecordID id) {
  if (!request.Record) RaiseHDB(Errors::IndexInvalidParams);
  // The entry's record is read under the same lock as the entry itself: a record that is
  // not there is a damaged index, not a record another cursor took away (that one is the
  // record stepped from, which FindEntry misses).
  if (!table_.ReadIndexedRecord(session, id, request.Record)) RaiseHDB(Errors::CannotRetrieveRecordForIndex);
  request.ID = id;
  request.BeforeFirst = request.AfterLast = false;
  request.Result = grOK;
  cache.Store(def_->ObjectID, id, changeStamp, path);
}

bool THDBBTreeRecordIndex::StepEntry(SessionID session, bool forward, THDBKeyPath& path, std::uint8_t* toKey,
                                     std::uint8_t* toValue) {
  // One pin of the leaf serves the entry stepped from and, while the step stays on
  // that leaf (nearly always), the entry stepped to.
  std::optional<THDBBTreePage> leaf;
  leaf.emplace(tree_, path.Leaf().PageNo);
  std::uint8_t fromValue[RecordIDLayout::Size];
  THDBBTree::ReadLeafEntry(*leaf, path.Leaf().EntryNo, stepKey_.data(), fromValue);
  const std::int32_t fromPage = path.Leaf().PageNo;
  if (!(forward ? tree_.Next(path) : tree_.Prior(path))) return false;
  if (path.Leaf().PageNo != fromPage) {
    leaf.reset();
    leaf.emplace(tree_, path.Leaf().PageNo);
  }
  THDBBTree::ReadLeafEntry(*leaf, path.Leaf().EntryNo, toKey, toValue);
  CheckStepOrder(session, forward, fromValue, path, toKey, toValue);
  return true;
}

void THDBBTreeRecordIndex::StepFailed(THDBNavigationRequest& request) {
  if (request.Mode == gmNext) {
    request.Result = grEOF;
    request.AfterLast = true;
  } else {
    request.Result = grBOF;
    request.BeforeFirst = true;
  }
}

void THDBBTreeRecordIndex::IndexStep(SessionID session, THDBNavigationRequest& request, std::int32_t changeStamp,
                                     THDBIndexPositionCache& cache) {
  if (request.Mode == gmCurrent) RaiseHDB(Errors::IndexStepCurrentMode);
  THDBBTree& tree = TreeFor(session, Errors::IndexStepNoRoot);
  if (request.BeforeFirst || request.AfterLast) {
    THDBKeyPath path;
    if (!(request.BeforeFirst ? tree.First(path) : tree.Last(path))) {
      request.Result = grError;
      return;
    }
    StepDone(session, request, changeStamp, cache, path);
    return;
  }
  // The step moves the cache's own path: it holds nothing until the step has found its
  // entry (a step that fails or raises leaves it empty).
  const bool cached = cache.Holds(def_->ObjectID, request.ID, changeStamp);
  cache.Invalidate();
  THDBKeyPath& path = cache.Path;
  if (!cached && (!request.Record || !FindEntry(session, request.ID, path, request.Record))) {
    request.Result = grError;
    return;
  }
  const bool forward = request.Mode == gmNext;
  std::uint8_t toValue[RecordIDLayout::Size];
  if (StepEntry(session, forward, path, key_.data(), toValue)) {
    StepDone(session, request, changeStamp, cache, path, LoadRecordID(toValue));
  } else {
    StepFailed(request);
  }
}

void THDBBTreeRecordIndex::CheckStepOrder(SessionID session, bool forward, const std::uint8_t* fromValue,
                                          const THDBKeyPath& path, const std::uint8_t* toKey,
                                          const std::uint8_t* toValue) {
  const RecordID fromID = LoadRecordID(fromValue), toID = LoadRecordID(toValue);
  int r = keyRef_.CompareKeys(stepKey_.data(), toKey, &toID, &fromID, session, true);
  if (r == 0) r = CompareLeafValues(fromValue, toValue, RecordIDLayout::Size);
  if (forward ? r >= 0 : r <= 0) RaiseHDB(Errors::IndexIntegrityOrder, path.Leaf().PageNo, path.Leaf().EntryNo);
}

void THDBBTreeRecordIndex::IndexStepNear(SessionID session, THDBNavigationRequest& request,
                                         std::int32_t changeStamp, THDBIndexPositionCache& cache) {
  THDBBTree& tree = TreeFor(session, Errors::IndexStepNoRoot);
  if (!request.Record) RaiseHDB(Errors::IndexInvalidParams);
  const bool forward = request.Mode != gmPrior;
  keyRef_.BuildIndexKey(request.Record, key_.data());
  THDBKeyPath path;
  const std::uint8_t condition = forward ? ctGreater : ctLess;
  if (tree.SearchCondition(forward, path, condition, key_.data())) {
    // In a damaged tree the search may end anywhere; a step that did not move past the
    // key could come back here for ever.
    std::uint8_t value[RecordIDLayout::Size];
    tree.ReadLeafEntry(path, stepKey_.data(), value);
    const RecordID id = LoadRecordID(value);
    if (!Satisfies(condition, keyRef_.CompareKeys(key_.data(), stepKey_.data(), &id, nullptr, session, true)))
      RaiseHDB(Errors::IndexIntegrityOrder, path.Leaf().PageNo, path.Leaf().EntryNo);
    StepDone(session, request, changeStamp, cache, path);
  } else {
    StepFailed(request);
  }
}

bool THDBBTreeRecordIndex::FindEntry(SessionID session, RecordID id, THDBKeyPath& path, const std::uint8_t* record) {
  THDBBTree& tree = TreeFor(session, Errors::IndexFindNoRoot);
  keyRef_.BuildIndexKey(record, key_.data());
  const PackedRecordID value(id);
  return tree.FindExact(key_.data(), value.Bytes, path);
}

int THDBBTreeRecordIndex::ComparePaths(const THDBKeyPath& a, const THDBKeyPath& b) { return hdb::ComparePaths(a, b); }

std::int64_t THDBBTreeRecordIndex::RankOf(SessionID session, RecordID id, const std::uint8_t* record) {
  THDBKeyPath path;
  if (!FindEntry(session, id, path, record)) return -1;
  return tree_.EntriesBefore(path) + path.Leaf().EntryNo + 1;
}

RecordID THDBBTreeRecordIndex::RecordAtRank(SessionID session, std::int64_t n) {
  THDBBTree& tree = TreeFor(session, Errors::IndexRankNoRoot);
  THDBKeyPath path;
  if (!tree.First(path)) RaiseHDB(Errors::EmptyIndexRecord);
  if (n < 1) RaiseHDB(Errors::IndexRecNoBeyondCount);
  std::int64_t before = 0;
  std::int32_t pageNo = path.Leaf().PageNo;
  std::int64_t pagesLeft = static_cast<std::int64_t>(tree.Pages().GetPageCount()) + 1;
  while (pageNo != -1) {
    if (--pagesLeft < 0) RaiseHDB(Errors::IndexIntegrityCircular, pageNo, 0);
    THDBBTreePage page(tree, pageNo);
    if (before + page.EntryCount() >= n) return LoadRecordID(page.RefAt(static_cast<std::int32_t>(n - before - 1)));
    before += page.EntryCount();
    pageNo = page.NextPageNo();
  }
  RaiseHDB(Errors::IndexRecNoBeyondCount);
}

void THDBBTreeRecordIndex::MarkDuplicates(SessionID session, THDBPositionBits& bits, std::int32_t columnCount) {
  THDBBTree& tree = TreeFor(session, Errors::IndexRankNoRoot);
  THDBCompareScope scope(keyRef_, columnCount, nullptr, false);
  THDBKeyPath path;
  std::vector<std::uint8_t> kept(key_.size()), entry(key_.size());
  std::uint8_t value[RecordIDLayout::Size];
  RecordID keptID;
  bool haveKept = false;
  std::int64_t position = 0;
  for (bool more = tree.First(path); more; more = tree.Next(path), ++position) {
    if (!bits.TestBit(position)) continue;
    tree.ReadLeafEntry(path, entry.data(), value);
    const RecordID id = LoadRecordID(value);
    if (haveKept && keyRef_.CompareKeys(kept.data(), entry.data(), &id, &keptID, session, true) == 0) {
      bits.ClearBit(position);
      continue;
    }
    kept.swap(entry);
    keptID = id;
    haveKept = true;
  }
}

std::unique_ptr<THDBIndexScanState> THDBBTreeRecordIndex::NewScanState() {
  auto state = std::make_unique<THDBIndexScanState>();
  state->Key.assign(key_.size(), 0);
  return state;
}

bool THDBBTreeRecordIndex::PositionOnBound(bool forward, THDBKeyPath& path, const THDBKeyCondition& condition,
                                           std::uint8_t* key) {
  if (!condition.KeyRecord) RaiseHDB(Errors::IndexInvalidParams);
  THDBCompareScope scope(keyRef_, condition.KeyFieldCount, condition.KeyRecord, condition.Partial);
  keyRef_.BuildIndexKey(condition.KeyRecord, key);
  return tree_.SearchCondition(forward, path, condition.Type, key);
}

bool THDBBTreeRecordIndex::WithinBound(const THDBKeyPath& path, const THDBKeyCondition& condition,
                                       std::uint8_t* key) {
  std::uint8_t value[RecordIDLayout::Size];
  tree_.ReadLeafEntry(path, oldKey_.data(), value);
  return WithinBound(condition, key, oldKey_.data(), LoadRecordID(value));
}

bool THDBBTreeRecordIndex::WithinBound(const THDBKeyCondition& condition, std::uint8_t* key,
                                       const std::uint8_t* entryKey, RecordID entryID) {
  if (!condition.KeyRecord) RaiseHDB(Errors::IndexInvalidParams);
  THDBCompareScope scope(keyRef_, condition.KeyFieldCount, condition.KeyRecord, condition.Partial);
  keyRef_.BuildIndexKey(condition.KeyRecord, key);
  return Satisfies(condition.Type, keyRef_.CompareKeys(key, entryKey, &entryID, nullptr, tree_.Session(), true));
}

bool THDBBTreeRecordIndex::ScanNext(SessionID session, bool firstStep, THDBIndexScanState& state, RecordID& id,
                                    std::uint8_t* record, const THDBKeyCondition* lower,
                                    const THDBKeyCondition* upper, bool forward) {
  THDBBTree& tree = TreeFor(session, Errors::IndexScanNoRoot);
  state.Key.resize(key_.size());
  bool found;
  if (firstStep) {
    state.AtEnd = false;
    const THDBKeyCondition* start = forward ? lower : upper;
    if (state.Positioned) {
      found = !state.Path.IsEmpty();
      state.Positioned = false;
    } else {
      found = start ? PositionOnBound(forward, state.Path, *start, state.Key.data())
                    : (forward ? tree.First(state.Path) : tree.Last(state.Path));
    }
  } else {
    if (state.AtEnd || state.Path.IsEmpty()) return false;
    std::uint8_t toValue[RecordIDLayout::Size];
    found = StepEntry(session, forward, state.Path, oldKey_.data(), toValue);
    if (found) {
      // The entry stepped to is already read: the stop bound and the record go from it.
      const THDBKeyCondition* stop = forward ? upper : lower;
      if (stop) found = WithinBound(*stop, state.Key.data(), oldKey_.data(), LoadRecordID(toValue));
      if (!found) {
        state.AtEnd = true;
        return false;
      }
      id = LoadRecordID(toValue);
      if (record && !table_.ReadIndexedRecord(session, id, record)) RaiseHDB(Errors::CannotRetrieveRecordForIndex);
      return true;
    }
  }
  const THDBKeyCondition* stop = forward ? upper : lower;
  if (found && stop) found = WithinBound(state.Path, *stop, state.Key.data());
  if (!found) {
    state.AtEnd = true;
    return false;
  }
  // An entry whose record cannot be read is a damaged index.
  if (!ReadRecordAt(session, state.Path, id, record)) RaiseHDB(Errors::CannotRetrieveRecordForIndex);
  return true;
}

bool THDBBTreeRecordIndex::ScanFrom(SessionID session, THDBIndexScanState& state, RecordID id,
                                    const std::uint8_t* record) {
  state.AtEnd = !FindEntry(session, id, state.Path, record);
  return !state.AtEnd;
}

std::int64_t THDBBTreeRecordIndex::ScanPosition(SessionID session, const THDBIndexScanState& state) {
  tree_.SetSession(session);
  return tree_.EntriesBefore(state.Path) + state.Path.Leaf().EntryNo;
}

int THDBBTreeRecordIndex::CompareRecordKeys(const std::uint8_t* record1, const std::uint8_t* record2,
                                            std::int32_t columnCount) {
  // Full keys never fetch records, so the two scratch keys cannot be reused underneath.
  compareKey1_.resize(static_cast<std::size_t>(keyRef_.FullKeySize));
  compareKey2_.resize(static_cast<std::size_t>(keyRef_.FullKeySize));
  keyRef_.BuildFullKey(record1, compareKey1_.data());
  keyRef_.BuildFullKey(record2, compareKey2_.data());
  THDBCompareScope scope(keyRef_, columnCount, nullptr, false);
  return keyRef_.CompareFullKeys(compareKey1_.data(), compareKey2_.data());
}

int THDBBTreeRecordIndex::ConditionDirection(std::uint8_t condition) {
  if (condition == ctGreater || condition == ctGreaterOrEqual) return -1;
  if (condition == ctLess || condition == ctLessOrEqual) return 1;
  return 0;
}

std::int64_t THDBBTreeRecordIndex::EstimateCount(SessionID session, const THDBKeyCondition& a,
                                                 const THDBKeyCondition& b, std::int64_t recordCount) {
  THDBKeyPath low;
  bool lowIsA;
  return EstimateCount(session, a, b, recordCount, low, lowIsA);
}

std::int64_t THDBBTreeRecordIndex::EstimateCount(SessionID session, const THDBKeyCondition& a,
                                                 const THDBKeyCondition& b, std::int64_t recordCount,
                                                 THDBKeyPath& low, bool& lowIsA) {
  TreeFor(session, Errors::IndexEstimateNoRoot);
  const THDBKeyCondition* lower = &a;
  const THDBKeyCondition* upper = &b;
  if (ConditionDirection(a.Type) >= 0 && ConditionDirection(b.Type) < 0) std::swap(lower, upper);
  lowIsA = lower == &a;
  low.Clear();
  THDBKeyPath high;
  if (!PositionOnBound(true, low, *lower, key_.data())) {
    low.Clear();
    return 0;
  }
  {
    // A range that ends on the leaf it starts on (one vehicle's records, say) is counted
    // there, without a second descent for its other end.
    THDBBTreePage leaf(tree_, low.Leaf().PageNo);
    std::uint8_t value[RecordIDLayout::Size];
    std::int64_t n = 0;
    for (std::int32_t entry = low.Leaf().EntryNo; entry < leaf.EntryCount(); ++entry, ++n) {
      THDBBTree::ReadLeafEntry(leaf, entry, oldKey_.data(), value);
      if (!WithinBound(*upper, key_.data(), oldKey_.data(), LoadRecordID(value))) return std::min(n, recordCount);
    }
  }
  if (!PositionOnBound(false, high, *upper, key_.data())) return 0;
  const double estimate = std::round((ApproximatePosition(high) - ApproximatePosition(low)) * recordCount);
  if (estimate <= 0) return 0;
  return estimate >= static_cast<double>(recordCount) ? recordCount : static_cast<std::int64_t>(estimate);
}

bool THDBBTreeRecordIndex::KeyIsFree(SessionID session, const std::uint8_t* record) {
  if (!def_->IsUnique && !def_->IsPrimary) return true;
  THDBBTree& tree = TreeFor(session, Errors::IndexKeyCheckNoRoot);
  keyRef_.BuildIndexKey(record, key_.data());
  THDBKeyPath path;
  return !tree.SearchCondition(true, path, ctEqual, key_.data());
}

bool THDBBTreeRecordIndex::KeyChangeIsFree(SessionID session, const std::uint8_t* oldRecord,
                                           const std::uint8_t* newRecord) {
  if (CompareRecordKeys(oldRecord, newRecord, keyRef_.ColumnCount()) == 0) return true;
  return KeyIsFree(session, newRecord);
}

void THDBBTreeRecordIndex::AddRecordKey(const THDBIndexRecord& record) {
  THDBBTree& tree = TreeFor(record.Session, Errors::IndexAddNoRoot);
  keyRef_.BuildIndexKey(record.Record, key_.data());
  const PackedRecordID value(record.ID);
  tree.Insert(key_.data(), value.Bytes);
}

void THDBBTreeRecordIndex::RemoveRecordKey(const THDBIndexRecord& record) {
  THDBBTree& tree = TreeFor(record.Session, Errors::IndexRemoveNoRoot);
  keyRef_.BuildIndexKey(record.Record, key_.data());
  const PackedRecordID value(record.ID);
  THDBKeyPath path;
  if (!tree.Delete(key_.data(), value.Bytes, path)) RaiseHDB(Errors::IndexEntryNotFound);
}

void THDBBTreeRecordIndex::ChangeRecordKey(const THDBIndexRecord& record, bool deletePhase) {
  THDBBTree& tree = TreeFor(record.Session, Errors::IndexChangeNoRoot);
  if (CompareRecordKeys(record.OldRecord, record.Record, keyRef_.ColumnCount()) == 0) return;
  const PackedRecordID value(record.ID);
  if (deletePhase) {
    keyRef_.BuildIndexKey(record.OldRecord, key_.data());
    THDBKeyPath path;
    if (!tree.Delete(key_.data(), value.Bytes, path)) RaiseHDB(Errors::IndexChangedEntryNotFound);
  } else {
    keyRef_.BuildIndexKey(record.Record, key_.data());
    tree.Insert(key_.data(), value.Bytes);
  }
}

THDBIndexCapacity THDBBTreeRecordIndex::CapacityEstimate() {
  const std::int32_t data = table_.IndexPageManager().PageDataSize();
  const std::int32_t entry = keyRef_.IndexKeySize + 4;
  return {data / entry, data % entry};
}

RecordID THDBBTreeRecordIndex::RecordIDAtPath(SessionID session, const THDBKeyPath& path) {
  THDBBTree& tree = TreeFor(session, Errors::IndexFindNoRoot);
  if (path.IsEmpty()) RaiseHDB(Errors::IndexInvalidPosition);
  std::int32_t pageNo = tree.RootPageNo();
  for (std::int32_t level = 0; level < path.LevelCount(); ++level) {
    THDBBTreePage page(tree, pageNo);
    const std::int32_t entry = path.At(level).EntryNo;
    if (entry < 0 || entry >= page.EntryCount()) RaiseHDB(Errors::IndexInvalidPosition);
    if (page.IsLeaf()) {
      if (level != path.LevelCount() - 1) RaiseHDB(Errors::IndexInvalidPosition);
      return LoadRecordID(page.RefAt(entry));
    }
    pageNo = page.ChildAt(entry);
  }
  RaiseHDB(Errors::IndexInvalidPosition);
}

void THDBBTreeRecordIndex::CheckIntegrity(SessionID session) {
  TreeFor(session, Errors::IndexCheckNoRoot).CheckIntegrity();
}

std::int64_t THDBBTreeRecordIndex::EntryCount(SessionID session) {
  return TreeFor(session, Errors::IndexCheckNoRoot).EntryCount();
}

}  // namespace hdb

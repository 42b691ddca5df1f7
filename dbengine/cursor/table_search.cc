#include "dbengine/cursor/table_search.h"

#include <algorithm>
#include <cstring>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/record_bitmap.h"
#include "dbengine/cursor/search_expression.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_manager.h"
#include "dbengine/tables/btree_record_index.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/navigation_request.h"

namespace hdb {

namespace {

// Whether "record key <type> condition key" holds for r = compare(record, key).
bool Holds(std::uint8_t type, int r) {
  switch (type) {
    case ctEqual: return r == 0;
    case ctLess: return r < 0;
    case ctGreater: return r > 0;
    case ctLessOrEqual: return r <= 0;
    case ctGreaterOrEqual: return r >= 0;
    default: return true;
  }
}

// -1: a lower bound in index order (>, >=), 1: an upper bound (<, <=), 0: "=".
int Direction(std::uint8_t type) {
  if (type == ctGreater || type == ctGreaterOrEqual) return -1;
  if (type == ctLess || type == ctLessOrEqual) return 1;
  return 0;
}

THDBKeyCondition AsKeyCondition(const THDBScanSearchCondition& c) {
  return {c.Type, c.KeyBuffer.data(), c.KeyFieldCount, c.Partial};
}

}  // namespace

THDBTableSearch::THDBTableSearch(THDBLocalCursor& cursor)
    : cursor_(cursor),
      usesPlan_(!cursor.SearchPlan.InUse),
      conditions_(usesPlan_ ? cursor.SearchPlan.Conditions : own_) {
  if (usesPlan_) cursor_.SearchPlan.InUse = true;
}

THDBTableSearch::~THDBTableSearch() {
  for (THDBSearchExpression* e : detached_) e->ReattachAll();
  if (usesPlan_) cursor_.SearchPlan.InUse = false;
}

namespace {

bool SameBound(const THDBSearchPlan::Bound& b, const std::uint8_t* key, std::int32_t count, bool exclusive,
               std::size_t keySize) {
  if (!key) return !b.Present;
  return b.Present && b.KeyFieldCount == count && b.Exclusive == exclusive && b.Key.size() == keySize &&
         std::memcmp(b.Key.data(), key, keySize) == 0;
}

void KeepBound(THDBSearchPlan::Bound& b, const std::uint8_t* key, std::int32_t count, bool exclusive,
               std::size_t keySize) {
  b.Present = key != nullptr;
  b.Exclusive = exclusive;
  b.KeyFieldCount = count;
  if (key) b.Key.assign(key, key + keySize);
  else b.Key.clear();
}

}  // namespace

bool THDBTableSearch::PlanFits(const THDBSearchRequest& request) const {
  const THDBSearchPlan& plan = cursor_.SearchPlan;
  THDBDiskTableData& table = *cursor_.Table();
  if (!plan.Valid || plan.FilterGeneration != cursor_.FilterGeneration || plan.IndexID != cursor_.IndexID ||
      plan.Forward != request.Forward || plan.ChangeCount != table.ChangeCount() ||
      plan.RecordCount != table.RecordCount())
    return false;
  const THDBIndexDefs& defs = table.Indexes().Definitions();
  if (plan.TableIndexes.size() != static_cast<std::size_t>(defs.Count())) return false;
  for (int i = 0; i < defs.Count(); ++i)
    if (defs[i].ObjectID != plan.TableIndexes[static_cast<std::size_t>(i)]) return false;
  return SameBound(plan.RangeStart, cursor_.RangeStart, cursor_.StartKeyFieldCount, cursor_.StartExclusive,
                   cursor_.KeySize) &&
         SameBound(plan.RangeEnd, cursor_.RangeEnd, cursor_.EndKeyFieldCount, cursor_.EndExclusive, cursor_.KeySize);
}

void THDBTableSearch::KeepPlan(const THDBSearchRequest& request) {
  THDBSearchPlan& plan = cursor_.SearchPlan;
  THDBDiskTableData& table = *cursor_.Table();
  plan.FilterGeneration = cursor_.FilterGeneration;
  plan.IndexID = cursor_.IndexID;
  plan.Forward = request.Forward;
  plan.ChangeCount = table.ChangeCount();
  plan.RecordCount = table.RecordCount();
  const THDBIndexDefs& defs = table.Indexes().Definitions();
  plan.TableIndexes.clear();
  for (int i = 0; i < defs.Count(); ++i) plan.TableIndexes.push_back(defs[i].ObjectID);
  KeepBound(plan.RangeStart, cursor_.RangeStart, cursor_.StartKeyFieldCount, cursor_.StartExclusive, cursor_.KeySize);
  KeepBound(plan.RangeEnd, cursor_.RangeEnd, cursor_.EndKeyFieldCount, cursor_.EndExclusive, cursor_.KeySize);
  plan.ScanIndex = scanIndex_;
  plan.StartCondition = startCondition_;
  plan.StopCondition = stopCondition_;
  plan.Valid = true;
}

void THDBTableSearch::DetachChosen() {
  if (scanIndex_ == -1) return;
  for (int k : {startCondition_, stopCondition_})
    if (k != -1 && conditions_[k].FromExpression)
      for (auto& c : conditions_.Items())
        if (c.Expression) {
          c.Expression->Detach(conditions_[k]);
          detached_.push_back(c.Expression);
        }
}

void THDBTableSearch::FillReport() {
  if (scanIndex_ == -1) return;
  report_.IndexNo = scanIndex_;
  report_.StartType = conditions_[startCondition_].Type;
  report_.StopType = conditions_[stopCondition_].Type;
  report_.StartKey = conditions_[startCondition_].KeyBuffer;
  report_.StartKeyFieldCount = conditions_[startCondition_].KeyFieldCount;
  report_.StopKey = conditions_[stopCondition_].KeyBuffer;
  report_.StopKeyFieldCount = conditions_[stopCondition_].KeyFieldCount;
}

int THDBTableSearch::CompareConditions(const THDBScanSearchCondition& a, const THDBScanSearchCondition& b,
                                       std::int32_t n) {
  THDBBTreeRecordIndex& index = cursor_.Table()->Indexes().ByObjectID(a.IndexNo);
  return index.CompareRecordKeys(a.KeyBuffer.data(), b.KeyBuffer.data(), n);
}

bool THDBTableSearch::KeyConditionHolds(const THDBScanSearchCondition& c, const std::uint8_t* record) {
  THDBBTreeRecordIndex& index = cursor_.Table()->Indexes().ByObjectID(c.IndexNo);
  return Holds(c.Type, index.CompareRecordKeys(record, c.KeyBuffer.data(), c.KeyFieldCount));
}

bool THDBTableSearch::Test(const std::uint8_t* record, RecordID id) {
  for (int i = 0; i < conditions_.Count(); ++i) {
    if (i == startCondition_ || i == stopCondition_) continue;
    THDBScanSearchCondition& c = conditions_[i];
    if (c.IsKeyCondition()) {
      if (!KeyConditionHolds(c, record)) return false;
    } else if (c.Expression && c.Expression->NeedsTest() && !c.Expression->Passes(record)) {
      return false;
    }
  }
  if (cursor_.OnFilterRecord) {
    // The callback sees the record in a buffer of the cursor's layout, with its id.
    std::vector<std::uint8_t> copy(cursor_.FullSize, 0);
    std::memcpy(copy.data(), record, cursor_.DataSize);
    cursor_.SetBufferRecordID(copy.data(), id, BookmarkCurrent);
    if (!cursor_.OnFilterRecord(copy.data())) return false;
  }
  return true;
}

void THDBTableSearch::BuildConditions(const THDBSearchRequest& request) {
  const std::size_t keySize = cursor_.KeySize;
  auto keyCondition = [&](std::uint8_t type, const std::uint8_t* key, std::int32_t count) {
    THDBScanSearchCondition c;
    c.Type = type;
    c.KeyBuffer.assign(keySize, 0);
    std::memcpy(c.KeyBuffer.data(), key, keySize);
    c.KeyFieldCount = count;
    c.IndexNo = cursor_.IndexID;
    conditions_.Append(std::move(c));
  };
  if (request.KeyCondition) {
    if (cursor_.IndexID == -1) RaiseHDB(Errors::NoActiveIndexForKeySearch);
    THDBScanSearchCondition c = *request.KeyCondition;
    c.IndexNo = cursor_.IndexID;
    conditions_.Append(std::move(c));
  }
  if (request.Extra) conditions_.AppendExpression(request.Extra);
  if (cursor_.FilterExpression) conditions_.AppendExpression(cursor_.FilterExpression.get());
  if (cursor_.IndexID != -1) {
    THDBBTreeRecordIndex& index = cursor_.Table()->Indexes().ByObjectID(cursor_.IndexID);
    const std::int32_t columns = index.KeyRef().ColumnCount();
    auto count = [&](std::int32_t n) { return n > 0 && n <= columns ? n : columns; };
    if (cursor_.RangeStart)
      keyCondition(cursor_.StartExclusive ? ctGreater : ctGreaterOrEqual, cursor_.RangeStart,
                   count(cursor_.StartKeyFieldCount));
    if (cursor_.RangeEnd)
      keyCondition(cursor_.EndExclusive ? ctLess : ctLessOrEqual, cursor_.RangeEnd, count(cursor_.EndKeyFieldCount));
  }
  // The comparisons of the expressions that an index could answer.
  std::vector<THDBScanSearchCondition> extracted;
  for (const auto& c : conditions_.Items())
    if (c.Expression)
      c.Expression->ExtractConditions(cursor_.Table()->Indexes().Definitions(), cursor_.TableFields, cursor_.Session,
                                      keySize, extracted);
  for (auto& c : extracted) conditions_.Append(std::move(c));
}

bool THDBTableSearch::ChooseAccessPath(const THDBSearchRequest& request) {
  THDBDiskTableData& table = *cursor_.Table();
  std::vector<int> keys;
  for (int i = 0; i < conditions_.Count(); ++i)
    if (conditions_[i].IsKeyCondition()) keys.push_back(i);
  scanIndex_ = -1;
  startCondition_ = stopCondition_ = -1;
  if (keys.empty()) return true;
  auto indexOf = [&](int i) -> THDBBTreeRecordIndex& { return table.Indexes().ByObjectID(conditions_[i].IndexNo); };
  auto defOf = [&](int i) -> const THDBIndexDef& { return indexOf(i).Definition(); };
  int chosen = -1, partner = -1;
  // 1: "=" on a one-column index that is unique, primary or over an automatic value.
  for (int i : keys) {
    const THDBIndexDef& def = defOf(i);
    if (conditions_[i].Type != ctEqual || def.Columns.size() != 1) continue;
    const int f = table.Fields().FieldDefs().FindByName(def.Columns[0].Name);
    if (def.IsUnique || def.IsPrimary || (f >= 0 && IsAutoincDeclaredType(table.Fields().Field(f).DeclaredType))) {
      chosen = i;
      break;
    }
  }
  // 2: the one key condition, on the cursor's own index.
  if (chosen == -1 && keys.size() == 1 && conditions_[keys[0]].IndexNo == cursor_.IndexID) chosen = keys[0];
  // 3: the cheapest range by its page cost, against reading the rest of the table.
  if (chosen == -1) {
    const double pageData = cursor_.Table()->IndexPageManager().PageDataSize();
    const std::int64_t recordCount = table.RecordCount();
    const double recordSize = table.Fields().DiskRecordSize();
    bool perRecord = cursor_.OnFilterRecord != nullptr;
    for (const auto& c : conditions_.Items()) perRecord = perRecord || c.Expression != nullptr;
    double best = static_cast<double>(recordCount);
    for (std::size_t k = 0; k < keys.size(); ++k) {
      const int i = keys[k];
      const int j = k + 1 < keys.size() && conditions_[keys[k + 1]].IndexNo == conditions_[i].IndexNo ? keys[k + 1] : -1;
      THDBBTreeRecordIndex& index = indexOf(i);
      const THDBScanSearchCondition& other = j == -1 ? conditions_[i] : conditions_[j];
      const double n = static_cast<double>(Estimate(index, conditions_[i], other, recordCount));
      const double entry = index.KeyRef().IndexKeySize + index.KeyRef().LeafRefSize;
      const bool otherIndex = cursor_.IndexID != -1 && conditions_[i].IndexNo != cursor_.IndexID;
      double cost = n * entry / pageData;
      if (keys.size() > (j == -1 ? 1u : 2u) || perRecord || otherIndex) cost += n * recordSize / pageData;
      if (otherIndex) cost += n * entry / pageData;
      if (cost < best) {
        best = cost;
        chosen = i;
        partner = j;
      }
      if (j != -1) ++k;
    }
    if (chosen != -1 && pageData > 0) {
      double sequential = static_cast<double>(recordCount);
      if (!request.FromTheEnd && !cursor_.AtBOF && !cursor_.AtEOF) {
        std::vector<std::uint8_t> current;
        if (ReadCurrent(current)) {
          const std::int64_t before = cursor_.IndexID == -1 ? table.Records().GetRecordNumber(cursor_.Session, cursor_.Position)
                                                           : table.Indexes().ByObjectID(cursor_.IndexID).RankOf(
                                                                 cursor_.Session, cursor_.Position, current.data());
          if (before > 0) sequential = static_cast<double>(recordCount - before);
        }
      }
      if (cursor_.IndexID == -1) sequential *= recordSize / pageData;
      if (sequential < best) chosen = partner = -1;
    }
  } else {
    // A range on the chosen index: its partner on the same index.
    for (int i : keys)
      if (i != chosen && conditions_[i].IndexNo == conditions_[chosen].IndexNo) {
        partner = i;
        break;
      }
  }
  if (chosen == -1) return true;
  scanIndex_ = conditions_[chosen].IndexNo;
  // 4: the smaller key starts a forward scan, the larger one a backward scan.
  int lower = chosen, upper = partner;
  if (partner != -1) {
    const int d1 = Direction(conditions_[chosen].Type), d2 = Direction(conditions_[partner].Type);
    if (d1 > d2) std::swap(lower, upper);
  } else {
    upper = chosen;
  }
  startCondition_ = request.Forward ? lower : upper;
  stopCondition_ = request.Forward ? upper : lower;
  // Extracted conditions not chosen stay in their expressions and are tested there.
  std::vector<THDBScanSearchCondition> kept;
  int newStart = -1, newStop = -1;
  for (int i = 0; i < conditions_.Count(); ++i) {
    auto& c = conditions_[i];
    if (c.FromExpression && i != chosen && i != partner) continue;
    if (i == startCondition_) newStart = static_cast<int>(kept.size());
    if (i == stopCondition_) newStop = static_cast<int>(kept.size());
    kept.push_back(std::move(c));
  }
  conditions_.Items() = std::move(kept);
  startCondition_ = newStart;
  stopCondition_ = newStop;
  return true;
}

bool THDBSearchEstimates::Entry::Matches(ObjectID indexNo, std::int32_t changeCount, std::int64_t recordCount,
                                         const THDBScanSearchCondition& a, const THDBScanSearchCondition& b) const {
  auto same = [](const Side& s, const THDBScanSearchCondition& c) {
    return s.Type == c.Type && s.KeyFieldCount == c.KeyFieldCount && s.Partial == c.Partial && s.Key == c.KeyBuffer;
  };
  return Valid && IndexNo == indexNo && ChangeCount == changeCount && RecordCount == recordCount && same(A, a) &&
         same(B, b);
}

std::int64_t THDBTableSearch::Estimate(THDBBTreeRecordIndex& index, const THDBScanSearchCondition& a,
                                       const THDBScanSearchCondition& b, std::int64_t recordCount) {
  THDBSearchEstimates& memo = cursor_.Estimates;
  const std::int32_t changeCount = cursor_.Table()->ChangeCount();
  for (const THDBSearchEstimates::Entry& e : memo.Entries)
    if (e.Matches(a.IndexNo, changeCount, recordCount, a, b)) return e.Count;
  bool lowIsA = true;
  const std::int64_t count =
      index.EstimateCount(cursor_.Session, AsKeyCondition(a), AsKeyCondition(b), recordCount, estimatedStart_.Path, lowIsA);
  estimatedStart_.Valid = !estimatedStart_.Path.IsEmpty();
  if (estimatedStart_.Valid) estimatedStart_.Bound = lowIsA ? a : b;
  THDBSearchEstimates::Entry& e = memo.Entries[memo.Next];
  memo.Next = (memo.Next + 1) % THDBSearchEstimates::Size;
  auto keep = [](THDBSearchEstimates::Side& s, const THDBScanSearchCondition& c) {
    s.Type = c.Type;
    s.KeyFieldCount = c.KeyFieldCount;
    s.Partial = c.Partial;
    s.Key = c.KeyBuffer;
  };
  e.Valid = true;
  e.IndexNo = a.IndexNo;
  e.ChangeCount = changeCount;
  e.RecordCount = recordCount;
  keep(e.A, a);
  keep(e.B, b);
  e.Count = count;
  return count;
}

bool THDBTableSearch::ReadCurrent(std::vector<std::uint8_t>& record) {
  record.assign(cursor_.DataSize, 0);
  return cursor_.Table()->ReadIndexedRecord(cursor_.Session, cursor_.Position, record.data());
}

std::int64_t THDBTableSearch::CursorOrder(RecordID id, const std::uint8_t* record) {
  if (cursor_.IndexID == -1) return cursor_.Table()->RecordIDToOrdinal(id);
  return cursor_.Table()->Indexes().ByObjectID(cursor_.IndexID).RankOf(cursor_.Session, id, record) - 1;
}

void THDBTableSearch::Mark(THDBRecordBitmap& bitmap, std::int64_t bit) {
  if (bit >= bitmap.Bits.Size()) bitmap.Bits.Resize(bit + 1);
  if (bit >= 0) bitmap.Bits.Set(bit, true);
}

bool THDBTableSearch::Run(const THDBSearchRequest& request) {
  THDBDiskTableData& table = *cursor_.Table();
  if (table.GetRecordCount(cursor_) == 0) return false;
  THDBRecordBitmap* bitmap = request.Bitmap;
  if (bitmap && (request.CollectAll || bitmap->IsStale(table.ChangeCount())))
    bitmap->Reset(table.ChangeCount(), cursor_.IndexID != -1, table.RecordIDLimit(cursor_.Session));
  if (bitmap && bitmap->Valid && !request.CollectAll) return AnswerFromBitmap(request);
  const bool plannable = usesPlan_ && !request.Extra && !request.KeyCondition;
  if (plannable && PlanFits(request)) {
    scanIndex_ = cursor_.SearchPlan.ScanIndex;
    startCondition_ = cursor_.SearchPlan.StartCondition;
    stopCondition_ = cursor_.SearchPlan.StopCondition;
  } else {
    if (usesPlan_) {
      cursor_.SearchPlan.Valid = false;
      conditions_.Items().clear();
    }
    BuildConditions(request);
    auto compare = [&](const THDBScanSearchCondition& a, const THDBScanSearchCondition& b, std::int32_t n) {
      return CompareConditions(a, b, n);
    };
    if (!conditions_.IntersectKeyConditions(compare)) {
      if (request.CollectAll && bitmap) bitmap->Valid = true;
      return false;
    }
    conditions_.DropDuplicates(compare);
    ChooseAccessPath(request);
    if (plannable) KeepPlan(request);
  }
  FillReport();
  DetachChosen();
  const bool found = scanIndex_ == -1 ? ScanSequential(request) : ScanIndex(request);
  for (THDBSearchExpression* e : detached_) e->ReattachAll();
  detached_.clear();
  if (request.CollectAll && bitmap) {
    bitmap->Valid = true;
    if (cursor_.DistinctFieldCount > 0 && cursor_.IndexID != -1 && bitmap->IndexNumbered)
      table.Indexes().ByObjectID(cursor_.IndexID).MarkDuplicates(cursor_.Session, *bitmap, cursor_.DistinctFieldCount);
  }
  return found;
}

bool THDBTableSearch::AnswerFromBitmap(const THDBSearchRequest& request) {
  THDBDiskTableData& table = *cursor_.Table();
  THDBRecordBitmap& bitmap = *request.Bitmap;
  std::int64_t bit;
  if (request.FromTheEnd || cursor_.AtBOF || cursor_.AtEOF) {
    bit = request.Forward ? bitmap.Bits.First() : bitmap.Bits.Last();
  } else {
    std::vector<std::uint8_t> current;
    std::int64_t at;
    if (ReadCurrent(current)) {
      at = CursorOrder(cursor_.Position, current.data());
    } else if (!bitmap.IndexNumbered) {
      at = table.RecordIDToOrdinal(cursor_.Position);
    } else {
      return false;
    }
    bit = request.Forward ? bitmap.Bits.Next(at) : bitmap.Bits.Prior(at);
  }
  if (bit == THDBBitsArray::None) return false;
  const RecordID id = bitmap.IndexNumbered
                          ? table.Indexes().ByObjectID(cursor_.IndexID).RecordAtRank(cursor_.Session, bit + 1)
                          : table.OrdinalToRecordID(bit);
  if (request.OutPosition) *request.OutPosition = id;
  return true;
}

bool THDBTableSearch::ScanSequential(const THDBSearchRequest& request) {
  THDBDiskTableData& table = *cursor_.Table();
  // A cursor of the scan's own: its buffer and position cache.
  THDBCursorState scan;
  scan.Session = cursor_.Session;
  scan.IndexID = cursor_.IndexID;
  std::vector<std::uint8_t> record(cursor_.FullSize, 0);
  scan.CurrentRecord = record.data();
  const bool fromEnd = request.FromTheEnd || cursor_.AtBOF || cursor_.AtEOF || request.CollectAll;
  if (fromEnd) {
    scan.AtBOF = request.Forward;
    scan.AtEOF = !request.Forward;
  } else {
    scan.AtBOF = scan.AtEOF = false;
    scan.Position = cursor_.Position;
    ReadCurrent(record);
  }
  const std::uint8_t mode = request.Forward ? gmNext : gmPrior;
  std::int64_t position = request.Forward ? -1 : table.RecordCount();
  for (;;) {
    const std::uint8_t result = table.GetRecord(scan, mode);
    if (result != grOK) return false;
    position += request.Forward ? 1 : -1;
    ++report_.RecordsRead;
    if (!Test(record.data(), scan.Position)) continue;
    if (request.CollectAll) {
      if (request.Bitmap)
        Mark(*request.Bitmap, request.Bitmap->IndexNumbered ? position : table.RecordIDToOrdinal(scan.Position));
      continue;
    }
    if (request.OutPosition) *request.OutPosition = scan.Position;
    return true;
  }
}

bool THDBTableSearch::ScanIndex(const THDBSearchRequest& request) {
  THDBDiskTableData& table = *cursor_.Table();
  THDBBTreeRecordIndex& index = table.Indexes().ByObjectID(scanIndex_);
  const bool ownIndex = scanIndex_ == cursor_.IndexID;
  const bool forward = request.Forward;
  const THDBKeyCondition start = AsKeyCondition(conditions_[startCondition_]);
  const THDBKeyCondition stop = AsKeyCondition(conditions_[stopCondition_]);
  const THDBKeyCondition* lower = forward ? &start : &stop;
  const THDBKeyCondition* upper = forward ? &stop : &start;
  bool needRecord = cursor_.OnFilterRecord != nullptr;
  for (int i = 0; i < conditions_.Count(); ++i)
    if (i != startCondition_ && i != stopCondition_ &&
        (!conditions_[i].Expression || conditions_[i].Expression->NeedsTest()))
      needRecord = true;
  const bool fromEnd = request.FromTheEnd || cursor_.AtBOF || cursor_.AtEOF || request.CollectAll;

  std::vector<std::uint8_t> record(cursor_.DataSize, 0);
  std::vector<std::uint8_t> current;
  const bool haveCurrent = !fromEnd && ReadCurrent(current);
  auto state = index.NewScanState();
  bool first = true;
  // A forward scan from the bound the estimate of this search already found starts on
  // its entry.
  if (forward && fromEnd && estimatedStart_.Valid) {
    const THDBScanSearchCondition& s = conditions_[startCondition_];
    const THDBScanSearchCondition& e = estimatedStart_.Bound;
    if (e.IndexNo == scanIndex_ && e.Type == s.Type && e.KeyFieldCount == s.KeyFieldCount && e.Partial == s.Partial &&
        e.KeyBuffer == s.KeyBuffer) {
      state->Path.Assign(estimatedStart_.Path);
      state->Positioned = true;
    }
  }
  std::int64_t positionInIndex = -1;
  // On its own index the scan goes on from the current record unless that lies before
  // the start of the range.
  if (ownIndex && haveCurrent) {
    const THDBScanSearchCondition& s = conditions_[startCondition_];
    const bool beforeStart = !Holds(s.Type, index.CompareRecordKeys(current.data(), s.KeyBuffer.data(), s.KeyFieldCount)) &&
                             (forward ? Direction(s.Type) <= 0 : Direction(s.Type) >= 0);
    if (!beforeStart) {
      // The cursor's last step through this index left its path: no search for the key.
      // Otherwise the record is there, so its entry must be: an index without it is
      // damaged, and starting over from the range's start would bring the walk back here
      // for ever.
      THDBIndexPositionCache& cache = cursor_.PositionCache;
      if (cache.Holds(scanIndex_, cursor_.Position, table.ChangeCount())) {
        state->Path.Assign(cache.Path);
        state->AtEnd = false;
      } else if (!index.ScanFrom(cursor_.Session, *state, cursor_.Position, current.data())) {
        RaiseHDB(Errors::IndexIntegrity, cursor_.Position.PageNo, cursor_.Position.SlotNo);
      }
      first = false;
    }
  }
  // From the end in another order every match is met: they can fill the cursor's bitmap.
  THDBRecordBitmap* fill = nullptr;
  if (request.FillBitmap && !request.CollectAll && !ownIndex && fromEnd && cursor_.DistinctFieldCount == 0) {
    fill = request.FillBitmap;
    fill->Reset(table.ChangeCount(), cursor_.IndexID != -1, table.RecordIDLimit(cursor_.Session));
  }
  // The best match so far when the cursor walks in another order.
  bool haveBest = false;
  RecordID best;
  std::int64_t bestOrder = 0;
  const std::int64_t currentOrder = haveCurrent && !ownIndex ? CursorOrder(cursor_.Position, current.data()) : 0;
  RecordID id;
  for (;;) {
    if (!index.ScanNext(cursor_.Session, first, *state, id, needRecord ? record.data() : nullptr, lower, upper,
                        forward))
      break;
    if (first && ownIndex && request.CollectAll) positionInIndex = index.ScanPosition(cursor_.Session, *state);
    else if (ownIndex && positionInIndex >= 0) positionInIndex += forward ? 1 : -1;
    first = false;
    if (needRecord) ++report_.RecordsRead;
    if (needRecord && !Test(record.data(), id)) continue;
    if (request.CollectAll) {
      if (request.Bitmap) {
        std::int64_t bit;
        if (!request.Bitmap->IndexNumbered) {
          bit = table.RecordIDToOrdinal(id);
        } else if (ownIndex) {
          bit = positionInIndex;
        } else {
          if (!needRecord) table.ReadIndexedRecord(cursor_.Session, id, record.data());
          bit = CursorOrder(id, record.data());
        }
        Mark(*request.Bitmap, bit);
      }
      continue;
    }
    if (ownIndex) {
      if (request.OutPosition) *request.OutPosition = id;
      // Where the cursor goes: its next filtered step starts from this path.
      cursor_.PositionCache.Store(scanIndex_, id, table.ChangeCount(), state->Path);
      return true;
    }
    // Another order: the match nearest after (forward) or before the cursor's position.
    // Storage order needs only the RecordID; an index order needs the record's key.
    if (!needRecord && cursor_.IndexID != -1) table.ReadIndexedRecord(cursor_.Session, id, record.data());
    const std::int64_t order = CursorOrder(id, record.data());
    if (fill) Mark(*fill, order);
    if (haveCurrent && (forward ? order <= currentOrder : order >= currentOrder)) continue;
    if (!haveBest || (forward ? order < bestOrder : order > bestOrder)) {
      haveBest = true;
      best = id;
      bestOrder = order;
      // Equal keys of a one-column "=" stand in RecordID order: in storage order the
      // first one found is the answer.
      const THDBScanSearchCondition& s = conditions_[startCondition_];
      if (cursor_.IndexID == -1 && s.Type == ctEqual && index.KeyRef().ColumnCount() == 1 && (forward || fromEnd)) {
        fill = nullptr;
        break;
      }
    }
  }
  // The whole range was walked: the bitmap holds every match.
  if (fill) fill->Valid = true;
  if (!haveBest) return false;
  if (request.OutPosition) *request.OutPosition = best;
  return true;
}

}  // namespace hdb

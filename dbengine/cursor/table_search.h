// THDBTableSearch, the one search routine behind every filtered step of a cursor (next
// and prior with a filter or range, record count, record number, locate, key search):
// it gathers what the record must satisfy into scan conditions, turns what an index
// can answer into key ranges and intersects them, chooses one index range or a
// sequential scan by its page cost, scans, tests the rest record by record, and either
// returns the first record in the cursor's order after (or before) its position or
// marks every match in the cursor's record bitmap. A valid bitmap answers at once.
//
// Made for one call on the cursor that asks, under the database object's lock; it
// owns its conditions, scan buffers and position cache, and keeps its range estimates
// in the cursor's memo.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/cursor/scan_condition.h"
#include "dbengine/storage/record_id.h"
#include "dbengine/tables/key_path.h"
#include "dbengine/tables/index_position_cache.h"

namespace hdb {

class THDBLocalCursor;
class THDBRecordBitmap;
class THDBSearchExpression;
class THDBBTreeRecordIndex;

struct THDBSearchRequest {
  THDBSearchExpression* Extra = nullptr;
  bool CollectAll = false;
  THDBRecordBitmap* Bitmap = nullptr;
  RecordID* OutPosition = nullptr;
  bool Forward = true;
  bool FromTheEnd = false;
  const THDBScanSearchCondition* KeyCondition = nullptr;
  // A first-record search from the end may mark its matches here when its scan meets
  // every match anyway (a range walked in another order than the cursor's): the bitmap
  // is then valid, and the count or record number that follows needs no search.
  THDBRecordBitmap* FillBitmap = nullptr;
};

// What the last search did, for diagnostics (hdbtool dump --explain).
struct THDBSearchReport {
  ObjectID IndexNo = -1;  // the index whose range was scanned, -1 for a sequential scan
  std::uint8_t StartType = 0, StopType = 0;
  // The keys of the range's two ends (record layout) over their key field counts.
  std::vector<std::uint8_t> StartKey, StopKey;
  std::int32_t StartKeyFieldCount = 0, StopKeyFieldCount = 0;
  std::int64_t RecordsRead = 0;
};

// The range sizes the last searches of a cursor estimated, by index, bounds and the
// table's change count: a filter's searches one after the other (its first record, its
// count, each step) ask the same ranges, and an estimate costs two descents of the
// tree. A stale estimate can only choose a slower path, never a wrong answer.
struct THDBSearchEstimates {
  struct Side {
    std::uint8_t Type = 0;
    std::int32_t KeyFieldCount = 0;
    bool Partial = false;
    std::vector<std::uint8_t> Key;
  };
  struct Entry {
    bool Valid = false;
    ObjectID IndexNo = -1;
    std::int32_t ChangeCount = 0;
    std::int64_t RecordCount = 0;
    Side A, B;
    std::int64_t Count = 0;
    bool Matches(ObjectID indexNo, std::int32_t changeCount, std::int64_t recordCount,
                 const THDBScanSearchCondition& a, const THDBScanSearchCondition& b) const;
  };
  static constexpr int Size = 4;
  Entry Entries[Size];
  int Next = 0;
};

// The conditions and the access path a cursor's last filtered search chose, kept for
// the searches that follow: each filtered step of a walk would gather, intersect and
// choose them again. A kept plan serves while the filter (by its generation), the
// cursor's range and index, the table's indexes, change count and record count and the
// direction are what they were when it was made; otherwise the search makes a new one.
// The searches of a locate or a key search neither use nor keep it. Owned by the
// cursor, used under the database object's lock.
struct THDBSearchPlan {
  struct Bound {
    bool Present = false;
    bool Exclusive = false;
    std::int32_t KeyFieldCount = 0;
    std::vector<std::uint8_t> Key;
  };
  bool Valid = false;
  // Set while a search works on Conditions; a search nested in it (a record callback
  // that moves the cursor) keeps conditions of its own.
  bool InUse = false;
  std::uint64_t FilterGeneration = 0;
  ObjectID IndexID = -1;
  std::vector<ObjectID> TableIndexes;
  std::int32_t ChangeCount = 0;
  std::int64_t RecordCount = 0;
  bool Forward = true;
  Bound RangeStart, RangeEnd;
  THDBScanSearchConditionArray Conditions;
  ObjectID ScanIndex = -1;
  int StartCondition = -1, StopCondition = -1;
};

class THDBTableSearch {
 public:
  explicit THDBTableSearch(THDBLocalCursor& cursor);
  ~THDBTableSearch();

  bool Run(const THDBSearchRequest& request);
  const THDBSearchReport& Report() const { return report_; }

 private:
  struct Scan;
  void BuildConditions(const THDBSearchRequest& request);
  bool ChooseAccessPath(const THDBSearchRequest& request);
  // The kept plan against the cursor and the table as they are now.
  bool PlanFits(const THDBSearchRequest& request) const;
  void KeepPlan(const THDBSearchRequest& request);
  // The scan's bounds need no per-record test; nor do the comparisons behind them,
  // which the expressions leave out until the search is done.
  void DetachChosen();
  void FillReport();
  bool AnswerFromBitmap(const THDBSearchRequest& request);
  bool ScanSequential(const THDBSearchRequest& request);
  bool ScanIndex(const THDBSearchRequest& request);
  // Whether the record passes every condition the scan does not answer.
  bool Test(const std::uint8_t* record, RecordID id);
  bool KeyConditionHolds(const THDBScanSearchCondition& c, const std::uint8_t* record);
  int CompareConditions(const THDBScanSearchCondition& a, const THDBScanSearchCondition& b, std::int32_t n);
  // The 0-based position of a record in the cursor's index, or its storage ordinal.
  std::int64_t CursorOrder(RecordID id, const std::uint8_t* record);
  void Mark(THDBRecordBitmap& bitmap, std::int64_t bit);
  bool ReadCurrent(std::vector<std::uint8_t>& record);
  // The index's estimate of the range between two bounds, from the cursor's memo when
  // it holds one for the table as it is.
  std::int64_t Estimate(THDBBTreeRecordIndex& index, const THDBScanSearchCondition& a,
                        const THDBScanSearchCondition& b, std::int64_t recordCount);

  THDBLocalCursor& cursor_;
  THDBScanSearchConditionArray own_;
  // Whether the search works on the cursor's plan (else on own_).
  bool usesPlan_;
  THDBScanSearchConditionArray& conditions_;
  // The chosen range: its index (-1: sequential) and the two bound conditions.
  ObjectID scanIndex_ = -1;
  int startCondition_ = -1, stopCondition_ = -1;
  THDBSearchReport report_;
  std::vector<THDBSearchExpression*> detached_;
  // Where the last estimate of this search found its lower bound, and that bound: a
  // forward scan from the same bound starts there (same search, same lock, same table).
  struct FoundBound {
    bool Valid = false;
    THDBScanSearchCondition Bound;
    THDBKeyPath Path;
  };
  FoundBound estimatedStart_;
};


}  // namespace hdb

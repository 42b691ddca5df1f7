// The requests a record index takes from its callers: the record a cursor writes
// (THDBIndexRecord), a key condition of a search or scan (THDBKeyCondition), the bits
// of a record bitmap as an index sees them (THDBPositionBits) and the state of one
// range scan (THDBIndexScanState). Plain values owned by the caller; the buffers they
// point at must live while the index works with them.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/storage/record_id.h"
#include "dbengine/tables/engine_ids.h"
#include "dbengine/tables/key_path.h"

namespace hdb {

// ConditionType: the key of an entry compared with the search key.
enum THDBConditionType : std::uint8_t {
  ctNone = 0,
  ctEqual = 1,
  ctLess = 2,
  ctGreater = 3,
  ctLessOrEqual = 4,
  ctGreaterOrEqual = 5,
};

// The record a cursor inserts, deletes or changes: its RecordID, its current record
// buffer and, for a change, the record as it was stored before (memory form).
struct THDBIndexRecord {
  SessionID Session = 0;
  RecordID ID;
  const std::uint8_t* Record = nullptr;
  const std::uint8_t* OldRecord = nullptr;
};

// A key condition: the key values sit in a record-layout buffer at their fields'
// places; KeyFieldCount leading index columns take part; Partial compares strings
// only as far as the key's own text goes.
struct THDBKeyCondition {
  std::uint8_t Type = ctNone;
  const std::uint8_t* KeyRecord = nullptr;
  std::int32_t KeyFieldCount = 0;
  bool Partial = false;
};

// The bits of a record bitmap numbered by position in an index (0 = first entry).
class THDBPositionBits {
 public:
  virtual ~THDBPositionBits() = default;
  virtual bool TestBit(std::int64_t position) const = 0;
  virtual void ClearBit(std::int64_t position) = 0;
};

// Where one range scan stands; made by NewScanState.
struct THDBIndexScanState {
  THDBKeyPath Path;
  std::vector<std::uint8_t> Key;  // scratch key buffer of the scan
  bool AtEnd = false;
  // Set when Path already stands on the first entry of the start bound (found by the
  // range estimate of the same search): the first step takes it without a descent.
  bool Positioned = false;
};

// CapacityEstimate: entries of a node page and the bytes left over.
struct THDBIndexCapacity {
  std::int32_t Entries = 0;
  std::int32_t Remainder = 0;
};

}  // namespace hdb

// THDBRecordBitmap, the records of a table that pass a cursor's filter, one bit each:
// numbered by storage ordinal (RecordIDToOrdinal) or, when the cursor walks an index,
// by position in that index. Valid once a complete search has filled it; stale once the
// table's change stamp moved on from the one it was built at.
//
// Owned by its cursor; used under the database object's lock.
#pragma once

#include <cstdint>

#include "dbengine/cursor/bits_array.h"
#include "dbengine/tables/index_requests.h"

namespace hdb {

class THDBRecordBitmap final : public THDBPositionBits {
 public:
  THDBBitsArray Bits;
  bool Valid = false;
  bool IndexNumbered = false;
  std::int32_t ChangeStamp = -1;

  // Cleared, invalid, sized for `bits` and stamped.
  void Reset(std::int32_t changeStamp, bool indexNumbered, std::int64_t bits);
  void Invalidate() {
    Valid = false;
    ChangeStamp = -1;
  }
  bool IsStale(std::int32_t changeStamp) const { return ChangeStamp != changeStamp; }

  bool TestBit(std::int64_t position) const override { return position < Bits.Size() && Bits.Get(position); }
  void ClearBit(std::int64_t position) override {
    if (position < Bits.Size()) Bits.Set(position, false);
  }
};

}  // namespace hdb

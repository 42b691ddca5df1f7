// THDBCursorState, the part of a table cursor that the table data object reads and
// writes: the session it works for, the record buffers of the current call, the
// position and its two end flags, the index it walks, its position cache and its
// options. The cursor of the cursor layer derives from it and adds its own operations,
// its filter and its record bitmap, which it keeps in step through the hooks below.
//
// Owned by its cursor; used under the database object's lock.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/storage/record_id.h"
#include "dbengine/tables/engine_ids.h"
#include "dbengine/tables/index_position_cache.h"

namespace hdb {

class THDBCursorState {
 public:
  virtual ~THDBCursorState() = default;

  SessionID Session = 0;
  std::string TableName;
  bool Exclusive = false;
  bool ReadOnly = false;
  // The second option byte asks the table to repair its page index when it opens.
  std::uint8_t Options[2] = {0, 0};
  bool BatchUpdate = false;

  // The caller's buffers for the current call (not owned): the record, and for an
  // update the record as it was when editing began.
  std::uint8_t* CurrentRecord = nullptr;
  const std::uint8_t* OldRecord = nullptr;

  // The index the cursor walks (its ObjectID), -1 for natural order.
  ObjectID IndexID = -1;
  RecordID Position;
  bool AtBOF = true;
  bool AtEOF = false;
  THDBIndexPositionCache PositionCache;

  // Set while the cursor holds its open lock on the table.
  bool HoldsTableLock = false;

  // Whether the cursor's session is inside a transaction (changes are then committed
  // by the transaction, not by each write).
  virtual bool InTransaction() const { return false; }
  // The cursor's record bitmap follows the cursor's own writes.
  virtual void RecordInserted(RecordID) {}
  virtual void RecordUpdated(RecordID) {}
  virtual void RecordDeleted(RecordID, std::int32_t changeCountBefore, std::int32_t changeCountAfter) {}
};

}  // namespace hdb

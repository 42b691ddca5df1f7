// THDBIndexedTable, what an index needs of the table it belongs to: the page manager
// its pages live in, the field layout its keys are cut from, and the records
// themselves, read by RecordID (for whole values of truncated key columns and for the
// records an index step lands on) or walked in natural order (to fill a new index).
// The table data object implements it; an index only holds a reference.
#pragma once

#include <cstdint>
#include <functional>

#include "dbengine/storage/record_id.h"
#include "dbengine/tables/engine_ids.h"

namespace hdb {

class THDBPageManager;
class THDBBaseFieldManager;

class THDBIndexedTable {
 public:
  virtual ~THDBIndexedTable() = default;
  virtual THDBPageManager& IndexPageManager() = 0;
  virtual const THDBBaseFieldManager& IndexFieldManager() const = 0;
  // The record at id, in memory form, into a buffer of MemoryRecordSize bytes; false
  // when the slot holds no record of this table.
  virtual bool ReadIndexedRecord(SessionID session, RecordID id, std::uint8_t* memoryRecord) = 0;
  // Every record in natural order, in memory form.
  virtual void ForEachIndexedRecord(SessionID session,
                                    const std::function<void(RecordID, const std::uint8_t*)>& visit) = 0;
};

}  // namespace hdb

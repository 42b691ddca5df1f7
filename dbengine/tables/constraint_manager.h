// THDBBaseConstraintManager, the check of a record against the constraints of its
// table before it is stored: NOT NULL, the bounds of CHECK constraints, and the keys of
// UNIQUE and PRIMARY KEY constraints through the index that enforces each. The record
// is checked in memory form and never changed.
//
// Owned by the table data object, whose constraint definitions and indexes it uses;
// guarded by the database object's lock.
#pragma once

#include <cstdint>

#include "dbengine/storage/record_id.h"
#include "dbengine/tables/engine_ids.h"

namespace hdb {

class THDBConstraintDefs;
class THDBBaseFieldManager;
class THDBBaseIndexManager;

class THDBBaseConstraintManager {
 public:
  THDBBaseConstraintManager(const THDBBaseFieldManager& fields, THDBBaseIndexManager& indexes)
      : fields_(fields), indexes_(indexes) {}

  THDBConstraintDefs* Definitions = nullptr;

  // Constraint by constraint in list order, stopping at the first violation: with
  // `raise` it raises the constraint's message, without it answers false. Uniqueness
  // is tested only when asked, and only when the table holds a record.
  bool CheckConstraints(SessionID session, const std::uint8_t* record, bool checkUniqueness, bool raise,
                        RecordID id, bool isInsert, const std::uint8_t* oldRecord, std::int64_t recordCount);

 private:
  const THDBBaseFieldManager& fields_;
  THDBBaseIndexManager& indexes_;
};

}  // namespace hdb

// THDBSearchExpression, what the index-assisted search needs of an expression it tests
// records against (a cursor's filter, a locate condition): whether a record passes,
// and the comparisons an index of the table could answer instead, which the search
// takes out of the per-record test while it scans that index's key range.
//
// Implemented over the filter language's expressions; owned by whoever made it.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/cursor/scan_condition.h"

namespace hdb {

class THDBIndexDefs;
class THDBFieldDefs;

class THDBSearchExpression {
 public:
  virtual ~THDBSearchExpression() = default;
  // Whether the memory-form record passes; a NULL result counts as not passing.
  virtual bool Passes(const std::uint8_t* record) = 0;
  // Appends the key conditions the expression's comparisons give on the table's
  // indexes (FromExpression set, SourceNodes naming the comparisons), each key written
  // into a record-layout buffer of keySize bytes.
  virtual void ExtractConditions(const THDBIndexDefs& indexes, const THDBFieldDefs& fields, std::int32_t session,
                                 std::size_t keySize, std::vector<THDBScanSearchCondition>& out) {}
  // Takes the comparisons of a chosen condition out of the test, and puts every one
  // taken out back.
  virtual void Detach(const THDBScanSearchCondition& condition) {}
  virtual void ReattachAll() {}
  // False while every comparison of the expression is detached: the index range alone
  // answers it, and the scan need not read the record for it.
  virtual bool NeedsTest() const { return true; }
};

}  // namespace hdb

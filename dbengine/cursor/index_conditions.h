// The comparisons of an expression tree that an index of the table can answer: each
// comparison of a field of the cursor (or UPPER / LOWER of one) with a constant, and
// each IS [NOT] NULL of a field, found by walking AND nodes from the root, becomes a
// key condition on the first column of every index it can drive, and a condition on a
// longer index is extended column by column with further equalities of the same AND
// chain.
//
// A comparison drives an index column only where the key range selects exactly the
// records the comparison itself would pass: the field's order must be the order the
// comparison uses (strings of one kind, numbers, or the field's own type), the constant
// must convert into the field's type without change, and a string constant must be
// shorter than the field's slot and compared under the column's case rule.
//
// Pure functions over the tree; the caller's lock guards the definitions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dbengine/cursor/scan_condition.h"

namespace hdb {

class THDBExprNode;
class THDBLocalCursor;
class THDBIndexDefs;
class THDBFieldDefs;

// The comparison and IS [NOT] NULL nodes reached from the root through AND nodes only.
void CandidateNodes(THDBExprNode& root, std::vector<THDBExprNode*>& out);

// Appends the key conditions (FromExpression set, SourceNodes the nodes they stand for;
// keys of keySize bytes in the cursor's record layout).
void ExtractIndexConditions(THDBExprNode& root, const THDBLocalCursor* cursor, const THDBIndexDefs& indexes,
                            const THDBFieldDefs& fields, std::int32_t session, std::size_t keySize,
                            std::vector<THDBScanSearchCondition>& out);

}  // namespace hdb

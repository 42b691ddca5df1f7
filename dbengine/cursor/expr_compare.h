// The comparison of two expression values: the engine's value order (value_compare.h)
// with its NULL cases kept apart (left NULL, right NULL, both NULL), a partial length
// that cuts both texts to the first n characters, and the rule that turns an outcome
// into the truth of one of the six comparison operators, null-aware or not.
//
// Stateless; thread-safe. Texts of one kind compare without allocating.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dbengine/cursor/expr_nodes.h"

namespace hdb {

// Two narrow texts of exactly la and lb characters through the engine's collation;
// partialLength >= 0 cuts both to that many characters first.
int CompareNarrowTexts(const char* a, std::size_t la, const char* b, std::size_t lb, bool caseInsensitive,
                       std::int32_t partialLength);

// Raises "Cannot compare Incompatible DataTypes" for types without a common type.
THDBCompareOutcome CompareExprValues(const THDBExprValue& a, const THDBExprValue& b, bool caseInsensitive,
                                     std::int32_t partialLength);

// Whether the outcome makes the comparison operator (opEqual .. opLessOrEqual) true.
// Null-aware: every NULL outcome is false. Otherwise NULL sorts before every value and
// equals NULL.
bool OutcomeSatisfies(std::uint8_t op, THDBCompareOutcome outcome, bool nullAware);

}  // namespace hdb

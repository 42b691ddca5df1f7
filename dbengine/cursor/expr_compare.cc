#include "dbengine/cursor/expr_compare.h"

#include <algorithm>

#include "dbengine/platform/collation.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/value_compare.h"

namespace hdb {

int CompareNarrowTexts(const char* a, std::size_t la, const char* b, std::size_t lb, bool caseInsensitive,
                       std::int32_t partialLength) {
  if (partialLength >= 0) {
    la = std::min(la, static_cast<std::size_t>(partialLength));
    lb = std::min(lb, static_cast<std::size_t>(partialLength));
  }
  int status = 0;
  const int r = platform::CollateAnsi(a, la, b, lb, caseInsensitive, &status);
  if (r == platform::CollationFailed) RaiseHDB(Errors::UnknownCollationResult, status);
  return r;
}

THDBCompareOutcome CompareExprValues(const THDBExprValue& a, const THDBExprValue& b, bool caseInsensitive,
                                     std::int32_t partialLength) {
  if (a.IsNull() || b.IsNull()) {
    if (a.IsNull() && b.IsNull()) return THDBCompareOutcome::BothNull;
    return a.IsNull() ? THDBCompareOutcome::LeftNull : THDBCompareOutcome::RightNull;
  }
  int r;
  if (a.IsNarrowText() && b.IsNarrowText()) {
    r = CompareNarrowTexts(static_cast<const char*>(a.Data()), a.Length(), static_cast<const char*>(b.Data()),
                           b.Length(), caseInsensitive, partialLength);
  } else {
    // Texts here are zero-terminated, so the engine's comparison finds their ends.
    r = CompareValues(a.Data(), b.Data(), a.Type(), b.Type(), false, false, partialLength, caseInsensitive);
  }
  return r < 0 ? THDBCompareOutcome::Less : (r > 0 ? THDBCompareOutcome::Greater : THDBCompareOutcome::Equal);
}

bool OutcomeSatisfies(std::uint8_t op, THDBCompareOutcome outcome, bool nullAware) {
  switch (outcome) {
    case THDBCompareOutcome::LeftNull:
      if (nullAware) return false;
      outcome = THDBCompareOutcome::Less;
      break;
    case THDBCompareOutcome::RightNull:
      if (nullAware) return false;
      outcome = THDBCompareOutcome::Greater;
      break;
    case THDBCompareOutcome::BothNull:
      if (nullAware) return false;
      outcome = THDBCompareOutcome::Equal;
      break;
    default:
      break;
  }
  switch (op) {
    case opEqual: return outcome == THDBCompareOutcome::Equal;
    case opNotEqual: return outcome != THDBCompareOutcome::Equal;
    case opGreater: return outcome == THDBCompareOutcome::Greater;
    case opLess: return outcome == THDBCompareOutcome::Less;
    case opGreaterOrEqual: return outcome != THDBCompareOutcome::Less;
    case opLessOrEqual: return outcome != THDBCompareOutcome::Greater;
    default: RaiseHDB(Errors::UnknownOperator, OperatorText(op));
  }
}

}  // namespace hdb

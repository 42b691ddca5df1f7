#include "dbengine/cursor/scan_condition.h"

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace {

// Rows: P's type, columns: Q's type (1 =, 2 <, 3 >, 4 <=, 5 >=); each cell three outcomes
// for rc < 0, rc = 0, rc > 0. P Q F(ewer) M(ore) B(oth) =(equal) E(mpty); the rest
// depend on the key field counts:
// a: P if nP >= nQ, else both     b: empty if nP <= nQ, else both
// c: Q if nQ >= nP, else both     d: empty if nQ <= nP, else both
// e: "=" if nP = nQ, else both
constexpr const char* Cells[5][5] = {
    {"EME", "PEE", "EEP", "PaE", "EaP"},
    {"EEQ", "PFQ", "EEB", "PPQ", "EbB"},
    {"QEE", "BEE", "QFP", "BbE", "QPP"},
    {"EcQ", "PBQ", "EdB", "PMQ", "EeB"},
    {"QcE", "BdE", "QQP", "BeE", "QMP"},
};

}  // namespace

THDBIntersection Intersect(std::uint8_t p, std::uint8_t q, int rc, std::int32_t nP, std::int32_t nQ) {
  if (p < 1 || p > 5 || q < 1 || q > 5) return THDBIntersection::Both;
  char cell = Cells[p - 1][q - 1][rc < 0 ? 0 : (rc == 0 ? 1 : 2)];
  switch (cell) {
    case 'a': cell = nP >= nQ ? 'P' : 'B'; break;
    case 'b': cell = nP <= nQ ? 'E' : 'B'; break;
    case 'c': cell = nQ >= nP ? 'Q' : 'B'; break;
    case 'd': cell = nQ <= nP ? 'E' : 'B'; break;
    case 'e': cell = nP == nQ ? '=' : 'B'; break;
    default: break;
  }
  switch (cell) {
    case 'P': return THDBIntersection::P;
    case 'Q': return THDBIntersection::Q;
    case 'F': return THDBIntersection::Fewer;
    case 'M': return THDBIntersection::More;
    case '=': return THDBIntersection::Equal;
    case 'E': return THDBIntersection::Empty;
    default: return THDBIntersection::Both;
  }
}

void THDBScanSearchConditionArray::AppendExpression(THDBSearchExpression* expression) {
  THDBScanSearchCondition c;
  c.Expression = expression;
  items_.push_back(std::move(c));
}

void THDBScanSearchConditionArray::AppendCopy(const THDBScanSearchCondition& condition) {
  if (!condition.Expression && condition.IndexNo == -1)
    RaiseHDB(Errors::InvalidScanCondition, condition.IndexNo, Count());
  items_.push_back(condition);
}

void THDBScanSearchConditionArray::Append(THDBScanSearchCondition&& condition) {
  if (!condition.Expression && condition.IndexNo == -1)
    RaiseHDB(Errors::InvalidScanCondition, condition.IndexNo, Count());
  items_.push_back(std::move(condition));
}

void THDBScanSearchConditionArray::DeleteAt(int i) {
  if (i < 0 || i >= Count()) RaiseHDB(Errors::InvalidScanItem, i, Count());
  items_.erase(items_.begin() + i);
}

}  // namespace hdb

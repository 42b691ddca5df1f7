#include "dbengine/cursor/index_conditions.h"

#include <algorithm>
#include <cstring>

#include "dbengine/cursor/expr_nodes.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "dbengine/tables/index_requests.h"
#include "dbengine/tables/null_bitmap.h"
#include "dbengine/tables/value_compare.h"

namespace hdb {

namespace {

bool IsNarrow(std::uint8_t t) { return t == btFixedChar || t == btString; }
bool IsWide(std::uint8_t t) { return t == btFixedWideChar || t == btWideString; }

// One candidate as it reads with the field on the left.
struct Candidate {
  THDBExprNode* Node = nullptr;
  const THDBExprNodeField* Field = nullptr;
  const THDBExprNode* Constant = nullptr;  // nullptr: IS [NOT] NULL
  std::uint8_t Op = 0;                     // opEqual .. opLessOrEqual, opIsNull, opIsNotNull
  bool FieldLeft = true;
  bool CaseInsensitive = false;
  std::uint8_t CaseFunction = 0;  // opUpper, opLower or 0
  bool NullAware = false;
};

const THDBExprNodeField* FieldOf(const THDBExprNode& n, const THDBLocalCursor* cursor, std::uint8_t& caseFunction) {
  caseFunction = 0;
  const THDBExprNode* f = &n;
  if (n.Kind() == THDBExprNodeKind::StringFunction && (n.Operator == opUpper || n.Operator == opLower) &&
      n.ChildCount() == 1) {
    caseFunction = n.Operator;
    f = &n.Child(0);
  }
  if (f->Kind() != THDBExprNodeKind::Field) return nullptr;
  const auto* field = static_cast<const THDBExprNodeField*>(f);
  if (field->OuterCursor || field->Cursor != cursor) return nullptr;
  return field;
}

std::uint8_t TurnAround(std::uint8_t op) {
  switch (op) {
    case opLess: return opGreater;
    case opGreater: return opLess;
    case opLessOrEqual: return opGreaterOrEqual;
    case opGreaterOrEqual: return opLessOrEqual;
    default: return op;
  }
}

bool Describe(THDBExprNode& n, const THDBLocalCursor* cursor, Candidate& c) {
  c = Candidate{};
  c.Node = &n;
  if (n.Kind() == THDBExprNodeKind::Boolean && (n.Operator == opIsNull || n.Operator == opIsNotNull)) {
    std::uint8_t fn;
    c.Field = FieldOf(n.Child(0), cursor, fn);
    c.Op = n.Operator;
    return c.Field && fn == 0;
  }
  if (n.Kind() != THDBExprNodeKind::Comparison || n.ChildCount() != 2) return false;
  const auto& cmp = static_cast<const THDBExprNodeComparison&>(n);
  if (cmp.Quantifier != 0 || cmp.PartialCompare || n.Operator == opNotEqual) return false;
  if (n.Operator < opEqual || n.Operator > opLessOrEqual) return false;
  std::uint8_t fn = 0;
  if ((c.Field = FieldOf(n.Child(0), cursor, fn)) && n.Child(1).Kind() == THDBExprNodeKind::Const) {
    c.Constant = &n.Child(1);
    c.Op = n.Operator;
  } else if ((c.Field = FieldOf(n.Child(1), cursor, fn)) && n.Child(0).Kind() == THDBExprNodeKind::Const) {
    c.Constant = &n.Child(0);
    c.Op = TurnAround(n.Operator);
    c.FieldLeft = false;
  } else {
    return false;
  }
  c.CaseFunction = fn;
  c.CaseInsensitive = n.CaseInsensitive || fn != 0;
  c.NullAware = cmp.NullAwareCompare;
  if (c.Constant->Value.IsNull()) {
    // Not null-aware, "=" against NULL finds the NULL fields: IS NULL.
    if (c.Op != opEqual || cmp.NullAwareCompare || fn != 0) return false;
    c.Constant = nullptr;
    c.Op = opIsNull;
  }
  return true;
}

std::uint8_t ConditionTypeOf(std::uint8_t op, bool descending) {
  switch (op) {
    case opEqual:
    case opIsNull: return ctEqual;
    case opGreater:
    case opIsNotNull: return descending ? ctLess : ctGreater;
    case opLess: return descending ? ctGreater : ctLess;
    case opGreaterOrEqual: return descending ? ctLessOrEqual : ctGreaterOrEqual;
    default: return descending ? ctGreaterOrEqual : ctLessOrEqual;
  }
}

// Whether the candidate can drive column k of the index; when it can, its value goes
// into the key buffer.
bool Drives(const Candidate& c, const THDBIndexDef& def, int k, const THDBFieldDefs& fields, std::int32_t session,
            std::vector<std::uint8_t>& key) {
  if (k >= def.ColumnCount()) return false;
  const THDBIndexColumn& column = def.Columns[static_cast<std::size_t>(k)];
  if (!platform::AnsiSameText(column.Name, c.Field->FieldName)) return false;
  if (k == 0 && def.IsTemporary && def.SessionID != session) return false;
  if (c.Field->FieldNo < 0 || c.Field->FieldNo >= fields.Count()) return false;
  const THDBFieldDef& f = fields[c.Field->FieldNo];
  if (IsBlobBaseType(f.BaseType)) return false;
  const bool text = IsStringBaseType(f.BaseType);
  if (c.CaseFunction != 0 && !text) return false;
  if (!c.Constant) {
    NullBitmap::SetNull(key.data(), c.Field->FieldNo);
    return true;
  }
  if (text && column.CaseInsensitive != c.CaseInsensitive) return false;
  const THDBExprValue& v = c.Constant->Value;
  if (c.CaseFunction != 0) {
    if (!v.IsNarrowText()) return false;
    const std::string cased =
        c.CaseFunction == opUpper ? platform::AnsiUpperCase(v.Text()) : platform::AnsiLowerCase(v.Text());
    if (cased != v.Text()) return false;
  }
  // The comparison must order values as the index does.
  const std::uint8_t common = c.FieldLeft ? CommonType(f.BaseType, v.Type()) : CommonType(v.Type(), f.BaseType);
  const bool sameOrder = (IsNarrow(f.BaseType) && (v.Type() == btFixedChar || v.Type() == btString)) ||
                         (IsWide(f.BaseType) && v.IsText() && !v.IsNarrowText()) ||
                         (IsWide(f.BaseType) && v.IsNarrowText() && IsWide(common)) ||
                         (IsNumericBaseType(f.BaseType) && IsNumericBaseType(v.Type())) || common == f.BaseType;
  if (!sameOrder) return false;
  try {
    THDBValueBuffer converted;
    ConvertValue(v.Data(), v.Type(), f.BaseType, converted);
    // A constant the field's type cannot hold as it is (5.5 in an integer field, a
    // number beyond its range) would move the bound.
    if (CompareValues(converted.Data(), v.Data(), f.BaseType, v.Type(), false, false, -1, false) != 0) return false;
    if (text && converted.Size() > static_cast<std::size_t>(f.MemoryDataSize)) return false;
    std::memcpy(key.data() + f.MemoryOffset, converted.Data(),
                std::min(converted.Size(), static_cast<std::size_t>(f.MemoryDataSize)));
  } catch (const EHDBException&) {
    return false;
  }
  NullBitmap::ClearNull(key.data(), c.Field->FieldNo);
  return true;
}

}  // namespace

void CandidateNodes(THDBExprNode& root, std::vector<THDBExprNode*>& out) {
  if (root.Kind() == THDBExprNodeKind::Boolean && root.Operator == opAnd) {
    for (auto& c : root.Children) CandidateNodes(*c, out);
    return;
  }
  if (root.Kind() == THDBExprNodeKind::Comparison ||
      (root.Kind() == THDBExprNodeKind::Boolean && (root.Operator == opIsNull || root.Operator == opIsNotNull)))
    out.push_back(&root);
}

void ExtractIndexConditions(THDBExprNode& root, const THDBLocalCursor* cursor, const THDBIndexDefs& indexes,
                            const THDBFieldDefs& fields, std::int32_t session, std::size_t keySize,
                            std::vector<THDBScanSearchCondition>& out) {
  std::vector<THDBExprNode*> nodes;
  CandidateNodes(root, nodes);
  std::vector<Candidate> candidates;
  for (THDBExprNode* n : nodes) {
    Candidate c;
    if (Describe(*n, cursor, c)) candidates.push_back(c);
  }
  if (candidates.empty()) return;
  auto freshKey = [&] {
    std::vector<std::uint8_t> key(keySize, 0);
    std::memset(key.data(), 0xFF, std::min<std::size_t>(keySize, static_cast<std::size_t>(fields.NullBitmapSize())));
    return key;
  };
  for (const Candidate& c : candidates) {
    for (int i = 0; i < indexes.Count(); ++i) {
      const THDBIndexDef& def = indexes[i];
      THDBScanSearchCondition condition;
      condition.KeyBuffer = freshKey();
      if (!Drives(c, def, 0, fields, session, condition.KeyBuffer)) continue;
      condition.Type = ConditionTypeOf(c.Op, def.Columns[0].Descending);
      condition.KeyFieldCount = 1;
      condition.IndexNo = def.ObjectID;
      condition.FromExpression = true;
      condition.SourceNodes.push_back(c.Node);
      // Equalities of the same AND chain extend the key column by column.
      while (condition.Type == ctEqual && condition.KeyFieldCount < def.ColumnCount()) {
        bool extended = false;
        for (const Candidate& other : candidates) {
          if (other.Op != opEqual && other.Op != opIsNull) continue;
          if (std::find(condition.SourceNodes.begin(), condition.SourceNodes.end(), other.Node) !=
              condition.SourceNodes.end())
            continue;
          std::vector<std::uint8_t> key = condition.KeyBuffer;
          if (!Drives(other, def, condition.KeyFieldCount, fields, session, key)) continue;
          condition.KeyBuffer = std::move(key);
          ++condition.KeyFieldCount;
          condition.SourceNodes.push_back(other.Node);
          extended = true;
          break;
        }
        if (!extended) break;
      }
      // NULL keys sort first, so a range open towards the start of the index holds
      // them: a null-aware comparison, which NULL fails, stays in the per-record test.
      if (c.NullAware && (condition.Type == ctLess || condition.Type == ctLessOrEqual) &&
          condition.KeyFieldCount == 1)
        condition.SourceNodes.clear();
      out.push_back(std::move(condition));
    }
  }
}

}  // namespace hdb

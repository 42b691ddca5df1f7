// THDBExpression, a filter (or a default value, or a locate condition) as a tree of
// expression nodes bound to the fields of one cursor. ParseFilter reads a search
// condition through THDBLexer by recursive descent with backtracking; IsTrue evaluates
// it for one record buffer of the cursor's layout with three-valued logic; Passes (a
// NULL result does not pass) and the index-condition interface of THDBSearchExpression
// let the index-assisted search take comparisons an index can answer out of the
// per-record test while it scans.
//
// Owns its tree; the cursor it is bound to outlives it. Used by one thread at a time;
// evaluation reads the record but takes no lock (the cursor's caller holds the
// database object's lock when records come from the table).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/cursor/expr_nodes.h"
#include "dbengine/cursor/search_expression.h"

namespace hdb {

class THDBLocalCursor;
class THDBLexer;
struct TToken;
class THDBVariant;

class THDBExpression final : public THDBSearchExpression {
 public:
  // cursor may be nullptr: an expression without fields (a default value).
  explicit THDBExpression(THDBLocalCursor* cursor);
  ~THDBExpression() override;

  // Options of the comparisons a parse makes.
  bool CaseInsensitive = false;
  bool PartialCompare = false;
  // Whether generated comparisons are null-aware (false for LocateRecord's).
  bool NullAwareCompare = true;

  // Parses one search condition (the first command of the text); raises the parser's
  // and the lexer's messages as EHDBException. Tokens after a complete condition are
  // left alone.
  void ParseFilter(std::string_view text);
  // Parses one value expression (a default value); the same messages.
  void ParseValue(std::string_view text);

  // The truth of the condition for a record buffer of the cursor's layout.
  THDBTruth IsTrue(const std::uint8_t* record);
  // The value of the root for a record buffer (nullptr: no fields read).
  const THDBExprValue& Evaluate(const std::uint8_t* record);

  THDBExprNode* Root() const { return root_.get(); }
  // A tree built without parsing (LocateRecord); fields must come from NewField.
  void SetRoot(std::unique_ptr<THDBExprNode> root);
  // A comparison of the two operands with the expression's options and the rewrites of
  // a parse: a trailing "*" of a text constant under PartialCompare (unless
  // applyPartial is false), = / <> against a NULL text or date constant as IS [NOT]
  // NULL, and the choice of NullAwareCompare.
  std::unique_ptr<THDBExprNode> MakeComparison(std::uint8_t op, std::unique_ptr<THDBExprNode> left,
                                               std::unique_ptr<THDBExprNode> right, bool applyPartial = true);
  // A field node of the cursor bound to the field of that name: "Field '%s' not found".
  std::unique_ptr<THDBExprNodeField> NewField(std::string_view name, std::string_view qualifier = {});
  THDBLocalCursor* Cursor() const { return cursor_; }

  // THDBSearchExpression.
  bool Passes(const std::uint8_t* record) override;
  void ExtractConditions(const THDBIndexDefs& indexes, const THDBFieldDefs& fields, std::int32_t session,
                         std::size_t keySize, std::vector<THDBScanSearchCondition>& out) override;
  void Detach(const THDBScanSearchCondition& condition) override;
  void ReattachAll() override;
  bool NeedsTest() const override;

 private:
  friend class THDBExpressionParser;
  void Bind(const std::uint8_t* record);
  void Finish();

  THDBLocalCursor* cursor_;
  std::unique_ptr<THDBExprNode> root_;
  // Every field node of the tree, bound to the record before each evaluation.
  std::vector<THDBExprNodeField*> fields_;
  std::vector<THDBExprNode*> detached_;
};

}  // namespace hdb

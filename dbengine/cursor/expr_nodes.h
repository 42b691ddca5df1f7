// THDBExprNode and its kinds, the tree a filter text is parsed into: constants, fields
// of the cursor's current record, the six comparisons, the boolean operators and
// predicates (NOT, AND, OR, IN, BETWEEN, LIKE, IS NULL), arithmetic, concatenation and
// the string functions, date and time values and functions, CAST, CASE and MIMETOBIN.
// Each node owns its children and the value of its last evaluation.
//
// Evaluation reads the record the field nodes are bound to; comparisons of a field with
// a constant convert the constant once (Prepare) and compare in the record's slot, and
// the boolean operators pass truth values, so a filter of such comparisons evaluates a
// record without allocating.
//
// A tree belongs to one THDBExpression and is used by one thread at a time; no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/cursor/expr_value.h"
#include "dbengine/tables/value_conversion.h"

namespace hdb {

class THDBLocalCursor;

enum class THDBExprNodeKind : std::uint8_t {
  Const,
  Field,
  Comparison,
  Boolean,
  Arithmetic,
  StringFunction,
  DateFunction,
  Cast,
  Case,
  Blob,
  // Built only for statements (system values, aggregates, nested SELECT); a filter
  // naming one of them is refused while it is parsed.
  System,
  Aggregated,
  Subquery,
};

// Operator codes shared by every node kind.
enum THDBExprOperator : std::uint8_t {
  opNone = 0,
  opEqual = 1,
  opNotEqual = 2,
  opGreater = 3,
  opLess = 4,
  opGreaterOrEqual = 5,
  opLessOrEqual = 6,
  opNot = 7,
  opAnd = 8,
  opOr = 9,
  opIn = 10,
  opNotIn = 11,
  opExists = 12,
  opBetween = 13,
  opNotBetween = 14,
  opLike = 15,
  opNotLike = 16,
  opIsNull = 17,
  opIsNotNull = 18,
  opAdd = 21,
  opSubtract = 22,  // with one child: the negation
  opMultiply = 23,
  opDivide = 24,
  opConcat = 25,
  opUpper = 26,
  opLower = 27,
  opTrim = 28,
  opLTrim = 29,
  opRTrim = 30,
  opSubstring = 31,
  opPos = 32,
  opLength = 33,
  opSum = 34,
  opAvg = 35,
  opMin = 36,
  opMax = 37,
  opCount = 38,
  opCountAll = 39,
  opCurrentTimestamp = 40,
  opCurrentDate = 41,
  opCurrentTime = 42,
  opToDate = 43,
  opToString = 44,
  opExtract = 45,
  opMimeToBin = 48,
  opAbs = 50,
  opAcos = 51,
  opAsin = 52,
  opAtan = 53,
  opCeil = 54,
  opCos = 55,
  opExp = 56,
  opFloor = 57,
  opLog = 58,
  opPower = 59,
  opRand = 60,
  opRound = 61,
  opSign = 62,
  opSin = 63,
  opSqr = 64,
  opSqrt = 65,
};

// The text messages print for an operator; "unknown" for codes without one.
const char* OperatorText(std::uint8_t op);

class THDBExprNode {
 public:
  THDBExprNode(THDBExprNodeKind kind, std::uint8_t op) : Operator(op), kind_(kind) {}
  THDBExprNode(const THDBExprNode&) = delete;
  THDBExprNode& operator=(const THDBExprNode&) = delete;
  virtual ~THDBExprNode() = default;

  THDBExprNodeKind Kind() const { return kind_; }
  // Evaluates the node for the bound record and returns its value (also in Value).
  virtual const THDBExprValue& Evaluate() = 0;
  // The node as a condition: NULL is Unknown. A detached node tests true.
  virtual THDBTruth Test();
  // The base type the node yields, when known before any record (0 otherwise).
  virtual std::uint8_t ResultType() const { return 0; }
  // Once, after the tree is complete: what does not depend on the record.
  virtual void Prepare();
  // A copy of the node and its subtree (not bound to a record).
  virtual std::unique_ptr<THDBExprNode> Clone() const = 0;

  THDBExprNode& Child(std::size_t i) const { return *Children[i]; }
  std::size_t ChildCount() const { return Children.size(); }
  THDBExprNode& AddChild(std::unique_ptr<THDBExprNode> child);

  std::vector<std::unique_ptr<THDBExprNode>> Children;
  std::uint8_t Operator;
  THDBExprValue Value;
  bool CaseInsensitive = false;
  bool PartialCompare = false;
  // Set while an index range stands for this comparison.
  bool Detached = false;

 protected:
  // Copies the operator, flags, value and cloned children into a fresh node.
  std::unique_ptr<THDBExprNode> CloneInto(std::unique_ptr<THDBExprNode> copy) const;

 private:
  THDBExprNodeKind kind_;
};

class THDBExprNodeConst final : public THDBExprNode {
 public:
  THDBExprNodeConst() : THDBExprNode(THDBExprNodeKind::Const, opNone) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override { return Value; }
  std::uint8_t ResultType() const override { return Value.Type(); }
};

class THDBExprNodeField final : public THDBExprNode {
 public:
  THDBExprNodeField() : THDBExprNode(THDBExprNodeKind::Field, opNone) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;
  std::uint8_t ResultType() const override { return BaseType; }
  bool IsNull() const;

  THDBLocalCursor* Cursor = nullptr;
  const std::uint8_t* Record = nullptr;  // the record being evaluated
  std::string TableQualifier;
  std::string FieldName;
  std::string Alias;
  std::int32_t FieldNo = -1;
  std::int32_t DataOffset = 0;
  std::uint8_t DeclaredType = 0;
  std::uint8_t BaseType = 0;
  std::int32_t DataSize = 0;
  bool OuterCursor = false;

 private:
  std::vector<std::uint8_t> blob_;
};

// How two values compare: an order, or which of them is NULL.
enum class THDBCompareOutcome : std::uint8_t { Less, Equal, Greater, LeftNull, RightNull, BothNull };

class THDBExprNodeComparison final : public THDBExprNode {
 public:
  explicit THDBExprNodeComparison(std::uint8_t op) : THDBExprNode(THDBExprNodeKind::Comparison, op) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;
  THDBTruth Test() override;
  std::uint8_t ResultType() const override { return btLogical; }
  void Prepare() override;
  // The comparison of the two children, without the operator.
  THDBCompareOutcome Compare();

  bool NullAwareCompare = true;
  std::uint8_t Quantifier = 0;  // statements only
  // Partial: the child whose text length cuts both texts (1 = the right one).
  std::uint8_t PartialSide = 1;

 private:
  // Field against constant, prepared: the constant in the field's type.
  THDBExprNodeField* field_ = nullptr;
  bool fieldLeft_ = true;
  THDBExprValue constant_;
  bool fast_ = false;
  THDBValueBuffer left_, right_;
};

class THDBExprNodeBoolean final : public THDBExprNode {
 public:
  explicit THDBExprNodeBoolean(std::uint8_t op) : THDBExprNode(THDBExprNodeKind::Boolean, op) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;
  THDBTruth Test() override;
  std::uint8_t ResultType() const override { return btLogical; }

  THDBExprValue Scratch;
  std::string EscapeChar;  // LIKE: empty without ESCAPE

 private:
  std::u16string text_, pattern_;
  THDBTruth TestLike();
  THDBTruth TestIn();
  THDBTruth TestBetween();
};

class THDBExprNodeArithmetic final : public THDBExprNode {
 public:
  explicit THDBExprNodeArithmetic(std::uint8_t op) : THDBExprNode(THDBExprNodeKind::Arithmetic, op) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;
  std::uint8_t ResultType() const override;

  // ROUND: the keyword number of the rounding mode (HALFEVEN ... RNDUP), 0 = half up.
  std::uint16_t Mode = 0;

 private:
  THDBExprValue scratch_;
};

class THDBExprNodeStringFunction final : public THDBExprNode {
 public:
  explicit THDBExprNodeStringFunction(std::uint8_t op) : THDBExprNode(THDBExprNodeKind::StringFunction, op) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;
  std::uint8_t ResultType() const override;

 private:
  THDBExprValue scratch_;
};

class THDBExprNodeDateFunction final : public THDBExprNode {
 public:
  explicit THDBExprNodeDateFunction(std::uint8_t op) : THDBExprNode(THDBExprNodeKind::DateFunction, op) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;
  std::uint8_t ResultType() const override;

  // EXTRACT: the keyword number of the part (YEAR, MONTH, DAY, HOUR, MINUTE, SECOND).
  std::uint16_t Part = 0;
};

class THDBExprNodeCast final : public THDBExprNode {
 public:
  THDBExprNodeCast() : THDBExprNode(THDBExprNodeKind::Cast, opNone) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;
  std::uint8_t ResultType() const override { return TargetBase; }

  std::uint8_t TargetDeclared = 0;
  std::uint8_t TargetBase = 0;
  std::int32_t TargetSize = 0;  // characters of a text type, 0 = unbounded

 private:
  THDBValueBuffer converted_;
};

// CASE [operand] WHEN a THEN b ... [ELSE c] END; children: the operand when there is
// one, the WHEN/THEN pairs, the ELSE value when there is one.
class THDBExprNodeCase final : public THDBExprNode {
 public:
  THDBExprNodeCase() : THDBExprNode(THDBExprNodeKind::Case, opNone) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;

  bool HasOperand = false;
  bool HasElse = false;
};

// MIMETOBIN('text'): the Base64 text decoded into a BLOB value.
class THDBExprNodeBlob final : public THDBExprNode {
 public:
  THDBExprNodeBlob() : THDBExprNode(THDBExprNodeKind::Blob, opMimeToBin) {}
  std::unique_ptr<THDBExprNode> Clone() const override;
  const THDBExprValue& Evaluate() override;
  std::uint8_t ResultType() const override { return btBlob; }
};

// The truth of a value used as a condition (logical, or a number: non-zero is true);
// NULL is Unknown.
THDBTruth TruthOf(const THDBExprValue& value);

}  // namespace hdb

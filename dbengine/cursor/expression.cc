#include "dbengine/cursor/expression.h"

#include <cassert>
#include <charconv>
#include <map>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/index_conditions.h"
#include "dbengine/cursor/lexer.h"
#include "dbengine/cursor/reserved_words.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/date_time_codec.h"

namespace hdb {

namespace {

using NodePtr = std::unique_ptr<THDBExprNode>;

// Keyword numbers the parser names.
namespace kw {
#define HDB_KEYWORD(name) inline constexpr std::uint16_t name = Keyword(#name)
HDB_KEYWORD(ALL);
HDB_KEYWORD(AND);
HDB_KEYWORD(ANY);
HDB_KEYWORD(AS);
HDB_KEYWORD(AVG);
HDB_KEYWORD(BETWEEN);
HDB_KEYWORD(CASE);
HDB_KEYWORD(CAST);
HDB_KEYWORD(CHAR_LENGTH);
HDB_KEYWORD(CHARACTER_LENGTH);
HDB_KEYWORD(COUNT);
HDB_KEYWORD(CURRENT_DATE);
HDB_KEYWORD(CURRENT_TIME);
HDB_KEYWORD(CURRENT_TIMESTAMP);
HDB_KEYWORD(CURRENT_USER);
HDB_KEYWORD(DATE);
HDB_KEYWORD(DAY);
HDB_KEYWORD(ELSE);
HDB_KEYWORD(END);
HDB_KEYWORD(ESCAPE);
HDB_KEYWORD(EXISTS);
HDB_KEYWORD(EXTRACT);
HDB_KEYWORD(FALSE);
HDB_KEYWORD(FOR);
HDB_KEYWORD(FROM);
HDB_KEYWORD(HOUR);
HDB_KEYWORD(IN);
HDB_KEYWORD(IS);
HDB_KEYWORD(LASTAUTOINC);
HDB_KEYWORD(LENGTH);
HDB_KEYWORD(LIKE);
HDB_KEYWORD(LOWER);
HDB_KEYWORD(LTRIM);
HDB_KEYWORD(MAX);
HDB_KEYWORD(MIMETOBIN);
HDB_KEYWORD(MIN);
HDB_KEYWORD(MINUTE);
HDB_KEYWORD(MONTH);
HDB_KEYWORD(NOT);
HDB_KEYWORD(NOW);
inline constexpr std::uint16_t Null = Keyword("NULL");
HDB_KEYWORD(OR);
HDB_KEYWORD(POS);
HDB_KEYWORD(POSITION);
HDB_KEYWORD(PRECISION);
HDB_KEYWORD(ROWNUM);
HDB_KEYWORD(RTRIM);
HDB_KEYWORD(SECOND);
HDB_KEYWORD(SELECT);
HDB_KEYWORD(SESSION_USER);
HDB_KEYWORD(SOME);
HDB_KEYWORD(SUBSTRING);
HDB_KEYWORD(SUM);
HDB_KEYWORD(SYSDATE);
HDB_KEYWORD(SYSTEM_USER);
HDB_KEYWORD(THEN);
HDB_KEYWORD(TIME);
HDB_KEYWORD(TIMESTAMP);
HDB_KEYWORD(TODATE);
HDB_KEYWORD(TOSTRING);
HDB_KEYWORD(TRIM);
HDB_KEYWORD(TRUE);
HDB_KEYWORD(UNKNOWN);
HDB_KEYWORD(UPPER);
HDB_KEYWORD(USER);
HDB_KEYWORD(VARYING);
HDB_KEYWORD(WHEN);
HDB_KEYWORD(YEAR);
HDB_KEYWORD(ABS);
HDB_KEYWORD(ACOS);
HDB_KEYWORD(ASIN);
HDB_KEYWORD(ATAN);
HDB_KEYWORD(CEIL);
HDB_KEYWORD(COS);
HDB_KEYWORD(EXP);
HDB_KEYWORD(FLOOR);
HDB_KEYWORD(LOG);
HDB_KEYWORD(POWER);
HDB_KEYWORD(RAND);
HDB_KEYWORD(ROUND);
HDB_KEYWORD(SIGN);
HDB_KEYWORD(SIN);
HDB_KEYWORD(SQR);
HDB_KEYWORD(SQRT);
HDB_KEYWORD(HALFEVEN);
HDB_KEYWORD(RNDUP);
#undef HDB_KEYWORD
}  // namespace kw

// Parentheses and function calls nested deeper than this are refused: each level
// costs stack, and no filter needs them.
constexpr int MaxNesting = 200;

bool IsOperatorText(const std::string& text) {
  if (text.empty()) return true;
  switch (text[0]) {
    case '>':
    case '<':
    case '=':
    case '/':
    case '*':
    case ':':
    case '?':
    case '|':
    case '+':
    case '-':
      return true;
    default:
      return false;
  }
}

bool IsNumericConst(const THDBExprNode& n) {
  return n.Kind() == THDBExprNodeKind::Const && IsNumericBaseType(n.Value.Type());
}
bool IsConst(const THDBExprNode& n) { return n.Kind() == THDBExprNodeKind::Const; }
bool IsField(const THDBExprNode& n) { return n.Kind() == THDBExprNodeKind::Field; }
bool IsStringConst(const THDBExprNode& n) { return IsConst(n) && n.Value.IsText(); }
bool IsDateOrTimeType(std::uint8_t t) { return t >= btDate && t <= btDateTime; }

// Reads runs of exactly the given numbers of digits, each ended by one non-digit that
// is skipped (or by the end of the text); after the last run at most that one
// character may follow.
bool ReadRuns(std::string_view s, std::initializer_list<int> widths, int* out) {
  std::size_t i = 0, k = 0;
  for (int w : widths) {
    int v = 0;
    for (int j = 0; j < w; ++j, ++i) {
      if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
      v = v * 10 + (s[i] - '0');
    }
    out[k++] = v;
    if (i < s.size()) {
      if (s[i] >= '0' && s[i] <= '9') return false;
      ++i;
    }
  }
  return i == s.size();
}

}  // namespace

// Recursive descent over the tokens of one command, with backtracking: an alternative
// that fails puts the token index back. Results of ValueExpression and Primary are
// kept per token index, so a text that several alternatives read is read once.
class THDBExpressionParser {
 public:
  THDBExpressionParser(THDBExpression& expression, const TSQLCommand& command)
      : e_(expression), cmd_(command) {
    end_.Text = "";
    end_.Line = command.EndLine;
    end_.Column = command.EndColumn;
  }

  bool AtEnd() const { return pos_ >= cmd_.TokenCount; }
  const TToken& Cur() const { return AtEnd() ? end_ : cmd_.Tokens[static_cast<std::size_t>(pos_)]; }
  int Position() const { return pos_; }

  NodePtr SearchCondition() {
    Nest nest(*this);
    NodePtr left = Term();
    if (!left) return nullptr;
    while (IsKw(kw::OR)) {
      Next();
      NodePtr right = Term();
      if (!right) ConditionExpected();
      auto node = std::make_unique<THDBExprNodeBoolean>(opOr);
      node->AddChild(std::move(left));
      node->AddChild(std::move(right));
      left = std::move(node);
    }
    return left;
  }

  NodePtr ValueExpression() {
    const int start = pos_;
    if (auto it = values_.find(start); it != values_.end()) return Recall(it->second);
    NodePtr result = ParseValueExpression();
    if (!result) pos_ = start;
    Memo& m = values_[start];
    m.End = pos_;
    m.Node = result ? result->Clone() : nullptr;
    return result;
  }

  [[noreturn]] void RaiseUnexpected() const {
    if (AtEnd()) RaiseHDB(Errors::UnexpectedEndOfCommand, end_.Line, end_.Column);
    RaiseHDB(Errors::UnexpectedToken, Cur().Text, Cur().Line, Cur().Column);
  }
  [[noreturn]] void ConditionExpected() const {
    if (AtEnd()) RaiseHDB(Errors::UnexpectedEndOfCommand, end_.Line, end_.Column);
    RaiseHDB(Errors::BooleanExpected, Cur().Text, Cur().Line, Cur().Column);
  }

 private:
  struct Memo {
    int End = 0;
    NodePtr Node;
  };
  // Counts the nesting of the recursion.
  struct Nest {
    explicit Nest(THDBExpressionParser& p) : p_(p) {
      if (++p_.depth_ > MaxNesting) p_.RaiseUnexpected();
    }
    ~Nest() { --p_.depth_; }
    THDBExpressionParser& p_;
  };

  NodePtr Recall(const Memo& m) {
    pos_ = m.End;
    return m.Node ? m.Node->Clone() : nullptr;
  }

  void Next() { ++pos_; }
  bool IsKw(std::uint16_t k) const { return !AtEnd() && Cur().IsKeyword(k); }
  bool IsSym(std::string_view s) const { return !AtEnd() && Cur().IsSymbol(s); }
  bool Is(std::uint8_t kind) const { return !AtEnd() && Cur().Kind == kind; }
  bool IsName() const {
    return !AtEnd() && (Cur().Kind == tkBracketed || (Cur().Kind == tkIdentifier && !IsOperatorText(Cur().Text)));
  }
  const TToken& Peek(int ahead) const {
    const int i = pos_ + ahead;
    return i < cmd_.TokenCount ? cmd_.Tokens[static_cast<std::size_t>(i)] : end_;
  }
  bool PeekIs(int ahead, std::uint8_t kind) const { return pos_ + ahead < cmd_.TokenCount && Peek(ahead).Kind == kind; }

  [[noreturn]] void RaiseExpected(std::string_view what) const {
    if (AtEnd()) RaiseHDB(Errors::UnexpectedEndOfCommand, end_.Line, end_.Column);
    RaiseHDB(Errors::TokenExpected, what, Cur().Text, Cur().Line, Cur().Column);
  }
  [[noreturn]] void RaiseStatementOnly(const std::string& what, const TToken& at) const {
    RaiseHDB(Errors::StatementOnlyConstruct, what, at.Line, at.Column);
  }
  void ExpectKind(std::uint8_t kind, std::string_view text) {
    if (!Is(kind)) RaiseExpected(text);
    Next();
  }
  void ExpectKw(std::uint16_t k) {
    if (!IsKw(k)) RaiseExpected(ReservedWord(k));
    Next();
  }

  // ---- search conditions ----

  NodePtr Term() {
    NodePtr first = Factor();
    if (!first) return nullptr;
    if (!IsKw(kw::AND)) return first;
    auto node = std::make_unique<THDBExprNodeBoolean>(opAnd);
    node->AddChild(std::move(first));
    while (IsKw(kw::AND)) {
      Next();
      NodePtr f = Factor();
      if (!f) ConditionExpected();
      node->AddChild(std::move(f));
    }
    return node;
  }

  NodePtr Factor() {
    if (IsKw(kw::NOT)) {
      Next();
      NodePtr t = Test();
      if (!t) ConditionExpected();
      return Not(std::move(t));
    }
    return Test();
  }

  static NodePtr Not(NodePtr n) {
    auto node = std::make_unique<THDBExprNodeBoolean>(opNot);
    node->AddChild(std::move(n));
    return node;
  }
  static NodePtr NullTest(NodePtr n, bool negated) {
    auto node = std::make_unique<THDBExprNodeBoolean>(negated ? opIsNotNull : opIsNull);
    node->AddChild(std::move(n));
    return node;
  }

  // A value stands for a condition when it is logical or a number (non-zero is true),
  // or of a type only the record knows.
  static bool CanBeCondition(const THDBExprNode& n) {
    const THDBExprNode* v = &n;
    while (v->Kind() == THDBExprNodeKind::Boolean && v->Operator == opNot) v = &v->Child(0);
    if (v->Kind() == THDBExprNodeKind::Comparison || v->Kind() == THDBExprNodeKind::Boolean) return true;
    const std::uint8_t t = v->ResultType();
    return t == 0 || t == btLogical || IsNumericBaseType(t);
  }

  NodePtr Test() {
    const int start = pos_;
    bool isValue = false;
    NodePtr p = PrimaryCondition(isValue);
    if (!p) return nullptr;
    if (IsKw(kw::IS)) {
      const int at = pos_;
      Next();
      bool negated = false;
      if (IsKw(kw::NOT)) {
        negated = true;
        Next();
      }
      if (IsKw(kw::TRUE)) {
        Next();
        if (negated) p = Not(std::move(p));
      } else if (IsKw(kw::FALSE)) {
        Next();
        if (!negated) p = Not(std::move(p));
      } else if (IsKw(kw::UNKNOWN)) {
        Next();
        p = NullTest(std::move(p), negated);
        isValue = false;
      } else if (negated) {
        RaiseExpected("TRUE, FALSE or UNKNOWN");
      } else {
        pos_ = at;
      }
    }
    if (isValue && !CanBeCondition(*p)) {
      pos_ = start;
      return nullptr;
    }
    return p;
  }

  NodePtr PrimaryCondition(bool& isValue) {
    const int start = pos_;
    if (NodePtr p = Predicate()) return p;
    pos_ = start;
    if (Is(tkOpenParen)) {
      Next();
      NodePtr c = SearchCondition();
      if (c && Is(tkCloseParen)) {
        Next();
        return c;
      }
      pos_ = start;
    }
    if (NodePtr v = ValueExpression()) {
      isValue = true;
      return v;
    }
    pos_ = start;
    return nullptr;
  }

  std::uint8_t ComparisonOperator() const {
    if (AtEnd() || Cur().Kind != tkIdentifier) return 0;
    const std::string& t = Cur().Text;
    if (t == "=") return opEqual;
    if (t == "<>") return opNotEqual;
    if (t == ">") return opGreater;
    if (t == "<") return opLess;
    if (t == ">=") return opGreaterOrEqual;
    if (t == "<=") return opLessOrEqual;
    return 0;
  }

  static NodePtr BooleanConst(bool v) {
    auto c = std::make_unique<THDBExprNodeConst>();
    c->Value.SetLogical(v);
    return c;
  }

  NodePtr Predicate() {
    const int start = pos_;
    if (IsKw(kw::TRUE) || IsKw(kw::FALSE)) {
      const bool v = IsKw(kw::TRUE);
      Next();
      return BooleanConst(v);
    }
    if (IsKw(kw::EXISTS)) RaiseStatementOnly("EXISTS with a subquery", Cur());
    NodePtr left = ValueExpression();
    if (!left) {
      pos_ = start;
      return nullptr;
    }
    if (const std::uint8_t op = ComparisonOperator()) {
      Next();
      if (IsKw(kw::ANY) || IsKw(kw::SOME) || IsKw(kw::ALL))
        RaiseStatementOnly("A comparison with " + std::string(ReservedWord(Cur().Keyword)), Cur());
      if (NodePtr right = ValueExpression()) return e_.MakeComparison(op, std::move(left), std::move(right));
      pos_ = start;
      return nullptr;
    }
    bool negated = false;
    if (IsKw(kw::NOT)) {
      negated = true;
      Next();
    }
    if (IsKw(kw::LIKE)) {
      Next();
      return Like(std::move(left), negated);
    }
    if (IsKw(kw::BETWEEN)) {
      Next();
      auto node = std::make_unique<THDBExprNodeBoolean>(negated ? opNotBetween : opBetween);
      node->AddChild(std::move(left));
      NodePtr low = ValueExpression();
      if (!low) RaiseUnexpected();
      node->AddChild(std::move(low));
      ExpectKw(kw::AND);
      NodePtr high = ValueExpression();
      if (!high) RaiseUnexpected();
      node->AddChild(std::move(high));
      return node;
    }
    if (IsKw(kw::IN)) {
      Next();
      if (!Is(tkOpenParen)) RaiseExpected("(");
      if (Peek(1).IsKeyword(kw::SELECT)) RaiseStatementOnly("A subquery", Peek(1));
      Next();
      auto node = std::make_unique<THDBExprNodeBoolean>(negated ? opNotIn : opIn);
      node->AddChild(std::move(left));
      for (;;) {
        NodePtr v = ValueExpression();
        if (!v) RaiseUnexpected();
        node->AddChild(std::move(v));
        if (!Is(tkComma)) break;
        Next();
      }
      ExpectKind(tkCloseParen, ")");
      return node;
    }
    if (!negated && IsKw(kw::IS)) {
      Next();
      bool isNot = false;
      if (IsKw(kw::NOT)) {
        isNot = true;
        Next();
      }
      if (IsKw(kw::Null)) {
        Next();
        return NullTest(std::move(left), isNot);
      }
    }
    pos_ = start;
    return nullptr;
  }

  NodePtr Like(NodePtr value, bool negated) {
    NodePtr pattern = ValueExpression();
    if (!pattern) RaiseUnexpected();
    std::string escape;
    bool hasEscape = false;
    if (IsKw(kw::ESCAPE)) {
      Next();
      if (AtEnd()) RaiseUnexpected();
      const TToken& t = Cur();
      if (t.Kind != tkString || t.Text.size() != 1) RaiseHDB(Errors::InvalidEscapeLength, t.Line, t.Column);
      escape = t.Text;
      hasEscape = true;
      Next();
    }
    // A constant pattern whose one "%" ends it, without "_": a partial comparison.
    if (!hasEscape && IsConst(*pattern) && pattern->Value.IsNarrowText() && !pattern->Value.IsNull()) {
      const std::string_view p = pattern->Value.Text();
      if (p.size() >= 2 && p.back() == '%' && p.find('%') == p.size() - 1 && p.find('_') == std::string_view::npos) {
        pattern->Value.SetText(p.substr(0, p.size() - 1), pattern->Value.Type());
        auto cmp = e_.MakeComparison(negated ? opNotEqual : opEqual, std::move(value), std::move(pattern), false);
        cmp->PartialCompare = true;
        static_cast<THDBExprNodeComparison&>(*cmp).PartialSide = 1;
        return cmp;
      }
    }
    auto node = std::make_unique<THDBExprNodeBoolean>(negated ? opNotLike : opLike);
    node->CaseInsensitive = e_.CaseInsensitive;
    node->EscapeChar = escape;
    node->AddChild(std::move(value));
    node->AddChild(std::move(pattern));
    return node;
  }

  // ---- value expressions ----

  NodePtr ParseValueExpression() {
    Nest nest(*this);
    const int start = pos_;
    if (NodePtr s = Sum()) {
      // A sum followed by "||" or by a "+" it could not take is a concatenation.
      if (!IsSym("||") && !IsSym("+")) return s;
    }
    pos_ = start;
    if (NodePtr d = DateArithmetic()) return d;
    pos_ = start;
    if (NodePtr d = DateValue()) return d;
    pos_ = start;
    if (NodePtr c = Concatenation()) return c;
    pos_ = start;
    if (IsKw(kw::TRUE) || IsKw(kw::FALSE)) {
      const bool v = IsKw(kw::TRUE);
      Next();
      return BooleanConst(v);
    }
    if (IsKw(kw::Null)) {
      Next();
      auto c = std::make_unique<THDBExprNodeConst>();
      c->Value.SetNull(btInteger);
      return c;
    }
    if (IsKw(kw::MIMETOBIN)) return MimeToBin();
    return nullptr;
  }

  NodePtr Sum() {
    NodePtr first = Product();
    if (!first) return nullptr;
    if (!IsSym("+") && !IsSym("-")) return first;
    auto node = std::make_unique<THDBExprNodeArithmetic>(opAdd);
    node->AddChild(std::move(first));
    while (IsSym("+") || IsSym("-")) {
      const int at = pos_;
      const bool minus = IsSym("-");
      Next();
      NodePtr p = Product();
      if (!p) {
        pos_ = at;
        break;
      }
      node->AddChild(minus ? Negate(std::move(p)) : std::move(p));
    }
    if (node->ChildCount() == 1) return std::move(node->Children[0]);
    return node;
  }

  static NodePtr Negate(NodePtr n) {
    if (IsNumericConst(*n) && !n->Value.IsNull()) {
      if (IsIntegerBaseType(n->Value.Type()) || n->Value.Type() == btLogical)
        n->Value.SetInteger(static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(n->Value.AsInt64())));
      else
        n->Value.SetDouble(-n->Value.AsDouble());
      return n;
    }
    auto node = std::make_unique<THDBExprNodeArithmetic>(opSubtract);
    node->AddChild(std::move(n));
    return node;
  }

  NodePtr Product() {
    NodePtr left = SignedOperand();
    if (!left) return nullptr;
    while (IsSym("*") || IsSym("/")) {
      const int at = pos_;
      const std::uint8_t op = IsSym("*") ? opMultiply : opDivide;
      Next();
      NodePtr right = SignedOperand();
      if (!right) {
        pos_ = at;
        break;
      }
      auto node = std::make_unique<THDBExprNodeArithmetic>(op);
      node->AddChild(std::move(left));
      node->AddChild(std::move(right));
      left = std::move(node);
    }
    return left;
  }

  NodePtr SignedOperand() {
    const int start = pos_;
    bool minus = false;
    if (IsSym("+") || IsSym("-")) {
      minus = IsSym("-");
      Next();
    }
    NodePtr p = Primary();
    // Texts and dates go to the concatenation and date alternatives.
    if (!p || (IsConst(*p) && !IsNumericBaseType(p->Value.Type()))) {
      pos_ = start;
      return nullptr;
    }
    return minus ? Negate(std::move(p)) : std::move(p);
  }

  bool AtDateValue() const {
    return IsKw(kw::DATE) || IsKw(kw::TIME) || IsKw(kw::TIMESTAMP) || IsKw(kw::CURRENT_DATE) ||
           IsKw(kw::CURRENT_TIME) || IsKw(kw::CURRENT_TIMESTAMP) || IsKw(kw::SYSDATE) || IsKw(kw::NOW) ||
           IsKw(kw::TODATE);
  }

  NodePtr DateValue() { return AtDateValue() ? Primary() : nullptr; }

  NodePtr DateArithmetic() {
    const int start = pos_;
    NodePtr d = DateValue();
    if (!d || !(IsSym("+") || IsSym("-"))) {
      pos_ = start;
      return nullptr;
    }
    auto node = std::make_unique<THDBExprNodeArithmetic>(opAdd);
    node->AddChild(std::move(d));
    while (IsSym("+") || IsSym("-")) {
      const int at = pos_;
      const bool minus = IsSym("-");
      Next();
      NodePtr v = Product();
      if (!v) v = Primary();
      if (!v) {
        pos_ = at;
        break;
      }
      node->AddChild(minus ? Negate(std::move(v)) : std::move(v));
    }
    if (node->ChildCount() == 1) {
      pos_ = start;
      return nullptr;
    }
    return node;
  }

  NodePtr Concatenation() {
    NodePtr first = Primary();
    if (!first) return nullptr;
    if (!IsSym("||") && !IsSym("+")) return first;
    auto node = std::make_unique<THDBExprNodeStringFunction>(opConcat);
    node->AddChild(std::move(first));
    while (IsSym("||") || IsSym("+")) {
      Next();
      NodePtr o = Primary();
      if (!o) RaiseUnexpected();
      node->AddChild(std::move(o));
    }
    return node;
  }

  NodePtr MimeToBin() {
    const TToken& name = Cur();
    Next();
    ExpectKind(tkOpenParen, "(");
    NodePtr text = ValueExpression();
    if (!text) RaiseHDB(Errors::ArgumentExpected, name.Text, Cur().Line, Cur().Column);
    ExpectKind(tkCloseParen, ")");
    auto node = std::make_unique<THDBExprNodeBlob>();
    node->AddChild(std::move(text));
    return node;
  }

  // ---- primaries ----

  NodePtr Primary() {
    const int start = pos_;
    if (auto it = primaries_.find(start); it != primaries_.end()) return Recall(it->second);
    NodePtr result;
    {
      Nest nest(*this);
      result = ParsePrimary();
    }
    if (!result) pos_ = start;
    Memo& m = primaries_[start];
    m.End = pos_;
    m.Node = result ? result->Clone() : nullptr;
    return result;
  }

  NodePtr ParsePrimary() {
    if (AtEnd()) return nullptr;
    const TToken& t = Cur();
    switch (t.Kind) {
      case tkInteger:
      case tkFloat:
        Next();
        return Number(t);
      case tkString: {
        Next();
        auto c = std::make_unique<THDBExprNodeConst>();
        c->Value.SetText(t.Text, btString);
        return c;
      }
      case tkParameter: {
        Next();
        auto c = std::make_unique<THDBExprNodeConst>();
        c->Value.AssignVariant(t.Value);
        return c;
      }
      default:
        break;
    }
    if (IsKw(kw::DATE) || IsKw(kw::TIME) || IsKw(kw::TIMESTAMP)) return DateLiteral();
    if (IsName()) {
      if (PeekIs(1, tkOpenParen)) return nullptr;  // a call of a function the language lacks
      return FieldReference();
    }
    if (t.Kind == tkKeyword && PeekIs(1, tkOpenParen) &&
        (t.Keyword == kw::SUM || t.Keyword == kw::AVG || t.Keyword == kw::MIN || t.Keyword == kw::MAX ||
         t.Keyword == kw::COUNT))
      RaiseStatementOnly("The aggregate function '" + std::string(ReservedWord(t.Keyword)) + "'", t);
    if (t.Kind == tkOpenParen && Peek(1).IsKeyword(kw::SELECT)) RaiseStatementOnly("A subquery", Peek(1));
    if (t.Kind == tkKeyword &&
        (t.Keyword == kw::ROWNUM || t.Keyword == kw::LASTAUTOINC || t.Keyword == kw::USER ||
         t.Keyword == kw::CURRENT_USER || t.Keyword == kw::SESSION_USER || t.Keyword == kw::SYSTEM_USER))
      RaiseStatementOnly("The system value '" + std::string(ReservedWord(t.Keyword)) + "'", t);
    if (IsKw(kw::CASE)) return Case();
    if (IsKw(kw::CAST)) return Cast();
    if (t.Kind == tkOpenParen) {
      const int start = pos_;
      Next();
      NodePtr v = ValueExpression();
      if (v && Is(tkCloseParen)) {
        Next();
        return v;
      }
      pos_ = start;
      return nullptr;
    }
    if (t.Kind == tkKeyword) return FunctionCall();
    return nullptr;
  }

  static NodePtr Number(const TToken& t) {
    auto c = std::make_unique<THDBExprNodeConst>();
    const char* b = t.Text.data();
    const char* e = b + t.Text.size();
    if (t.Kind == tkInteger) {
      std::int64_t v = 0;
      auto r = std::from_chars(b, e, v);
      if (r.ec == std::errc() && r.ptr == e) {
        c->Value.SetInteger(v);
        return c;
      }
    }
    double d = 0;
    auto r = std::from_chars(b, e, d);
    if (r.ptr != e || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range))
      RaiseHDB(Errors::InvalidNumericSymbol, t.Text, t.Line, t.Column);
    c->Value.SetDouble(d);
    return c;
  }

  NodePtr DateLiteral() {
    const TToken& word = Cur();
    Next();
    if (AtEnd()) RaiseUnexpected();
    const TToken& s = Cur();
    auto c = std::make_unique<THDBExprNodeConst>();
    int v[6] = {};
    if (word.Keyword == kw::DATE) {
      if (s.Kind != tkString) RaiseHDB(Errors::DateStringExpected, s.Text, s.Line, s.Column);
      std::int32_t day;
      if (!ReadRuns(s.Text, {4, 2, 2}, v) || !TryEncodeDayNumber(v[0], v[1], v[2], day))
        RaiseHDB(Errors::TokenExpected, "YYYY-MM-DD", s.Text, s.Line, s.Column);
      c->Value.SetDate(day);
    } else if (word.Keyword == kw::TIME) {
      if (s.Kind != tkString) RaiseHDB(Errors::TimeStringExpected, s.Text, s.Line, s.Column);
      if (!ReadRuns(s.Text, {2, 2, 2}, v) || v[0] > 23 || v[1] > 59 || v[2] > 59)
        RaiseHDB(Errors::TokenExpected, "HH:MM:SS", s.Text, s.Line, s.Column);
      c->Value.SetTime(EncodeTimeMs(v[0], v[1], v[2], 0));
    } else {
      if (s.Kind != tkString) RaiseHDB(Errors::TimestampStringExpected, s.Text, s.Line, s.Column);
      std::int32_t day;
      if (!ReadRuns(s.Text, {4, 2, 2, 2, 2, 2}, v) || !TryEncodeDayNumber(v[0], v[1], v[2], day) || v[3] > 23 ||
          v[4] > 59 || v[5] > 59)
        RaiseHDB(Errors::TokenExpected, "YYYY-MM-DD HH:MM:SS", s.Text, s.Line, s.Column);
      c->Value.SetDateTime(day, EncodeTimeMs(v[3], v[4], v[5], 0));
    }
    Next();
    return c;
  }

  NodePtr FieldReference() {
    std::string qualifier;
    std::string name = Cur().Text;
    Next();
    if (Is(tkPeriod) && (PeekIs(1, tkBracketed) || (PeekIs(1, tkIdentifier) && !IsOperatorText(Peek(1).Text)))) {
      Next();
      qualifier = name;
      name = Cur().Text;
      Next();
    }
    return e_.NewField(name, qualifier);
  }

  // "(" then one argument, or "Argument expected for function".
  NodePtr Argument(const TToken& name) {
    NodePtr a = ValueExpression();
    if (!a) RaiseHDB(Errors::ArgumentExpected, name.Text, Cur().Line, Cur().Column);
    return a;
  }

  NodePtr FunctionCall() {
    const TToken& name = Cur();
    const std::uint16_t k = name.Keyword;
    // The current date and time, with or without "()".
    if (k == kw::CURRENT_DATE || k == kw::CURRENT_TIME || k == kw::CURRENT_TIMESTAMP || k == kw::SYSDATE ||
        k == kw::NOW) {
      Next();
      if (Is(tkOpenParen) && PeekIs(1, tkCloseParen)) {
        Next();
        Next();
      }
      return std::make_unique<THDBExprNodeDateFunction>(
          k == kw::CURRENT_DATE ? opCurrentDate : (k == kw::CURRENT_TIME ? opCurrentTime : opCurrentTimestamp));
    }
    std::uint8_t op = 0;
    enum { Str, Num, Date, Other } family = Other;
    if (k == kw::UPPER) op = opUpper, family = Str;
    else if (k == kw::LOWER) op = opLower, family = Str;
    else if (k == kw::TRIM) op = opTrim, family = Str;
    else if (k == kw::LTRIM) op = opLTrim, family = Str;
    else if (k == kw::RTRIM) op = opRTrim, family = Str;
    else if (k == kw::LENGTH || k == kw::CHAR_LENGTH || k == kw::CHARACTER_LENGTH) op = opLength, family = Str;
    else if (k == kw::POS || k == kw::POSITION) op = opPos, family = Str;
    else if (k == kw::SUBSTRING) op = opSubstring, family = Str;
    else if (k == kw::TODATE) op = opToDate, family = Date;
    else if (k == kw::TOSTRING) op = opToString, family = Date;
    else if (k == kw::EXTRACT) op = opExtract, family = Date;
    else if (k == kw::ABS) op = opAbs, family = Num;
    else if (k == kw::ACOS) op = opAcos, family = Num;
    else if (k == kw::ASIN) op = opAsin, family = Num;
    else if (k == kw::ATAN) op = opAtan, family = Num;
    else if (k == kw::CEIL) op = opCeil, family = Num;
    else if (k == kw::COS) op = opCos, family = Num;
    else if (k == kw::EXP) op = opExp, family = Num;
    else if (k == kw::FLOOR) op = opFloor, family = Num;
    else if (k == kw::LOG) op = opLog, family = Num;
    else if (k == kw::POWER) op = opPower, family = Num;
    else if (k == kw::RAND) op = opRand, family = Num;
    else if (k == kw::ROUND) op = opRound, family = Num;
    else if (k == kw::SIGN) op = opSign, family = Num;
    else if (k == kw::SIN) op = opSin, family = Num;
    else if (k == kw::SQR) op = opSqr, family = Num;
    else if (k == kw::SQRT) op = opSqrt, family = Num;
    if (family == Other) return nullptr;
    Next();
    ExpectKind(tkOpenParen, "(");
    NodePtr node;
    if (family == Str) node = std::make_unique<THDBExprNodeStringFunction>(op);
    else if (family == Num) node = std::make_unique<THDBExprNodeArithmetic>(op);
    else node = std::make_unique<THDBExprNodeDateFunction>(op);
    if (op == opExtract) {
      const std::uint16_t part = AtEnd() ? NoKeyword : Cur().Keyword;
      if (part != kw::YEAR && part != kw::MONTH && part != kw::DAY && part != kw::HOUR && part != kw::MINUTE &&
          part != kw::SECOND)
        RaiseExpected("YEAR, MONTH, DAY, HOUR, MINUTE or SECOND");
      static_cast<THDBExprNodeDateFunction&>(*node).Part = part;
      Next();
      ExpectKw(kw::FROM);
      node->AddChild(Argument(name));
    } else if (op == opRand) {
      if (!Is(tkCloseParen)) node->AddChild(Argument(name));
    } else {
      node->AddChild(Argument(name));
      if (op == opPos) {
        if (Is(tkComma) || IsKw(kw::IN)) Next();
        else RaiseExpected(",");
        node->AddChild(Argument(name));
      } else if (op == opSubstring) {
        if (Is(tkComma) || IsKw(kw::FROM)) Next();
        else RaiseExpected(",");
        node->AddChild(Argument(name));
        if (Is(tkComma) || IsKw(kw::FOR)) {
          Next();
          node->AddChild(Argument(name));
        }
      } else if (op == opPower) {
        ExpectKind(tkComma, ",");
        node->AddChild(Argument(name));
      } else if (op == opRound || op == opToDate || op == opToString) {
        if (Is(tkComma)) {
          Next();
          node->AddChild(Argument(name));
        }
        if (op == opRound && Is(tkComma)) {
          Next();
          const std::uint16_t mode = AtEnd() ? NoKeyword : Cur().Keyword;
          if (mode < kw::HALFEVEN || mode > kw::RNDUP) RaiseExpected("a rounding mode");
          static_cast<THDBExprNodeArithmetic&>(*node).Mode = mode;
          Next();
        }
      }
    }
    ExpectKind(tkCloseParen, ")");
    return node;
  }

  NodePtr Case() {
    Next();
    auto node = std::make_unique<THDBExprNodeCase>();
    node->CaseInsensitive = e_.CaseInsensitive;
    if (!IsKw(kw::WHEN)) {
      NodePtr operand = ValueExpression();
      if (!operand) RaiseUnexpected();
      node->AddChild(std::move(operand));
      node->HasOperand = true;
    }
    if (!IsKw(kw::WHEN)) RaiseExpected("WHEN");
    while (IsKw(kw::WHEN)) {
      Next();
      NodePtr when = node->HasOperand ? ValueExpression() : SearchCondition();
      if (!when) ConditionExpected();
      node->AddChild(std::move(when));
      ExpectKw(kw::THEN);
      NodePtr then = ValueExpression();
      if (!then) RaiseUnexpected();
      node->AddChild(std::move(then));
    }
    if (IsKw(kw::ELSE)) {
      Next();
      NodePtr otherwise = ValueExpression();
      if (!otherwise) RaiseUnexpected();
      node->AddChild(std::move(otherwise));
      node->HasElse = true;
    }
    ExpectKw(kw::END);
    return node;
  }

  NodePtr Cast() {
    const TToken& name = Cur();
    Next();
    ExpectKind(tkOpenParen, "(");
    auto node = std::make_unique<THDBExprNodeCast>();
    node->AddChild(Argument(name));
    ExpectKw(kw::AS);
    if (AtEnd() || (Cur().Kind != tkKeyword && Cur().Kind != tkIdentifier)) RaiseExpected("data type");
    std::string word = platform::AnsiUpperCase(Cur().Text);
    const TToken& typeToken = Cur();
    Next();
    if (word == "DOUBLE" && IsKw(kw::PRECISION)) Next();
    if ((word == "CHARACTER" || word == "CHAR") && IsKw(kw::VARYING)) {
      Next();
      word = "VARCHAR";
    }
    if (word == "INT") word = "INTEGER";
    else if (word == "CHARACTER") word = "CHAR";
    else if (word == "DEC" || word == "DECIMAL" || word == "NUMERIC" || word == "REAL") word = "DOUBLE";
    else if (word == "NCHAR") word = "WIDECHAR";
    const std::uint8_t declared = TypeWordToDeclaredType(word);
    if (declared == 0) RaiseHDB(Errors::TokenExpected, "data type", typeToken.Text, typeToken.Line, typeToken.Column);
    node->TargetDeclared = declared;
    node->TargetBase = DeclaredToBaseType(declared);
    if (Is(tkOpenParen)) {
      Next();
      if (!Is(tkInteger)) RaiseExpected("size");
      node->TargetSize = std::atoi(Cur().Text.c_str());
      Next();
      if (Is(tkComma)) {
        Next();
        ExpectKind(tkInteger, "scale");
      }
      ExpectKind(tkCloseParen, ")");
    }
    ExpectKind(tkCloseParen, ")");
    return node;
  }

  THDBExpression& e_;
  const TSQLCommand& cmd_;
  TToken end_;
  int pos_ = 0;
  int depth_ = 0;
  std::map<int, Memo> values_, primaries_;
};

// ---- THDBExpression -----------------------------------------------------------------

THDBExpression::THDBExpression(THDBLocalCursor* cursor) : cursor_(cursor) {}

THDBExpression::~THDBExpression() = default;

namespace {

const TSQLCommand& FirstCommand(THDBLexer& lexer) {
  lexer.Tokenize();
  if (lexer.TotalTokenCount() == 0) RaiseHDB(Errors::BlankSQLCommand);
  const TSQLCommand& command = lexer.Command(0);
  if (command.TokenCount == 0) RaiseHDB(Errors::UnexpectedEndOfCommand, command.EndLine, command.EndColumn);
  return command;
}

}  // namespace

void THDBExpression::ParseFilter(std::string_view text) {
  root_.reset();
  fields_.clear();
  THDBLexer lexer(text);
  const TSQLCommand& command = FirstCommand(lexer);
  THDBExpressionParser parser(*this, command);
  NodePtr root = parser.SearchCondition();
  if (!root) parser.ConditionExpected();
  root_ = std::move(root);
  Finish();
}

void THDBExpression::ParseValue(std::string_view text) {
  root_.reset();
  fields_.clear();
  THDBLexer lexer(text);
  const TSQLCommand& command = FirstCommand(lexer);
  THDBExpressionParser parser(*this, command);
  NodePtr root = parser.ValueExpression();
  if (!root || !parser.AtEnd()) parser.RaiseUnexpected();
  root_ = std::move(root);
  Finish();
}

std::unique_ptr<THDBExprNode> THDBExpression::MakeComparison(std::uint8_t op, std::unique_ptr<THDBExprNode> left,
                                                             std::unique_ptr<THDBExprNode> right,
                                                             bool applyPartial) {
  auto node = std::make_unique<THDBExprNodeComparison>(op);
  node->CaseInsensitive = CaseInsensitive;
  // A trailing asterisk of a text constant asks for a comparison of the leading
  // characters only.
  if (applyPartial && PartialCompare) {
    for (int side = 1; side >= 0; --side) {
      THDBExprNode& n = side == 1 ? *right : *left;
      if (IsStringConst(n) && !n.Value.IsNull() && n.Value.IsNarrowText() && !n.Value.Text().empty() &&
          n.Value.Text().back() == '*') {
        const std::string_view t = n.Value.Text();
        n.Value.SetText(t.substr(0, t.size() - 1), n.Value.Type());
        node->PartialCompare = true;
        node->PartialSide = static_cast<std::uint8_t>(side);
        break;
      }
    }
  }
  // A field = or <> a NULL text or date: IS NULL / IS NOT NULL.
  if (op == opEqual || op == opNotEqual) {
    for (int side = 0; side < 2; ++side) {
      THDBExprNode& f = side == 0 ? *left : *right;
      THDBExprNode& c = side == 0 ? *right : *left;
      if (IsField(f) && IsConst(c) && c.Value.IsNull() && (c.Value.IsText() || IsDateOrTimeType(c.Value.Type()))) {
        auto test = std::make_unique<THDBExprNodeBoolean>(op == opEqual ? opIsNull : opIsNotNull);
        test->AddChild(side == 0 ? std::move(left) : std::move(right));
        return test;
      }
    }
  }
  auto textDateOrNull = [](const THDBExprNode& n) {
    return IsConst(n) && (n.Value.IsNull() || n.Value.IsText() || IsDateOrTimeType(n.Value.Type()));
  };
  bool nullAware = NullAwareCompare;
  if ((IsField(*left) && textDateOrNull(*right)) || (IsField(*right) && textDateOrNull(*left)))
    nullAware = false;
  else if ((IsStringConst(*left) && (!IsConst(*right) || right->Value.IsNull())) ||
           (IsStringConst(*right) && (!IsConst(*left) || left->Value.IsNull())))
    nullAware = false;
  node->NullAwareCompare = nullAware;
  node->AddChild(std::move(left));
  node->AddChild(std::move(right));
  return node;
}

std::unique_ptr<THDBExprNodeField> THDBExpression::NewField(std::string_view name, std::string_view qualifier) {
  const int i = cursor_ ? cursor_->TableFields.FindByName(name) : -1;
  if (i < 0) RaiseHDB(Errors::FilterFieldNotFound, name);
  const THDBFieldDef& f = cursor_->TableFields[i];
  auto node = std::make_unique<THDBExprNodeField>();
  node->Cursor = cursor_;
  node->TableQualifier = std::string(qualifier);
  node->FieldName = f.Name;
  node->FieldNo = i;
  node->DataOffset = f.MemoryOffset;
  node->DeclaredType = f.DeclaredType;
  node->BaseType = f.BaseType;
  node->DataSize = f.MemoryDataSize;
  return node;
}

void THDBExpression::SetRoot(std::unique_ptr<THDBExprNode> root) {
  root_ = std::move(root);
  fields_.clear();
  Finish();
}

namespace {

void Collect(THDBExprNode& n, std::vector<THDBExprNodeField*>& fields) {
  if (n.Kind() == THDBExprNodeKind::Field) fields.push_back(static_cast<THDBExprNodeField*>(&n));
  for (auto& c : n.Children) Collect(*c, fields);
}

// A narrow text field compared with a wide text constant: the constant is narrowed.
void NarrowConstants(THDBExprNode& n) {
  if (n.Kind() == THDBExprNodeKind::Comparison && n.ChildCount() == 2) {
    for (int side = 0; side < 2; ++side) {
      THDBExprNode& f = n.Child(static_cast<std::size_t>(side));
      THDBExprNode& c = n.Child(static_cast<std::size_t>(1 - side));
      if (IsField(f) && (f.ResultType() == btFixedChar || f.ResultType() == btString) && IsConst(c) &&
          c.Value.IsWideText() && !c.Value.IsNull()) {
        std::string narrow;
        for (std::size_t i = 0; i < c.Value.Length(); ++i)
          narrow += static_cast<char>(platform::UnicodeToAnsi(le::Load<std::uint16_t>(c.Value.Data(), 2 * i)));
        c.Value.SetText(narrow, btString);
      }
    }
  }
  for (auto& c : n.Children) NarrowConstants(*c);
}

}  // namespace

void THDBExpression::Finish() {
  if (!root_) return;
  // AND nodes directly under the root AND join it.
  if (root_->Kind() == THDBExprNodeKind::Boolean && root_->Operator == opAnd) {
    bool again = true;
    while (again) {
      again = false;
      std::vector<NodePtr> flat;
      for (auto& c : root_->Children) {
        if (c->Kind() == THDBExprNodeKind::Boolean && c->Operator == opAnd && !c->Detached) {
          for (auto& g : c->Children) flat.push_back(std::move(g));
          again = true;
        } else {
          flat.push_back(std::move(c));
        }
      }
      root_->Children = std::move(flat);
    }
  }
  NarrowConstants(*root_);
  fields_.clear();
  Collect(*root_, fields_);
  root_->Prepare();
}

void THDBExpression::Bind(const std::uint8_t* record) {
  for (THDBExprNodeField* f : fields_) f->Record = record;
}

THDBTruth THDBExpression::IsTrue(const std::uint8_t* record) {
  if (!root_) RaiseHDB(Errors::ValueIsNull);
  Bind(record);
  return root_->Test();
}

const THDBExprValue& THDBExpression::Evaluate(const std::uint8_t* record) {
  if (!root_) RaiseHDB(Errors::ValueIsNull);
  Bind(record);
  return root_->Evaluate();
}

bool THDBExpression::Passes(const std::uint8_t* record) { return IsTrue(record) == THDBTruth::True; }

void THDBExpression::ExtractConditions(const THDBIndexDefs& indexes, const THDBFieldDefs& fields,
                                       std::int32_t session, std::size_t keySize,
                                       std::vector<THDBScanSearchCondition>& out) {
  if (root_) ExtractIndexConditions(*root_, cursor_, indexes, fields, session, keySize, out);
}

void THDBExpression::Detach(const THDBScanSearchCondition& condition) {
  if (!root_) return;
  // Only comparisons of this tree: the search offers every expression each condition.
  std::vector<THDBExprNode*> mine;
  CandidateNodes(*root_, mine);
  for (void* source : condition.SourceNodes)
    for (THDBExprNode* n : mine)
      if (n == source && !n->Detached) {
        n->Detached = true;
        detached_.push_back(n);
      }
}

namespace {

bool FullyDetached(const THDBExprNode& n) {
  if (n.Detached) return true;
  if (n.Kind() != THDBExprNodeKind::Boolean || n.Operator != opAnd) return false;
  for (const auto& c : n.Children)
    if (!FullyDetached(*c)) return false;
  return true;
}

}  // namespace

bool THDBExpression::NeedsTest() const { return root_ && !FullyDetached(*root_); }

void THDBExpression::ReattachAll() {
  for (THDBExprNode* n : detached_) n->Detached = false;
  detached_.clear();
}

}  // namespace hdb
